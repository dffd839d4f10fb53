#include "core/score_file_lines.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

std::vector<std::string> Lines(std::string_view bytes) {
    const std::vector<std::string_view> views = SplitScoreFileLines(bytes);
    return std::vector<std::string>(views.begin(), views.end());
}

using L = std::vector<std::string>;

TEST(SplitScoreFileLines, LineEndsAndEndOfText) {
    const std::pair<std::string, L> cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\n\rb", {"a", "", "b"}}, // LF then CR: two line ends
        {"\r\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\r\n\r\n\r\nb\r\n\r\n", {"a", "", "", "b", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"ab\x1A"
         "cd\r\nef",
         {"ab"}}, // 1A ends the text, mid-line
        {"ab\r\n\x1A\r\n", {"ab"}},
        {"\x1A", {}},
        {std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
    };
    for (const auto& [bytes, lines] : cases)
        EXPECT_EQ(Lines(bytes), lines) << testing::PrintToString(bytes);
}

TEST(JoinScoreFileLines, EndsEveryLineWithCrLf) {
    EXPECT_EQ(JoinScoreFileLines(L{}), "");
    EXPECT_EQ(JoinScoreFileLines(L{""}), "\r\n");
    EXPECT_EQ(JoinScoreFileLines(L{"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(ScoreFileLines, SplitUndoesJoin) {
    const L samples[] = {{"a", "", "b", ""}, {"\x83\x8D\x81\x40", "  16"}, {""}, {"", "", ""}};
    for (const L& lines : samples) {
        const std::string bytes = JoinScoreFileLines(lines);
        EXPECT_EQ(Lines(bytes), lines);
    }
}

} // namespace
} // namespace nagisora
