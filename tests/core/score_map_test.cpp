#include "core/score_file_lines.h"
#include "core/score_map.h"
#include "score_text.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

using test::ScoreLines;

const std::string& StartScore() {
    static const std::string file = test::ReadExample("start-score.txt");
    return file;
}

ScoreMap StartScoreMap() {
    return MapScore(SplitScoreFileLines(StartScore()));
}

TEST(MapScore, RolesOfTheStartScoreLines) {
    const ScoreMap map = StartScoreMap();
    const LineRole expected[] = {LineRole::Comment,  LineRole::Blank,    LineRole::Timbre,  LineRole::Pitch,
                                 LineRole::Duration, LineRole::Blank,    LineRole::Comment, LineRole::Timbre,
                                 LineRole::Pitch,    LineRole::Duration, LineRole::Blank};
    ASSERT_EQ(map.lines.size(), std::size(expected));
    for (std::size_t j = 0; j < map.lines.size(); ++j)
        EXPECT_EQ(map.lines[j].Role(), expected[j]) << "line " << j + 1;
    EXPECT_EQ(map.lines[3].Set(), 0);
    EXPECT_EQ(map.lines[7].Set(), 1);
    EXPECT_EQ(map.lines[9].Set(), 1);
}

// Every event of the start score: its pitch symbol, the duration symbol under it (both full-width, one column
// each) and the two timbre digits over it (half-width, two columns from column 2c - 1).
TEST(MapScore, PlacesEveryEventOfTheStartScore) {
    struct Set {
        std::int32_t pitchLine;
        std::vector<std::int32_t> columns;
    };
    const Set sets[] = {
        {4, {2, 5, 6, 8, 9, 10, 12, 13, 14, 15, 17, 18, 19, 20, 21, 23, 24, 25, 26, 27, 28, 30, 31, 32, 33}},
        {9, {2, 3, 4, 5, 6, 7, 9, 10, 11, 13, 15, 16, 19, 20, 21, 22}},
    };
    const std::vector<std::string_view> lines = SplitScoreFileLines(StartScore());
    const ScoreMap map = MapScore(lines);
    std::size_t k = 0;
    for (std::int32_t s = 0; s < 2; ++s)
        for (const std::int32_t c : sets[s].columns) {
            ASSERT_LT(k, map.events.size());
            const EventPlace& e = map.events[k++];
            const std::int32_t line = sets[s].pitchLine;
            EXPECT_EQ(e.set, s);
            EXPECT_EQ(SpanOf(e.pitch, lines), (SourceSpan{line, c, 1})) << "event " << k;
            EXPECT_EQ(SpanOf(e.duration, lines), (SourceSpan{line + 1, c, 1})) << "event " << k;
            EXPECT_EQ(SpanOf(e.timbre, lines), (SourceSpan{line - 1, 2 * c - 1, 2})) << "event " << k;
        }
    EXPECT_EQ(k, map.events.size());
    ASSERT_EQ(map.bars.size(), 10u);
    EXPECT_EQ(SpanOf(map.bars[0].at, lines), (SourceSpan{4, 4, 1}));
    EXPECT_EQ(map.bars[0].eventsBefore, 1);
    EXPECT_EQ(map.timed.size(), 41u);
}

// Where the reader pairs units across a shift: the places follow what the reader reads, not what the eye
// lines up.
TEST(MapScore, PlacesFollowTheReaderAcrossShifts) {
    struct Case {
        const char* name;
        ScoreLines lines;
        std::size_t event; // from 0
        SourceSpan pitch, timbre, duration;
    };
    const Case cases[] = {
        // "ロa" is 3 bytes long, so the units of the next set start one byte late: its first レ is lost, its
        // second is read whole. The first duration line is longer than its pitch line, so that レ takes the
        // second set's first duration, not the one under it.
        {"odd pitch line shifts the next set",
         {"", "ロa", "－－", "", "レ レ", "－－－"},
         1,
         {5, 3, 1},
         {4, 4, 2},
         {6, 2, 1}},
        {"long duration line shifts the next set",
         {"", "ロ", "－＋", "", "レ", "＝"},
         1,
         {5, 1, 1},
         {4, 1, 2},
         {3, 2, 1}},
        {"padding past the line's end", {"", "ロツ", "－"}, 1, {2, 2, 1}, {1, 3, 2}, {3, 2, 2}},
        {"no line above the first", {"ロ", "－"}, 0, {1, 1, 1}, {}, {2, 1, 1}},
    };
    for (const Case& c : cases) {
        const ScoreMap map = MapScore(c.lines);
        ASSERT_GT(map.events.size(), c.event) << c.name;
        const EventPlace& e = map.events[c.event];
        EXPECT_EQ(SpanOf(e.pitch, c.lines), c.pitch) << c.name;
        EXPECT_EQ(SpanOf(e.timbre, c.lines), c.timbre) << c.name;
        EXPECT_EQ(SpanOf(e.duration, c.lines), c.duration) << c.name;
    }
}

TEST(MapScore, UnitsAtPairsTheCharactersOfASet) {
    const std::vector<std::string_view> lines = SplitScoreFileLines(StartScore());
    const ScoreMap map = MapScore(lines);
    // The caret on the ５ under the third ハ of the first set (column 19: byte 36), and on the digit A of
    // "2A" over the first ハ (column 32: byte 31).
    const std::optional<UnitColumn> onDuration = map.UnitsAt(5, 36);
    ASSERT_TRUE(onDuration);
    EXPECT_EQ(SpanOf(onDuration->pitch, lines), (SourceSpan{4, 19, 1}));
    EXPECT_EQ(SpanOf(onDuration->timbre, lines), (SourceSpan{3, 37, 2}));
    const std::optional<UnitColumn> onTimbre = map.UnitsAt(3, ByteOfColumn(lines[2], 32));
    ASSERT_TRUE(onTimbre);
    EXPECT_EQ(SpanOf(onTimbre->pitch, lines), (SourceSpan{4, 16, 1}));
    EXPECT_EQ(SpanOf(onTimbre->duration, lines), (SourceSpan{5, 16, 1}));
    EXPECT_FALSE(map.UnitsAt(1, 4)); // a comment pairs nothing
}

} // namespace
} // namespace nagisora
