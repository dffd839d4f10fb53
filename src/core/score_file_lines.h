#pragma once

// How the lines of a score file are found in its bytes, and how lines are written back.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

inline constexpr char EndOfText = '\x1A';
inline constexpr std::string_view LineEnd = "\r\n";

// A line ends at CR LF, at a lone CR or at a lone LF; a byte 1A ends the text; the end of the file ends the
// last line, and an empty file holds no line. The views point into bytes.
std::vector<std::string_view> SplitScoreFileLines(std::string_view bytes);

// Every line followed by CR LF.
std::string JoinScoreFileLines(std::span<const std::string> lines);

} // namespace nagisora
