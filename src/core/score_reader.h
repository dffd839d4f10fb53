#pragma once

// The score reader: walks the aligned texts of a score one unit at a time and makes one note event per note
// symbol, keeping the register, the pending accidental and the automatic register rules.

#include "onpu.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace nagisora {

inline constexpr std::string_view TooManyNotesMessage = "音符の数が 4096 を超えています";

// Fills events 1 to n of the list and zeroes the rest; returns n. A score with more note symbols than the
// list holds is refused: the list is then all zero and the result is empty.
std::optional<std::int32_t> ReadScore(std::span<const std::string_view> lines, std::int32_t onteiOffset,
                                      OnpuList& list);

} // namespace nagisora
