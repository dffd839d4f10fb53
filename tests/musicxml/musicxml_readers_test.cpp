// The MusicXML export as real readers take it: the MusicXML 4.0 schema (xmllint) for the examples and a few
// hundred random scores, whose notes must also begin where the conversion plays them; and two notation
// programs, MuseScore 3 and Verovio, whose MIDI files of the exports of the examples, of irregular tuplets
// and of random scores must play nagisora's keys at nagisora's beats, MuseScore finding no measure of the
// wrong length. A test whose reader is not installed is skipped.

#include "core/conversion.h"
#include "core/musicxml.h"
#include "core/score_file_lines.h"
#include "core/score_import.h"
#include "musicxml_notes.h"
#include "platform/cp932.h"
#include "platform/score_import_file.h"
#include "score_text.h"
#include "sounds.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sstream>
#include <tuple>
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

// A note as it sounds: when (in ticks or beats), its key and its MIDI program.
using Sounding = std::tuple<double, std::int32_t, std::int32_t>;

// Where the conversion's notes begin to sound: notes of no time make no sound, unless a ー with time holds
// them on.
std::vector<Sounding> Attacks(std::span<const std::string_view> lines) {
    std::vector<Sounding> attacks;
    const Conversion conversion = ConvertScore(lines, {});
    const auto events = conversion.Events();
    std::int64_t tick = 0;
    std::int32_t program = 0;
    for (std::size_t e = 0; e < events.size(); ++e) {
        std::size_t held = e + 1;
        while (events[e].ticks <= 0 && held < events.size() && events[held].IsHold() &&
               events[held].ticks <= 0)
            ++held;
        const bool sounds = events[e].ticks > 0 || (held < events.size() && events[held].IsHold());
        if (events[e].IsNote() && events[e].HasProgram() && events[e].program <= 127)
            program = events[e].program;
        if (events[e].IsNote() && sounds) attacks.emplace_back(tick, events[e].key, program);
        tick += std::max(events[e].ticks, 0);
    }
    return attacks;
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
        const auto attacks = Attacks(score);
        const auto written = test::ReadPart(musicXml).attacks;
        ASSERT_EQ(written.size(), attacks.size()) << "round " << round;
        for (std::size_t n = 0; n < attacks.size(); ++n) {
            ASSERT_EQ(written[n].second, std::get<1>(attacks[n])) << "round " << round << ", note " << n;
            ASSERT_NEAR(written[n].first, std::get<0>(attacks[n]), 2.0)
                << "round " << round << ", note " << n;
        }
        files += " " + folder.Write(std::to_string(round), musicXml);
    }
    if (std::string_view(NAGISORA_XMLLINT).empty()) GTEST_SKIP() << "xmllint is not installed";
    const std::string command = std::string(NAGISORA_XMLLINT) + " --noout --schema " +
                                NAGISORA_MUSICXML_SCHEMA + files + " 2>" + (folder.path / "errors").string();
    EXPECT_EQ(std::system(command.c_str()), 0) << folder.Read("errors").substr(0, 2000);
}

// (beat, key, program) of every note-on of a Standard MIDI File with several tracks.
std::vector<Sounding> NoteOns(const std::string& file) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(file.at(at)); };
    const auto number = [&](std::size_t at) {
        return std::size_t{byte(at)} << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
    };
    std::vector<Sounding> notes;
    std::array<std::int32_t, 16> programs{};
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
                if ((status & 0xF0) == 0xC0) programs[status & 0x0F] = byte(at);
                at += 1;
            } else {
                if ((status & 0xF0) == 0x90 && byte(at + 1) > 0)
                    notes.emplace_back(static_cast<double>(tick) / (byte(12) << 8 | byte(13)), byte(at),
                                       programs[status & 0x0F]);
                at += 2;
            }
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

// The scores the readers play: the examples, tuplets whose durations no whole group has, a bar line inside a
// tuplet, notes shorter than a 128th note before a bar line and after it, a measure shorter than a 64th
// note, runs of notes shorter than a 256th note, and random scores.
std::vector<std::pair<std::string, std::string>> PlayedScores() {
    std::vector<std::pair<std::string, std::string>> scores;
    for (const char* example : {"start-score.txt", "long-4096.txt"})
        scores.emplace_back(example, test::ReadExample(example));
    const char* irregular[][2] = {{"ロツレチハ", "＋３＋３＋"},
                                  {"ロツレチハヒロツレ", "＋３＋３＋＋３＋－"},
                                  {"ロツレチ", "＋５＋＋"},
                                  {"ロツレチハ", "＋＋７＋＋"},
                                  {"ロツレチハヒロツレ", "＋３＋＋＋７＋＋＋"},
                                  {"ロツ｜レチ｜ハヒ", "＋３｜＋＝｜＝－"},
                                  {"＃ツ｜ーツ＃ツ", "　＋｜＋＋＋"},
                                  {"ヒリチレツレリ｜ツ", "＊３３３＋５５｜３"},
                                  {"ヒリチレ｜ツ｜レリ", "＊３３３｜＋｜５５"},
                                  {"ヒーロ○○四タピ", "＊３３３　３７３"}};
    for (const auto& [pitch, duration] : irregular)
        scores.emplace_back(pitch, "\r\n" + test::Sjis(pitch) + "\r\n" + test::Sjis(duration) + "\r\n");
    // Runs of notes of one and two ticks after a bar line, which written 256th notes make late unless the
    // run begins earlier and the bar line before it stands inside a measure.
    const char* runs[][9] = {
        {"", "ロリツレリロチ｜ヒ大ハチロ大ロ大ツヒ", "＊７５７＋＊３３＊＝＋＊３＊３＝３７", "",
         "｜ハレ｜ハツハ大チツヒヒ｜｜リ", "＋３｜＊３３３３３３｜＋｜＝３", "", "", ""},
        {"", "チツリレツハツヒ｜ロ", "３＋｜５＋７７＊｜３", "", "｜ハレ｜ツヒ○ハ｜｜チハツロー｜チロ｜ツ",
         "＊７＋＝＊３｜３｜＊＝５｜＊５３｜５７３", "", "リ○", "＊＊"}};
    for (const auto& lines : runs) {
        std::string text;
        for (const char* line : lines)
            text += test::Sjis(line) + "\r\n";
        scores.emplace_back(lines[1], text);
    }
    std::mt19937 random(22);
    for (int round = 0; round < 60; ++round) {
        std::string text;
        for (const std::string& line : RandomScore(random))
            text += line + "\r\n";
        scores.emplace_back("random " + std::to_string(round), text);
    }
    return scores;
}

// Runs a reader over the exports and compares the MIDI file it writes for each (FILE.mid) with nagisora's
// notes; with programs, also the instrument of every note, where the score plays no more programs than MIDI
// has channels for.
void ExpectPlayedAsNagisora(const Folder& folder,
                            const std::vector<std::pair<std::string, std::string>>& scores,
                            const char* reader, bool programs) {
    for (std::size_t s = 0; s < scores.size(); ++s) {
        const auto& [name, text] = scores[s];
        const std::vector<std::string_view> lines = SplitScoreFileLines(text);
        const auto played = NoteOns(folder.Read(std::to_string(s) + ".musicxml.mid"));
        auto ours = Attacks(lines);
        std::sort(ours.begin(), ours.end());
        ASSERT_EQ(played.size(), ours.size()) << reader << ": " << name;
        std::set<std::int32_t> used;
        for (const Sounding& note : ours)
            used.insert(std::get<2>(note));
        for (std::size_t n = 0; n < ours.size(); ++n) {
            const auto& [beat, key, program] = played[n];
            ASSERT_EQ(key, std::get<1>(ours[n])) << reader << ": " << name << ", note " << n;
            // Septuplets are whole ticks in nagisora's file, exact sevenths in the readers'.
            ASSERT_NEAR(beat, std::get<0>(ours[n]) / 120, 2.0 / 120 + 1e-9)
                << reader << ": " << name << ", note " << n;
            if (programs && used.size() <= 15) {
                ASSERT_EQ(program, std::get<2>(ours[n])) << reader << ": " << name << ", note " << n;
            }
        }
    }
}

TEST(MusicXmlReaders, MuseScorePlaysTheExportsAtNagisorasBeatsInMeasuresThatAddUp) {
    if (std::string_view(NAGISORA_MSCORE3).empty()) GTEST_SKIP() << "MuseScore 3 (mscore3) is not installed";
    const Folder folder;
    const auto scores = PlayedScores();
    // MuseScore imports every export into its own format, then plays that: reading its own file it reports
    // every measure whose notes do not fill it.
    std::string imports = "[", plays = "[";
    for (std::size_t s = 0; s < scores.size(); ++s) {
        const std::string file =
            folder.Write(std::to_string(s) + ".musicxml", Export(SplitScoreFileLines(scores[s].second)));
        imports += std::string(s ? "," : "") + "{\"in\":\"" + file + "\",\"out\":\"" + file + ".mscx\"}";
        plays += std::string(s ? "," : "") + "{\"in\":\"" + file + ".mscx\",\"out\":\"" + file + ".mid\"}";
    }
    folder.Write("imports.json", imports + "]");
    folder.Write("plays.json", plays + "]");
    for (const char* job : {"imports.json", "plays.json"}) {
        const std::string command = "QT_QPA_PLATFORM=offscreen " + std::string(NAGISORA_MSCORE3) + " -j " +
                                    (folder.path / job).string() + " >>" + (folder.path / "log").string() +
                                    " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    std::istringstream log(folder.Read("log"));
    std::string file;
    for (std::string line; std::getline(log, line);) {
        if (line.starts_with("convert <")) file = line;
        for (const char* complaint :
             {"overrun", "underrun", "incomplete", "too long", "corrupt", "not stopped", "cannot divide"})
            EXPECT_FALSE(test::Has(line, complaint)) << file << ": " << line;
    }
    ExpectPlayedAsNagisora(folder, scores, "MuseScore", true);
}

TEST(MusicXmlReaders, VerovioPlaysTheExportsAtNagisorasBeats) {
    if (std::string_view(NAGISORA_NODE).empty()) GTEST_SKIP() << "node is not installed: Verovio cannot run";
    const Folder folder;
    const auto scores = PlayedScores();
    std::string command = std::string(NAGISORA_NODE) + " " + NAGISORA_VEROVIO_MIDI;
    for (std::size_t s = 0; s < scores.size(); ++s)
        command += " " + folder.Write(std::to_string(s) + ".musicxml",
                                      Export(SplitScoreFileLines(scores[s].second)));
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    // Verovio plays a part with its first instrument throughout: it takes no instrument change.
    ExpectPlayedAsNagisora(folder, scores, "Verovio", false);
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
        ASSERT_FALSE(result.Refused()) << result.refusal->Message();
        EXPECT_EQ(result.settings.tempo, 90) << example;
        const std::vector<std::string_view> imported = result.Lines();
        const Conversion again = ConvertScore(imported, result.settings);
        const Conversion original = ConvertScore(lines, {});
        EXPECT_EQ(test::Sounds(again.Events()), test::Sounds(original.Events())) << example;
        EXPECT_EQ(test::Programs(again.Events(), result.settings.instrument),
                  test::Programs(original.Events(), 0))
            << example;
    }
}

} // namespace
} // namespace nagisora
