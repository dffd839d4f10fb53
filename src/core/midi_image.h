#pragma once

// The bytes of a Standard MIDI File, format 0 with one track, for an event list.

#include "onpu.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace nagisora {

inline constexpr std::string_view EndOfTrack{"\xFF\x2F\x00", 3};

struct TrackSettings {
    std::int32_t instrument = 0; // program number of the opening program change
    std::int32_t volume = 64;    // velocity of every note-on and of the note-offs between notes
    bool useScoreTimbres = true; // whether the score's timbre numbers give program changes
};

// The variable-length quantity of a delta time, 0 to 268,435,455 (higher bits are dropped).
std::string DeltaTime(std::uint32_t value);

// "MThd", format 0, the track count and the tempo as division (ticks per quarter note).
std::string MakeHeaderChunk(std::int32_t trackCount, std::int32_t tempo);

// "MTrk", its length (counting the end of track that follows it), the opening program change and the events
// 1 to onpuCount of the list, without the end-of-track bytes.
std::string MakeTrackChunk(const OnpuList& list, std::int32_t onpuCount, const TrackSettings& settings);

// Appends the same bytes to out, which saves a copy when the track follows the header in one image.
void AppendTrackChunk(std::string& out, const OnpuList& list, std::int32_t onpuCount,
                      const TrackSettings& settings);

} // namespace nagisora
