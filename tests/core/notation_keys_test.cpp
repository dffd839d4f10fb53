#include "core/notation_keys.h"
#include "core/symbol_tables.h"
#include "score_text.h"

#include <gtest/gtest.h>
#include <set>

namespace nagisora {
namespace {

using test::Sjis;

// What one key gives on a line of each key map; "" where the key types itself.
TEST(NotationKeys, KeysPerKeyMap) {
    struct Case {
        KeyMap map;
        char key;
        std::string_view symbol;
    } const cases[] = {
        {KeyMap::Pitch, 'r', "ロ"},    {KeyMap::Pitch, 'z', "乙"},    {KeyMap::Pitch, 'd', "大"},
        {KeyMap::Pitch, '#', "＃"},    {KeyMap::Pitch, 'v', "↓"},     {KeyMap::Pitch, 'o', "○"},
        {KeyMap::Pitch, '-', "ー"},    {KeyMap::Pitch, '|', "｜"},    {KeyMap::Pitch, ' ', "　"},
        {KeyMap::Pitch, '3', ""},      {KeyMap::Pitch, 'R', ""},      {KeyMap::Pitch, '/', ""},
        {KeyMap::Duration, '-', "－"}, {KeyMap::Duration, ' ', "　"}, {KeyMap::Duration, '=', "＝"},
        {KeyMap::Duration, '*', "＊"}, {KeyMap::Duration, '7', "７"}, {KeyMap::Duration, '|', "｜"},
        {KeyMap::Duration, 'r', ""},   {KeyMap::Duration, '4', ""},   {KeyMap::Plain, 'r', ""},
        {KeyMap::Plain, ' ', ""},      {KeyMap::Plain, '0', ""},      {KeyMap::Open, ' ', ""},
        {KeyMap::Open, '0', ""},       {KeyMap::Open, '7', ""},       {KeyMap::Open, 'c', "チ"},
        {KeyMap::Open, '-', "ー"},
    };
    for (const Case& c : cases) {
        const NotationSymbol* symbol = SymbolForKey(c.map, static_cast<char32_t>(c.key));
        EXPECT_EQ(symbol ? symbol->text : "", c.symbol) << int(c.map) << " '" << c.key << "'";
    }
}

// Each symbol is the unit the reader takes it for (a typo of a look-alike character would pass over it), no
// key types two symbols of one map, and the pitfall ♯ is offered nowhere.
TEST(NotationKeys, SymbolsAreTheReadersUnits) {
    std::set<char> pitchKeys, durationKeys;
    for (const NotationSymbol& symbol : NotationSymbols()) {
        const std::string bytes = Sjis(symbol.text);
        ASSERT_EQ(bytes.size(), 2u) << symbol.text;
        const Unit unit = UnitAt(bytes, 1);
        const std::uint8_t expectedClass[] = {3, 1, 2, 3, 0, 0, 0};
        EXPECT_EQ(SymbolClass(unit), expectedClass[int(symbol.group)]) << symbol.text;
        if (symbol.group == SymbolGroup::Duration || symbol.group == SymbolGroup::Tuplet) {
            EXPECT_GT(DurationOf(unit), 0) << symbol.text;
        }
        EXPECT_NE(unit, symbol::MusicSharp);
        if (symbol.pitchKey) {
            EXPECT_TRUE(pitchKeys.insert(symbol.pitchKey).second) << symbol.pitchKey;
        }
        if (symbol.durationKey) {
            EXPECT_TRUE(durationKeys.insert(symbol.durationKey).second) << symbol.durationKey;
        }
    }
    EXPECT_EQ(DurationOf(UnitAt(Sjis("　"), 1)), 240);
}

// The key map of every line of a score as the reader and the line's own text make it.
TEST(NotationKeys, KeyMapOfEachLine) {
    const test::ScoreLines lines{
        "//注釈",   // a comment
        "",         // blank: open
        "  16  38", // the timbre line of the set below
        "乙ロ　ツ", // a pitch line
        "//ロ",     // its duration line, but a comment to the user
        "  0c",     // hex digits and spaces: a timbre line in the making
        "  ",       // spaces only: open
        "○○",       // no pitch-line symbol yet, but a pitch line in the making
        "",         //
        "ロ",       // a pitch line on the last line
    };
    const KeyMap expected[] = {KeyMap::Plain, KeyMap::Open,  KeyMap::Plain,   KeyMap::Pitch,
                               KeyMap::Plain, KeyMap::Plain, KeyMap::Open,    KeyMap::Pitch,
                               KeyMap::Plain, KeyMap::Pitch, KeyMap::Duration};
    const ScoreMap map = MapScore(lines);
    for (std::size_t j = 0; j < std::size(expected); ++j)
        EXPECT_EQ(KeyMapOfLine(map, lines, j), expected[j]) << "line " << j;
    // Under a line that is no pitch line, the line past the last is open.
    const test::ScoreLines comment{"//"};
    EXPECT_EQ(KeyMapOfLine(MapScore(comment), comment, 1), KeyMap::Open);
}

} // namespace
} // namespace nagisora
