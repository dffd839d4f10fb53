#include "core/fingering.h"

#include "core/pipe_lengths.h"

#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

constexpr Hole C = Hole::Closed;
constexpr Hole O = Hole::Open;
constexpr Hole H = Hole::Half;

// One row: a symbol's holes on both pipes and the bend of its own fingering (before any accidental).
struct FingeringRow {
    Unit symbol;
    std::string_view name;     // UTF-8
    std::int32_t otsuKey;      // its key in 乙 (the reader's key table); fixed keys have no register
    bool fixed;                // リ ヰ ピ タ 四: one key whatever the register
    std::array<Hole, 5> five;  // holes 1, 2, 3, 4 and the back hole
    std::array<Hole, 7> seven; // holes 1, 2, 2½, 3, 3½, 4 and the back hole
    std::int8_t bendFive;      // -2 大メリ, -1 メリ, 0, +1 カリ
    std::int8_t bendSeven;
};

// The same fingering serves every register: the upper registers overblow the lower one's fingering.
constexpr std::array<FingeringRow, 12> Rows{{
    {symbol::Ro, "ロ", 50, false, {C, C, C, C, C}, {C, C, C, C, C, C, C}, 0, 0},
    {symbol::Tsu, "ツ", 53, false, {O, C, C, C, C}, {O, C, C, C, C, C, C}, 0, 0},
    {symbol::Re, "レ", 55, false, {O, O, C, C, C}, {O, O, C, C, C, C, C}, 0, 0},
    // G#: the チ fingering with hole 3 half closed and the chin lowered; the seven-hole pipe opens hole 2½.
    {symbol::U, "ウ", 56, false, {O, O, H, C, C}, {O, O, O, C, C, C, C}, -1, 0},
    {symbol::Chi, "チ", 57, false, {O, O, O, C, C}, {O, O, C, O, C, C, C}, 0, 0},
    {symbol::Ha, "ハ", 60, false, {C, C, O, O, C}, {C, C, C, O, C, O, C}, 0, 0},
    {symbol::Hi, "ヒ", 62, false, {C, O, O, O, O}, {C, O, C, O, C, O, O}, 0, 0},
    // C#: ハ raised.
    {symbol::Ri, "リ", 61, true, {C, C, O, O, C}, {C, C, C, O, C, O, C}, +1, +1},
    // A#: ハ with hole 4 mostly closed and the chin lowered; the seven-hole pipe opens hole 3½ over チ.
    {symbol::Wi, "ヰ", 70, true, {C, C, O, H, C}, {O, O, C, O, O, C, C}, -1, 0},
    {symbol::Pi, "ピ", 74, true, {C, O, O, O, O}, {C, O, C, O, C, O, O}, 0, 0},
    // D#: ピ raised.
    {symbol::Ta, "タ", 75, true, {C, O, O, O, O}, {C, O, C, O, C, O, O}, +1, +1},
    // E: the チ fingering overblown to its third mode (three times A).
    {symbol::Yon, "四", 76, true, {O, O, O, C, C}, {O, O, C, O, C, C, C}, 0, 0},
}};

std::int32_t AccidentalShift(std::uint8_t accidental) {
    switch (accidental) {
    case 1:
        return 1;
    case 2:
        return -1;
    case 3:
        return -2;
    default:
        return 0;
    }
}

std::string_view AccidentalName(std::uint8_t accidental) {
    switch (accidental) {
    case 1:
        return "＃";
    case 2:
        return "♭";
    case 3:
        return "↓";
    default:
        return "";
    }
}

// The register mark that gives a register-dependent symbol its key: 乙, 甲 or 大 (大 raises only ツ レ チ
// ハ).
std::optional<std::string_view> RegisterName(const FingeringRow& row, std::int32_t naturalKey) {
    if (naturalKey == row.otsuKey) return "乙";
    if (naturalKey == row.otsuKey + 12) return "甲";
    const bool raisedTwice = row.symbol == symbol::Tsu || row.symbol == symbol::Re ||
                             row.symbol == symbol::Chi || row.symbol == symbol::Ha;
    if (raisedTwice && naturalKey == row.otsuKey + 24) return "大";
    return std::nullopt;
}

Bend BendOf(int level) {
    switch (std::clamp(level, -2, 1)) {
    case -2:
        return Bend::DaiMeri;
    case -1:
        return Bend::Meri;
    case 1:
        return Bend::Kari;
    default:
        return Bend::None;
    }
}

} // namespace

std::optional<Fingering> FingeringOf(Unit symbol, std::int32_t writtenKey, std::uint8_t accidental,
                                     PipeKind pipe, std::int32_t pipeTenths) {
    const auto row = std::find_if(Rows.begin(), Rows.end(),
                                  [symbol](const FingeringRow& r) { return r.symbol == symbol; });
    const std::optional<PipeLength> length = PipeOfLength(pipeTenths);
    if (row == Rows.end() || !length) return std::nullopt;
    const std::int32_t naturalKey = writtenKey - AccidentalShift(accidental);
    std::string_view registerName;
    if (row->fixed) {
        if (naturalKey != row->otsuKey) return std::nullopt;
    } else {
        const std::optional<std::string_view> name = RegisterName(*row, naturalKey);
        if (!name) return std::nullopt;
        registerName = *name;
    }

    Fingering f;
    f.name = std::string(registerName) + std::string(AccidentalName(accidental)) + std::string(row->name);
    f.pipe = pipe;
    if (pipe == PipeKind::FiveHole)
        std::copy(row->five.begin(), row->five.end(), f.holes.begin());
    else
        f.holes = row->seven;
    f.bend =
        BendOf((pipe == PipeKind::FiveHole ? row->bendFive : row->bendSeven) + AccidentalShift(accidental));
    // The reader's keys lie an octave below the pipe: the 1.8 尺 pipe's ロ sounds D4, key 62.
    f.soundingKey = writtenKey + 12 + length->semitones;
    return f;
}

std::string PitchName(std::int32_t key) {
    static constexpr std::array<std::string_view, 12> names{"C",  "C#", "D",  "D#", "E",  "F",
                                                            "F#", "G",  "G#", "A",  "A#", "B"};
    const std::int32_t octave = (key >= 0 ? key / 12 : (key - 11) / 12) - 1;
    return std::string(names[static_cast<std::size_t>(((key % 12) + 12) % 12)]) + std::to_string(octave);
}

double KeyHertz(std::int32_t key) {
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

} // namespace nagisora
