#pragma once

// A place in a score's text, as the user reads it.

#include <cstddef>

namespace nagisora {

struct ScorePlace {
    std::size_t line;   // 1-based; lines end at LF, CR LF or CR
    std::size_t column; // 1-based, counted in characters

    bool operator==(const ScorePlace&) const = default;
};

} // namespace nagisora
