#include "core/score_file_lines.h"
#include "core/score_part.h"
#include "score_text.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

// The caret and the selection in each kind of line give the events the reader makes there.
TEST(EventsOfText, CaretAndSelectionFindTheirNotes) {
    const std::string file = test::ReadExample("start-score.txt");
    const std::vector<std::string_view> lines = SplitScoreFileLines(file);
    const ScoreMap map = MapScore(lines);
    const auto at = [&](std::int32_t line, std::int32_t column) {
        return TextPoint{line, ByteOfColumn(lines[static_cast<std::size_t>(line - 1)], column)};
    };
    const struct {
        const char* name;
        TextPoint point;
        std::size_t event;
    } carets[] = {
        {"on the first note", at(4, 2), 0},
        {"on 乙 before it", at(4, 1), 0},
        {"on a bar line", at(4, 4), 1},
        {"on a duration unit", at(5, 9), 4},
        {"on the second digit of a timbre number", at(3, 4), 0},
        {"on the comment between the sets", at(7, 5), 25},
        {"at the end of a pitch line", at(4, 40), 25},
        {"after the last set", at(11, 1), 41},
    };
    for (const auto& c : carets)
        EXPECT_EQ(EventAtOrAfter(map, c.point), c.event) << c.name;

    const struct {
        const char* name;
        TextPoint from, to;
        EventRange events;
    } selections[] = {
        {"レレレ in the pitch line", at(4, 8), at(4, 11), {3, 6}},
        {"＋３＋ under it", at(5, 8), at(5, 11), {3, 6}},
        {"half of a timbre number", at(3, 4), at(3, 5), {0, 1}},
        {"from the duration line to the next set", at(5, 30), at(9, 4), {21, 27}},
        {"a bar line alone", at(4, 4), at(4, 5), {1, 1}},
        {"the whole score", at(1, 1), at(12, 1), {0, 41}},
    };
    for (const auto& s : selections)
        EXPECT_EQ(EventsBetween(map, s.from, s.to), s.events) << s.name;
}

} // namespace
} // namespace nagisora
