#pragma once

// The score as a Tozan player reads it from paper: katakana in vertical columns, read top to bottom and right
// to left, the rhythm as lines to the right of the notes. This is the layout only, in beats and columns,
// without any drawing: the renderer turns it into pages. docs/vertical-score.md says which conventions it
// follows.
//
// - Time runs down each column, 120 ticks a beat, every beat the same height.
// - A note's rhythm lines follow the value written under it: none for two beats or more, one for a beat or a
//   half beat, two for a quarter, three for an eighth. Lines of notes that follow each other within one beat
//   join into one line; a half-beat note whose line stands alone in its beat carries a tick.
// - Bar lines (｜) and the start of every line set end a measure. A measure that does not fit in what is left
//   of a column starts the next one; a measure longer than a column is broken where the column ends.
// - Columns are filled right to left; a page holds columnsPerPage columns.
// - A note without time (a duration the notation does not know, a tuplet marker without a base) is drawn
//   small, with no line, and takes no room.

#include "core/score_map.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

inline constexpr std::int32_t VerticalTicksPerBeat = 120;

struct VerticalLayoutSettings {
    std::int32_t beatsPerColumn = 16;
    std::int32_t columnsPerPage = 12;
};

enum class VerticalCellKind : std::uint8_t {
    Note,   // a note symbol (ロ ツ レ ... 四)
    Rest,   // ○
    Hold,   // ー
    Bar,    // ｜, across the column at its row
    Tuplet, // the numeral of a tuplet group, beside its first note
    Timbre, // a timbre number where it changes, beside its note
};

// A few bytes kept in place: the cells of a long score cost no allocation each. The bytes are char8_t, which
// unlike char aliases nothing else: writing them does not make the compiler load every other field again.
template <std::size_t Capacity>
class InlineText {
  public:
    InlineText() = default;
    InlineText(std::string_view text) { Assign(text); } // NOLINT: converts like the string it stands for
    void Assign(std::string_view text) {
        size_ = std::uint8_t(std::min(text.size(), Capacity));
        for (std::size_t i = 0; i < size_; ++i) // a unit's two bytes: no call to copy them
            bytes_[i] = char8_t(text[i]);
    }
    // Appends as much as fits; a text longer than the capacity keeps its first bytes.
    void Append(std::string_view text) {
        const std::size_t room = std::min(text.size(), Capacity - size_);
        for (std::size_t i = 0; i < room; ++i)
            bytes_[size_ + i] = char8_t(text[i]);
        size_ = std::uint8_t(size_ + room);
    }
    std::string_view View() const { return {reinterpret_cast<const char*>(bytes_.data()), size_}; }
    bool Empty() const { return size_ == 0; }
    bool operator==(const InlineText& other) const { return View() == other.View(); }

  private:
    std::array<char8_t, Capacity> bytes_{};
    std::uint8_t size_ = 0;
};

struct VerticalCell {
    std::int32_t page = 0;   // from 0
    std::int32_t column = 0; // on its page, from 0 at the right edge
    std::int32_t tick = 0;   // from the top of the column, VerticalTicksPerBeat a beat
    std::int32_t ticks = 0;  // the height: the event's time (0 for a note without time, bars and annotations)
    VerticalCellKind kind = VerticalCellKind::Note;
    InlineText<4> glyph;     // code page 932 bytes: the symbol, the tuplet numeral, the timbre number
    InlineText<8> marks;     // the register marks and accidentals written before the note (the first four)
    std::uint8_t lines = 0;  // rhythm lines: 0 to 3
    bool tickMark = false;   // a half-beat note alone on its line
    bool small = false;      // a note without time
    std::int32_t event = -1; // the event (index into ScoreMap::events) of notes, rests, holds and annotations

    bool operator==(const VerticalCell&) const = default;
};

// One joined rhythm line: level 1 is the line next to the notes, 2 and 3 the ones beside it.
struct VerticalLine {
    std::int32_t page = 0;
    std::int32_t column = 0;
    std::int32_t level = 1;
    std::int32_t from = 0; // ticks from the top of the column
    std::int32_t to = 0;

    bool operator==(const VerticalLine&) const = default;
};

struct VerticalScore {
    std::string title; // code page 932 bytes; empty: no title
    std::int32_t pages = 0;
    VerticalLayoutSettings settings;
    std::vector<VerticalCell> cells;       // in playing order, page by page
    std::vector<VerticalLine> lines;       // in playing order
    std::vector<std::int32_t> cellOfEvent; // per event, the index of its cell

    // The cells of one page: [first, last) indices into cells.
    std::pair<std::size_t, std::size_t> PageCells(std::int32_t page) const;
};

// Lays the events of the map out, titled with title (code page 932 bytes, e.g. FirstCommentText of the
// lines).
VerticalScore LayOutVertical(const ScoreMap& map, std::string_view title,
                             const VerticalLayoutSettings& settings = {});

// The same into a layout already there, keeping the storage of its lists: what the 縦譜 window lays out again
// after every edit.
void LayOutVertical(const ScoreMap& map, std::string_view title, const VerticalLayoutSettings& settings,
                    VerticalScore& score);

} // namespace nagisora
