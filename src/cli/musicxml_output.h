#pragma once

// The MusicXML output of nagisora-convert (--musicxml).

#include "conversion.h"

#include <span>
#include <string>
#include <string_view>

namespace nagisora {

// The MusicXML document of a score that the conversion took (the export refuses what the conversion refuses),
// titled with the score's first comment line.
std::string MusicXmlOfScore(std::span<const std::string_view> lines, const ConversionSettings& settings);

} // namespace nagisora
