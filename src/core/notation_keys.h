#pragma once

// The keys of the notation typing mode: which full-width symbol a plain key gives, by what the line under the
// caret is to the reader. A pitch line and a duration line each have a small key map of their own; on a
// timbre line and a comment the keys type themselves. The same table lists every symbol the palette offers,
// in its groups.

#include "core/score_map.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace nagisora {

enum class SymbolGroup : std::uint8_t {
    Note,         // ロ ツ レ ウ チ ハ ヒ リ ヰ ピ タ 四
    RegisterMark, // 乙 甲 大
    Accidental,   // ＃ ♭ ↓
    RestOrHold,   // ○ ー
    Separator,    // ｜ and the full-width space
    Duration,     // － ― ＋ ＝ ＊
    Tuplet,       // ３ ５ ７
};

struct NotationSymbol {
    std::string_view text; // the symbol, UTF-8
    std::string_view name; // what it means, for tooltips and the key list
    SymbolGroup group;
    char pitchKey = '\0';    // the key that types it on a pitch line; '\0' none
    char durationKey = '\0'; // the key that types it on a duration line; '\0' none
};

// Every symbol of the notation in the palette's order. ♯ is left out on purpose: it marks a pitch line but
// raises nothing, and ＃ is the sharp.
std::span<const NotationSymbol> NotationSymbols();

// Which keys apply on a line.
enum class KeyMap : std::uint8_t {
    Pitch,    // a pitch line, or a line that has begun as one
    Duration, // the line under a pitch line
    Plain,    // a timbre line (also one in the making) or a comment: keys type themselves
    Open, // a blank line that has not decided: digits and spaces start a timbre line, symbols a pitch line
};

// The key map of score line `line` (from 0), from the reader's map of the lines and the line's own bytes. A
// line past the last one (the empty line after a final line break) counts as blank, and as the duration line
// when a pitch line stands above it.
KeyMap KeyMapOfLine(const ScoreMap& map, std::span<const std::string_view> lines, std::size_t line);

// The symbol a typed character gives on a line of that key map; nullptr when the character types itself.
// On an open line a symbol makes a pitch line of it: the caller then widens the spaces typed before it.
const NotationSymbol* SymbolForKey(KeyMap keyMap, char32_t typed);

} // namespace nagisora
