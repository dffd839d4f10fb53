#include "core/symbol_tables.h"

namespace nagisora::detail {
namespace {

constexpr std::array<std::uint8_t, 65536> MakeUnitFacts() {
    std::array<std::uint8_t, 65536> facts{};
    for (std::size_t i = 0; i < SymbolRows.size(); ++i)
        facts[SymbolRows[i].unit] =
            std::uint8_t((i + 1) | (SymbolRows[i].marksPitchLine ? PitchLineFlag : 0));
    facts[symbol::MusicSharp] = PitchLineFlag;
    facts[symbol::Comment] = CommentFlag;
    return facts;
}

struct DurationRow {
    Unit unit;
    std::int16_t ticks;
};

constexpr std::array<DurationRow, 10> DurationRows{{
    {MakeUnit(0x82, 0x52), 3},   // ３, triplet marker
    {MakeUnit(0x82, 0x54), 5},   // ５, quintuplet marker
    {MakeUnit(0x82, 0x56), 7},   // ７, septuplet marker
    {MakeUnit(0x81, 0x40), 240}, // full-width space: two beats
    {MakeUnit(0x20, 0x20), 240}, // two half-width spaces, as the padding of a short line gives them
    {MakeUnit(0x81, 0x7C), 120}, // －
    {MakeUnit(0x81, 0x5C), 120}, // ―
    {MakeUnit(0x81, 0x7B), 60},  // ＋
    {MakeUnit(0x81, 0x81), 30},  // ＝
    {MakeUnit(0x81, 0x96), 15},  // ＊
}};

constexpr std::array<std::uint8_t, 65536> MakeDurationIndex() {
    std::array<std::uint8_t, 65536> index{};
    for (std::size_t i = 0; i < DurationRows.size(); ++i)
        index[DurationRows[i].unit] = std::uint8_t(i + 1);
    return index;
}

constexpr std::array<std::int16_t, 16> MakeDurationTicks() {
    std::array<std::int16_t, 16> ticks{}; // index 0: not a duration symbol, 0 ticks
    for (std::size_t i = 0; i < DurationRows.size(); ++i)
        ticks[i + 1] = DurationRows[i].ticks;
    return ticks;
}

constexpr std::array<std::int8_t, 256> MakeHexDigits() {
    std::array<std::int8_t, 256> digits{};
    for (auto& d : digits)
        d = -1;
    for (int c = 0; c < 10; ++c)
        digits['0' + c] = std::int8_t(c);
    for (int c = 0; c < 6; ++c) {
        digits['A' + c] = std::int8_t(10 + c);
        digits['a' + c] = std::int8_t(10 + c);
    }
    return digits;
}

} // namespace

constinit const std::array<std::uint8_t, 65536> UnitFacts = MakeUnitFacts();
constinit const std::array<std::uint8_t, 65536> DurationIndex = MakeDurationIndex();
constinit const std::array<std::int16_t, 16> DurationTicks = MakeDurationTicks();
constinit const std::array<std::int8_t, 256> HexDigit = MakeHexDigits();

} // namespace nagisora::detail
