#pragma once

// nagisora-convert --check: reports every finding of the score checker in the scores, converting nothing.

#include "cli/convert_options.h"

namespace nagisora {

// Prints the findings of every score on standard output, one line each in the form compilers use or as one
// JSON array; a score that cannot be read is reported on standard error and the others are still checked.
// Returns ExitSuccess when no score has an error, ExitFailure when one has or could not be read.
int RunCheck(const ConvertOptions& options);

} // namespace nagisora
