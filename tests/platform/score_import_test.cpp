// Scores imported from MIDI and MusicXML files: the program's own MIDI files come back byte for byte, its
// MusicXML exports as the same sounds, small files of other programs as the text and findings a player
// expects, and broken files as a message with nothing written.

#include "core/conversion.h"
#include "core/musicxml.h"
#include "core/score_file_lines.h"
#include "core/score_import.h"
#include "platform/cp932.h"
#include "platform/score_import_file.h"
#include "score_text.h"
#include "sounds.h"

#include <gtest/gtest.h>
#include <random>
#include <tuple>
#include <zip.h>

namespace nagisora {
namespace {

using test::Sound;
using test::Sounds;

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
        ASSERT_FALSE(result.Refused()) << s << ": " << result.refusal->Message();
        EXPECT_TRUE(result.findings.empty()) << s << ": " << result.findings.front().message;
        EXPECT_EQ(result.settings.transpose, 0);
        const std::string again = ConvertScore(result.Lines(), result.settings).midiData;
        ASSERT_EQ(again, midi) << "score " << s << "\n"
                               << DecodeCp932(JoinScoreFileLines(scores[s])) << "\nimported as\n"
                               << DecodeCp932(result.text);
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
        ASSERT_FALSE(result.Refused()) << s << ": " << result.refusal->Message();
        EXPECT_EQ(result.Lines().front(), "// Title");
        const Conversion imported = ConvertScore(result.Lines(), result.settings);
        ASSERT_EQ(Sounds(imported.Events()), Sounds(original.Events()))
            << "score " << s << "\n"
            << DecodeCp932(JoinScoreFileLines(lines)) << "\nimported as\n"
            << DecodeCp932(result.text);
        EXPECT_EQ(test::Programs(imported.Events(), result.settings.instrument),
                  test::Programs(original.Events(), 0))
            << "score " << s;
    }
}

// A MusicXML score of parts, each a list of measures of note elements, at 120 divisions a quarter note in
// 4/4.
std::string MusicXml(const std::vector<std::vector<std::string>>& parts) {
    std::string xml = "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list>";
    for (std::size_t p = 0; p < parts.size(); ++p)
        xml += "<score-part id=\"P" + std::to_string(p + 1) + "\"><part-name>Part " + std::to_string(p + 1) +
               "</part-name></score-part>";
    xml += "</part-list>";
    for (std::size_t p = 0; p < parts.size(); ++p) {
        xml += "<part id=\"P" + std::to_string(p + 1) + "\">";
        for (std::size_t m = 0; m < parts[p].size(); ++m) {
            xml += "<measure number=\"" + std::to_string(m + 1) + "\">";
            if (m == 0)
                xml += "<attributes><divisions>120</divisions><time><beats>4</beats><beat-type>4</beat-type>"
                       "</time></attributes>";
            xml += parts[p][m] + "</measure>";
        }
        xml += "</part>";
    }
    return xml + "</score-partwise>";
}

// A note: its pitch ("D3", "Bb3", "F#3") or "R" for a rest, its duration, and what else it holds.
std::string N(std::string_view pitch, int duration, std::string_view extra = {}) {
    std::string xml = "<note>";
    if (pitch == "R") {
        xml += "<rest/>";
    } else {
        const std::string alter = pitch.size() == 3 ? (pitch[1] == 'b' ? "-1" : "1") : "";
        xml += "<pitch><step>" + std::string(1, pitch[0]) + "</step>" +
               (alter.empty() ? "" : "<alter>" + alter + "</alter>") + "<octave>" +
               std::string(1, pitch.back()) + "</octave></pitch>";
    }
    return xml + "<duration>" + std::to_string(duration) + "</duration>" + std::string(extra) + "</note>";
}

constexpr std::string_view Chord = "<chord/>";
const std::string Triplet = "<time-modification><actual-notes>3</actual-notes><normal-notes>2</normal-notes>"
                            "</time-modification>";

// The text after the comment lines, as UTF-8.
std::string Body(const ImportResult& result) {
    std::string body;
    const std::vector<std::string_view> lines = result.Lines();
    for (std::size_t l = 2; l < lines.size(); ++l)
        body += DecodeCp932(lines[l]) + "\n";
    return body;
}

TEST(ScoreImport, SmallFilesOfOtherProgramsAsAPlayerWritesThem) {
    struct Case {
        const char* what;
        std::string xml;
        std::optional<std::int32_t> part;
        const char* body;
        std::vector<std::tuple<ImportIssue, int, int, int>> findings; // issue, line, column, measure
    };
    const std::string chordFirst = "<note><grace/><pitch><step>E</step><octave>3</octave></pitch></note>";
    const std::vector<Case> cases{
        {"a chord keeps its top note",
         MusicXml({{N("A3", 120) + N("D3", 120, Chord) + N("G3", 120) + N("F3", 240)}}),
         {},
         "\nチレツ｜\n－－　｜\n",
         {{ImportIssue::Chord, 4, 1, 1}}},
        {"a MIDI file's chord on channel 1 beside channel 2",
         std::string("MThd\0\0\0\6\0\0\0\1\0\x78MTrk\0\0\0\x1D", 22) +
             std::string("\0\x90\x39\x40\0\x90\x32\x40\0\x91\x3C\x40\x83\x60\x80\x39\x40\0\x80\x32\x40"
                         "\0\x81\x3C\x40\0\xFF\x2F\0",
                         29),
         {},
         "\nチー｜\n　　｜\n",
         {{ImportIssue::OtherParts, 4, 1, 1}, {ImportIssue::Chord, 4, 1, 1}}},
        {"the first part of two",
         MusicXml({{N("D3", 480)}, {N("A3", 480)}}),
         {},
         "\nロー｜\n　　｜\n",
         {{ImportIssue::OtherParts, 4, 1, 1}}},
        {"the second part, chosen",
         MusicXml({{N("D3", 480)}, {N("A3", 480)}}),
         2,
         "\nチー｜\n　　｜\n",
         {{ImportIssue::OtherParts, 4, 1, 1}}},
        {"a note above the pipe's range, an octave down",
         MusicXml({{N("D6", 120) + N("R", 360)}}),
         {},
         "\nピ○○｜\n－　－｜\n",
         {{ImportIssue::OutOfRange, 4, 1, 1}}},
        {"a triplet",
         MusicXml({{N("D3", 40, Triplet) + N("F3", 40, Triplet) + N("G3", 40, Triplet) + N("A3", 120) +
                    N("C4", 240)}}),
         {},
         "\nロツレチハ｜\n＋３＋－　｜\n",
         {}},
        {"a tie over the bar line",
         MusicXml({{N("D3", 240) + N("F3", 240, "<tie type=\"start\"/>"),
                    N("F3", 120, "<tie type=\"stop\"/>") + N("R", 360)}}),
         {},
         "\nロツ｜ー○○｜\n　　｜－　－｜\n",
         {}},
        {"a flat of the key, and the key's change",
         MusicXml({{"<attributes><key><fifths>-2</fifths></key></attributes>" + N("Bb3", 480),
                    "<attributes><key><fifths>0</fifths></key></attributes>" + N("D3", 480)}}),
         {},
         "\n↓ハー｜乙ロー｜\n　　　｜　　　｜\n",
         {{ImportIssue::KeyChange, 4, 6, 2}}},
        {"a pickup measure", MusicXml({{N("D3", 120), N("F3", 480)}}), {}, "\nロ｜ツー｜\n－｜　　｜\n", {}},
        {"a grace note",
         MusicXml({{chordFirst + N("D3", 480)}}),
         {},
         "\nロー｜\n　　｜\n",
         {{ImportIssue::Grace, 4, 1, 1}}},
        {"a tempo change",
         MusicXml({{"<sound tempo=\"90\"/>" + N("D3", 480), "<sound tempo=\"120\"/>" + N("D3", 480)}}),
         {},
         "\nロー｜ロー｜\n　　｜　　｜\n",
         {{ImportIssue::TempoChange, 4, 4, 2}}},
    };
    for (const Case& c : cases) {
        const ImportResult result = Import(c.xml, ImportOptions{c.part, StandardPipeTenths});
        EXPECT_EQ(Body(result), c.body) << c.what;
        std::vector<std::tuple<ImportIssue, int, int, int>> findings;
        for (const ImportFinding& f : result.findings)
            findings.emplace_back(f.issue, f.line, f.column, f.measure);
        EXPECT_EQ(findings, c.findings) << c.what;
    }
}

TEST(ScoreImport, ThePipeSetsTheFingeringAndTheTransposition) {
    // D F# A D from the octave given: on a 1.6 尺 pipe (E) fingered two semitones lower and played two
    // higher; chosen, a melody an octave above the pipe's range is written an octave lower and played an
    // octave up.
    const auto melody = [](char octave) {
        const std::string o(1, octave), up(1, char(octave + 1));
        return MusicXml({{N("D" + o, 120) + N("F#" + o, 120) + N("A" + o, 120) + N("D" + up, 120)}});
    };
    const std::tuple<char, std::optional<std::int32_t>, std::int32_t, std::int32_t> cases[] = {
        {'4', 18, 0, 62}, {'4', 16, 2, 62}, {'4', std::nullopt, 0, 62}, {'5', std::nullopt, 12, 74}};
    for (const auto& [octave, pipe, transpose, firstKey] : cases) {
        const ImportResult result = Import(melody(octave), ImportOptions{{}, pipe});
        EXPECT_EQ(result.settings.transpose, transpose) << octave << " " << pipe.value_or(0);
        const std::vector<Sound> sounds = Sounds(ConvertScore(result.Lines(), result.settings).Events());
        ASSERT_EQ(sounds.size(), 4u);
        EXPECT_EQ(sounds[0].key, firstKey);
        EXPECT_EQ(sounds[3].key, firstKey + 12);
        EXPECT_TRUE(result.findings.empty());
    }
}

// A .mxl archive of the entries.
std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    const test::TemporaryFolder folder;
    const std::string path = (folder / "score.mxl").string();
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& [name, bytes] : entries)
        zip_file_add(archive, name.c_str(), zip_source_buffer(archive, bytes.data(), bytes.size(), 0), 0);
    zip_close(archive);
    return test::ReadBytes(path);
}

TEST(ScoreImport, BrokenFilesAreRefusedWithTheirProblem) {
    const std::string midi = ConvertScore(test::ScoreLines{"", "ロツレ", "－－－"}, {}).midiData;
    const std::string bomb =
        "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
        "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
        "<score-partwise><work><work-title>&f;&f;&f;&f;&f;&f;&f;&f;</work-title></work>"
        "</score-partwise>";
    const std::string drums = std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0C", 22) +
                              std::string("\0\x99\x24\x64\x60\x89\x24\0\0\xFF\x2F\0", 12);
    const std::string score = MusicXml({{N("D3", 480)}});
    const std::pair<std::string, const char*> cases[] = {
        {midi.substr(0, midi.size() / 2), "MIDI ファイルとして読めません"},
        {"MThd" + std::string(10, '\xFF'), "MIDI ファイルとして読めません"},
        {drums, "打楽器のパートしかありません"},
        {ConvertScore(test::ScoreLines{"", "○ー", "－－"}, {}).midiData, "音符がありません"},
        {MusicXml({{N("R", 480)}}), "音符がありません"},
        {"<html><body/></html>", "MusicXML の楽譜ではありません"},
        {score.substr(0, score.size() - 30), "MusicXML として読めません"},
        {bomb, "MusicXML として読めません"},
        {"PK\x03\x04 not a zip", ".mxl を開けません"},
        {Zip({{"readme.txt", "no score"}}), ".mxl に楽譜がありません"},
        {Zip({{"score.musicxml", std::string(MaxUnpackedBytes + 1, ' ')}}), ".mxl の中身が大きすぎます"},
    };
    for (const auto& [bytes, problem] : cases) {
        const ImportRead read = ReadImportSource(bytes);
        const std::optional<Failure> refusal = read.Read() ? ImportScore(*read.source).refusal : std::nullopt;
        const std::string said = refusal ? refusal->Message() : read.problem;
        EXPECT_NE(said.find(problem), std::string::npos) << problem << ": " << said;
    }
    // The archive's score, named by its container, is read.
    const std::string container =
        "<container><rootfiles><rootfile full-path=\"s/x.xml\"/></rootfiles></container>";
    const ImportRead read =
        ReadImportSource(Zip({{"META-INF/container.xml", container}, {"s/x.xml", score}}));
    ASSERT_TRUE(read.Read()) << read.problem;
    EXPECT_EQ(read.source->notes.size(), 1u);
}

} // namespace
} // namespace nagisora
