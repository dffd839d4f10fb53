#include "musicxml_output.h"

#include "cp932.h"
#include "musicxml.h"

namespace nagisora {

std::string MusicXmlOfScore(std::span<const std::string_view> lines, const ConversionSettings& settings) {
    return ExportMusicXml(lines, settings, DecodeCp932(FirstCommentText(lines))).text;
}

} // namespace nagisora
