#include "cli/musicxml_output.h"

#include "core/line_sets.h"
#include "core/musicxml.h"
#include "platform/cp932.h"

#include <span>

namespace nagisora {
namespace {

// The text of the first comment line that has any, looked for line by line.
std::string_view TitleOf(const ScoreFileLines& lines) {
    for (const std::string_view line : lines)
        if (const std::string_view text = FirstCommentText(std::span(&line, 1)); !text.empty()) return text;
    return {};
}

} // namespace

std::string MusicXmlOfScore(const ScoreFileLines& lines, const ConversionSettings& settings) {
    return ExportMusicXml(LinesOfLineSets(lines), settings, DecodeCp932(TitleOf(lines))).text;
}

} // namespace nagisora
