#pragma once

// Finding the line sets of a score: each pitch line with the line above it (timbre) and below it (duration),
// joined into three texts aligned byte for byte.

#include <cstddef>
#include <cstdint>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// A score line is read at most this many bytes long; later bytes of a longer line are not seen.
inline constexpr std::size_t MaxLineBytes = 4096;

inline constexpr int PitchLine = 2;

struct AlignedTexts {
    std::string PitchText;
    std::string TimbreText;
    std::string DurationText;
};

// What the first deciding unit of a trimmed line makes of it: "//" a comment, a pitch-line symbol a pitch
// line; a line where neither comes is other text.
enum class LineKindOf : std::uint8_t { Other, Comment, Pitch };

// One gathered line set: where its three segments stand in the aligned texts. A neighbour segment is as long
// as the pitch line, or longer when the neighbour line is longer; the bytes past the neighbour's own trimmed
// length are padding.
struct LineSet {
    std::size_t pitchLine = 0; // the pitch line's index among the score lines, from 0
    std::size_t pitchStart = 0;
    std::size_t pitchBytes = 0; // the trimmed pitch line
    std::size_t timbreStart = 0;
    std::size_t timbreBytes = 0;   // the trimmed line above (0 for the stand-in above line 0)
    std::size_t timbreSegment = 0; // timbreBytes padded to pitchBytes
    std::size_t durationStart = 0;
    std::size_t durationBytes = 0;   // the trimmed line below (0 for the stand-in after the last line)
    std::size_t durationSegment = 0; // durationBytes padded to pitchBytes

    bool HasTimbreLine() const { return pitchLine > 0; }
};

// The line as the reader sees it: at most MaxLineBytes bytes.
std::string_view ScoreLine(std::string_view line);

// The line without its trailing bytes of value 0x20 or less.
std::string_view TrimLine(std::string_view line);

// 2 when the trimmed line is a pitch line, 0 otherwise: the first unit that is "//" or a pitch-line symbol
// decides.
int LineKind(std::string_view trimmedLine);

// The same decision, telling a comment from other text.
LineKindOf KindOfLine(std::string_view trimmedLine);

// Appends a neighbour's segment: the trimmed neighbour line, padded with ASCII spaces to at least width
// bytes, of which only the first room bytes.
void AppendNeighbour(std::string& text, std::string_view neighbour, std::size_t width,
                     std::size_t room = std::string::npos);

// The three texts; when sets is given, it receives one entry per gathered pitch line.
AlignedTexts GatherLineSets(std::span<const std::string_view> lines, std::vector<LineSet>* sets = nullptr);

// The same into texts (and sets) already there, replacing what they hold and keeping their storage.
void GatherLineSets(std::span<const std::string_view> lines, AlignedTexts& texts, std::vector<LineSet>* sets);

// Calls visit(index, above, pitch, below) for every pitch line of lines (a forward range of line views, read
// once), in order, with the lines as the reader sees them trimmed; above is empty for the first line, below
// for the last. Stops early when visit returns false.
template <class Lines, class Visit>
void ForEachLineSet(const Lines& lines, Visit&& visit) {
    auto next = std::ranges::begin(lines);
    const auto end = std::ranges::end(lines);
    if (next == end) return;
    std::string_view above;
    std::string_view current = TrimLine(ScoreLine(*next));
    for (std::size_t j = 0;; ++j) {
        ++next;
        const bool last = next == end;
        const std::string_view below = last ? std::string_view{} : TrimLine(ScoreLine(*next));
        if (LineKind(current) == PitchLine && !visit(j, above, current, below)) return;
        if (last) return;
        above = current;
        current = below;
    }
}

// The lines of lines (a forward range of line views, read once) that the line sets are gathered from, each
// pitch line with the lines above and below it, trimmed, in order; an empty line stands between lines that
// were not neighbours. They gather the same line sets as the whole score, without a list of the lines that
// take no part: what a file of millions of blank lines would cost.
template <class Lines>
std::vector<std::string_view> LinesOfLineSets(const Lines& lines) {
    std::vector<std::string_view> kept;
    std::size_t next = 0; // the index of the line after the last one kept
    const auto keep = [&](std::size_t index, std::string_view line) {
        if (index < next) return; // kept already, as the neighbour of another pitch line
        if (index > next && !kept.empty()) kept.emplace_back();
        kept.push_back(line);
        next = index + 1;
    };
    ForEachLineSet(lines, [&](std::size_t j, std::string_view above, std::string_view pitch,
                              std::string_view below) {
        if (j > 0) keep(j - 1, above);
        keep(j, pitch);
        keep(j + 1, below); // an empty line after the last line: no more than the stand-in the reader takes
        return true;
    });
    return kept;
}

} // namespace nagisora
