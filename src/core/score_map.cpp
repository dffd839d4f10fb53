#include "core/score_map.h"

#include "core/score_walk.h"
#include "core/symbol_tables.h"

#include <algorithm>

namespace nagisora {
namespace {

UnitKind KindOfUnit(Unit unit, std::uint8_t symbolId) {
    const detail::SymbolInfo& info = detail::Symbols[symbolId];
    switch (info.symbolClass) {
    case ClassRegisterMarker:
        return UnitKind::RegisterMark;
    case ClassAccidental:
        return UnitKind::Accidental;
    case ClassNoteSymbol:
        return info.traits & detail::IsRestOrHold ? UnitKind::RestOrHold : UnitKind::Note;
    default:
        break;
    }
    switch (unit) {
    case symbol::BarLine:
        return UnitKind::BarLine;
    case symbol::Space:
    case symbol::TwoSpaces:
        return UnitKind::Space;
    case symbol::MusicSharp:
        return UnitKind::MusicSharp;
    case symbol::Comment:
        return UnitKind::Comment;
    default:
        return UnitKind::Other;
    }
}

// KindOfLine, at once for a line of ASCII bytes alone (a timbre line, most comments): no pitch-line symbol
// is ASCII, so only a "//" at an even byte can decide.
LineKindOf KindOfAnyLine(std::string_view trimmedLine) {
    unsigned char highBits = 0;
    for (const char byte : trimmedLine)
        highBits |= static_cast<unsigned char>(byte);
    if (highBits >= 0x80 || trimmedLine.find("//") != std::string_view::npos) return KindOfLine(trimmedLine);
    return LineKindOf::Other;
}

// One of the three aligned texts as the sets divide it.
enum class Text { Pitch, Timbre, Duration };

struct Segment {
    std::size_t start = 0;
    std::size_t length = 0;
    std::int32_t line = 0; // from 1; 0 for the stand-in line
};

Segment SegmentOf(const LineSet& set, Text text, std::size_t lineCount) {
    const auto number = static_cast<std::int32_t>(set.pitchLine + 1);
    switch (text) {
    case Text::Pitch:
        return {set.pitchStart, set.pitchBytes, number};
    case Text::Timbre:
        return {set.timbreStart, set.timbreSegment, set.pitchLine == 0 ? 0 : number - 1};
    case Text::Duration:
        break;
    }
    return {set.durationStart, set.durationSegment, set.pitchLine + 1 >= lineCount ? 0 : number + 1};
}

// The set whose segment of the text holds the byte offset; segments follow each other without gaps, in set
// order, so the search is over their starts.
std::optional<std::size_t> SetHolding(const std::vector<LineSet>& sets, Text text, std::size_t offset,
                                      std::size_t lineCount) {
    const auto after = std::partition_point(sets.begin(), sets.end(), [&](const LineSet& s) {
        return SegmentOf(s, text, lineCount).start <= offset;
    });
    if (after == sets.begin()) return std::nullopt;
    const Segment segment = SegmentOf(*(after - 1), text, lineCount);
    if (offset >= segment.start + segment.length) return std::nullopt;
    return static_cast<std::size_t>(after - 1 - sets.begin());
}

SourcePlace PlaceIn(const Segment& segment, std::size_t offset, std::size_t bytes) {
    if (segment.line == 0) return {};
    const std::size_t byte = offset - segment.start;
    return SourcePlace{segment.line, static_cast<std::uint32_t>(byte),
                       static_cast<std::uint32_t>(std::min(bytes, segment.length - byte))};
}

// Places offsets that only grow, set by set, without a search: the events of the walk come in text order.
class Cursor {
  public:
    Cursor(const std::vector<LineSet>& sets, Text text, std::size_t lineCount)
        : sets_(sets), text_(text), lineCount_(lineCount) {}

    SourcePlace Place(std::size_t offset, std::size_t bytes = 2) {
        // The segment of the set last found is kept: most offsets lie in it.
        while (offset >= end_) {
            if (set_ + 1 >= sets_.size()) {
                set_ = sets_.size();
                return {};
            }
            segment_ = SegmentOf(sets_[++set_], text_, lineCount_);
            end_ = segment_.start + segment_.length;
        }
        return PlaceIn(segment_, offset, bytes);
    }
    std::size_t Set() const { return set_; }

  private:
    const std::vector<LineSet>& sets_;
    Text text_;
    std::size_t lineCount_;
    std::size_t set_ = static_cast<std::size_t>(-1); // before the first set, whose segment is found first
    Segment segment_;
    std::size_t end_ = 0;
};

// Watches the reader's walk: the kind of every unit, the unit, accidental and places of every event, the bar
// lines. Events and bar lines come in text order, so each text is placed by a cursor that only moves on.
class Recorder {
  public:
    explicit Recorder(ScoreMap& map)
        : map_(map), pitch_(map.sets, Text::Pitch, map.lines.size()),
          timbre_(map.sets, Text::Timbre, map.lines.size()),
          duration_(map.sets, Text::Duration, map.lines.size()) {}

    void operator()(const walk::UnitSeen& seen) {
        const UnitKind kind = KindOfUnit(UnitAt(map_.texts.PitchText, seen.c), seen.symbolId);
        map_.units.push_back(kind);
        const std::size_t offset = 2 * seen.c - 2;
        if (seen.makesEvent) {
            EventPlace& place = map_.events.emplace_back();
            place.unit = static_cast<std::uint32_t>(seen.c);
            // An accidental is used up by the next note symbol; ○ and ー use it up without effect.
            if (kind == UnitKind::Note) place.accidental = walk::StateOfRow(seen.rowBefore).PendingAccidental;
            place.pitch = pitch_.Place(offset);
            place.set = static_cast<std::int32_t>(pitch_.Set());
            place.timbre = timbre_.Place(offset);
            place.duration = duration_.Place(offset);
        } else if (kind == UnitKind::BarLine) {
            BarPlace& bar = map_.bars.emplace_back();
            bar.eventsBefore = static_cast<std::int32_t>(seen.eventsBefore);
            bar.at = pitch_.Place(offset);
            bar.set = static_cast<std::int32_t>(pitch_.Set());
        }
    }

  private:
    ScoreMap& map_;
    Cursor pitch_;
    Cursor timbre_;
    Cursor duration_;
};

} // namespace

LineRole LineUse::Role() const {
    if (pitchOf >= 0) return LineRole::Pitch;
    if (durationOf >= 0) return LineRole::Duration;
    if (timbreOf >= 0) return LineRole::Timbre;
    if (kind == LineKindOf::Comment) return LineRole::Comment;
    return blank ? LineRole::Blank : LineRole::Other;
}

std::int32_t LineUse::Set() const {
    if (pitchOf >= 0) return pitchOf;
    if (durationOf >= 0) return durationOf;
    return timbreOf;
}

SourcePlace ScoreMap::PitchPlace(std::size_t offset, std::size_t bytes) const {
    const std::optional<std::size_t> set = SetHolding(sets, Text::Pitch, offset, lines.size());
    return set ? PlaceIn(SegmentOf(sets[*set], Text::Pitch, lines.size()), offset, bytes) : SourcePlace{};
}

SourcePlace ScoreMap::TimbrePlace(std::size_t offset, std::size_t bytes) const {
    const std::optional<std::size_t> set = SetHolding(sets, Text::Timbre, offset, lines.size());
    return set ? PlaceIn(SegmentOf(sets[*set], Text::Timbre, lines.size()), offset, bytes) : SourcePlace{};
}

SourcePlace ScoreMap::DurationPlace(std::size_t offset, std::size_t bytes) const {
    const std::optional<std::size_t> set = SetHolding(sets, Text::Duration, offset, lines.size());
    return set ? PlaceIn(SegmentOf(sets[*set], Text::Duration, lines.size()), offset, bytes) : SourcePlace{};
}

std::optional<UnitColumn> ScoreMap::UnitsAt(std::int32_t line, std::size_t byte) const {
    if (line < 1 || static_cast<std::size_t>(line) > lines.size()) return std::nullopt;
    const LineUse& use = lines[static_cast<std::size_t>(line - 1)];
    const std::int32_t set = use.Set();
    if (set < 0) return std::nullopt;
    const LineRole role = use.Role();
    const Text text = role == LineRole::Pitch      ? Text::Pitch
                      : role == LineRole::Duration ? Text::Duration
                                                   : Text::Timbre;
    const Segment segment = SegmentOf(sets[static_cast<std::size_t>(set)], text, lines.size());
    if (byte >= segment.length) return std::nullopt;
    std::size_t offset = segment.start + byte;
    offset -= offset % 2; // the unit holding the byte
    if (offset + 2 > std::max({texts.PitchText.size(), texts.TimbreText.size(), texts.DurationText.size()}))
        return std::nullopt;
    return UnitColumn{offset, PitchPlace(offset), TimbrePlace(offset), DurationPlace(offset)};
}

ScoreMap MapScore(std::span<const std::string_view> lines, std::int32_t transpose) {
    ScoreMap map;
    MapScore(lines, transpose, map);
    return map;
}

void MapScore(std::span<const std::string_view> lines, std::int32_t transpose, ScoreMap& map) {
    GatherLineSets(lines, map.texts, &map.sets);
    map.units.clear();
    map.events.clear();
    map.read.clear();
    map.tuplets.clear();
    map.bars.clear();

    map.lines.assign(lines.size(), LineUse{});
    for (std::size_t j = 0; j < lines.size(); ++j) {
        const std::string_view trimmed = TrimLine(ScoreLine(lines[j]));
        map.lines[j].kind = KindOfAnyLine(trimmed);
        map.lines[j].blank = trimmed.empty();
    }
    for (std::size_t s = 0; s < map.sets.size(); ++s) {
        const std::size_t j = map.sets[s].pitchLine;
        const auto set = static_cast<std::int32_t>(s);
        map.lines[j].pitchOf = set;
        if (j > 0) map.lines[j - 1].timbreOf = set;
        if (j + 1 < lines.size()) map.lines[j + 1].durationOf = set;
    }

    // Every unit may make an event: reserving for that many makes each list once.
    const std::size_t units = map.texts.PitchText.size() / 2;
    map.units.reserve(units);
    map.events.reserve(units);
    map.read.reserve(units);
    walk::GrowingStore store(map.read);
    std::size_t count = 0;
    walk::WalkUnits(map.texts, transpose, store, Recorder(map), count);
    map.read.resize(count);

    map.timed = map.read;
    ApplyTuplets(map.timed, static_cast<std::int32_t>(map.timed.size()),
                 [&map](const TupletGroup& group) { map.tuplets.push_back(group); });
}

std::int32_t ColumnOfByte(std::string_view line, std::size_t byte) {
    line = ScoreLine(line);
    std::int32_t column = 1;
    std::size_t b = 0;
    while (b < line.size()) {
        const std::size_t next = b + (IsDoubleByteAt(line, b) ? 2 : 1);
        if (byte < next) return column;
        b = next;
        ++column;
    }
    return column + static_cast<std::int32_t>(byte - b);
}

std::size_t ByteOfColumn(std::string_view line, std::int32_t column) {
    line = ScoreLine(line);
    std::size_t b = 0;
    for (std::int32_t c = 1; c < column; ++c)
        b += IsDoubleByteAt(line, b) ? 2 : 1;
    return b;
}

SourceSpan SpanOf(const SourcePlace& place, std::span<const std::string_view> lines) {
    if (place.IsNone() || static_cast<std::size_t>(place.line) > lines.size()) return {};
    const std::string_view line = lines[static_cast<std::size_t>(place.line - 1)];
    const std::int32_t first = ColumnOfByte(line, place.byte);
    const std::int32_t last = ColumnOfByte(line, place.byte + std::max<std::uint32_t>(place.bytes, 1) - 1);
    return SourceSpan{place.line, first, last - first + 1};
}

} // namespace nagisora
