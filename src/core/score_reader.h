#pragma once

// The score reader: walks the aligned texts of a score one unit at a time and makes one note event per note
// symbol, keeping the register, the pending accidental and the automatic register rules.

#include "core/note_event.h"
#include "core/score_file_lines.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace nagisora {

inline constexpr std::string_view TooManyNotesMessage = "音符の数が 4096 を超えています";

// Fills events 1 to n of the list and zeroes the rest; returns n. A score with more note symbols than the
// list holds is refused: the list is then all zero and the result is empty. The lines are read a piece at a
// time, so that memory stays near the size of the lines themselves whatever they hold, and reading stops at
// the note that the list no longer holds.
std::optional<std::int32_t> ReadScore(std::span<const std::string_view> lines, std::int32_t transpose,
                                      NoteEventList& list);
std::optional<std::int32_t> ReadScore(const ScoreFileLines& lines, std::int32_t transpose,
                                      NoteEventList& list);

namespace detail {
// ReadScore with pieces of pieceBytes bytes of pitch text, for the tests of the seams between pieces.
std::optional<std::int32_t> ReadScoreInPieces(std::span<const std::string_view> lines, std::int32_t transpose,
                                              NoteEventList& list, std::size_t pieceBytes);
} // namespace detail

} // namespace nagisora
