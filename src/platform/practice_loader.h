#pragma once

// The take analysis for the command-line converter, loaded on demand: the converter does not link aubio, and
// only --practice-report loads the module libnagisora_practice.so (found as the WAV module is).

#include "practice_report.h"

#include <string>

namespace nagisora {

// TrackTake through the module. Throws Failure: the module cannot be found or loaded, or the analysis's own
// failure.
TakeAnalysis TrackTakeThroughModule(const std::string& wavPath);

} // namespace nagisora
