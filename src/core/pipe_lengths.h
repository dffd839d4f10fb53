#pragma once

// The pipes a player owns: lengths from 1.3 to 2.4 尺 against the semitones their lowest note (筒音, all
// holes closed) lies above (+) or below (-) that of the standard 1.8 尺 pipe, D. The notation is written as
// the player fingers it, so a score for another pipe sounds these semitones away from what its text says; the
// conversion's transposition (音程) of that many semitones makes it sound at the written pitch of the source.
// docs/pipe-lengths.md gives the sources of the table.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace nagisora {

struct PipeLength {
    std::int32_t tenths;    // the length in tenths of a 尺 (寸): 18 for 1.8 尺
    std::int32_t semitones; // its 筒音 against the 1.8 尺 pipe's D
    std::string_view note;  // the 筒音's name (ASCII)
};

inline constexpr std::array<PipeLength, 12> PipeLengths{{
    {13, 6, "G#"},
    {14, 4, "F#"},
    {15, 3, "F"},
    {16, 2, "E"},
    {17, 1, "D#"},
    {18, 0, "D"},
    {19, -1, "C#"},
    {20, -2, "C"},
    {21, -3, "B"},
    {22, -3, "B"},
    {23, -4, "A#"},
    {24, -5, "A"},
}};

inline constexpr std::int32_t StandardPipeTenths = 18;

// The pipe of a length in tenths of a 尺, or nothing when the table has no such pipe.
constexpr std::optional<PipeLength> PipeOfLength(std::int32_t tenths) {
    for (const PipeLength& pipe : PipeLengths)
        if (pipe.tenths == tenths) return pipe;
    return std::nullopt;
}

} // namespace nagisora
