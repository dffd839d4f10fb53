#pragma once

// The pitch of a recorded take, frame by frame, and where its notes begin: aubio's YIN pitch detector and
// its onset detector over a WAV file. The command-line converter loads this from the module
// libnagisora_practice.so (practice_loader.h) so that a plain conversion never loads aubio.

#include "practice_report.h"

#include <string>

namespace nagisora {

// Tracks the take's pitch (mono: the channels mixed) at its own sample rate. Throws Failure with
// MediaCode::FileUnreadable when the file cannot be opened as audio.
TakeAnalysis TrackTake(const std::string& wavPath);

} // namespace nagisora
