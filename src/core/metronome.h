#pragma once

// The clicks of the preview's metronome for a stretch of a piece: a count-in before it and a click on every
// beat of it, with the first beat of each measure accented where the score has bar lines (｜). The beats of a
// measure count from its bar line, 120 ticks apart; before the first bar line they count back from it, so
// that an upbeat falls between clicks as written. Without bar lines the beats count from the piece's first
// event and none is accented.

#include <cstdint>
#include <span>
#include <vector>

namespace nagisora {

inline constexpr std::int64_t MetronomeTicksPerBeat = 120;

// The count-in of a score without bar lines, the fewest beats of a count-in (short measures are counted more
// than once) and the most beats of its measure.
inline constexpr std::int64_t CountInBeatsWithoutBars = 4;
inline constexpr std::int64_t MinCountInBeats = 3;
inline constexpr std::int64_t MaxCountInBeats = 16;

struct BeatClick {
    std::int64_t tick = 0; // in the piece, from its first event; before `from` for the count-in
    bool accent = false;
    bool operator==(const BeatClick&) const = default;
};

struct MetronomeRequest {
    std::int64_t from = 0; // where the stretch begins and ends, in ticks from the piece's first event
    std::int64_t to = 0;
    bool countIn = false;   // one measure of clicks before the stretch, ending on its first beat
    bool everyBeat = false; // a click on every beat from `from` (included) to `to` (not included)
};

// The clicks in tick order. barTicks: where the bar lines stand, in ticks from the piece's first event, in
// order. The count-in is the measure the stretch begins in, as many beats as it has (the first whole
// measure's when that one is cut short by the start or the end of the piece), first beat accented; a measure
// of one or two beats is counted as often as it takes to make MinCountInBeats or more.
std::vector<BeatClick> MetronomeClicks(std::span<const std::int64_t> barTicks,
                                       const MetronomeRequest& request);

} // namespace nagisora
