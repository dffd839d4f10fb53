#include "core/vertical_layout.h"

#include <algorithm>
#include <array>
#include <span>

namespace nagisora {
namespace {

constexpr std::int32_t Beat = VerticalTicksPerBeat;

// The number of rhythm lines of a written value.
std::uint8_t LinesOfValue(std::int32_t ticks) {
    if (ticks >= 2 * Beat || ticks <= 0) return 0;
    if (ticks >= Beat / 2) return 1;
    if (ticks >= Beat / 4) return 2;
    return 3;
}

bool IsMarker(std::int32_t eventTicks) {
    return IsTupletMarker(eventTicks);
}

// The value written under event i: a tuplet marker stands for the value of the event before it, its base.
std::int32_t WrittenValue(const ScoreMap& map, std::size_t i) {
    const std::int32_t read = map.read[i].ticks;
    if (!IsMarker(read)) return read;
    if (i > 0 && !IsMarker(map.read[i - 1].ticks)) return map.read[i - 1].ticks;
    return map.timed[i].ticks;
}

std::string_view UnitBytes(const std::string& text, std::uint32_t unit) {
    const std::size_t at = std::size_t(unit - 1) * 2;
    return at < text.size() ? std::string_view(text).substr(at, 2) : std::string_view{};
}

std::string_view TrimAsciiSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

VerticalCellKind KindOfSymbol(std::string_view glyph) {
    if (glyph == "\x81\x9B") return VerticalCellKind::Rest; // ○
    if (glyph == "\x81\x5B") return VerticalCellKind::Hold; // ー
    return VerticalCellKind::Note;
}

// Places the events column by column and joins their rhythm lines.
class Layouter {
  public:
    Layouter(const ScoreMap& map, const VerticalLayoutSettings& settings, VerticalScore& out)
        : map_(map), capacity_(std::max(settings.beatsPerColumn, 1) * Beat),
          perPage_(std::max(settings.columnsPerPage, 1)), out_(out) {
        if (!map_.tuplets.empty()) {
            const auto byFirst = [](const TupletGroup& a, const TupletGroup& b) { return a.first < b.first; };
            tuplets_ = map_.tuplets;
            if (!std::is_sorted(tuplets_.begin(), tuplets_.end(), byFirst))
                std::stable_sort(tuplets_.begin(), tuplets_.end(), byFirst);
            groupOf_.assign(map_.events.size(), -1);
            for (std::size_t g = 0; g < map_.tuplets.size(); ++g)
                for (std::int32_t e = std::max(map_.tuplets[g].first, 1);
                     e <= map_.tuplets[g].last && std::size_t(e) <= groupOf_.size(); ++e)
                    groupOf_[std::size_t(e - 1)] = std::int32_t(g);
        }
    }

    void Run() {
        const std::size_t count = map_.events.size();
        out_.cellOfEvent.assign(count, -1);
        const std::size_t bars = map_.bars.size();
        const auto barAt = [&](std::size_t bar) {
            return bar < bars ? std::size_t(map_.bars[bar].eventsBefore) : std::size_t(-1);
        };
        std::size_t bar = 0;
        std::size_t nextBar = barAt(0); // the events before the next bar line
        std::uint32_t previousUnit = 0;
        std::int32_t previousSet = -1;
        std::int32_t shownTimbre = -1;
        for (std::size_t i = 0; i <= count; ++i) {
            bool barHere = false;
            while (nextBar <= i) {
                barHere = true;
                nextBar = barAt(++bar);
            }
            if (barHere) PlaceBar();
            if (i == count) break;
            const EventPlace& place = map_.events[i];
            if (place.set != previousSet || barHere) StartMeasure(i, std::min(nextBar, count));
            previousSet = place.set;
            PlaceEvent(i, previousUnit, shownTimbre);
            previousUnit = place.unit;
        }
        CloseLines(0);
        out_.pages = column_ / perPage_ + 1;
    }

  private:
    void NewColumn() {
        CloseLines(0);
        ++column_;
        page_ = column_ / perPage_;
        pageColumn_ = column_ % perPage_;
        at_ = 0;
    }

    void PlaceBar() {
        CloseLines(0);
        Push(VerticalCellKind::Bar, at_, "\x81\x62");
    }

    // Starts the measure of the events from first up to the next bar line (before event nextBar) or line set,
    // in the next column when it does not fit in what is left of this one.
    void StartMeasure(std::size_t first, std::size_t nextBar) {
        CloseLines(0);
        sinceMeasure_ = 0;
        std::int32_t length = 0;
        const std::int32_t set = map_.events[first].set;
        for (std::size_t i = first; i < nextBar && map_.events[i].set == set && length <= capacity_; ++i)
            length += std::max(map_.timed[i].ticks, 0);
        if (at_ > 0 && at_ + length > capacity_) NewColumn();
    }

    void PlaceEvent(std::size_t i, std::uint32_t previousUnit, std::int32_t& shownTimbre) {
        const EventPlace& place = map_.events[i];
        const std::int32_t ticks = std::max(map_.timed[i].ticks, 0);
        if (ticks > 0 && at_ > 0 && at_ + ticks > capacity_) NewColumn();

        const std::size_t index = out_.cells.size();
        out_.cellOfEvent[i] = std::int32_t(index);
        VerticalCell& cell = out_.cells.emplace_back();
        cell.page = page_;
        cell.column = pageColumn_;
        cell.tick = at_;
        cell.ticks = ticks;
        const std::string_view symbol = UnitBytes(map_.texts.PitchText, place.unit);
        cell.glyph.Assign(symbol);
        cell.kind = KindOfSymbol(symbol);
        for (std::uint32_t u = previousUnit + 1; u < place.unit && u <= map_.units.size(); ++u)
            if (const UnitKind kind = map_.units[u - 1];
                kind == UnitKind::RegisterMark || kind == UnitKind::Accidental)
                cell.marks.Append(UnitBytes(map_.texts.PitchText, u));
        cell.small = ticks == 0;
        const std::int32_t written = WrittenValue(map_, i);
        cell.lines = cell.small ? 0 : LinesOfValue(written);
        cell.event = std::int32_t(i);
        JoinLines(index, ticks, cell.lines, written, GroupOf(i));

        if (nextTuplet_ < tuplets_.size() && tuplets_[nextTuplet_].first <= std::int32_t(i) + 1)
            for (const TupletGroup& group : TupletsStartingAt(std::int32_t(i) + 1))
                Push(VerticalCellKind::Tuplet, out_.cells[index].tick,
                     std::string_view(&"0123456789"[group.marker % 10], 1), std::int32_t(i));
        if (const std::int32_t timbre = map_.read[i].program; timbre >= 0 && timbre != shownTimbre) {
            shownTimbre = timbre;
            Push(VerticalCellKind::Timbre, out_.cells[index].tick,
                 TrimAsciiSpaces(UnitBytes(map_.texts.TimbreText, place.unit)), std::int32_t(i));
        }
        at_ += ticks;
        sinceMeasure_ += ticks;
    }

    // The groups whose first event is event (from 1); the groups are met in the order of their markers,
    // which a longer group after a shorter one can start before.
    std::span<const TupletGroup> TupletsStartingAt(std::int32_t event) {
        while (nextTuplet_ < tuplets_.size() && tuplets_[nextTuplet_].first < event)
            ++nextTuplet_;
        std::size_t end = nextTuplet_;
        while (end < tuplets_.size() && tuplets_[end].first == event)
            ++end;
        return std::span(tuplets_).subspan(nextTuplet_, end - nextTuplet_);
    }

    // Adds a bar line or an annotation in place: a cell made elsewhere and copied would be read back
    // while its bytes are still being stored, which stalls.
    void Push(VerticalCellKind kind, std::int32_t tick, std::string_view glyph, std::int32_t event = -1) {
        VerticalCell& placed = out_.cells.emplace_back();
        placed.page = page_;
        placed.column = pageColumn_;
        placed.kind = kind;
        placed.tick = tick;
        placed.glyph.Assign(glyph);
        placed.event = event;
    }

    // The tuplet group (an index into the map's list) that times event i, or -1; the later group where two
    // share an event.
    std::int32_t GroupOf(std::size_t i) const { return groupOf_.empty() ? -1 : groupOf_[i]; }

    // Extends or starts the open line of each level the note has; the levels it lacks end there. Notes join
    // within a beat, and the notes of one tuplet group join across beats.
    void JoinLines(std::size_t cellIndex, std::int32_t ticks, std::uint8_t lines, std::int32_t written,
                   std::int32_t group) {
        if (lines == 0) {
            CloseLines(0);
            return;
        }
        const std::int32_t beat = sinceMeasure_ / Beat;
        const bool withinBeat = (sinceMeasure_ + ticks - 1) / Beat == beat;
        CloseLines(lines);
        for (std::int32_t level = 1; level <= lines; ++level) {
            Open& open = open_[level - 1];
            const bool sameBeat = open.joinable && withinBeat && open.beat == beat;
            const bool sameGroup = group >= 0 && open.group == group;
            if (open.active && open.to == at_ && (sameBeat || sameGroup)) {
                open.to = at_ + ticks;
                ++open.notes;
                continue;
            }
            Close(level);
            open = Open{true, withinBeat, beat, at_, at_ + ticks, 1, cellIndex, written, group};
        }
        top_ = std::max<std::int32_t>(top_, lines);
    }

    // Ends the open lines above level keep.
    void CloseLines(std::int32_t keep) {
        for (; top_ > keep; --top_)
            Close(top_);
    }

    void Close(std::int32_t level) {
        Open& open = open_[level - 1];
        if (!open.active) return;
        open.active = false;
        if (level == 1 && open.notes == 1 && open.group < 0 && out_.cells[open.cell].lines == 1 &&
            open.written < Beat)
            out_.cells[open.cell].tickMark = true;
        const VerticalCell& cell = out_.cells[open.cell];
        out_.lines.push_back(VerticalLine{cell.page, cell.column, level, open.from, open.to});
    }

    struct Open {
        bool active = false;
        bool joinable = false;
        std::int32_t beat = 0;
        std::int32_t from = 0;
        std::int32_t to = 0;
        std::int32_t notes = 0;
        std::size_t cell = 0;
        std::int32_t written = 0;
        std::int32_t group = -1;
    };

    const ScoreMap& map_;
    const std::int32_t capacity_;
    const std::int32_t perPage_;
    VerticalScore& out_;
    std::int32_t column_ = 0; // counted over all pages
    std::int32_t page_ = 0;
    std::int32_t pageColumn_ = 0;
    std::int32_t at_ = 0;
    std::int32_t sinceMeasure_ = 0;
    std::vector<TupletGroup> tuplets_;
    std::vector<std::int32_t> groupOf_;
    std::size_t nextTuplet_ = 0;
    std::array<Open, 3> open_{};
    std::int32_t top_ = 0; // the open lines are the levels 1 to top_ at most
};

} // namespace

std::pair<std::size_t, std::size_t> VerticalScore::PageCells(std::int32_t page) const {
    const auto byPage = [](const VerticalCell& cell, std::int32_t p) { return cell.page < p; };
    const auto first = std::lower_bound(cells.begin(), cells.end(), page, byPage);
    const auto last = std::lower_bound(first, cells.end(), page + 1, byPage);
    return {std::size_t(first - cells.begin()), std::size_t(last - cells.begin())};
}

VerticalScore LayOutVertical(const ScoreMap& map, std::string_view title,
                             const VerticalLayoutSettings& settings) {
    VerticalScore score;
    LayOutVertical(map, title, settings, score);
    return score;
}

void LayOutVertical(const ScoreMap& map, std::string_view title, const VerticalLayoutSettings& settings,
                    VerticalScore& score) {
    score.title.assign(title);
    score.settings = settings;
    score.pages = 0;
    score.cells.clear();
    score.lines.clear();
    score.cells.reserve(map.events.size() + map.bars.size() + map.tuplets.size() + 8);
    score.lines.reserve(map.events.size());
    Layouter(map, settings, score).Run();
}

} // namespace nagisora
