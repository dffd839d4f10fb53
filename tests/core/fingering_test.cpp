#include "core/fingering.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

// The holes as a player's chart writes them, from the foot up and the back hole last: ● closed, ○ open,
// ◐ half closed.
std::string Chart(const Fingering& f) {
    std::string chart;
    for (std::size_t i = 0; i < f.HoleCount(); ++i)
        chart += f.holes[i] == Hole::Closed ? "●" : f.holes[i] == Hole::Open ? "○" : "◐";
    return chart;
}

struct Case {
    Unit symbol;
    std::int32_t key; // as the reader makes it, without the transposition
    std::uint8_t accidental;
    PipeKind pipe;
    std::int32_t tenths;
    const char* name;
    const char* chart;
    Bend bend;
    const char* pitch;
};

TEST(Fingering, NotesGiveTheirHolesBendAndPitch) {
    constexpr PipeKind Five = PipeKind::FiveHole;
    constexpr PipeKind Seven = PipeKind::SevenHole;
    const Case cases[] = {
        {symbol::Ro, 50, 0, Five, 18, "乙ロ", "●●●●●", Bend::None, "D4"},
        {symbol::Ro, 62, 0, Five, 18, "甲ロ", "●●●●●", Bend::None, "D5"},
        {symbol::Tsu, 53, 0, Five, 18, "乙ツ", "○●●●●", Bend::None, "F4"},
        {symbol::Tsu, 77, 0, Five, 18, "大ツ", "○●●●●", Bend::None, "F6"},
        {symbol::Re, 67, 0, Five, 18, "甲レ", "○○●●●", Bend::None, "G5"},
        {symbol::Chi, 57, 0, Five, 18, "乙チ", "○○○●●", Bend::None, "A4"},
        {symbol::Ha, 60, 0, Five, 18, "乙ハ", "●●○○●", Bend::None, "C5"},
        // 乙ヒ and 甲ロ have one key but not one fingering.
        {symbol::Hi, 62, 0, Five, 18, "乙ヒ", "●○○○○", Bend::None, "D5"},
        {symbol::U, 56, 0, Five, 18, "乙ウ", "○○◐●●", Bend::Meri, "G#4"},
        {symbol::U, 56, 0, Seven, 18, "乙ウ", "○○○●●●●", Bend::None, "G#4"},
        {symbol::Wi, 70, 0, Five, 18, "ヰ", "●●○◐●", Bend::Meri, "A#5"},
        {symbol::Wi, 70, 0, Seven, 18, "ヰ", "○○●○○●●", Bend::None, "A#5"},
        {symbol::Ri, 61, 0, Five, 18, "リ", "●●○○●", Bend::Kari, "C#5"},
        {symbol::Yon, 76, 0, Five, 18, "四", "○○○●●", Bend::None, "E6"},
        // Accidentals bend the fingering of the note they stand before.
        {symbol::Tsu, 52, 2, Five, 18, "乙♭ツ", "○●●●●", Bend::Meri, "E4"},
        {symbol::Ro, 60, 3, Five, 18, "甲↓ロ", "●●●●●", Bend::DaiMeri, "C5"},
        {symbol::Re, 56, 1, Five, 18, "乙＃レ", "○○●●●", Bend::Kari, "G#4"},
        {symbol::U, 57, 1, Five, 18, "乙＃ウ", "○○◐●●", Bend::None, "A4"},
        // The pipe's length moves the pitch, not the holes.
        {symbol::Ha, 72, 0, Five, 24, "甲ハ", "●●○○●", Bend::None, "G5"},
        {symbol::Ro, 50, 0, Seven, 13, "乙ロ", "●●●●●●●", Bend::None, "G#4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Fingering> f = FingeringOf(c.symbol, c.key, c.accidental, c.pipe, c.tenths);
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(f->name, c.name);
        EXPECT_EQ(Chart(*f), c.chart);
        EXPECT_EQ(f->bend, c.bend);
        EXPECT_EQ(PitchName(f->soundingKey), c.pitch);
    }
}

TEST(Fingering, NothingForWhatIsNoFingeredNote) {
    EXPECT_FALSE(FingeringOf(symbol::Rest, 0, 0, PipeKind::FiveHole, 18));
    EXPECT_FALSE(FingeringOf(symbol::Ro, 51, 0, PipeKind::FiveHole, 18)); // no register gives it
    EXPECT_FALSE(FingeringOf(symbol::Ro, 74, 0, PipeKind::FiveHole, 18)); // 大 leaves ロ in 乙
    EXPECT_FALSE(FingeringOf(symbol::Pi, 62, 0, PipeKind::FiveHole, 18)); // ピ has one key
    EXPECT_FALSE(FingeringOf(symbol::Ro, 50, 0, PipeKind::FiveHole, 25)); // no such pipe
}

} // namespace
} // namespace nagisora
