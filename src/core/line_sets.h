#pragma once

// Finding the line sets of a score: each pitch line with the line above it (timbre) and below it (duration),
// joined into three texts aligned byte for byte.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace nagisora {

// A score line is read at most this many bytes long; later bytes of a longer line are not seen.
inline constexpr std::size_t MaxLineBytes = 4096;

inline constexpr int PitchLine = 2;

struct AlignedTexts {
    std::string PitchText;
    std::string TimbreText;
    std::string DurationText;
};

// The line without its trailing bytes of value 0x20 or less.
std::string_view TrimLine(std::string_view line);

// 2 when the trimmed line is a pitch line, 0 otherwise: the first unit that is "//" or a pitch-line symbol
// decides.
int LineKind(std::string_view trimmedLine);

AlignedTexts GatherLineSets(std::span<const std::string_view> lines);

} // namespace nagisora
