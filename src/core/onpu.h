#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nagisora {

// One note event of a score.
struct TOnpu {
    std::int32_t Onshoku = 0; // program number from the timbre line, -1 where none is written
    std::int32_t Onko = 0;    // MIDI key; 0 is a rest, -1 holds the previous note on
    std::int32_t Oncho = 0;   // ticks (120 a beat); 3, 5 or 7 mark a tuplet until the tuplet pass

    bool operator==(const TOnpu&) const = default;
};

inline constexpr std::size_t OnpuCapacity = 4096;

// The event list of one conversion. Event k (counted from 1, as the notation counts) is entries[k - 1].
using OnpuList = std::array<TOnpu, OnpuCapacity>;

} // namespace nagisora
