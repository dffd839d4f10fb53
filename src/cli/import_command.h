#pragma once

// nagisora-convert --import: a MIDI or MusicXML file written as a score, with what the notation could not
// keep.

#include "cli/convert_options.h"

namespace nagisora {

// Writes the score and prints the findings as "FILE:LINE:COL: warning: MESSAGE [CODE]" lines on standard
// error, FILE being the score written; returns the exit code.
int RunImport(const ConvertOptions& options);

} // namespace nagisora
