#include "score_part.h"

#include <algorithm>

namespace nagisora {
namespace {

bool IsNote(const TOnpu& onpu) {
    return onpu.Onko != 0 && onpu.Onko != -1;
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

std::vector<std::int64_t> EventStarts(std::span<const TOnpu> events) {
    std::vector<std::int64_t> starts;
    starts.reserve(events.size() + 1);
    std::int64_t tick = 0;
    starts.push_back(tick);
    for (const TOnpu& onpu : events)
        starts.push_back(tick += onpu.Oncho);
    return starts;
}

ScorePart PartOfScore(std::span<const TOnpu> events, EventRange range, const ConversionSettings& settings) {
    range.end = std::min(range.end, events.size());
    range.first = std::min(range.first, range.end);
    ScorePart part;
    part.settings = settings;
    part.events.assign(events.begin() + static_cast<std::ptrdiff_t>(range.first),
                       events.begin() + static_cast<std::ptrdiff_t>(range.end));
    for (std::size_t k = 0; k < range.first; ++k)
        part.startTick += events[k].Oncho;

    // Program changes come only with notes that carry a timbre number.
    if (settings.useScoreTimbres)
        for (std::size_t k = range.first; k-- > 0;)
            if (IsNote(events[k]) && events[k].Onshoku != -1) {
                part.settings.instrument = events[k].Onshoku;
                break;
            }

    // A hold at the start goes on with what sounded before it: the last note, or the silence of a rest. It
    // brings no program change of its own, as a hold never does.
    if (!part.events.empty() && part.events.front().Onko == -1)
        for (std::size_t k = range.first; k-- > 0;)
            if (events[k].Onko != -1) {
                part.events.front().Onko = events[k].Onko;
                part.events.front().Onshoku = -1;
                break;
            }
    return part;
}

std::vector<SoundingNote> NotesSounding(std::span<const TOnpu> events, const ConversionSettings& settings) {
    std::vector<SoundingNote> notes;
    std::int32_t program = settings.instrument;
    bool sounding = false; // whether a hold now goes on with the last note
    std::int64_t tick = 0;
    for (std::size_t k = 0; k < events.size(); ++k) {
        const TOnpu& onpu = events[k];
        if (onpu.Onko == -1) {
            if (sounding) notes.back().end += onpu.Oncho;
        } else if (onpu.Onko == 0) {
            sounding = false;
        } else {
            if (settings.useScoreTimbres && onpu.Onshoku != -1) program = onpu.Onshoku;
            notes.push_back(SoundingNote{tick, tick + onpu.Oncho, onpu.Onko, program, k});
            sounding = true;
        }
        tick += onpu.Oncho;
    }
    return notes;
}

} // namespace nagisora
