#pragma once

// The moments of a few events of the preview, for its latency bench (bench/preview-latency.sh): the file
// named by NAGISORA_TRACE gets a line "<CLOCK_MONOTONIC nanoseconds> <event>" for each press of ▶
// ("play-click"), each time the end of the music enables "MIDI 作成" again ("ok-enabled") and each note the
// playing mark moves to ("mark N", N counted from 0 in the music playing): the clock that the bench shares
// with its recorder of the sound. Without the variable nothing is written.

#include <string_view>

namespace nagisora {

void Trace(std::string_view event);

} // namespace nagisora
