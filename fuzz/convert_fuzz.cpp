// Feeds arbitrary bytes through the whole conversion, as a score file, and checks the image it gives, that
// the score read in small pieces gives the same events, and the MusicXML export of the same score; then
// through the score checker, whose findings must stand on the characters of their lines, in order.

#include "core/conversion.h"
#include "core/line_sets.h"
#include "core/musicxml.h"
#include "core/score_check.h"
#include "core/score_reader.h"
#include "core/tuplets.h"
#include "platform/score_file.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(
        static_cast<unsigned char>(bytes[at]) << 24 | static_cast<unsigned char>(bytes[at + 1]) << 16 |
        static_cast<unsigned char>(bytes[at + 2]) << 8 | static_cast<unsigned char>(bytes[at + 3]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the settings, the rest is the score file.
    const std::uint8_t pick = data[0];
    const nagisora::ConversionSettings settings{30 + pick % 225, pick % 33 - 16, pick % 128, (pick * 7) % 128,
                                                (pick & 1) != 0};
    const nagisora::ScoreFileText text =
        nagisora::ScoreFileTextOf(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    const nagisora::Conversion conversion = nagisora::ConvertScore(text.Lines(), settings);
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(text.bytes);
    auto pieces = std::make_unique<nagisora::NoteEventList>();
    const std::optional<std::int32_t> count =
        nagisora::detail::ReadScoreInPieces(lines, settings.transpose, *pieces, 1 + pick % 7);
    Check(count.has_value() != conversion.Refused());
    if (count) {
        nagisora::ApplyTuplets(*pieces, *count);
        Check(*count == conversion.eventCount && *pieces == *conversion.list);
    }
    std::int32_t lastLine = 1;
    for (const nagisora::Finding& f : nagisora::CheckScore(lines)) {
        Check(f.place.line >= lastLine && static_cast<std::size_t>(f.place.line) <= lines.size());
        Check(f.place.byte + f.place.bytes <= lines[static_cast<std::size_t>(f.place.line - 1)].size());
        Check(f.span.line == f.place.line && f.span.column >= 1 && f.span.length >= 1);
        lastLine = f.place.line;
    }
    if (conversion.Refused()) {
        Check(conversion.midiData.empty());
        return 0;
    }
    const std::string& image = conversion.midiData;
    Check(conversion.eventCount >= 0 &&
          conversion.eventCount <= static_cast<std::int32_t>(nagisora::NoteEventCapacity));
    Check(image.size() >= 33);
    Check(image.compare(0, 4, "MThd") == 0 && image.compare(14, 4, "MTrk") == 0);
    Check(BigEndian32(image, 18) == image.size() - 22);
    Check(image.compare(image.size() - 3, 3, nagisora::EndOfTrack) == 0);
    for (const nagisora::NoteEvent& e : conversion.Events())
        Check(e.ticks >= 0);
    // The MusicXML export takes what the conversion takes, and closes its document.
    const nagisora::MusicXmlExport musicXml = nagisora::ExportMusicXml(lines, settings, "title");
    Check(!musicXml.Refused() && musicXml.text.ends_with("</score-partwise>\n"));
    // The lines of the line sets alone, as nagisora-convert exports them, give the same document.
    Check(nagisora::ExportMusicXml(nagisora::LinesOfLineSets(lines), settings, "title").text ==
          musicXml.text);
    return 0;
}
