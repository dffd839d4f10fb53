#include "core/score_part.h"

#include <algorithm>

namespace nagisora {
namespace {

bool IsNote(const NoteEvent& noteEvent) {
    return !noteEvent.IsRest() && !noteEvent.IsHold();
}

// The first event whose pitch unit reaches the offset: by its last byte, or by its first byte.
std::size_t FirstEventFrom(const ScoreMap& map, std::size_t offset, bool byLastByte) {
    const auto found = std::partition_point(map.events.begin(), map.events.end(), [&](const EventPlace& e) {
        const std::size_t first = 2 * static_cast<std::size_t>(e.unit) - 2;
        return (byLastByte ? first + 1 : first) < offset;
    });
    return static_cast<std::size_t>(found - map.events.begin());
}

} // namespace

std::size_t ReadingOffsetOf(const ScoreMap& map, TextPoint point) {
    const std::size_t textEnd = map.texts.PitchText.size();
    if (point.line < 1) return 0;
    const auto j = static_cast<std::size_t>(point.line - 1);
    if (j >= map.lines.size()) return textEnd;
    const LineUse& use = map.lines[j];
    const std::int32_t s = use.Set();
    if (s < 0) {
        const auto next = std::partition_point(map.sets.begin(), map.sets.end(),
                                               [j](const LineSet& set) { return set.pitchLine <= j; });
        return next == map.sets.end() ? textEnd : next->pitchStart;
    }
    const LineSet& set = map.sets[static_cast<std::size_t>(s)];
    switch (use.Role()) {
    case LineRole::Pitch:
        return set.pitchStart + std::min(point.byte, set.pitchBytes);
    case LineRole::Duration:
        return set.durationStart + std::min(point.byte, set.durationSegment);
    default:
        return set.timbreStart + std::min(point.byte, set.timbreSegment);
    }
}

std::size_t EventAtOrAfter(const ScoreMap& map, TextPoint point) {
    return FirstEventFrom(map, ReadingOffsetOf(map, point), true);
}

EventRange EventsBetween(const ScoreMap& map, TextPoint from, TextPoint to) {
    const std::size_t first = FirstEventFrom(map, ReadingOffsetOf(map, from), true);
    const std::size_t end = FirstEventFrom(map, ReadingOffsetOf(map, to), false);
    return EventRange{first, std::max(first, end)};
}

std::vector<std::int64_t> EventStarts(std::span<const NoteEvent> events) {
    std::vector<std::int64_t> starts;
    starts.reserve(events.size() + 1);
    std::int64_t tick = 0;
    starts.push_back(tick);
    for (const NoteEvent& noteEvent : events)
        starts.push_back(tick += noteEvent.ticks);
    return starts;
}

ScorePart PartOfScore(std::span<const NoteEvent> events, EventRange range,
                      const ConversionSettings& settings) {
    range.end = std::min(range.end, events.size());
    range.first = std::min(range.first, range.end);
    ScorePart part;
    part.settings = settings;
    part.events.assign(events.begin() + static_cast<std::ptrdiff_t>(range.first),
                       events.begin() + static_cast<std::ptrdiff_t>(range.end));
    for (std::size_t k = 0; k < range.first; ++k)
        part.startTick += events[k].ticks;

    // Program changes come only with notes that carry a timbre number.
    if (settings.useScoreTimbres)
        for (std::size_t k = range.first; k-- > 0;)
            if (IsNote(events[k]) && events[k].HasProgram()) {
                part.settings.instrument = events[k].program;
                break;
            }

    // A hold at the start goes on with what sounded before it: the last note, or the silence of a rest. It
    // brings no program change of its own, as a hold never does.
    if (!part.events.empty() && part.events.front().IsHold())
        for (std::size_t k = range.first; k-- > 0;)
            if (!events[k].IsHold()) {
                part.events.front().key = events[k].key;
                part.events.front().program = NoteEvent::NoProgram;
                break;
            }
    return part;
}

std::vector<SoundingNote> NotesSounding(std::span<const NoteEvent> events,
                                        const ConversionSettings& settings) {
    std::vector<SoundingNote> notes;
    std::int32_t program = settings.instrument;
    bool sounding = false; // whether a hold now goes on with the last note
    std::int64_t tick = 0;
    for (std::size_t k = 0; k < events.size(); ++k) {
        const NoteEvent& noteEvent = events[k];
        if (noteEvent.IsHold()) {
            if (sounding) notes.back().end += noteEvent.ticks;
        } else if (noteEvent.IsRest()) {
            sounding = false;
        } else {
            if (settings.useScoreTimbres && noteEvent.HasProgram()) program = noteEvent.program;
            notes.push_back(SoundingNote{tick, tick + noteEvent.ticks, noteEvent.key, program, k});
            sounding = true;
        }
        tick += noteEvent.ticks;
    }
    return notes;
}

KeyRange KeyRangeOf(std::span<const SoundingNote> notes, KeyRange empty) {
    if (notes.empty()) return empty;
    const auto [lowest, highest] =
        std::minmax_element(notes.begin(), notes.end(),
                            [](const SoundingNote& a, const SoundingNote& b) { return a.key < b.key; });
    return {lowest->key, highest->key};
}

} // namespace nagisora
