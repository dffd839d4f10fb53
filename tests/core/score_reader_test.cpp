#include "core/line_sets.h"
#include "core/score_file_lines.h"
#include "core/score_reader.h"
#include "core/symbol_tables.h"
#include "score_text.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace nagisora {
namespace {

using test::ScoreLines;
using test::Sjis;

struct Read {
    std::optional<std::int32_t> count;
    NoteEventList list;
};

Read ReadLines(std::span<const std::string_view> lines, std::int32_t offset = 0) {
    Read read;
    read.list.fill(NoteEvent{7, 7, 7}); // whatever the list held before
    read.count = ReadScore(lines, offset, read.list);
    return read;
}

std::vector<std::int32_t> Keys(const Read& read) {
    std::vector<std::int32_t> keys;
    for (std::int32_t k = 0; k < read.count.value_or(0); ++k)
        keys.push_back(read.list[k].key);
    return keys;
}

TEST(ReadScore, SecondSetOfTheStartScoreReadAlone) {
    const ScoreLines lines{"", "　ローツ○レチ｜ーハピ大ツ大レー｜大チーー○｜",
                           "　＋３＋＋３＋　＋３＋　＋　３＋　　　－＋＋　"};
    const Read read = ReadLines(lines);
    ASSERT_EQ(read.count, 16);
    const std::pair<std::int32_t, std::int32_t> expected[] = {
        {50, 60}, {-1, 3},  {53, 60}, {0, 60},  {55, 3},   {57, 60},  {-1, 60}, {60, 3},
        {74, 60}, {77, 60}, {79, 3},  {-1, 60}, {81, 240}, {-1, 120}, {-1, 60}, {0, 60},
    };
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_EQ(read.list[k].program, -1) << "event " << k + 1;
        EXPECT_EQ(read.list[k].key, expected[k].first) << "event " << k + 1;
        EXPECT_EQ(read.list[k].ticks, expected[k].second) << "event " << k + 1;
    }
    for (std::size_t k = 16; k < NoteEventCapacity; ++k)
        ASSERT_EQ(read.list[k].key, 0) << "entry " << k + 1;
}

TEST(ReadScore, RegisterRules) {
    const ScoreLines lines{"", "ハロハ｜ハ乙ロ｜甲ロ甲ハ｜＃チ♭○ツ｜ピロ",
                           "－－－｜－　－｜　－　－｜　－　－－｜－－"};
    const Read read = ReadLines(lines);
    ASSERT_EQ(read.count, 12);
    EXPECT_EQ(Keys(read), (std::vector<std::int32_t>{60, 62, 60, 60, 50, 62, 72, 70, 0, 65, 74, 62}));
    for (std::size_t k = 0; k < 12; ++k) {
        EXPECT_EQ(read.list[k].ticks, 120);
        EXPECT_EQ(read.list[k].program, -1);
    }
}

TEST(ReadScore, StateCarriesAcrossLinesAndSets) {
    struct Case {
        const char* name;
        ScoreLines lines;
        std::vector<std::int32_t> keys;
    };
    const Case cases[] = {
        {"accidental at the end of a pitch line", {"", "ロ＃", "", "", "ロ"}, {50, 51}},
        {"only the second of two accidentals counts", {"", "＃♭ロ"}, {49}},
        {"♯ raises nothing, ＃ does", {"", "♯ロ＃ロ"}, {50, 51}},
        {"register marker with nothing after it", {"", "ロ甲"}, {50}},
        {"a marker followed by ○ and ー still blocks R1", {"", "ハ乙○ーロ"}, {60, 0, -1, 50}},
        {"○ and ー between notes keep the relation", {"", "ハ○ーロ"}, {60, 0, -1, 62}},
        {"no R1 or R2 in 大", {"", "大ハロ甲ロ大ハ"}, {84, 50, 62, 84}},
        {"R3 from 大", {"", "大タツ"}, {75, 65}},
        {"first note has no predecessor", {"", "甲ハ"}, {72}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Keys(ReadLines(c.lines)), c.keys) << c.name;
    const ScoreLines transposed{"", "甲レ○"};
    EXPECT_EQ(Keys(ReadLines(transposed, -3)), (std::vector<std::int32_t>{64, 0}));
}

TEST(ReadScore, TimbreUnitsStandOverTheirNotes) {
    const ScoreLines lines{"7F   1ff", "ロツレチ", ""};
    const Read read = ReadLines(lines);
    ASSERT_EQ(read.count, 4);
    EXPECT_EQ(read.list[0].program, 127);
    EXPECT_EQ(read.list[1].program, -1);
    EXPECT_EQ(read.list[2].program, -1); // " 1": one byte off its note, the number is lost
    EXPECT_EQ(read.list[3].program, 255);
}

TEST(ReadScore, WholeStartScore) {
    const std::string file = test::ReadExample("start-score.txt");
    const Read read = ReadLines(SplitScoreFileLines(file));
    ASSERT_EQ(read.count, 41);
    const std::pair<int, std::int32_t> timbres[] = {{1, 22},  {2, 56},  {4, 12}, {7, 21},
                                                    {11, 42}, {16, 49}, {19, 0}, {22, 107}};
    for (int k = 1; k <= 41; ++k) {
        std::int32_t expected = -1;
        for (const auto& [event, timbre] : timbres)
            if (event == k) expected = timbre;
        EXPECT_EQ(read.list[k - 1].program, expected) << "event " << k;
    }
    EXPECT_EQ(read.list[15].key, 62); // the first ロ after ハハハハハ is taken in 甲 (R1)
    const std::vector<std::int32_t> keys = Keys(read);
    EXPECT_EQ(std::vector<std::int32_t>(keys.begin() + 25, keys.begin() + 33),
              (std::vector<std::int32_t>{62, -1, 65, 0, 67, 69, -1, 72}));
}

std::vector<std::string> NoteLines(std::size_t notes) {
    std::vector<std::string> lines;
    const std::string ro = Sjis("ロ");
    for (std::size_t done = 0; done < notes;) {
        const std::size_t now = std::min<std::size_t>(notes - done, 100);
        std::string line;
        for (std::size_t i = 0; i < now; ++i)
            line += ro;
        lines.push_back(line);
        lines.push_back(""); // duration line
        done += now;
    }
    return lines;
}

TEST(ReadScore, HoldsExactly4096EventsAndRefusesMore) {
    const ScoreLines full(NoteLines(4096));
    const Read read = ReadLines(full);
    ASSERT_EQ(read.count, 4096);
    EXPECT_EQ(read.list[4095].key, 50);
    EXPECT_EQ(read.list[4095].ticks, 240);

    const ScoreLines over(NoteLines(4097));
    const Read refused = ReadLines(over);
    EXPECT_FALSE(refused.count.has_value());
    for (const NoteEvent& e : refused.list)
        ASSERT_EQ(e.key, 0);
}

TEST(ReadScore, ScoreWithoutNotesGivesAnEmptyList) {
    const ScoreLines lines{"//ロ", "ただの文", "＃○"};
    const Read read = ReadLines(lines);
    EXPECT_EQ(read.count, 0);
    EXPECT_EQ(read.list[0].key, 0);
    EXPECT_EQ(read.list[0].ticks, 0);
}

// The reader keeps its state as a number and looks each unit up in a table built from it. This walks the
// units one by one with the per-unit operations instead, so that every state the table holds is checked
// against random scores made of all the symbols.
std::vector<NoteEvent> ReadUnitByUnit(std::span<const std::string_view> lines, std::int32_t offset) {
    const AlignedTexts texts = GatherLineSets(lines);
    std::uint8_t reg = 0, pending = 0;
    Unit lastMark = 0, prevNote = 0;
    const auto among = [](Unit u, std::initializer_list<Unit> set) {
        return std::ranges::find(set, u) != set.end();
    };
    std::vector<NoteEvent> events;
    for (std::size_t c = 1; c <= texts.PitchText.size() / 2; ++c) {
        const Unit p = UnitAt(texts.PitchText, c);
        if (SymbolClass(p) == ClassRegisterMarker) {
            reg = RegisterOf(p);
            lastMark = p;
        } else if (SymbolClass(p) == ClassAccidental) {
            pending = AccidentalOf(p);
        } else if (SymbolClass(p) == ClassNoteSymbol) {
            if (p != symbol::Rest && p != symbol::Hold) {
                using namespace symbol;
                if (lastMark != Otsu && reg == 0 && among(prevNote, {Ha, Hi, Ri}) && among(p, {Ro, Tsu}))
                    reg = 1;
                else if (lastMark != Kan && reg == 1 && among(prevNote, {Ro, Tsu}) && among(p, {Ha, Hi, Ri}))
                    reg = 0;
                if (among(p, {Pi, Ta, Yon, Wi})) reg = 1;
                lastMark = prevNote = p;
            }
            events.push_back(NoteEvent{TimbreOf(UnitAt(texts.TimbreText, c)),
                                       NoteNumberOf(p, reg, pending, offset),
                                       DurationOf(UnitAt(texts.DurationText, c))});
            pending = 0;
        }
    }
    return events;
}

TEST(ReadScore, AgreesWithAUnitByUnitReadingOnRandomScores) {
    const std::vector<std::string> pieces{
        Sjis("乙"), Sjis("甲"), Sjis("大"), Sjis("＃"), Sjis("♭"),  Sjis("↓"),  Sjis("ロ"),
        Sjis("ツ"), Sjis("レ"), Sjis("ウ"), Sjis("チ"), Sjis("ハ"), Sjis("ヒ"), Sjis("リ"),
        Sjis("ヰ"), Sjis("ピ"), Sjis("タ"), Sjis("四"), Sjis("○"),  Sjis("ー"), Sjis("｜"),
        Sjis("♯"),  Sjis("　"), Sjis("＋"), Sjis("３"), "1f",       " ",        "//"};
    std::mt19937 random(4096);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 30);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> lines(1 + round % 7);
        for (std::string& line : lines)
            for (int i = length(random); i > 0; --i)
                line += pieces[pick(random)];
        const ScoreLines score(lines);
        const std::int32_t offset = round % 33 - 16;
        const std::vector<NoteEvent> expected = ReadUnitByUnit(score, offset);
        // The whole score, the lines found in its file's bytes, and pieces small enough to cut units, lines
        // and neighbour lines that run ahead of the pitch text.
        const std::string file = JoinScoreFileLines(lines);
        const auto readInto = [](const auto& read) {
            Read into;
            into.list.fill(NoteEvent{7, 7, 7});
            into.count = read(into.list);
            return into;
        };
        const Read reads[] = {
            ReadLines(score, offset),
            readInto([&](NoteEventList& list) { return ReadScore(ScoreFileLines(file), offset, list); }),
            readInto([&](NoteEventList& list) { return detail::ReadScoreInPieces(score, offset, list, 1); }),
            readInto([&](NoteEventList& list) { return detail::ReadScoreInPieces(score, offset, list, 5); }),
        };
        for (const Read& read : reads) {
            ASSERT_EQ(read.count, static_cast<std::int32_t>(expected.size())) << "round " << round;
            for (std::size_t k = 0; k < NoteEventCapacity; ++k) {
                const NoteEvent e = k < expected.size() ? expected[k] : NoteEvent{};
                ASSERT_EQ(read.list[k].program, e.program) << "round " << round << ", event " << k + 1;
                ASSERT_EQ(read.list[k].key, e.key) << "round " << round << ", event " << k + 1;
                ASSERT_EQ(read.list[k].ticks, e.ticks) << "round " << round << ", event " << k + 1;
            }
        }
    }
}

} // namespace
} // namespace nagisora
