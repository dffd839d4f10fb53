#pragma once

// What the media layer needs to know of a Standard MIDI File before it hands the bytes to the synthesizer:
// that the sequencer can read them, and how long the music lasts in ticks.

#include <cstdint>
#include <optional>
#include <string_view>

namespace nagisora {

struct MidiFileFacts {
    std::int32_t format = 0;     // 0, 1 or 2
    std::int32_t trackCount = 0; // "MTrk" chunks read
    std::int32_t division = 0;   // ticks per quarter note
    std::int64_t totalTicks = 0; // the longest track: the sum of its delta times up to its end of track
};

// The most tracks the sequencer plays from one file.
inline constexpr std::int32_t MaxMidiTracks = 128;

// The facts of the file, or nothing when the sequencer could not read it: no "MThd" header of 6 bytes, a
// format above 2, SMPTE timing or a division of 0, more than MaxMidiTracks tracks, a chunk or an event cut
// off by the end of its chunk or of the file, a delta time of more than four bytes, a data byte without a
// running status, or a status byte F1 to FE other than F7. Data bytes are not checked: the sequencer passes
// them on as they are, and the program's own files hold a few that are 80 or above.
std::optional<MidiFileFacts> ReadMidiFileFacts(std::string_view bytes);

} // namespace nagisora
