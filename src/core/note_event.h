#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nagisora {

// Whether a duration is a tuplet marker, 3, 5 or 7, in one unsigned comparison and one bit test: the tuplet
// pass asks this of every event and is true for few.
constexpr bool IsTupletMarker(std::int32_t ticks) {
    return static_cast<std::uint32_t>(ticks - 3) <= 4u && (ticks & 1) != 0;
}

// One note event of a score: the program from the timbre line, the key from the pitch line, the ticks from
// the duration line. A rest, a hold and a missing program are named states, asked for by name.
struct NoteEvent {
    static constexpr std::int32_t NoProgram = -1; // no timbre number written over the note
    static constexpr std::int32_t RestKey = 0;    // ○
    static constexpr std::int32_t HoldKey = -1;   // ー: the note before sounds on

    std::int32_t program = 0; // program number from the timbre line, NoProgram where none is written
    std::int32_t key = 0;     // MIDI key, RestKey or HoldKey
    std::int32_t ticks = 0;   // 120 a beat; a tuplet marker (3, 5 or 7) until the tuplet pass

    constexpr bool HasProgram() const { return program != NoProgram; }
    constexpr bool IsRest() const { return key == RestKey; }
    constexpr bool IsHold() const { return key == HoldKey; }
    // A key that sounds: neither a rest nor a hold.
    constexpr bool IsNote() const { return key > 0; }
    constexpr bool IsTupletMarker() const { return nagisora::IsTupletMarker(ticks); }

    bool operator==(const NoteEvent&) const = default;
};

inline constexpr std::size_t NoteEventCapacity = 4096;

// The event list of one conversion. Event k (counted from 1, as the notation counts) is entries[k - 1].
using NoteEventList = std::array<NoteEvent, NoteEventCapacity>;

} // namespace nagisora
