#pragma once

// Where the reader finds everything in the score lines: the role of every line, and for every event the
// place of its pitch symbol, its duration unit and its timbre unit. Made by the same gathering and the same
// walk as the conversion, so it agrees with what the conversion reads; the conversion itself does not make
// it and pays nothing for it. The checker, the score area's colours and guides, the playing cursor and the
// exports place what they show with it.

#include "core/line_sets.h"
#include "core/note_event.h"
#include "core/tuplets.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace nagisora {

// Bytes of one score line: the line counted from 1, the first byte's offset in the line from 0 and the
// number of bytes. Line 0 is the stand-in line above the first line or below the last, which the score does
// not show. An offset past the end of the line stands in the padding that the reader adds.
struct SourcePlace {
    std::int32_t line = 0;
    std::uint32_t byte = 0;
    std::uint32_t bytes = 0;

    bool IsNone() const { return line == 0; }
    bool operator==(const SourcePlace&) const = default;
};

// The same place as the score area shows it: line and column from 1, columns counted in characters (a
// full-width and a half-width character one each: a lead byte 81–9F or E0–FC followed by a trail byte 40–7E
// or 80–FC is one character, any other byte is one), and the length in characters. Past the end of its line
// a place counts on as if the padding spaces had been typed.
struct SourceSpan {
    std::int32_t line = 0;
    std::int32_t column = 0;
    std::int32_t length = 0;

    bool IsNone() const { return line == 0; }
    bool operator==(const SourceSpan&) const = default;
};

// What a line is to the reader, the most telling first: a pitch line, else the duration line of a set, else
// its timbre line, else a comment ("//" decides before any pitch-line symbol), else blank or other text.
enum class LineRole : std::uint8_t { Other, Blank, Comment, Timbre, Pitch, Duration };

struct LineUse {
    LineKindOf kind = LineKindOf::Other;
    bool blank = false;           // nothing above 0x20 in the part the reader sees
    std::int32_t pitchOf = -1;    // the set (from 0) whose pitch line it is
    std::int32_t timbreOf = -1;   // the set whose timbre line it is: the line above that set's pitch line
    std::int32_t durationOf = -1; // the set whose duration line it is: the line below that set's pitch line

    LineRole Role() const;
    // The set the role belongs to; -1 for comments, blank and other lines.
    std::int32_t Set() const;
};

// What a unit of a pitch line is to the reader.
enum class UnitKind : std::uint8_t {
    Other,        // no notation symbol: passed over (kanji, letters, a pair cut by a shift, ...)
    Note,         // ロ ツ レ ウ チ ハ ヒ リ ヰ ピ タ 四
    RestOrHold,   // ○ ー
    RegisterMark, // 乙 甲 大
    Accidental,   // ＃ ♭ ↓
    BarLine,      // ｜
    Space,        // the full-width space or two half-width spaces
    MusicSharp,   // ♯: marks a pitch line but raises nothing
    Comment,      // "//" after the first pitch-line symbol: read as units like the rest of the line
};

struct EventPlace {
    std::int32_t set = 0;        // the line set of its pitch symbol, from 0
    std::uint32_t unit = 0;      // its unit in PitchText, from 1
    std::uint8_t accidental = 0; // the accidental it used up: 0 none, 1 ＃, 2 ♭, 3 ↓
    SourcePlace pitch;
    SourcePlace timbre;
    SourcePlace duration;
};

struct BarPlace {
    std::int32_t eventsBefore = 0; // how many events the reader has made before the bar line
    std::int32_t set = 0;
    SourcePlace at;
};

// The units that stand with one byte of a timbre, pitch or duration line: what the reader pairs.
struct UnitColumn {
    std::size_t offset = 0; // the unit's first byte in the aligned texts
    SourcePlace pitch;
    SourcePlace timbre;
    SourcePlace duration;
};

struct ScoreMap {
    AlignedTexts texts;
    std::vector<LineSet> sets;
    std::vector<LineUse> lines;   // one per score line
    std::vector<UnitKind> units;  // one per unit of PitchText
    std::vector<NoteEvent> read;  // every event as the reader makes it, tuplet markers included; also past
                                  // the 4096 events a conversion takes
    std::vector<NoteEvent> timed; // the same events after the tuplet pass
    std::vector<TupletGroup> tuplets; // every marker the tuplet pass met, in order
    std::vector<EventPlace> events;   // one per event
    std::vector<BarPlace> bars;       // every bar line of the pitch lines, in order

    // The place of bytes of one of the aligned texts, by their offset in the text. Bytes that reach into the
    // next segment (a unit after a line of odd length) are placed on the first line, as far as they lie in
    // it.
    SourcePlace PitchPlace(std::size_t offset, std::size_t bytes = 2) const;
    SourcePlace TimbrePlace(std::size_t offset, std::size_t bytes = 2) const;
    SourcePlace DurationPlace(std::size_t offset, std::size_t bytes = 2) const;

    // The units paired with the byte at a line (from 1) and byte offset (from 0) of a pitch, duration or
    // timbre line; nothing on another line or past the units of the texts.
    std::optional<UnitColumn> UnitsAt(std::int32_t line, std::size_t byte) const;
};

// Maps the score lines (code page 932 bytes, without line ends) with the transposition of the conversion.
ScoreMap MapScore(std::span<const std::string_view> lines, std::int32_t transpose = 0);

// The same into a map already there, replacing what it holds and keeping the storage of its lists: what a
// map made again on every keystroke takes, without fresh memory each time.
void MapScore(std::span<const std::string_view> lines, std::int32_t transpose, ScoreMap& map);

// Columns of a code page 932 line as SourceSpan counts them, past its end too.
std::int32_t ColumnOfByte(std::string_view line, std::size_t byte);
std::size_t ByteOfColumn(std::string_view line, std::int32_t column);

// Whether bytes byte and byte + 1 of a line are one two-byte character as the columns count it: a lead byte
// 81–9F or E0–FC followed by a trail byte 40–7E or 80–FC.
inline bool IsDoubleByteAt(std::string_view line, std::size_t byte) {
    if (byte + 1 >= line.size()) return false;
    const auto lead = static_cast<unsigned char>(line[byte]);
    const auto trail = static_cast<unsigned char>(line[byte + 1]);
    return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) &&
           ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC));
}

// The place in columns, on the lines it was made from.
SourceSpan SpanOf(const SourcePlace& place, std::span<const std::string_view> lines);

} // namespace nagisora
