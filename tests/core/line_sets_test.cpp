#include "core/line_sets.h"
#include "core/score_file_lines.h"
#include "score_text.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

using test::ScoreLines;
using test::Sjis;

TEST(LineKind, FirstCommentOrPitchSymbolDecides) {
    const std::pair<std::string, int> cases[] = {
        {Sjis("ロツ//レ"), PitchLine},
        {Sjis("//ロツ"), 0},
        {Sjis("　//ロ"), 0},
        {std::string(" ") + Sjis("//ロ"), 0}, // "//" straddles two units; the last byte is in no unit
        {Sjis("今日はロ"), PitchLine},
        {Sjis("ー"), PitchLine},
        {Sjis("○○○"), 0},
        {Sjis("大ヰ"), 0},
        {Sjis("ヰロ"), PitchLine},
        {Sjis("♯"), PitchLine},
        {Sjis("＃"), 0},
        {Sjis("　－　｜＋ー"), PitchLine},
        {"", 0},
        {"\x83", 0},
        {"  16    38", 0},
        {std::string(" ") + Sjis("ロ"), 0}, // one byte off: no unit is ロ
    };
    for (const auto& [line, kind] : cases)
        EXPECT_EQ(LineKind(line), kind) << line;
}

TEST(TrimLine, RemovesTrailingControlBytesAndSpacesOnly) {
    EXPECT_EQ(TrimLine(" ab \t\x01 "), " ab");
    EXPECT_EQ(TrimLine(Sjis("ロ　")), Sjis("ロ　")); // a full-width space ends in 0x40
    EXPECT_EQ(TrimLine(" \t "), "");
}

TEST(GatherLineSets, StartScoreGivesThreeAlignedTexts) {
    const std::string file = test::ReadExample("start-score.txt");
    const std::vector<std::string_view> lines = SplitScoreFileLines(file);
    ASSERT_EQ(lines.size(), 11u);
    const AlignedTexts texts = GatherLineSets(lines);
    EXPECT_EQ(texts.PitchText, std::string(lines[3]) + std::string(lines[8]));
    EXPECT_EQ(texts.TimbreText, std::string(lines[2]) + std::string(8, ' ') + std::string(46, ' '));
    EXPECT_EQ(texts.DurationText, std::string(lines[4]) + "  " + std::string(lines[9]));
    EXPECT_EQ(texts.PitchText.size(), 114u);
    EXPECT_EQ(texts.TimbreText.size(), 114u);
    EXPECT_EQ(texts.DurationText.size(), 114u);
}

TEST(GatherLineSets, TakesNeighboursByPositionAndPadsThem) {
    struct Case {
        const char* name;
        ScoreLines lines;
        std::string pitch, timbre, duration;
    };
    const Case cases[] = {
        {"pitch line alone", {"ロツ"}, Sjis("ロツ"), "    ", "    "},
        {"trailing blanks of the pitch line do not count",
         {"10", "ロ \t", "＋"},
         Sjis("ロ"),
         "10",
         Sjis("＋")},
        {"longer neighbours are kept whole", {"1011", "ロ", "＋＋"}, Sjis("ロ"), "1011", Sjis("＋＋")},
        {"two pitch lines: each is the other's neighbour",
         {"ロ", "ツ"},
         Sjis("ロツ"),
         "  " + Sjis("ロ"),
         Sjis("ツ") + "  "},
        {"a blank line becomes the neighbour", {"10", "", "ロ", "", "＋"}, Sjis("ロ"), "  ", "  "},
        {"comments and other lines are skipped", {"//ロ", "abc", "ー"}, Sjis("ー"), "abc", "  "},
        {"no pitch line", {"//", "", "abc"}, "", "", ""},
        {"sets apart, with lines between them",
         {"//", "10", "ロ", "＋", "abc", "", "", "11", "ツ", "－", "x"},
         Sjis("ロツ"),
         "1011",
         Sjis("＋－")},
        {"sets one line apart share it", {"ロ", "12", "ツ", "", ""}, Sjis("ロツ"), "  12", "12  "},
    };
    for (const Case& c : cases) {
        // The lines of the line sets alone gather the same texts.
        const std::vector<std::string_view> kept = LinesOfLineSets(c.lines.View());
        for (const std::span<const std::string_view> lines : {c.lines.View(), std::span(kept)}) {
            const AlignedTexts texts = GatherLineSets(lines);
            EXPECT_EQ(texts.PitchText, c.pitch) << c.name;
            EXPECT_EQ(texts.TimbreText, c.timbre) << c.name;
            EXPECT_EQ(texts.DurationText, c.duration) << c.name;
        }
    }
}

TEST(GatherLineSets, SeesOnlyTheFirst4096BytesOfALine) {
    std::string longLine = Sjis("ロ");
    while (longLine.size() < MaxLineBytes)
        longLine += Sjis("ツ");
    longLine += Sjis("レレ");
    const ScoreLines lines(std::vector<std::string>{longLine});
    const AlignedTexts texts = GatherLineSets(lines);
    EXPECT_EQ(texts.PitchText.size(), MaxLineBytes);
    EXPECT_EQ(texts.DurationText, std::string(MaxLineBytes, ' '));

    // A line whose only pitch symbol lies past the limit is no pitch line.
    const ScoreLines hidden(std::vector<std::string>{std::string(MaxLineBytes, 'a') + Sjis("ロ")});
    EXPECT_TRUE(GatherLineSets(hidden).PitchText.empty());
}

} // namespace
} // namespace nagisora
