#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace nagisora {

inline constexpr std::size_t InstrumentCount = 128;

// Row k reads k as two upper-case hexadecimal digits, a space and the instrument's name.
extern const std::array<std::string_view, InstrumentCount> InstrumentRows;

// The name of a program without its number, as the list spells it.
std::string_view InstrumentName(std::size_t program);

// The program whose name equals name, ignoring the case of ASCII letters.
std::optional<std::int32_t> InstrumentByName(std::string_view name);

} // namespace nagisora
