#pragma once

// nagisora-convert --practice-report: a recorded take held against the score, note by note.

#include "cli/convert_options.h"

namespace nagisora {

// Prints the report of the take (--audio) against the score (--practice-report) at the conversion settings of
// the command line, as text or JSON. Returns ExitSuccess when it was printed (whatever the notes show),
// ExitFailure when the score or the take could not be read or the score was refused.
int RunPracticeReport(const ConvertOptions& options);

} // namespace nagisora
