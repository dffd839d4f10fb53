#include "core/symbol_tables.h"
#include "score_text.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

using test::Sjis;

Unit UnitOf(std::string_view utf8) {
    const std::string bytes = Sjis(utf8);
    EXPECT_EQ(bytes.size(), 2u) << utf8;
    return UnitAt(bytes, 1);
}

Unit RawUnit(std::string_view two) {
    return MakeUnit(two[0], two[1]);
}

struct KeyCase {
    const char* symbol;
    std::uint8_t reg;
    std::uint8_t accidental;
    std::int32_t offset;
    std::int32_t key;
};

TEST(NoteNumberOf, GivesKeysByRegisterAccidentalAndTransposition) {
    const KeyCase cases[] = {
        {"ロ", 2, 0, 0, 50}, {"ウ", 2, 0, 0, 56},   {"ヒ", 2, 0, 0, 62},   {"ツ", 2, 0, 0, 77},
        {"ハ", 2, 0, 0, 84}, {"レ", 2, 0, 0, 79},   {"チ", 2, 0, 0, 81},   {"リ", 1, 0, 0, 61},
        {"リ", 2, 0, 0, 61}, {"リ", 0, 0, 0, 61},   {"四", 1, 0, 0, 76},   {"四", 0, 1, 0, 77},
        {"ピ", 0, 3, 0, 72}, {"ロ", 1, 2, 0, 61},   {"レ", 1, 0, -3, 64},  {"ヰ", 2, 0, 0, 70},
        {"タ", 0, 0, 0, 75}, {"ロ", 0, 3, -16, 32}, {"ハ", 2, 1, 16, 101}, {"ウ", 1, 0, 0, 68},
        {"ヒ", 1, 0, 0, 74}, {"ツ", 0, 0, 0, 53},
    };
    for (const KeyCase& c : cases)
        EXPECT_EQ(NoteNumberOf(UnitOf(c.symbol), c.reg, c.accidental, c.offset), c.key)
            << c.symbol << " register " << int(c.reg) << " accidental " << int(c.accidental) << " offset "
            << c.offset;
}

TEST(NoteNumberOf, RestAndHoldIgnoreEverythingElse) {
    for (std::uint8_t reg = 0; reg <= 2; ++reg)
        for (std::uint8_t accidental = 0; accidental <= 3; ++accidental)
            for (std::int32_t offset : {-16, -3, 0, 16}) {
                EXPECT_EQ(NoteNumberOf(UnitOf("○"), reg, accidental, offset), 0);
                EXPECT_EQ(NoteNumberOf(UnitOf("ー"), reg, accidental, offset), -1);
            }
}

TEST(SymbolClass, ClassifiesMarkersAccidentalsNotesAndOthers) {
    const std::pair<const char*, int> cases[] = {
        {"乙", 1}, {"甲", 1}, {"大", 1}, {"＃", 2}, {"♭", 2},  {"↓", 2},  {"ロ", 3}, {"ツ", 3}, {"レ", 3},
        {"チ", 3}, {"ハ", 3}, {"ヒ", 3}, {"ヰ", 3}, {"ピ", 3}, {"タ", 3}, {"四", 3}, {"○", 3},  {"ー", 3},
        {"ウ", 3}, {"リ", 3}, {"♯", 0},  {"｜", 0}, {"　", 0}, {"ab", 0}, {"//", 0}, {"－", 0}, {"ワ", 0},
    };
    for (const auto& [symbol, expected] : cases)
        EXPECT_EQ(SymbolClass(UnitOf(symbol)), expected) << symbol;
    EXPECT_EQ(RegisterOf(UnitOf("乙")), 0);
    EXPECT_EQ(RegisterOf(UnitOf("甲")), 1);
    EXPECT_EQ(RegisterOf(UnitOf("大")), 2);
    EXPECT_EQ(AccidentalOf(UnitOf("＃")), 1);
    EXPECT_EQ(AccidentalOf(UnitOf("♭")), 2);
    EXPECT_EQ(AccidentalOf(UnitOf("↓")), 3);
}

TEST(SymbolClass, OnlyTheSeventeenSymbolsMarkAPitchLine) {
    int marking = 0;
    for (std::uint32_t u = 0; u < 65536; ++u)
        marking += IsPitchLineSymbol(static_cast<Unit>(u)) ? 1 : 0;
    EXPECT_EQ(marking, 17);
    for (const char* symbol :
         {"ロ", "ツ", "レ", "チ", "ハ", "ヒ", "ウ", "リ", "ピ", "タ", "四", "甲", "乙", "♯", "♭", "↓", "ー"})
        EXPECT_TRUE(IsPitchLineSymbol(UnitOf(symbol))) << symbol;
}

TEST(DurationOf, ReadsTheDurationTable) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"３", 3},
        {"５", 5},
        {"７", 7},
        {"　", 240},
        {"  ", 240},
        {"－", 120},
        {"―", 120},
        {"＋", 60},
        {"＝", 30},
        {"＊", 15},
        // Not duration symbols: the note gets 0 ticks.
        {"ー", 0},
        {"｜", 0},
        {"-+", 0},
        {"１", 0},
    };
    for (const auto& [symbol, ticks] : cases)
        EXPECT_EQ(DurationOf(UnitOf(symbol)), ticks) << symbol;
    EXPECT_EQ(DurationOf(RawUnit("- ")), 0);
    EXPECT_EQ(DurationOf(RawUnit(" \x81")), 0);
}

TEST(TimbreOf, ReadsTwoHexadecimalDigits) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"7F", 127}, {"0c", 12}, {"ff", 255}, {"00", 0},  {"A9", 169}, {"1G", -1},
        {"G1", -1},  {" 1", -1}, {"1 ", -1},  {"  ", -1}, {"/0", -1},  {":0", -1},
    };
    for (const auto& [unit, value] : cases)
        EXPECT_EQ(TimbreOf(RawUnit(unit)), value) << unit;
    EXPECT_EQ(TimbreOf(UnitOf("ロ")), -1);
    EXPECT_EQ(TimbreOf(UnitOf("１")), -1);
}

} // namespace
} // namespace nagisora
