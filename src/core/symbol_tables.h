#pragma once

// The vocabulary of the notation: what one two-byte unit of a pitch, duration or timbre line means.
// Units are compared as exact byte pairs of code page 932 text; nothing is decoded.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nagisora {

// Two consecutive bytes of a score text, the first byte in the high half.
using Unit = std::uint16_t;

constexpr Unit MakeUnit(unsigned char first, unsigned char second) {
    return Unit((first << 8) | second);
}

// Unit c (counted from 1) of a text: its bytes 2c-1 and 2c. The caller keeps c within length / 2.
inline Unit UnitAt(std::string_view text, std::size_t c) {
    return MakeUnit(static_cast<unsigned char>(text[2 * c - 2]), static_cast<unsigned char>(text[2 * c - 1]));
}

namespace symbol {
inline constexpr Unit Ro = MakeUnit(0x83, 0x8D);         // ロ
inline constexpr Unit Tsu = MakeUnit(0x83, 0x63);        // ツ
inline constexpr Unit Re = MakeUnit(0x83, 0x8C);         // レ
inline constexpr Unit Chi = MakeUnit(0x83, 0x60);        // チ
inline constexpr Unit Ha = MakeUnit(0x83, 0x6E);         // ハ
inline constexpr Unit Hi = MakeUnit(0x83, 0x71);         // ヒ
inline constexpr Unit Wi = MakeUnit(0x83, 0x90);         // ヰ
inline constexpr Unit Pi = MakeUnit(0x83, 0x73);         // ピ
inline constexpr Unit Ta = MakeUnit(0x83, 0x5E);         // タ
inline constexpr Unit Yon = MakeUnit(0x8E, 0x6C);        // 四
inline constexpr Unit Rest = MakeUnit(0x81, 0x9B);       // ○
inline constexpr Unit Hold = MakeUnit(0x81, 0x5B);       // ー
inline constexpr Unit U = MakeUnit(0x83, 0x45);          // ウ
inline constexpr Unit Ri = MakeUnit(0x83, 0x8A);         // リ
inline constexpr Unit Otsu = MakeUnit(0x89, 0xB3);       // 乙
inline constexpr Unit Kan = MakeUnit(0x8D, 0x62);        // 甲
inline constexpr Unit Dai = MakeUnit(0x91, 0xE5);        // 大
inline constexpr Unit Sharp = MakeUnit(0x81, 0x94);      // ＃, the sharp the reader knows
inline constexpr Unit Flat = MakeUnit(0x81, 0xF3);       // ♭
inline constexpr Unit Down = MakeUnit(0x81, 0xAB);       // ↓, two semitones down
inline constexpr Unit MusicSharp = MakeUnit(0x81, 0xF2); // ♯: marks a pitch line, raises nothing
inline constexpr Unit Comment = MakeUnit(0x2F, 0x2F);    // "//"
inline constexpr Unit BarLine = MakeUnit(0x81, 0x62);    // ｜
inline constexpr Unit Space = MakeUnit(0x81, 0x40);      // the full-width space
inline constexpr Unit TwoSpaces = MakeUnit(0x20, 0x20);  // two half-width spaces, as padding gives them
} // namespace symbol

enum SymbolKind : std::uint8_t {
    ClassOther = 0,
    ClassRegisterMarker = 1,
    ClassAccidental = 2,
    ClassNoteSymbol = 3,
};

namespace detail {
// Per-unit facts, one byte for each of the 65536 units: the low five bits name the symbol (0 for none),
// PitchLineFlag marks the 17 units that make a line a pitch line, CommentFlag marks "//".
inline constexpr std::uint8_t SymbolIdMask = 0x1F;
inline constexpr std::uint8_t PitchLineFlag = 0x80;
inline constexpr std::uint8_t CommentFlag = 0x40;
extern const std::array<std::uint8_t, 65536> UnitFacts;

// What the register rules need to know of a symbol.
enum SymbolTrait : std::uint8_t {
    IsHaHiRi = 1,     // ハ ヒ リ
    IsRoTsu = 2,      // ロ ツ
    TakesKan = 4,     // ピ タ 四 ヰ put the reader into 甲
    IsRestOrHold = 8, // ○ ー
    IsOtsu = 16,      // 乙
    IsKan = 32,       // 甲
};

struct SymbolInfo {
    std::uint8_t symbolClass = ClassOther;
    std::uint8_t value = 0;            // register or accidental value
    std::array<std::int8_t, 3> keys{}; // key under 乙, 甲, 大; 0 for ○, -1 for ー
    std::uint8_t traits = 0;
};

struct SymbolRow {
    Unit unit;
    SymbolInfo info;
    bool marksPitchLine;
};

// Row i describes symbol id i + 1; id 0 is every other unit.
inline constexpr std::array<SymbolRow, 20> SymbolRows{{
    {symbol::Otsu, {ClassRegisterMarker, 0, {}, IsOtsu}, true},
    {symbol::Kan, {ClassRegisterMarker, 1, {}, IsKan}, true},
    {symbol::Dai, {ClassRegisterMarker, 2, {}, 0}, false},
    {symbol::Sharp, {ClassAccidental, 1, {}, 0}, false},
    {symbol::Flat, {ClassAccidental, 2, {}, 0}, true},
    {symbol::Down, {ClassAccidental, 3, {}, 0}, true},
    {symbol::Ro, {ClassNoteSymbol, 0, {50, 62, 50}, IsRoTsu}, true},
    {symbol::Tsu, {ClassNoteSymbol, 0, {53, 65, 77}, IsRoTsu}, true},
    {symbol::Re, {ClassNoteSymbol, 0, {55, 67, 79}, 0}, true},
    {symbol::U, {ClassNoteSymbol, 0, {56, 68, 56}, 0}, true},
    {symbol::Chi, {ClassNoteSymbol, 0, {57, 69, 81}, 0}, true},
    {symbol::Ha, {ClassNoteSymbol, 0, {60, 72, 84}, IsHaHiRi}, true},
    {symbol::Hi, {ClassNoteSymbol, 0, {62, 74, 62}, IsHaHiRi}, true},
    {symbol::Ri, {ClassNoteSymbol, 0, {61, 61, 61}, IsHaHiRi}, true},
    {symbol::Wi, {ClassNoteSymbol, 0, {70, 70, 70}, TakesKan}, false},
    {symbol::Pi, {ClassNoteSymbol, 0, {74, 74, 74}, TakesKan}, true},
    {symbol::Ta, {ClassNoteSymbol, 0, {75, 75, 75}, TakesKan}, true},
    {symbol::Yon, {ClassNoteSymbol, 0, {76, 76, 76}, TakesKan}, true},
    {symbol::Rest, {ClassNoteSymbol, 0, {0, 0, 0}, IsRestOrHold}, false},
    {symbol::Hold, {ClassNoteSymbol, 0, {-1, -1, -1}, IsRestOrHold}, true},
}};

inline constexpr std::size_t SymbolIdCount = 32;

constexpr std::array<SymbolInfo, SymbolIdCount> MakeSymbols() {
    std::array<SymbolInfo, SymbolIdCount> symbols{};
    for (std::size_t i = 0; i < SymbolRows.size(); ++i)
        symbols[i + 1] = SymbolRows[i].info;
    return symbols;
}
inline constexpr std::array<SymbolInfo, SymbolIdCount> Symbols = MakeSymbols();

inline std::uint8_t SymbolIdOf(Unit unit) {
    return UnitFacts[unit] & SymbolIdMask;
}

inline const SymbolInfo& SymbolInfoOf(Unit unit) {
    return Symbols[SymbolIdOf(unit)];
}

// Semitones that a pending accidental 0 to 3 adds.
inline constexpr std::array<std::int8_t, 4> AccidentalShift{0, 1, -1, -2};

// The key rule: the key of a note symbol under the register (0 乙, 1 甲, 2 大), moved by the pending
// accidental (0 none, 1 ＃, 2 ♭, 3 ↓), before the transposition; 0 for ○ and -1 for ー whatever the
// register and accidental. Other register or accidental values change nothing.
constexpr std::int32_t KeyOf(const SymbolInfo& info, std::uint8_t curRegister,
                             std::uint8_t pendingAccidental) {
    if (info.traits & IsRestOrHold) return info.keys[0];
    return info.keys[curRegister <= 2 ? curRegister : 0] +
           AccidentalShift[pendingAccidental <= 3 ? pendingAccidental : 0];
}

// The transposition reaches pitched keys only (all above 0): a rest stays 0 and a hold -1.
constexpr std::int32_t Transposed(std::int32_t key, std::int32_t transpose) {
    const std::int32_t pitched = key > 0;
    return key + (transpose & -pitched);
}

// Duration units: an index per unit (0 for none) into the ticks.
extern const std::array<std::uint8_t, 65536> DurationIndex;
extern const std::array<std::int16_t, 16> DurationTicks;

extern const std::array<std::int8_t, 256> HexDigit;
} // namespace detail

// 1 register marker (乙 甲 大), 2 accidental (＃ ♭ ↓), 3 note symbol, 0 any other unit.
inline std::uint8_t SymbolClass(Unit unit) {
    return detail::SymbolInfoOf(unit).symbolClass;
}

// 0, 1, 2 for 乙, 甲, 大. Only for units of class 1.
inline std::uint8_t RegisterOf(Unit unit) {
    return detail::SymbolInfoOf(unit).value;
}

// 1 (up one semitone), 2 (down one), 3 (down two) for ＃, ♭, ↓. Only for units of class 2.
inline std::uint8_t AccidentalOf(Unit unit) {
    return detail::SymbolInfoOf(unit).value;
}

// The MIDI key of a note symbol with the transposition added: 0 for ○, -1 for ー. Only for units of class 3.
inline std::int32_t NoteNumberOf(Unit unit, std::uint8_t curRegister, std::uint8_t pendingAccidental,
                                 std::int32_t transpose) {
    return detail::Transposed(detail::KeyOf(detail::SymbolInfoOf(unit), curRegister, pendingAccidental),
                              transpose);
}

// Ticks of a duration-line unit (120 a beat), or the tuplet marker 3, 5 or 7: ３ ５ ７, the full-width space
// and two half-width spaces 240, － and ― 120, ＋ 60, ＝ 30, ＊ 15. A unit that is no duration symbol gives
// 0 ticks: the note keeps its place and the rhythm after it is kept.
inline std::int32_t DurationOf(Unit unit) {
    return detail::DurationTicks[detail::DurationIndex[unit]];
}

// The two-digit hexadecimal number (0 to 255) a timbre unit spells, or -1.
inline std::int32_t TimbreOf(Unit unit) {
    const std::int32_t high = detail::HexDigit[unit >> 8];
    const std::int32_t low = detail::HexDigit[unit & 0xFF];
    return (high | low) < 0 ? -1 : high * 16 + low;
}

// Whether the unit is one of the 17 symbols that make a line a pitch line.
inline bool IsPitchLineSymbol(Unit unit) {
    return (detail::UnitFacts[unit] & detail::PitchLineFlag) != 0;
}

} // namespace nagisora
