#include "core/failure.h"
#include "core/score_file_lines.h"
#include "platform/file_io.h"
#include "platform/score_file.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace nagisora {
namespace {

struct ScoreFileCase {
    const char* name;
    std::string fileBytes;
    std::vector<std::string> lines;
    bool fromUtf8;
    std::vector<CharPosition> unmappable;
};

// Shown by its name in test listings.
void PrintTo(const ScoreFileCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<std::string> LinesOf(const ScoreFileText& text) {
    std::vector<std::string> lines;
    for (const std::string_view line : text.Lines())
        lines.emplace_back(line);
    return lines;
}

class ScoreFileTextTest : public testing::TestWithParam<ScoreFileCase> {};

TEST_P(ScoreFileTextTest, GivesCp932Lines) {
    const ScoreFileText text = ScoreFileTextOf(GetParam().fileBytes);
    EXPECT_EQ(LinesOf(text), GetParam().lines);
    EXPECT_EQ(text.fromUtf8, GetParam().fromUtf8);
    EXPECT_EQ(text.unmappable, GetParam().unmappable);
    EXPECT_EQ(text.unmappableCount, GetParam().unmappable.size());
}

INSTANTIATE_TEST_SUITE_P(
    ScoreFile, ScoreFileTextTest,
    testing::Values(
        ScoreFileCase{"Empty", "", {}, false, {}},
        ScoreFileCase{"Cp932WithEmptyLines",
                      "\x83\x8D\r\n\r\n\r\n\x83\x63\r\n\r\n",
                      {"\x83\x8D", "", "", "\x83\x63", ""},
                      false,
                      {}},
        ScoreFileCase{"EndOfTextInsideALine",
                      "a\r\nb\x1A"
                      "c\r\n",
                      {"a", "b"},
                      false,
                      {}},
        ScoreFileCase{
            "InvalidBytesTakenAsTheyAre", "\x80\xFF\x87\x90\x81", {"\x80\xFF\x87\x90\x81"}, false, {}},
        ScoreFileCase{"AsciiIsNotConverted", "  0c\r\n", {"  0c"}, false, {}},
        ScoreFileCase{"Utf8WithByteOrderMark", "\xEF\xBB\xBFロ\r\nツ", {"\x83\x8D", "\x83\x63"}, true, {}},
        ScoreFileCase{"Utf8WithoutByteOrderMark", "ロ\nレ\n", {"\x83\x8D", "\x83\x8C"}, true, {}},
        ScoreFileCase{
            "Utf8UnmappableReported", "ロ\r\nツé😀", {"\x83\x8D", "\x83\x63??"}, true, {{2, 2}, {2, 3}}},
        ScoreFileCase{"Utf8EndOfTextEndsWarnings", "ロ\r\n\x1Aé", {"\x83\x8D"}, true, {}},
        ScoreFileCase{"Utf8DecidedBeforeEndOfText", "ロ\r\n\x1A\x83\x8D\xFF", {"\x83\x8D"}, true, {}},
        ScoreFileCase{"Utf8PrivateUseIsNoRawByte", "ロ\xEE\xBE\x80", {"\x83\x8D?"}, true, {{1, 2}}},
        ScoreFileCase{"ByteOrderMarkAlone", "\xEF\xBB\xBF", {}, true, {}}),
    [](const testing::TestParamInfo<ScoreFileCase>& info) { return std::string(info.param.name); });

TEST(LoadScoreFile, ExampleScoreGivesItsElevenLinesBackByteForByte) {
    const std::string path = std::string(NAGISORA_EXAMPLES_DIR) + "/start-score.txt";
    const ScoreFileText text = LoadScoreFile(path);
    EXPECT_FALSE(text.fromUtf8);
    const std::vector<std::string> lines = LinesOf(text);
    EXPECT_EQ(lines.size(), 11u);
    EXPECT_EQ(JoinScoreFileLines(lines), ReadFileBytes(path));
}

TEST(LoadScoreFile, MissingFileIsReported) {
    try {
        LoadScoreFile(std::string(NAGISORA_EXAMPLES_DIR) + "/no-such-score.txt");
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.FileCode(), IoCode::FileNotFound);
        EXPECT_EQ(failure.Message(), "ﾌｧｲﾙが見つかりません");
    }
}

} // namespace
} // namespace nagisora
