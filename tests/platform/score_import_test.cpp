// Scores imported from MIDI and MusicXML files: the program's own MIDI files come back byte for byte, its
// MusicXML exports as the same sounds, small files of other programs as the text and findings a player
// expects, and broken files as a message with nothing written.

#include "conversion.h"
#include "cp932.h"
#include "musicxml.h"
#include "score_file_lines.h"
#include "score_import.h"
#include "score_import_file.h"
#include "score_text.h"

#include <gtest/gtest.h>
#include <random>
#include <tuple>
#include <zip.h>

namespace nagisora {
namespace {

// What a listener hears of events: each note with the holds after it, rests left out.
struct Sound {
    std::int64_t start, length;
    std::int32_t key;
    bool operator==(const Sound&) const = default;
};

void PrintTo(const Sound& s, std::ostream* out) {
    *out << s.key << "@" << s.start << "+" << s.length;
}

std::vector<Sound> Sounds(std::span<const TOnpu> events) {
    std::vector<Sound> sounds;
    std::int64_t at = 0;
    bool sounding = false;
    for (const TOnpu& e : events) {
        if (e.Onko > 0) sounds.push_back(Sound{at, 0, e.Onko});
        if (e.Onko == 0) sounding = false;
        if (e.Onko > 0) sounding = true;
        if (sounding) sounds.back().length += e.Oncho;
        at += e.Oncho;
    }
    return sounds;
}

// Well-formed scores: every symbol of the notation, whole tuplets over the notation's units, bar lines and
// timbre numbers, in one to four line sets.
std::vector<std::string> RandomScore(std::mt19937& random) {
    const auto pick = [&](std::initializer_list<const char*> units) {
        return std::string(units.begin()[random() % units.size()]);
    };
    std::vector<std::string> lines{test::Sjis("// 曲")};
    for (auto sets = 1 + random() % 4; sets > 0; --sets) {
        std::string timbre, pitch, duration;
        for (auto groups = 1 + random() % 10; groups > 0; --groups) {
            const int size = random() % 4 == 0 ? int(pick({"\3", "\5", "\7"})[0]) : 1;
            const std::string base = pick({"　", "－", "＋", "＋", "＝", "＊"});
            for (int i = 0; i < size; ++i) {
                for (const char* prefix : {"乙", "甲", "大", "＃", "♭", "↓"})
                    if (random() % 12 == 0) {
                        pitch += test::Sjis(prefix);
                        duration += test::Sjis("　");
                        timbre += "  ";
                    }
                pitch += test::Sjis(pick({"ロ", "ツ", "レ", "ウ", "チ", "ハ", "ヒ", "リ", "ヰ", "ピ", "タ",
                                          "四", "○", "ー", "ー"}));
                duration +=
                    test::Sjis(size > 1 && i == size / 2 ? std::string(1, char('0' + size)) == "3" ? "３"
                                                           : size == 5                             ? "５"
                                                                                                   : "７"
                                                         : base);
                timbre += random() % 4 == 0 ? pick({"16", "7F", "FF", "0c"}) : "  ";
            }
            if (random() % 3 == 0) {
                pitch += test::Sjis("｜");
                duration += test::Sjis("｜");
                timbre += "  ";
            }
        }
        lines.insert(lines.end(), {timbre, pitch, duration});
    }
    return lines;
}

std::vector<std::string_view> Views(const std::vector<std::string>& lines) {
    return {lines.begin(), lines.end()};
}

ImportResult Import(std::string_view bytes, const ImportOptions& options = {}) {
    const ImportRead read = ReadImportSource(bytes);
    EXPECT_TRUE(read.Read()) << read.problem;
    return read.Read() ? ImportScore(*read.source, options) : ImportResult{};
}

TEST(ScoreImport, TheProgramsOwnMidiFilesComeBackByteForByte) {
    std::mt19937 random(23);
    std::vector<std::vector<std::string>> scores;
    for (const char* example : {"start-score.txt", "long-4096.txt"}) {
        const std::string bytes = test::ReadExample(example);
        const std::vector<std::string_view> lines = SplitScoreFileLines(bytes);
        scores.emplace_back(lines.begin(), lines.end());
    }
    for (int i = 0; i < 300; ++i)
        scores.push_back(RandomScore(random));
    for (std::size_t s = 0; s < scores.size(); ++s) {
        ConversionSettings settings;
        if (s >= 2)
            settings = {int(30 + random() % 225), 0, int(1 + random() % 127), int(random() % 128),
                        random() % 4 != 0};
        const Conversion conversion = ConvertScore(Views(scores[s]), settings);
        if (Sounds(conversion.Events()).empty())
            continue; // no note: the import refuses it, as a later test shows
        const std::string& midi = conversion.midiData;
        const ImportResult result = Import(midi);
        ASSERT_FALSE(result.Refused()) << s << ": " << result.refusal;
        EXPECT_TRUE(result.findings.empty()) << s << ": " << result.findings.front().message;
        EXPECT_EQ(result.settings.transpose, 0);
        const std::string again = ConvertScore(Views(result.lines), result.settings).midiData;
        ASSERT_EQ(again, midi) << "score " << s << "\n"
                               << DecodeCp932(JoinScoreFileLines(scores[s])) << "\nimported as\n"
                               << DecodeCp932(JoinScoreFileLines(result.lines));
    }
}

TEST(ScoreImport, MusicXmlExportsComeBackAsTheSameSounds) {
    std::mt19937 random(22);
    for (int s = 0; s < 302; ++s) {
        std::vector<std::string> lines;
        if (s < 2) {
            const std::string bytes = test::ReadExample(s == 0 ? "start-score.txt" : "long-4096.txt");
            for (const std::string_view line : SplitScoreFileLines(bytes))
                lines.emplace_back(line);
        } else {
            lines = RandomScore(random);
        }
        const Conversion original = ConvertScore(Views(lines), {});
        const ImportResult result = Import(ExportMusicXml(Views(lines), {}, "Title").text);
        ASSERT_FALSE(result.Refused()) << s << ": " << result.refusal;
        EXPECT_EQ(result.lines.front(), "// Title");
        const Conversion imported = ConvertScore(Views(result.lines), result.settings);
        ASSERT_EQ(Sounds(imported.Events()), Sounds(original.Events()))
            << "score " << s << "\n"
            << DecodeCp932(JoinScoreFileLines(lines)) << "\nimported as\n"
            << DecodeCp932(JoinScoreFileLines(result.lines));
    }
}

} // namespace
} // namespace nagisora
