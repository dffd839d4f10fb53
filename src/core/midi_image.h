#pragma once

// The bytes of a Standard MIDI File, format 0 with one track, for an event list.

#include "core/note_event.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nagisora {

inline constexpr std::string_view EndOfTrack{"\xFF\x2F\x00", 3};

// The numbers of the image that a reader of it meets: the chunks and their fixed fields, the status bytes
// (channel 1), the filler key of a hold and the delta time before the first event.
namespace midi {
inline constexpr std::string_view HeaderType = "MThd";
inline constexpr std::string_view TrackType = "MTrk";
inline constexpr std::uint32_t HeaderLength = 6;
inline constexpr std::uint16_t Format0 = 0;
inline constexpr std::size_t HeaderChunkBytes = 14;
inline constexpr std::size_t TrackLeadBytes = 12;    // "MTrk", its length, 00 C0 instrument 20
inline constexpr std::uint32_t TrackLengthExtra = 7; // lead-in after the length (4) and end of track (3)
inline constexpr unsigned char NoteOff = 0x80;
inline constexpr unsigned char NoteOn = 0x90;
inline constexpr unsigned char ProgramChange = 0xC0;
inline constexpr unsigned char HoldKey = 0xFF;     // no key: the event only carries its delta time
inline constexpr unsigned char LeadInDelta = 0x20; // ticks before the first event of the body
inline constexpr std::uint32_t MaxDeltaTime = 0x0FFFFFFF;
} // namespace midi

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
// 1 to eventCount of the list, without the end-of-track bytes.
std::string MakeTrackChunk(std::span<const NoteEvent> list, std::int32_t eventCount,
                           const TrackSettings& settings);

// Appends the same bytes to out, which saves a copy when the track follows the header in one image.
void AppendTrackChunk(std::string& out, std::span<const NoteEvent> list, std::int32_t eventCount,
                      const TrackSettings& settings);

} // namespace nagisora
