#pragma once

// The whole conversion of a score: read, tuplet pass, header and track chunks, end of track.

#include "midi_image.h"
#include "onpu.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nagisora {

struct ConversionSettings {
    std::int32_t tempo = 90;     // 30 to 254, beats a minute, written as the division
    std::int32_t transpose = 0;  // -16 to 16 semitones, added to every key
    std::int32_t volume = 64;    // 0 to 127
    std::int32_t instrument = 0; // 0 to 127
    bool useScoreTimbres = true;
};

struct Conversion {
    std::string midiData; // the whole Standard MIDI File; empty when the score was refused
    std::int32_t onpuCount = 0;
    std::string refusal; // why the score was refused (UTF-8), empty on success

    bool Refused() const { return !refusal.empty(); }
};

// Converts the score lines (code page 932 bytes, without line ends). The list receives the events after the
// tuplet pass, for callers that show them.
Conversion ConvertScore(std::span<const std::string_view> lines, const ConversionSettings& settings,
                        OnpuList& list);

} // namespace nagisora
