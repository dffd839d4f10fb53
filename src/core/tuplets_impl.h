#pragma once

// The body of the tuplet pass, a template so that the conversion's observer costs nothing.

#include "core/tuplets.h"

#include <algorithm>

namespace nagisora {
namespace tuplets_detail {

// The durations of the places 0 to 2w of a group with base b: the triplet and quintuplet truncate, the
// septuplet gives the remainder of 8b / 7 to its first places so that the group lasts exactly 8b.
inline void GroupValues(std::int32_t marker, std::int32_t b, std::int32_t (&values)[7]) {
    if (marker != 7) {
        const std::int32_t v = marker == 3 ? 2 * b / 3 : 4 * b / 5;
        for (std::int32_t& value : values)
            value = v;
        return;
    }
    const std::int32_t whole = 8 * b;
    const std::int32_t q = whole / 7;
    const std::int32_t f = whole % 7;
    for (std::int32_t j = 0; j < 7; ++j)
        values[j] = j < f ? q + 1 : q;
}

} // namespace tuplets_detail

template <class Observer>
void ApplyTuplets(std::span<NoteEvent> list, std::int32_t eventCount, Observer&& observe) {
    using namespace tuplets_detail;
    const std::int32_t count =
        std::clamp<std::int32_t>(eventCount, 0, static_cast<std::int32_t>(list.size()));
    for (std::int32_t k = 1; k <= count; ++k) {
        const std::int32_t marker = list[k - 1].ticks;
        if (!IsTupletMarker(marker)) [[likely]]
            continue;
        if (k == 1) {
            list[0].ticks = 0; // no event before it to take a base from
            observe(TupletGroup{marker, 1, 1, 1, false});
            continue;
        }
        const std::int32_t w = marker / 2;
        std::int32_t values[7];
        GroupValues(marker, list[k - 2].ticks, values);
        const std::int32_t first = std::max(k - w, 1);
        const std::int32_t last = std::min(k + w, count);
        for (std::int32_t e = first; e <= last; ++e)
            list[e - 1].ticks = values[e - (k - w)];
        observe(TupletGroup{marker, k, first, last, true});
    }
}

} // namespace nagisora
