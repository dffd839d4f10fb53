#include "core/line_sets.h"

#include "core/symbol_tables.h"

#include <algorithm>

namespace nagisora {
void AppendNeighbour(std::string& text, std::string_view neighbour, std::size_t width, std::size_t room) {
    const std::size_t kept = std::min(neighbour.size(), room);
    text.append(neighbour.substr(0, kept));
    const std::size_t padded = std::min(std::max(neighbour.size(), width), room);
    if (padded > kept) text.append(padded - kept, ' ');
}

std::string_view ScoreLine(std::string_view line) {
    return line.substr(0, MaxLineBytes);
}

std::string_view TrimLine(std::string_view line) {
    std::size_t end = line.size();
    while (end > 0 && static_cast<unsigned char>(line[end - 1]) <= 0x20)
        --end;
    return line.substr(0, end);
}

int LineKind(std::string_view trimmedLine) {
    // Every pitch-line symbol has a first byte of 0x81 or above: a line of ASCII bytes alone (a timbre line,
    // a comment in English) is no pitch line, which a byte scan finds faster than a walk over its units.
    unsigned char highBits = 0;
    for (const char byte : trimmedLine)
        highBits |= static_cast<unsigned char>(byte);
    if (highBits < 0x80) return 0;
    return KindOfLine(trimmedLine) == LineKindOf::Pitch ? PitchLine : 0;
}

LineKindOf KindOfLine(std::string_view trimmedLine) {
    // Four units at a time until one of them decides; then the first deciding unit of those four answers.
    const auto* bytes = reinterpret_cast<const unsigned char*>(trimmedLine.data());
    const auto factsOf = [bytes](std::size_t u) {
        return detail::UnitFacts[MakeUnit(bytes[2 * u], bytes[2 * u + 1])];
    };
    constexpr std::uint8_t Deciding = detail::CommentFlag | detail::PitchLineFlag;
    const std::size_t units = trimmedLine.size() / 2;
    std::size_t u = 0;
    for (; u + 4 <= units; u += 4)
        if ((factsOf(u) | factsOf(u + 1) | factsOf(u + 2) | factsOf(u + 3)) & Deciding) break;
    for (; u < units; ++u) {
        const std::uint8_t facts = factsOf(u);
        if (facts & detail::CommentFlag) return LineKindOf::Comment;
        if (facts & detail::PitchLineFlag) return LineKindOf::Pitch;
    }
    return LineKindOf::Other;
}

AlignedTexts GatherLineSets(std::span<const std::string_view> lines, std::vector<LineSet>* sets) {
    AlignedTexts texts;
    GatherLineSets(lines, texts, sets);
    return texts;
}

void GatherLineSets(std::span<const std::string_view> lines, AlignedTexts& texts,
                    std::vector<LineSet>* sets) {
    texts.PitchText.clear();
    texts.TimbreText.clear();
    texts.DurationText.clear();
    if (sets) sets->clear();
    std::size_t bytes = 0;
    for (std::string_view line : lines)
        bytes += std::min(line.size(), MaxLineBytes);
    texts.PitchText.reserve(bytes);
    texts.TimbreText.reserve(bytes);
    texts.DurationText.reserve(bytes);
    ForEachLineSet(
        lines, [&](std::size_t j, std::string_view above, std::string_view pitch, std::string_view below) {
            if (sets)
                sets->push_back(LineSet{j, texts.PitchText.size(), pitch.size(), texts.TimbreText.size(),
                                        above.size(), std::max(above.size(), pitch.size()),
                                        texts.DurationText.size(), below.size(),
                                        std::max(below.size(), pitch.size())});
            texts.PitchText.append(pitch);
            AppendNeighbour(texts.TimbreText, above, pitch.size());
            AppendNeighbour(texts.DurationText, below, pitch.size());
            return true;
        });
}

} // namespace nagisora
