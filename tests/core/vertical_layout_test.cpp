#include "core/musicxml.h"
#include "core/score_file_lines.h"
#include "core/score_map.h"
#include "core/vertical_layout.h"
#include "score_text.h"

#include <gtest/gtest.h>
#include <sstream>

namespace nagisora {
namespace {

using test::ScoreLines;

std::string Beats(std::int32_t ticks) {
    std::ostringstream out;
    out << double(ticks) / VerticalTicksPerBeat;
    return out.str();
}

// A cell as "page.column@beat" and what is drawn there: marks and glyph, "|" per rhythm line, "t" for the
// tick of a lone half beat, "s" for a small note; annotations as "(3)" and "[16]", a bar line as "｜".
std::string Describe(const VerticalCell& cell) {
    std::string text =
        std::to_string(cell.page) + "." + std::to_string(cell.column) + "@" + Beats(cell.tick) + " ";
    switch (cell.kind) {
    case VerticalCellKind::Tuplet:
        return text + "(" + std::string(cell.glyph.View()) + ")";
    case VerticalCellKind::Timbre:
        return text + "[" + std::string(cell.glyph.View()) + "]";
    default:
        break;
    }
    text += DecodeCp932(cell.marks.View()) + DecodeCp932(cell.glyph.View()) + std::string(cell.lines, '|');
    if (cell.tickMark) text += "t";
    if (cell.small) text += "s";
    return text;
}

std::string Describe(const VerticalLine& line) {
    return "L" + std::to_string(line.level) + " " + std::to_string(line.page) + "." +
           std::to_string(line.column) + "@" + Beats(line.from) + "-" + Beats(line.to);
}

std::string Describe(const VerticalScore& score) {
    std::string text;
    for (const VerticalCell& cell : score.cells)
        text += Describe(cell) + "\n";
    for (const VerticalLine& line : score.lines)
        text += Describe(line) + "\n";
    return text;
}

VerticalScore LayOut(const ScoreLines& lines, VerticalLayoutSettings settings) {
    return LayOutVertical(MapScore(lines), FirstCommentText(lines), settings);
}

TEST(LayOutVertical, MinimalScores) {
    struct Case {
        const char* name;
        ScoreLines lines;
        VerticalLayoutSettings settings;
        const char* cells;
    };
    const Case cases[] = {
        {"beats, shared and lone half beats",
         {"ロツレチハ", "－＋＋＋　"},
         {},
         "0.0@0 ロ|\n0.0@1 ツ|\n0.0@1.5 レ|\n0.0@2 チ|t\n0.0@2.5 ハ\n"
         "L1 0.0@0-1\nL1 0.0@1-2\nL1 0.0@2-2.5\n"},
        {"a line across a beat stands alone",
         {"ロレツ", "＋－＋"},
         {},
         "0.0@0 ロ|t\n0.0@0.5 レ|\n0.0@1.5 ツ|t\nL1 0.0@0-0.5\nL1 0.0@0.5-1.5\nL1 0.0@1.5-2\n"},
        {"quarters and eighths",
         {"ロツレチハ", "＝＝＊＊＝"},
         {},
         "0.0@0 ロ||\n0.0@0.25 ツ||\n0.0@0.5 レ|||\n0.0@0.625 チ|||\n0.0@0.75 ハ||\n"
         "L3 0.0@0.5-0.75\nL2 0.0@0-1\nL1 0.0@0-1\n"},
        {"a triplet shares one line, its numeral at its first note",
         {"ロツレチ", "＋３＋－"},
         {},
         "0.0@0 ロ|\n0.0@0 (3)\n0.0@0.333333 ツ|\n0.0@0.666667 レ|\n0.0@1 チ|\nL1 0.0@0-1\nL1 0.0@1-2\n"},
        {"a septuplet across beats shares one line",
         {"ロツレチハヒリ", "＋＋＋７＋＋＋"},
         {},
         "0.0@0 ロ|\n0.0@0 (7)\n0.0@0.575 ツ|\n0.0@1.15 レ|\n0.0@1.725 チ|\n0.0@2.3 ハ|\n"
         "0.0@2.86667 ヒ|\n0.0@3.43333 リ|\nL1 0.0@0-4\n"},
        {"a tie across a bar line",
         {"ロ｜ーツ", "－｜－－"},
         {},
         "0.0@0 ロ|\n0.0@1 ｜\n0.0@1 ー|\n0.0@2 ツ|\nL1 0.0@0-1\nL1 0.0@1-2\nL1 0.0@2-3\n"},
        {"register marks and accidentals with their notes",
         {"乙ロ甲ツ♭大レ＃ハ", "　－　－　　－　－"},
         {},
         "0.0@0 乙ロ|\n0.0@1 甲ツ|\n0.0@2 ♭大レ|\n0.0@3 ＃ハ|\nL1 0.0@0-1\nL1 0.0@1-2\nL1 0.0@2-3\nL1 "
         "0.0@3-4\n"},
        {"a bar line at a column end, a measure moved whole to the next column",
         {"ロツ｜レチハ｜ヒ", "－－｜－－－｜　"},
         {4, 12},
         "0.0@0 ロ|\n0.0@1 ツ|\n0.0@2 ｜\n0.1@0 レ|\n0.1@1 チ|\n0.1@2 ハ|\n0.1@3 ｜\n0.2@0 ヒ\n"
         "L1 0.0@0-1\nL1 0.0@1-2\nL1 0.1@0-1\nL1 0.1@1-2\nL1 0.1@2-3\n"},
        {"a measure longer than a column, and a page break",
         {"ロツレ", "－－－"},
         {2, 1},
         "0.0@0 ロ|\n0.0@1 ツ|\n1.0@0 レ|\nL1 0.0@0-1\nL1 0.0@1-2\nL1 1.0@0-1\n"},
        {"a note without time is small and takes no room; a timbre change is noted",
         {"161620", "ロツレ", "・－－"},
         {},
         "0.0@0 ロs\n0.0@0 [16]\n0.0@0 ツ|\n0.0@1 レ|\n0.0@1 [20]\nL1 0.0@0-1\nL1 0.0@1-2\n"},
    };
    for (const Case& c : cases) {
        const VerticalScore score = LayOut(c.lines, c.settings);
        EXPECT_EQ(Describe(score), c.cells) << c.name;
        for (std::size_t e = 0; e < score.cellOfEvent.size(); ++e)
            EXPECT_EQ(score.cells[std::size_t(score.cellOfEvent[e])].event, std::int32_t(e)) << c.name;
    }
}

// The example's pages, cell by cell, as docs/vertical-score.md draws them.
TEST(LayOutVertical, StartScoreGolden) {
    const std::string file = test::ReadExample("start-score.txt");
    const std::vector<std::string_view> lines = SplitScoreFileLines(file);
    const VerticalScore score = LayOutVertical(MapScore(lines), FirstCommentText(lines));
    EXPECT_EQ(DecodeCp932(score.title), "「音色行」「音高行」「音長行」がセットになっている例");
    EXPECT_EQ(score.pages, 1);
    EXPECT_EQ(Describe(score),
              test::ReadBytes(std::string(NAGISORA_TESTS_DIR) + "/vertical_start_score.txt"));
}

} // namespace
} // namespace nagisora
