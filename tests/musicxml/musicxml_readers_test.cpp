// The MusicXML export as real readers take it: the MusicXML 4.0 schema (xmllint) for the examples and a few
// hundred random scores, whose notes must also begin where the conversion plays them; and MuseScore 3, whose
// MIDI file of an example's export must play nagisora's keys at nagisora's beats. A test whose reader is not
// installed is skipped.

#include "conversion.h"
#include "cp932.h"
#include "musicxml.h"
#include "musicxml_notes.h"
#include "score_file_lines.h"
#include "score_import.h"
#include "score_import_file.h"
#include "score_text.h"
#include "sounds.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

namespace nagisora {
namespace {

namespace fs = std::filesystem;

// Scores of one to four line sets of every symbol of the notation and units it does not know.
std::vector<std::string> RandomScore(std::mt19937& random) {
    const auto pick = [&](std::initializer_list<const char*> units) {
        return test::Sjis(units.begin()[random() % units.size()]);
    };
    std::vector<std::string> lines{test::Sjis("//曲 <&> \"題\"")};
    for (auto sets = 1 + random() % 4; sets > 0; --sets) {
        std::string timbre, pitch, duration;
        for (auto units = random() % 24; units > 0; --units) {
            timbre += random() % 4 == 0 ? pick({"16", "7F", "FF", "0c"}) : "  ";
            pitch += pick({"乙", "甲", "大", "＃", "♭",  "↓", "ロ", "ツ", "レ", "ウ", "チ", "ハ", "ヒ",
                           "リ", "ヰ", "ピ", "タ", "四", "○", "ー", "ー", "｜", "｜", "　", "//", "x "});
            duration += pick(
                {"　", "－", "―", "＋", "＋", "＝", "＊", "３", "３", "５", "７", "｜", "ー", "  ", "ab"});
        }
        lines.insert(lines.end(), {timbre, pitch, duration});
    }
    return lines;
}

std::string Export(std::span<const std::string_view> lines) {
    return ExportMusicXml(lines, {}, DecodeCp932(FirstCommentText(lines))).text;
}

struct Folder {
    fs::path path = fs::temp_directory_path() / ("nagisora-musicxml-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
    std::string Write(const std::string& name, std::string_view bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
        return (path / name).string();
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(path / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST(MusicXmlReaders, SchemaTakesTheExamplesAndRandomScoresWhoseNotesBeginAsTheyPlay) {
    const Folder folder;
    std::string files;
    for (const char* example : {"start-score.txt", "long-4096.txt"})
        files += " " + folder.Write(example, Export(SplitScoreFileLines(test::ReadExample(example))));
    std::mt19937 random(12);
    for (int round = 0; round < 300; ++round) {
        const test::ScoreLines score(RandomScore(random));
        const std::string musicXml = Export(score);
        std::vector<std::pair<std::int64_t, std::int32_t>> attacks;
        std::int64_t tick = 0;
        const Conversion conversion = ConvertScore(score, {});
        for (const TOnpu& e : conversion.Events()) {
            if (e.Onko > 0) attacks.emplace_back(tick, e.Onko);
            tick += e.Oncho;
        }
        ASSERT_EQ(test::ReadPart(musicXml).attacks, attacks) << "round " << round;
        files += " " + folder.Write(std::to_string(round), musicXml);
    }
    if (std::string_view(NAGISORA_XMLLINT).empty()) GTEST_SKIP() << "xmllint is not installed";
    const std::string command = std::string(NAGISORA_XMLLINT) + " --noout --schema " +
                                NAGISORA_MUSICXML_SCHEMA + files + " 2>" + (folder.path / "errors").string();
    EXPECT_EQ(std::system(command.c_str()), 0) << folder.Read("errors").substr(0, 2000);
}

// (beat, key) of every note-on of a Standard MIDI File with several tracks.
std::vector<std::pair<double, std::int32_t>> NoteOns(const std::string& file) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(file.at(at)); };
    const auto number = [&](std::size_t at) {
        return std::size_t{byte(at)} << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
    };
    std::vector<std::pair<double, std::int32_t>> notes;
    for (std::size_t chunk = 14; chunk + 8 <= file.size(); chunk += 8 + number(chunk + 4)) {
        std::int64_t tick = 0;
        unsigned char status = 0;
        const auto quantity = [&](std::size_t& at) {
            std::size_t value = 0;
            do
                value = value << 7 | (byte(at) & 0x7F);
            while (byte(at++) & 0x80);
            return value;
        };
        for (std::size_t at = chunk + 8; at < chunk + 8 + number(chunk + 4);) {
            tick += static_cast<std::int64_t>(quantity(at));
            if (byte(at) & 0x80) status = byte(at++);
            if (status >= 0xF0) {
                at += status == 0xFF ? 1 : 0;
                at += quantity(at);
            } else if ((status & 0xE0) == 0xC0) { // program change, channel pressure
                at += 1;
            } else {
                if ((status & 0xF0) == 0x90 && byte(at + 1) > 0)
                    notes.emplace_back(static_cast<double>(tick) / (byte(12) << 8 | byte(13)), byte(at));
                at += 2;
            }
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

TEST(MusicXmlReaders, MuseScorePlaysTheExamplesAtNagisorasBeats) {
    if (std::string_view(NAGISORA_MSCORE3).empty()) GTEST_SKIP() << "MuseScore 3 (mscore3) is not installed";
    const Folder folder;
    for (const char* example : {"start-score.txt", "long-4096.txt"}) {
        const std::string score = test::ReadExample(example);
        const std::vector<std::string_view> lines = SplitScoreFileLines(score);
        const std::string command = "QT_QPA_PLATFORM=offscreen " + std::string(NAGISORA_MSCORE3) + " -o " +
                                    (folder.path / "played.mid").string() + " " +
                                    folder.Write("export.musicxml", Export(lines)) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const auto played = NoteOns(folder.Read("played.mid"));
        // nagisora's own file: a beat is 120 ticks, after a lead-in of 32 ticks; every note-on is a note.
        const auto ours = NoteOns(ConvertScore(lines, {}).midiData);
        const double beatsPerTick = 90.0 / 120;
        ASSERT_EQ(played.size(), ours.size()) << example;
        for (std::size_t n = 0; n < ours.size(); ++n) {
            ASSERT_EQ(played[n].second, ours[n].second) << example << ", note " << n;
            // Septuplets are whole ticks in nagisora's file, exact sevenths in MuseScore's.
            ASSERT_NEAR(played[n].first, (ours[n].first - 32.0 / 90) * beatsPerTick, 2.0 / 120)
                << example << ", note " << n;
        }
    }
}

// MuseScore's MIDI file of an export, a file of another program with its own division, tempo and time
// signatures, imports as a score that sounds as nagisora's own conversion does. (The 4096-note example comes
// back with its measures' bar lines splitting notes, more events than a score may hold.)
TEST(MusicXmlReaders, MuseScoresMidiOfAnExportImportsAsTheSameSounds) {
    if (std::string_view(NAGISORA_MSCORE3).empty()) GTEST_SKIP() << "MuseScore 3 (mscore3) is not installed";
    const Folder folder;
    for (const char* example : {"start-score.txt"}) {
        const std::string score = test::ReadExample(example);
        const std::vector<std::string_view> lines = SplitScoreFileLines(score);
        const std::string command = "QT_QPA_PLATFORM=offscreen " + std::string(NAGISORA_MSCORE3) + " -o " +
                                    (folder.path / "played.mid").string() + " " +
                                    folder.Write("export.musicxml", Export(lines)) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const ImportRead read = ReadImportSource(folder.Read("played.mid"));
        ASSERT_TRUE(read.Read()) << read.problem;
        const ImportResult result = ImportScore(*read.source);
        ASSERT_FALSE(result.Refused()) << result.refusal;
        EXPECT_EQ(result.settings.tempo, 90) << example;
        std::vector<std::string_view> imported(result.lines.begin(), result.lines.end());
        EXPECT_EQ(test::Sounds(ConvertScore(imported, result.settings).Events()),
                  test::Sounds(ConvertScore(lines, {}).Events()))
            << example;
    }
}

} // namespace
} // namespace nagisora
