#pragma once

// The MusicXML output of nagisora-convert (--musicxml).

#include "core/conversion.h"
#include "core/score_file_lines.h"

#include <string>
#include <string_view>

namespace nagisora {

// The MusicXML document of a score that the conversion took (the export refuses what the conversion refuses),
// titled with the score's first comment line. Only the lines of the line sets are listed, so that the lines
// of a large file cost no more than the file.
std::string MusicXmlOfScore(const ScoreFileLines& lines, const ConversionSettings& settings);

} // namespace nagisora
