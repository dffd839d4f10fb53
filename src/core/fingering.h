#pragma once

// How a written note is fingered on the shakuhachi: which holes are closed, open or half closed, whether the
// chin lowers (メリ) or raises (カリ) the pitch, and the pitch the note sounds on a pipe of a chosen length.
// One table for the five-hole pipe and the seven-hole pipe; docs/fingering.md gives its sources.
//
// Holes are counted from the foot of the pipe: on the five-hole pipe 1 to 4 on the front and 5 (the thumb
// hole) on the back; the seven-hole pipe has two more small holes on the front, one above hole 2 and one
// above hole 3, so that its front holes are 1, 2, 2½, 3, 3½, 4 and its back hole the seventh.

#include "core/symbol_tables.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nagisora {

enum class Hole : std::uint8_t { Closed, Open, Half };

// What the chin does to the pitch of the fingered note.
enum class Bend : std::uint8_t { None, Kari, Meri, DaiMeri };

enum class PipeKind : std::uint8_t { FiveHole, SevenHole };

inline constexpr std::size_t MostHoles = 7;

struct Fingering {
    std::string name; // the written note, register and accidental first: "甲レ", "♭ツ" (UTF-8)
    PipeKind pipe = PipeKind::FiveHole;
    std::array<Hole, MostHoles> holes{}; // from the foot up, the back hole last; 5 or 7 in use
    Bend bend = Bend::None;
    std::int32_t soundingKey = 0; // the MIDI key the pipe sounds (middle C 60; the 1.8 尺 pipe's ロ is 62)

    std::size_t HoleCount() const { return pipe == PipeKind::FiveHole ? 5 : 7; }
    bool operator==(const Fingering&) const = default;
};

// The fingering of a note symbol of a pitch line (ロ ツ レ ウ チ ハ ヒ リ ヰ ピ タ 四), given the key the
// reader made of it without the transposition (its register follows from it) and the accidental it used up (0
// none, 1 ＃, 2 ♭, 3 ↓), on a pipe of a length in tenths of a 尺; nothing for any other unit, a key the
// symbol cannot have, or a length the pipe table does not hold.
std::optional<Fingering> FingeringOf(Unit symbol, std::int32_t writtenKey, std::uint8_t accidental,
                                     PipeKind pipe, std::int32_t pipeTenths);

// A key's name with its octave: "D4", "A#5".
std::string PitchName(std::int32_t key);

// The frequency of a key in equal temperament, A4 = 440 Hz.
double KeyHertz(std::int32_t key);

} // namespace nagisora
