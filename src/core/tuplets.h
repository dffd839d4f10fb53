#pragma once

// The tuplet pass: turns the markers 3, 5 and 7 left by the score reader into real durations.

#include "core/note_event.h"

#include <cstdint>
#include <span>

namespace nagisora {

// One marker as the pass met it: event k (from 1) held 3, 5 or 7 and timed the events first to last.
struct TupletGroup {
    std::int32_t marker = 0; // 3, 5 or 7
    std::int32_t k = 0;
    std::int32_t first = 0; // the group as timed: cut to the events that exist
    std::int32_t last = 0;
    bool hasBase = true; // false for a marker on the first event, which is given 0 ticks
    // Whether the group was whole: k - w >= 1 and k + w <= the event count.
    bool Whole() const { return hasBase && last - first == 2 * (marker / 2); }
};

namespace tuplets_detail {
struct IgnoreGroups {
    void operator()(const TupletGroup&) const {}
};
} // namespace tuplets_detail

// Rewrites the ticks of events 1 to eventCount in place. A marker at event k takes the duration of event k -
// 1 as its base b and times its group of 3, 5 or 7 events (k in the middle) as 2b, 4b or 8b ticks. A group
// that would begin before the first event or run past the last is cut to the events that exist, each keeping
// the value of its place in the whole group; a marker on the first event has no base and gets 0 ticks. Each
// marker that acts is shown to the observer.
void ApplyTuplets(std::span<NoteEvent> list, std::int32_t eventCount);

template <class Observer>
void ApplyTuplets(std::span<NoteEvent> list, std::int32_t eventCount, Observer&& observe);

} // namespace nagisora

#include "core/tuplets_impl.h"
