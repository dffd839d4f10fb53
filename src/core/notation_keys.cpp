#include "core/notation_keys.h"

#include "core/line_sets.h"

#include <algorithm>
#include <array>

namespace nagisora {
namespace {

using G = SymbolGroup;

// Keys follow the symbol's reading where they can (r ロ, t ツ, h ハ, k 甲, d 大), a neighbouring letter of
// the reading where that one is taken (e レ, i ヒ, l リ, a タ, y 四), or the symbol's shape (z 乙, o ○, v ↓,
// - ー). Digits are left to timbre numbers, so that a blank line starts a timbre line with them.
constexpr std::array<NotationSymbol, 30> Table{{
    {"ロ", "ロ (乙 D3 / 甲 D4)", G::Note, 'r'},
    {"ツ", "ツ (乙 F3 / 甲 F4)", G::Note, 't'},
    {"レ", "レ (乙 G3 / 甲 G4)", G::Note, 'e'},
    {"ウ", "ウ (乙 G#3 / 甲 G#4)", G::Note, 'u'},
    {"チ", "チ (乙 A3 / 甲 A4)", G::Note, 'c'},
    {"ハ", "ハ (乙 C4 / 甲 C5)", G::Note, 'h'},
    {"ヒ", "ヒ (乙 D4 / 甲 D5)", G::Note, 'i'},
    {"リ", "リ (C#4)", G::Note, 'l'},
    {"ヰ", "ヰ (A#4)", G::Note, 'w'},
    {"ピ", "ピ (D5)", G::Note, 'p'},
    {"タ", "タ (D#5)", G::Note, 'a'},
    {"四", "四 (E5)", G::Note, 'y'},
    {"乙", "乙: 低い音域 (以後の音)", G::RegisterMark, 'z'},
    {"甲", "甲: 高い音域 (以後の音)", G::RegisterMark, 'k'},
    {"大", "大: 大甲 (以後の音)", G::RegisterMark, 'd'},
    {"＃", "＃: 次の音を半音上げる", G::Accidental, '#'},
    {"♭", "♭: 次の音を半音下げる", G::Accidental, 'b'},
    {"↓", "↓: 次の音を一音下げる", G::Accidental, 'v'},
    {"○", "○: 休符", G::RestOrHold, 'o'},
    {"ー", "ー: 前の音を伸ばす", G::RestOrHold, '-'},
    {"｜", "｜: 小節線 (音高行にも音長行にも)", G::Separator, '|', '|'},
    {"　", "全角の空白: 音長行では 2 拍, 音高行では区切り", G::Separator, ' ', ' '},
    {"－", "－: 1 拍", G::Duration, '\0', '-'},
    {"―", "―: 1 拍 (－ と同じ)", G::Duration},
    {"＋", "＋: 1/2 拍", G::Duration, '\0', '+'},
    {"＝", "＝: 1/4 拍", G::Duration, '\0', '='},
    {"＊", "＊: 1/8 拍", G::Duration, '\0', '*'},
    {"３", "３: 3 連符", G::Tuplet, '\0', '3'},
    {"５", "５: 5 連符", G::Tuplet, '\0', '5'},
    {"７", "７: 7 連符", G::Tuplet, '\0', '7'},
}};

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// What a blank or other line holds so far decides which keys it takes.
KeyMap KeyMapOfOwnText(std::string_view line) {
    const std::string_view trimmed = TrimLine(ScoreLine(line));
    bool digits = false;
    for (const char c : trimmed) {
        if (c == ' ') continue;
        if (!IsHexDigit(c)) return KeyMap::Pitch;
        digits = true;
    }
    return digits ? KeyMap::Plain : KeyMap::Open;
}

const NotationSymbol* Find(char NotationSymbol::*key, char32_t typed) {
    if (typed == 0 || typed > 0x7E) return nullptr;
    const auto found = std::find_if(Table.begin(), Table.end(), [&](const NotationSymbol& symbol) {
        return static_cast<char32_t>(symbol.*key) == typed;
    });
    return found == Table.end() ? nullptr : &*found;
}

} // namespace

std::span<const NotationSymbol> NotationSymbols() {
    return Table;
}

KeyMap KeyMapOfLine(const ScoreMap& map, std::span<const std::string_view> lines, std::size_t line) {
    if (line < map.lines.size()) {
        const LineUse& use = map.lines[line];
        if (use.kind == LineKindOf::Comment) return KeyMap::Plain;
        switch (use.Role()) {
        case LineRole::Pitch:
            return KeyMap::Pitch;
        case LineRole::Duration:
            return KeyMap::Duration;
        case LineRole::Timbre:
            return KeyMap::Plain;
        default:
            return KeyMapOfOwnText(line < lines.size() ? lines[line] : std::string_view{});
        }
    }
    const bool underPitchLine = line > 0 && line - 1 < map.lines.size() && map.lines[line - 1].pitchOf >= 0;
    return underPitchLine ? KeyMap::Duration : KeyMap::Open;
}

const NotationSymbol* SymbolForKey(KeyMap keyMap, char32_t typed) {
    switch (keyMap) {
    case KeyMap::Pitch:
        return Find(&NotationSymbol::pitchKey, typed);
    case KeyMap::Duration:
        return Find(&NotationSymbol::durationKey, typed);
    case KeyMap::Open:
        // Digits and spaces may begin a timbre line; anything else the pitch map knows begins a pitch line.
        if (typed == ' ' || (typed >= '0' && typed <= '9')) return nullptr;
        return Find(&NotationSymbol::pitchKey, typed);
    case KeyMap::Plain:
        break;
    }
    return nullptr;
}

} // namespace nagisora
