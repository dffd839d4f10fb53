#include "core/musicxml.h"

#include "core/instruments.h"
#include "core/line_sets.h"
#include "core/score_map.h"
#include "core/score_reader.h"
#include "core/tuplets.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

namespace nagisora {
namespace {

// Written time: 960 divisions a quarter note, eight to a tick, so that a 256th note (1.875 ticks) is whole.
constexpr std::int32_t UnitsPerTick = 8;
constexpr std::int32_t Divisions = MusicXmlDivisions;
constexpr std::int32_t Beat = Divisions;

// The note types, longest first, in written units: the notation's own durations reach the 32nd note (＊);
// the 64th, 128th and 256th notes write what falls between them.
struct NoteType {
    std::int32_t units;
    std::string_view name;
};
constexpr std::array<NoteType, 9> NoteTypes{{{3840, "whole"},
                                             {1920, "half"},
                                             {960, "quarter"},
                                             {480, "eighth"},
                                             {240, "16th"},
                                             {120, "32nd"},
                                             {60, "64th"},
                                             {30, "128th"},
                                             {15, "256th"}}};
constexpr std::uint8_t QuarterType = 2;
// A measure lasts a whole number of 64th notes: notation programs round other lengths up.
constexpr std::int32_t MeasureGrid = 60;
// How far a written note may begin from its tick: 1.75 ticks, so that a reader that plays in whole ticks
// still plays it within two.
constexpr std::int32_t Near = 7 * UnitsPerTick / 4;
constexpr std::uint8_t ShortestTupletType = 5; // a tuplet's base is at least a 32nd note

// How a written note shows its length: a type, maybe dotted, in the time modification actual:normal.
struct NoteValue {
    std::uint8_t type = 0; // index in NoteTypes
    bool dotted = false;
    std::int32_t actual = 1;
    std::int32_t normal = 1;
};

enum class PieceKind : std::uint8_t { Note, Rest };

// One note element of the document.
struct Piece {
    PieceKind kind = PieceKind::Rest;
    std::uint8_t accidental = 0; // what the score wrote before the note: 0 none, 1 ＃, 2 ♭, 3 ↓
    bool tieStop = false;
    bool tieStart = false;
    bool tupletStart = false;
    bool tupletStop = false;
    bool barBefore = false;   // the score's bar line before it, inside a written measure
    bool octaveStart = false; // an 8va line begins at it
    bool octaveStop = false;  // and ends after it
    std::int32_t tuplet = -1; // the written tuplet it belongs to
    std::int32_t key = 0;
    std::int32_t at = 0;         // where it begins in written units
    std::int32_t duration = 0;   // its written units
    std::int32_t program = -1;   // the MIDI program (0..127) that changes at this note
    std::int32_t instrument = 0; // the score instrument it is played with (index of the programs used)
    NoteValue value;
};

// A tuplet group written as one, with its bracket: events first to last (from 0) and, for a group cut short
// by the end of the score, the rests that complete it.
struct WrittenTuplet {
    std::int32_t first = 0;
    std::int32_t last = 0;
    NoteValue value;
    std::vector<std::int32_t> completion; // ticks of the missing places
};

std::int32_t NormalNotesOf(std::int32_t marker) {
    return marker == 3 ? 2 : marker == 5 ? 4 : 8;
}

// Where a tick of the music is written: on the 32nd-note grid where that is exact, else on the coarsest grid
// down to 128th notes with a point at most 1.75 ticks away, so that a duration no tuplet can express becomes
// tied notated values and every note still begins within two ticks of where it sounds, also for a reader
// that plays in whole ticks.
std::int32_t WrittenAt(std::int64_t tick) {
    const std::int64_t units = tick * UnitsPerTick;
    for (const std::int32_t grid : {120, 60, 30}) {
        const std::int64_t nearest = (units + grid / 2) / grid * grid;
        if (std::abs(nearest - units) <= Near) return static_cast<std::int32_t>(nearest);
    }
    return static_cast<std::int32_t>(units);
}

// The events (from 0) that begin measures: the first, those after a bar line and those that begin a line set;
// inside a tuplet too; never leaving a measure without time, and before the events of no time that lead into
// a note.
std::vector<std::size_t> MeasureStarts(const ScoreMap& map) {
    const std::span<const NoteEvent> events = map.timed;
    const std::size_t n = events.size();
    std::vector<std::int64_t> ticksBefore(n + 1, 0);
    for (std::size_t e = 0; e < n; ++e)
        ticksBefore[e + 1] = ticksBefore[e] + std::max(events[e].ticks, 0);

    std::vector<std::size_t> cuts;
    cuts.reserve(map.bars.size() + map.sets.size());
    for (const BarPlace& bar : map.bars)
        cuts.push_back(static_cast<std::size_t>(bar.eventsBefore));
    for (std::size_t e = 1; e < n; ++e)
        if (map.events[e].set != map.events[e - 1].set) cuts.push_back(e);
    std::sort(cuts.begin(), cuts.end());

    std::vector<std::size_t> starts{0};
    for (std::size_t cut : cuts) {
        if (cut == 0 || cut >= n) continue;
        while (cut > starts.back() && events[cut - 1].ticks <= 0)
            --cut;
        if (cut >= n || ticksBefore[cut] == ticksBefore[starts.back()]) continue;
        starts.push_back(cut);
    }
    if (starts.size() > 1 && ticksBefore[n] == ticksBefore[starts.back()]) starts.pop_back();
    return starts;
}

// Whether the places of a whole group that begins at tick begins, written from the point of the grid where
// that tick is written, begin within 1.75 ticks of their ticks as a reader plays them: at equal parts of the
// group's span (normal notes of the base value, in written units).
bool PlacesNearTheirTicks(const TupletGroup& group, const std::int32_t (&values)[7], std::int64_t begins,
                          std::int32_t baseUnits) {
    const std::int64_t span = std::int64_t{NormalNotesOf(group.marker)} * baseUnits;
    const std::int64_t written = WrittenAt(begins);
    std::int64_t ticks = begins;
    for (std::int32_t place = 0; place < group.marker; ++place) {
        // Both in written units times the marker, so that a seventh is whole.
        const std::int64_t played = written * group.marker + place * span;
        if (std::abs(played - ticks * UnitsPerTick * group.marker) > Near * group.marker) return false;
        ticks += values[place];
    }
    return true;
}

// The groups that are whole tuplets of a plain note value, or such tuplets cut short by the end of the score.
// A group cut at the start of the score that is not all of it, one whose durations fit no note value (a base
// that was itself part of a tuplet), one that shares events with a group already written, one that a measure
// begins inside and one that begins where the grid of written notes has no point are written in plain notes.
std::vector<WrittenTuplet> WrittenTuplets(const ScoreMap& map, const std::vector<std::size_t>& measureStarts,
                                          std::vector<std::int32_t>& tupletOf) {
    std::vector<std::int64_t> ticksBefore(map.timed.size() + 1, 0);
    for (std::size_t e = 0; e < map.timed.size(); ++e)
        ticksBefore[e + 1] = ticksBefore[e] + std::max(map.timed[e].ticks, 0);
    std::vector<WrittenTuplet> written;
    for (const TupletGroup& group : map.tuplets) {
        const std::int32_t start = group.k - group.marker / 2; // the group's first place, from 1
        // A group cut at the start of the score is written only when it is all the score: its notes then
        // take the group's first places, which last as long, and rests complete it after them, so that every
        // note begins where it sounds.
        const bool wholeScore = group.last == static_cast<std::int32_t>(map.timed.size());
        if (!group.hasBase || (start < 1 && !wholeScore)) continue;
        const auto claimed = [&](std::int32_t e) { return tupletOf[static_cast<std::size_t>(e - 1)] >= 0; };
        bool free = true;
        for (std::int32_t e = group.first; e <= group.last; ++e)
            free = free && !claimed(e);
        const auto cut = std::upper_bound(measureStarts.begin(), measureStarts.end(),
                                          static_cast<std::size_t>(group.first - 1));
        free = free && (cut == measureStarts.end() || *cut > static_cast<std::size_t>(group.last - 1));
        // A bracket begins where the music does, on the grid of 64th notes that measures keep, or after
        // durations that the grid only comes near, at the point of the grid where they end: then the group is
        // whole and lies inside a measure (measures keep the grid), not at its start (after notes of no time
        // too), and its notes begin within 1.75 ticks of where they sound, as a reader plays its places.
        const std::int64_t begins = ticksBefore[static_cast<std::size_t>(group.first - 1)];
        const bool onGrid = begins * UnitsPerTick % MeasureGrid == 0;
        if (!onGrid) {
            const std::int64_t ends = ticksBefore[static_cast<std::size_t>(group.last)];
            free = free && group.Whole() && ends < ticksBefore.back() &&
                   ticksBefore[*std::prev(cut)] != begins &&
                   (cut == measureStarts.end() || ticksBefore[*cut] != ends);
        }
        if (!free) continue;
        for (std::uint8_t type = 0; type <= ShortestTupletType; ++type) {
            std::int32_t values[7];
            tuplets_detail::GroupValues(group.marker, NoteTypes[type].units / UnitsPerTick, values);
            bool fits = true;
            for (std::int32_t e = group.first; e <= group.last && fits; ++e)
                fits = map.timed[static_cast<std::size_t>(e - 1)].ticks == values[e - start];
            if (!fits) continue;
            if (!onGrid && !PlacesNearTheirTicks(group, values, begins, NoteTypes[type].units)) break;
            WrittenTuplet tuplet{group.first - 1,
                                 group.last - 1,
                                 NoteValue{type, false, group.marker, NormalNotesOf(group.marker)},
                                 {}};
            for (std::int32_t place = 0; place < group.first - start; ++place)
                tuplet.completion.push_back(values[place]);
            for (std::int32_t place = group.last + 1 - start; place < group.marker; ++place)
                tuplet.completion.push_back(values[place]);
            for (std::int32_t e = group.first; e <= group.last; ++e)
                tupletOf[static_cast<std::size_t>(e - 1)] = static_cast<std::int32_t>(written.size());
            written.push_back(std::move(tuplet));
            break;
        }
    }
    return written;
}

// The values of tied notes that together last units (a multiple of a 256th note) from at: up to the next
// beat of the measure where a note begins off the beat on the grid of 32nd notes and runs past it, then the
// longest plain or dotted values first. A note off that grid (after durations that the grid only comes near)
// is not cut at the beats, which it would only cut into more pieces.
template <class Emit>
void SplitUnits(std::int32_t at, std::int32_t units, Emit&& emit) {
    const std::int32_t intoBeat = at % Beat;
    if (intoBeat != 0 && intoBeat % NoteTypes[ShortestTupletType].units == 0 && intoBeat + units > Beat) {
        SplitUnits(at, Beat - intoBeat, emit);
        SplitUnits(at + Beat - intoBeat, units - (Beat - intoBeat), emit);
        return;
    }
    for (std::uint8_t type = 0; type < NoteTypes.size() && units > 0; ++type) {
        const std::int32_t t = NoteTypes[type].units;
        if (t > NoteTypes.back().units && units >= t + t / 2) { // dotted down to a 128th note
            emit(t + t / 2, NoteValue{type, true});
            units -= t + t / 2;
        }
        for (; units >= t; units -= t)
            emit(t, NoteValue{type});
    }
}

// Whether a note of no time is held on by a ー with time after it (ー of no time between them hold nothing).
bool HeldAfter(std::span<const NoteEvent> events, std::size_t e) {
    for (std::size_t j = e + 1; j < events.size() && events[j].IsHold(); ++j)
        if (events[j].ticks > 0) return true;
    return false;
}

// At most this many score instruments: MuseScore 3 plays notes more than once in a part of some hundred.
// Programs after them are shown where they change but played with the instrument before.
constexpr std::size_t MaxScoreInstruments = 64;

struct Pieces {
    std::vector<Piece> pieces;
    std::vector<std::size_t> firstOf;    // per event, the first piece it wrote (or the next piece written)
    std::vector<std::int32_t> writtenAt; // per event and one past the last, where it begins in written units
    std::vector<std::int32_t> measureAt; // per measure and one past the last, where it begins
    std::vector<std::int32_t> programs;  // the programs played, the instrument's first
    std::vector<std::size_t> innerBars;  // the events before which a bar line stands inside a measure
};

std::int32_t GridBelow(std::int32_t units) {
    return units / MeasureGrid * MeasureGrid;
}

// The first point of the grid of measures at least a 256th note after units.
std::int32_t AfterShortest(std::int32_t units) {
    return GridBelow(units + NoteTypes.back().units + MeasureGrid - 1);
}

// Where every event and every measure begins in written units. A written tuplet's events at their exact
// offsets from the tuplet's start, every other event at WrittenAt, never less than a 256th note after an
// event with time. A measure at the nearest 64th note if that is at most 1.75 ticks away, else at the 64th
// note before, with a rest up to a note that begins it (a rest or ー begins with the measure). Where a note
// would then begin more than 1.75 ticks late (short notes before the bar line leave no point of the grid
// near it), the measure begins with an event before it instead, the nearest one that is in no written tuplet,
// leaves the measure before with time and a point of the grid after the note before it: the bar line moves
// by less than a 32nd note, and every note keeps its time.
void PlaceEvents(std::span<const NoteEvent> events, const std::vector<WrittenTuplet>& tuplets,
                 const std::vector<std::int32_t>& tupletOf, std::vector<std::size_t>& measureStarts,
                 Pieces& placed) {
    const std::size_t n = events.size();
    std::vector<std::int32_t>& at = placed.writtenAt;
    at.assign(n + 1, 0);
    std::vector<std::int32_t>& measureAt = placed.measureAt;
    measureAt.assign(measureStarts.size() + 1, 0);
    std::int64_t tick = 0;
    std::size_t lastTimed = n; // the last event with time so far, n for none
    std::size_t m = 1;         // the next measure to place
    bool held = false;         // a note of no time since the last event with time
    // The tick at which each event begins.
    std::vector<std::int64_t> startTick(n);
    // Lets the measure m begin with an event with time before e, where it was to begin.
    const auto beginEarlier = [&](std::size_t e) {
        const std::size_t first = measureStarts[m - 1];
        for (std::size_t k = e; k-- > first;) {
            if (tupletOf[k] >= 0) return false;
            if (events[k].ticks <= 0) continue;
            const std::int32_t begins = GridBelow(at[k]);
            if (begins <= measureAt[m - 1] || at[e] - begins >= NoteTypes[ShortestTupletType].units)
                return false;
            // The event with time before it, and whether a note of no time between them sounds in it.
            std::size_t before = k;
            bool sounds = events[k].IsNote();
            while (before > first && events[--before].ticks <= 0)
                sounds = sounds || (events[k].IsHold() && events[before].IsNote());
            if (before == k || events[before].ticks <= 0 || begins < AfterShortest(at[before])) continue;
            measureStarts[m] = before + 1;
            measureAt[m++] = begins;
            if (!sounds) at[k] = begins;
            return true;
        }
        return false;
    };
    // Lets a note that the run of short notes before it pushes late begin earlier: the run, events that
    // follow each other by a 256th note in the measure, moves earlier by whole 256th notes, as far as the
    // point after the event before it (or the measure's start) and no note of it more than 1.75 ticks early
    // allow.
    const auto pullRunEarlier = [&](std::size_t e, std::int64_t tick) {
        const std::int32_t shortest = NoteTypes.back().units;
        std::int32_t room = static_cast<std::int32_t>(at[e] - tick * UnitsPerTick);
        std::int32_t floor = measureAt[m - 1];
        std::size_t first = measureStarts[m - 1];
        if (lastTimed < first) return;
        std::size_t k = lastTimed; // the run's first event with time
        for (;;) {
            if (tupletOf[k] >= 0) return;
            room = std::min(room, static_cast<std::int32_t>(at[k] - startTick[k] * UnitsPerTick + Near));
            std::size_t before = k;
            while (before > first && events[before - 1].ticks <= 0)
                --before;
            if (before == first) break;
            --before;
            if (tupletOf[before] >= 0) return;
            if (at[k] - at[before] > shortest) {
                floor = at[before] + shortest;
                first = before + 1;
                break;
            }
            k = before;
        }
        room = std::min(room, at[k] - floor);
        const std::int32_t shift = std::max(room, 0) / shortest * shortest;
        if (shift == 0) return;
        for (std::size_t j = first; j <= lastTimed; ++j)
            at[j] = std::max(at[j] - shift, floor);
        for (std::size_t j = lastTimed + 1; j <= e; ++j)
            at[j] = std::max(WrittenAt(tick), at[lastTimed] + shortest);
    };
    for (std::size_t e = 0; e <= n; ++e) {
        const std::int32_t tuplet = e < n ? tupletOf[e] : -1;
        if (e < n) startTick[e] = tick;
        if (e > 0 && tuplet >= 0 &&
            tuplets[static_cast<std::size_t>(tuplet)].first != static_cast<std::int32_t>(e))
            at[e] = at[e - 1] + std::max(events[e - 1].ticks, 0) * UnitsPerTick;
        else if (e == n && e > 0 && tupletOf[e - 1] >= 0)
            at[e] = at[e - 1] + events[e - 1].ticks * UnitsPerTick; // a group completed with rests
        else
            at[e] = WrittenAt(tick);
        if (lastTimed < n) at[e] = std::max(at[e], at[lastTimed] + NoteTypes.back().units);
        if (e < n && events[e].ticks <= 0) {
            held = held || events[e].IsNote();
            continue;
        }
        const bool note = e < n && (events[e].IsNote() || (events[e].IsHold() && held));
        if (note && tuplet < 0 && lastTimed < n && at[e] - tick * UnitsPerTick > Near)
            pullRunEarlier(e, tick);
        // The first event with time of the next measure, or the end: where the measure begins.
        if (m <= measureStarts.size() && (m == measureStarts.size() ? e == n : e >= measureStarts[m])) {
            std::int32_t begins = (at[e] + MeasureGrid / 2) / MeasureGrid * MeasureGrid;
            if (std::abs(begins - at[e]) > Near) begins = GridBelow(at[e]);
            if (e == n && n > 0 && tupletOf[n - 1] >= 0) begins = at[e];
            if (lastTimed < n) begins = std::max(begins, AfterShortest(at[lastTimed]));
            if (!(note && begins - at[e] > Near && e < n && beginEarlier(e))) {
                measureAt[m++] = begins;
                if (!note || begins > at[e]) at[e] = begins;
            }
        }
        held = false;
        if (e < n) {
            tick += events[e].ticks;
            lastTimed = e;
        }
    }
    measureAt.back() = std::max(measureAt.back(), GridBelow(at.back() + MeasureGrid - 1));
}

// The first event whose note, placed, begins more than 1.75 ticks from where it sounds; the number of events
// when every note begins near its tick.
std::size_t FirstLateNote(std::span<const NoteEvent> events, const std::vector<std::int32_t>& at) {
    std::int64_t tick = 0;
    bool held = false;
    for (std::size_t e = 0; e < events.size(); ++e) {
        if (events[e].ticks <= 0) {
            held = held || events[e].IsNote();
            continue;
        }
        const bool note = events[e].IsNote() || (events[e].IsHold() && held);
        if (note && std::abs(at[e] - tick * UnitsPerTick) > Near) return e;
        held = false;
        tick += events[e].ticks;
    }
    return events.size();
}

// Places the events in the measures (PlaceEvents). A measure that cannot be written so that its notes begin
// near their ticks (one shorter than a 64th note, which notation programs lengthen, between notes that leave
// no point of the grid to move its bar lines to) is written together with the measure before it, and the
// score's bar line between them as a bar line inside the measure (innerBars: the events it stands before).
void PlaceMeasures(std::span<const NoteEvent> events, const std::vector<WrittenTuplet>& tuplets,
                   const std::vector<std::int32_t>& tupletOf, std::vector<std::size_t>& measureStarts,
                   Pieces& placed) {
    std::vector<std::size_t> scoreStarts = measureStarts;
    PlaceEvents(events, tuplets, tupletOf, measureStarts, placed);
    for (std::size_t late = FirstLateNote(events, placed.writtenAt); late < events.size();) {
        const auto measure = std::upper_bound(measureStarts.begin(), measureStarts.end(), late) - 1;
        // The bar line before the late note's measure, else one of the two before it: a run of short notes
        // that a bar line before it keeps from beginning earlier.
        const std::size_t last = static_cast<std::size_t>(measure - measureStarts.begin());
        std::size_t bar = last + 1;
        std::vector<std::size_t> merged;
        std::vector<std::size_t> starts;
        Pieces trial;
        std::size_t next = late;
        while (next <= late && bar > 1 && bar + 2 > last) {
            merged = scoreStarts;
            merged.erase(merged.begin() + static_cast<std::ptrdiff_t>(--bar));
            starts = merged;
            PlaceEvents(events, tuplets, tupletOf, starts, trial);
            next = FirstLateNote(events, trial.writtenAt);
        }
        // A note late for another reason (notes too short for the grid) is not helped by fewer bar lines.
        if (next <= late) break;
        placed.innerBars.push_back(scoreStarts[bar]);
        placed.writtenAt = std::move(trial.writtenAt);
        placed.measureAt = std::move(trial.measureAt);
        measureStarts = std::move(starts);
        scoreStarts = std::move(merged);
        late = next;
    }
}

// The note elements of the events, in order: notes, tied notes for ー, rests, tuplets. Notes of no time make
// no sound in the MIDI file (the checker reports them) and are left out, unless a ー holds them on.
Pieces PiecesOf(std::span<const NoteEvent> events, const std::vector<EventPlace>& places,
                const std::vector<WrittenTuplet>& tuplets, const std::vector<std::int32_t>& tupletOf,
                std::vector<std::size_t>& measureStarts, const ConversionSettings& settings) {
    Pieces result;
    std::vector<Piece>& pieces = result.pieces;
    pieces.reserve(events.size() + events.size() / 4);
    result.firstOf.resize(events.size());
    PlaceMeasures(events, tuplets, tupletOf, measureStarts, result);
    result.programs.push_back(settings.instrument);

    // The note that sounds: its key and spelling, and its last piece, which a ー ties on from.
    bool sounding = false;
    Piece note;
    std::ptrdiff_t tieFrom = -1;
    std::int32_t program = settings.instrument;
    std::int32_t programChange = -1;
    std::int32_t instrument = 0;

    const auto add = [&](Piece piece) {
        piece.program = std::exchange(programChange, -1);
        piece.instrument = instrument;
        pieces.push_back(piece);
    };

    std::size_t measure = 0;
    for (std::size_t e = 0; e < events.size(); ++e) {
        result.firstOf[e] = pieces.size();
        while (measure + 1 < measureStarts.size() && measureStarts[measure + 1] <= e)
            ++measure;
        const std::int32_t origin = result.measureAt[measure];
        // Where the event's written time ends: at the next event, or where the next measure begins.
        const std::int32_t ends = measure + 1 < measureStarts.size() && measureStarts[measure + 1] == e + 1
                                      ? result.measureAt[measure + 1]
                                  : e + 1 == events.size() && tupletOf[e] < 0 ? result.measureAt.back()
                                                                              : result.writtenAt[e + 1];
        const NoteEvent& event = events[e];
        const bool isNote = event.IsNote();
        const bool isHold = event.IsHold();
        if (isNote) {
            if (settings.useScoreTimbres && event.HasProgram() && event.program <= 127 &&
                event.program != program) {
                programChange = program = event.program;
                const auto used = std::find(result.programs.begin(), result.programs.end(), program);
                if (used != result.programs.end()) {
                    instrument = static_cast<std::int32_t>(used - result.programs.begin());
                } else if (result.programs.size() < MaxScoreInstruments) {
                    instrument = static_cast<std::int32_t>(result.programs.size());
                    result.programs.push_back(program);
                }
            }
            sounding = true;
            note = Piece{};
            note.kind = PieceKind::Note;
            note.accidental = places[e].accidental;
            note.key = event.key;
            tieFrom = -1;
        } else if (!isHold) {
            sounding = false;
        }
        if (event.ticks <= 0) {
            if (isNote && !HeldAfter(events, e)) sounding = false;
            continue;
        }

        const std::int32_t tuplet = tupletOf[e];
        const std::int32_t at = result.writtenAt[e];
        if (pieces.size() == result.firstOf[measureStarts[measure]] &&
            at > origin) // a note after its measure
            SplitUnits(0, at - origin, [&](std::int32_t units, NoteValue value) {
                Piece rest;
                rest.at = at - units;
                rest.duration = units;
                rest.value = value;
                add(rest);
            });
        Piece piece = sounding ? note : Piece{};
        const std::size_t first = pieces.size();
        if (tuplet >= 0) {
            piece.at = at;
            piece.duration = ends - at;
            piece.tuplet = tuplet;
            piece.value = tuplets[static_cast<std::size_t>(tuplet)].value;
            piece.tupletStart =
                tuplets[static_cast<std::size_t>(tuplet)].first == static_cast<std::int32_t>(e);
            add(piece);
        } else {
            std::int32_t from = at;
            SplitUnits(at - origin, ends - at, [&](std::int32_t units, NoteValue value) {
                piece.at = from;
                piece.duration = units;
                piece.value = value;
                from += units;
                add(piece);
            });
        }
        if (!sounding) continue;
        for (std::size_t p = first; p < pieces.size(); ++p) {
            pieces[p].tieStop = p > first || (isHold && tieFrom >= 0);
            pieces[p].tieStart = p + 1 < pieces.size();
        }
        if (isHold && tieFrom >= 0) pieces[static_cast<std::size_t>(tieFrom)].tieStart = true;
        tieFrom = static_cast<std::ptrdiff_t>(pieces.size() - 1);
    }

    for (std::size_t t = 0; t < tuplets.size(); ++t) {
        const WrittenTuplet& tuplet = tuplets[t];
        Piece& last = pieces[result.firstOf[static_cast<std::size_t>(tuplet.last)]];
        if (tuplet.completion.empty()) {
            last.tupletStop = true;
            continue;
        }
        std::int32_t at = last.at + last.duration;
        for (const std::int32_t ticks : tuplet.completion) {
            Piece rest;
            rest.at = at;
            rest.duration = ticks * UnitsPerTick;
            rest.tuplet = static_cast<std::int32_t>(t);
            rest.value = tuplet.value;
            at += rest.duration;
            add(rest);
        }
        pieces.back().tupletStop = true;
    }
    for (const std::size_t e : result.innerBars)
        if (result.firstOf[e] < pieces.size()) pieces[result.firstOf[e]].barBefore = true;
    return result;
}

// The letter, alteration and octave of a key, without a key signature: a white key by its plain letter (F,
// not E♯; B, not C♭), a black key with a sharp after ＃ and a flat after ♭ or ↓, else by its usual name.
struct Spelled {
    std::uint8_t step; // C D E F G A B: 0 to 6
    std::int8_t alter;
    std::int32_t octave;
};

// Per pitch class from C: the usual name of every key.
constexpr std::array<std::uint8_t, 12> UsualStep{0, 0, 1, 2, 2, 3, 3, 4, 5, 5, 6, 6};    // C C# D Eb E F F#
constexpr std::array<std::int8_t, 12> UsualAlter{0, 1, 0, -1, 0, 0, 1, 0, -1, 0, -1, 0}; // G Ab A Bb B

std::size_t PitchClass(std::int32_t key) {
    return static_cast<std::size_t>(((key % 12) + 12) % 12);
}

Spelled Spell(std::int32_t key, std::uint8_t accidental) {
    const std::size_t pitchClass = PitchClass(key);
    Spelled spelled{UsualStep[pitchClass], UsualAlter[pitchClass], 0};
    if (spelled.alter != 0 && accidental == 1) spelled = {UsualStep[PitchClass(key - 1)], 1, 0};
    if (spelled.alter != 0 && accidental >= 2) spelled = {UsualStep[PitchClass(key + 1)], -1, 0};
    spelled.octave = (key - spelled.alter) / 12 - 1;
    return spelled;
}

// The position of a key on the staff in diatonic steps from C-1, as it is spelled without an accidental.
std::int32_t StaffStep(std::int32_t key) {
    const Spelled spelled = Spell(key, 0);
    return spelled.octave * 7 + spelled.step + 7;
}

enum class Clef : std::uint8_t { TrebleOctaveDown, Bass };

// The lowest and highest line of each staff, as StaffStep counts: E3 to F4 sounding, G2 to A3.
constexpr std::int32_t TrebleLow = 4 * 7 + 2, TrebleHigh = 5 * 7 + 3, BassLow = 3 * 7 + 4,
                       BassHigh = 4 * 7 + 5;

// The clef that needs the fewest ledger lines for the notes: the treble clef an octave down, which writes the
// keys of the MIDI file an octave above where they sound, or the bass clef where most notes are low.
Clef ClefOf(std::span<const Piece> pieces) {
    const auto ledgers = [](std::int32_t step, std::int32_t low, std::int32_t high) {
        return step < low ? (low - step) / 2 : step > high ? (step - high) / 2 : 0;
    };
    std::int64_t treble = 0, bass = 0;
    for (const Piece& piece : pieces) {
        if (piece.kind != PieceKind::Note || piece.tieStop) continue;
        const std::int32_t step = StaffStep(piece.key);
        treble += ledgers(step, TrebleLow, TrebleHigh);
        bass += ledgers(step, BassLow, BassHigh);
    }
    return bass < treble ? Clef::Bass : Clef::TrebleOctaveDown;
}

// Passages of the treble clef that stay high, written an octave lower under an 8va line: from a note two
// ledger lines or more above the staff to the last such note before one that the shifted staff would put
// below its space under the lowest line, where at least three such notes begin and one needs three ledger
// lines or more. Single high notes keep their ledger lines. The line takes tied notes whole and begins and
// ends outside a tuplet or at its ends: readers place it by the written divisions, which inside a tuplet
// only come near its notes.
void ShiftHighPassages(std::span<Piece> pieces) {
    constexpr std::int32_t High = TrebleHigh + 4, VeryHigh = TrebleHigh + 6, LowestShifted = TrebleLow + 6;
    const auto stepOf = [&](std::size_t p) {
        return pieces[p].kind == PieceKind::Note ? StaffStep(pieces[p].key) : LowestShifted;
    };
    const auto sameTuplet = [&](std::size_t p, std::size_t q) {
        return pieces[p].tuplet >= 0 && pieces[p].tuplet == pieces[q].tuplet;
    };
    const auto canBegin = [&](std::size_t p) {
        return !pieces[p].tieStop && (p == 0 || !sameTuplet(p - 1, p));
    };
    const auto canEnd = [&](std::size_t p) {
        return !pieces[p].tieStart && (p + 1 == pieces.size() || !sameTuplet(p + 1, p));
    };
    std::int32_t lastStopEnd = std::numeric_limits<std::int32_t>::min() / 2;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        if (stepOf(p) < High) continue;
        std::size_t end = p; // one past the pieces that the shifted staff can hold
        while (end < pieces.size() && stepOf(end) >= LowestShifted)
            ++end;
        std::size_t first = p;
        while (!canBegin(first) && first > 0 && stepOf(first - 1) >= LowestShifted)
            --first;
        if (!canBegin(first))
            for (first = p; first < end && !canBegin(first);)
                ++first;
        std::size_t last = end; // the last high note, then where the line can end
        for (std::size_t q = first; q < end; ++q)
            if (stepOf(q) >= High) last = q;
        if (last < end) {
            const std::size_t highest = last;
            while (!canEnd(last) && last + 1 < end)
                ++last;
            if (!canEnd(last))
                for (last = highest; last > first && !canEnd(last);)
                    --last;
        }
        std::int32_t high = 0, veryHigh = 0;
        for (std::size_t q = first; last < end && q <= last; ++q) {
            if (pieces[q].kind != PieceKind::Note || pieces[q].tieStop || stepOf(q) < High) continue;
            ++high;
            veryHigh += stepOf(q) >= VeryHigh;
        }
        // A line that would begin less than a beat after the last one ended stays unwritten: MuseScore,
        // saving and reading back two 8va lines that close, put the notes of the second an octave low.
        if (high >= 3 && veryHigh >= 1 && canEnd(last) && pieces[first].at - lastStopEnd >= Beat) {
            pieces[first].octaveStart = true;
            pieces[last].octaveStop = true;
            lastStopEnd = pieces[last].at + pieces[last].duration;
        }
        p = end - 1;
    }
}

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// The length of the valid UTF-8 sequence at the start of text, 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// The code point of a valid UTF-8 sequence of length bytes.
char32_t CodePoint(std::string_view sequence) {
    const auto byte = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(sequence[i]));
    };
    if (sequence.size() == 2) return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    if (sequence.size() == 3) return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
}

// Text as XML character data: markup characters escaped, control characters that XML cannot hold and
// variation selectors (which the window's text puts after characters that code page 932 holds in two forms)
// left out, and every byte that is no UTF-8 character, no XML character or one of the marks that the window's
// text keeps for bytes that are no code page 932 text (U+EF00..U+EFFF) written as U+FFFD.
void AppendEscaped(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        std::size_t used = 1;
        switch (byte) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (byte >= 0x80) {
                used = Utf8SequenceAt(text);
                const char32_t c = used == 0 ? 0xFFFD : CodePoint(text.substr(0, used));
                const bool selector = (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF);
                // U+FFFE and U+FFFF are no XML characters either.
                if (used == 0 || c == 0xFFFE || c == 0xFFFF || (c >= 0xEF00 && c <= 0xEFFF))
                    out += "\xEF\xBF\xBD";
                else if (!selector)
                    out.append(text.substr(0, used));
                used = std::max<std::size_t>(used, 1);
            } else if (byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r') {
                out += static_cast<char>(byte);
            }
        }
        text.remove_prefix(used);
    }
}

// The text of one note element, written without a check of its room: the longest element, with a program
// change, a timbre text, a bar line, an 8va line and every mark, takes some 1400 bytes, and the numbers in it
// have at most 11 characters.
class NoteText {
  public:
    template <std::size_t N>
    NoteText& operator<<(const char (&literal)[N]) {
        std::memcpy(end_, literal, N - 1); // a copy of known length, which the compiler writes out
        end_ += N - 1;
        return *this;
    }
    void Put(std::string_view text) {
        std::memcpy(end_, text.data(), text.size());
        end_ += text.size();
    }
    void Number(std::int32_t value) { end_ = std::to_chars(end_, end_ + 11, value).ptr; }
    std::string_view Text() const { return {text_, static_cast<std::size_t>(end_ - text_)}; }

  private:
    char text_[2048];
    char* end_ = text_;
};

constexpr std::string_view Steps = "CDEFGAB";

// The beams of the notes of one measure: notes shorter than a quarter beamed together within a beat, or
// within their tuplet, each level of beam (eighth, 16th, 32nd...) over the notes that have it, a lone short
// note with a hook. Rests and bar lines inside the measure end a group.
enum class BeamMark : std::uint8_t { None, Begin, Continue, End, ForwardHook, BackwardHook };
constexpr std::size_t BeamLevels = 6; // eighth to 256th
using Beams = std::array<BeamMark, BeamLevels>;

std::vector<Beams> BeamsOf(std::span<const Piece> pieces, std::int32_t origin) {
    std::vector<Beams> beams(pieces.size(), Beams{});
    const auto levels = [&](std::size_t p) {
        const Piece& piece = pieces[p];
        return piece.kind == PieceKind::Note && piece.value.type > QuarterType
                   ? piece.value.type - QuarterType
                   : 0;
    };
    const auto groupOf = [&](std::size_t p) {
        const Piece& piece = pieces[p];
        return piece.tuplet >= 0 ? -1 - piece.tuplet : (piece.at - origin) / Beat;
    };
    for (std::size_t begin = 0; begin < pieces.size();) {
        std::size_t end = begin;
        while (end < pieces.size() && levels(end) > 0 && groupOf(end) == groupOf(begin) &&
               (end == begin || !pieces[end].barBefore))
            ++end;
        if (end - begin >= 2) {
            for (std::size_t level = 1; level <= BeamLevels; ++level) {
                for (std::size_t p = begin; p < end;) {
                    if (levels(p) < static_cast<int>(level)) {
                        ++p;
                        continue;
                    }
                    std::size_t q = p;
                    while (q < end && levels(q) >= static_cast<int>(level))
                        ++q;
                    if (q - p == 1) {
                        beams[p][level - 1] = p + 1 < end ? BeamMark::ForwardHook : BeamMark::BackwardHook;
                    } else {
                        beams[p][level - 1] = BeamMark::Begin;
                        for (std::size_t r = p + 1; r + 1 < q; ++r)
                            beams[r][level - 1] = BeamMark::Continue;
                        beams[q - 1][level - 1] = BeamMark::End;
                    }
                    p = q;
                }
            }
        }
        begin = std::max(end, begin + 1);
    }
    return beams;
}

constexpr std::array<std::string_view, 6> BeamNames{"",    "begin",        "continue",
                                                    "end", "forward hook", "backward hook"};

// The title as the page shows it: at most this many columns, a wide (East Asian) character taking two, so
// that the title font of a notation program keeps it inside the margins of an A4 or Letter page; a longer
// title is cut and ends with "…", which such fonts draw wide.
constexpr std::size_t ShownTitleColumns = 40;

std::string ShortTitle(std::string_view title) {
    std::size_t columns = 0;
    std::size_t cut = 0; // where the title is cut if it is too long: "…" takes two columns after it
    for (std::size_t b = 0; b < title.size();) {
        const std::size_t used = std::max<std::size_t>(Utf8SequenceAt(title.substr(b)), 1);
        const char32_t c = used > 1 ? CodePoint(title.substr(b, used)) : static_cast<unsigned char>(title[b]);
        columns += c >= 0x1100 && c != 0xFFFD && !(c >= 0xFE00 && c <= 0xFE0F) ? 2 : 1;
        if (columns > ShownTitleColumns) return std::string(title.substr(0, cut)) + "\xE2\x80\xA6";
        b += used;
        if (columns <= ShownTitleColumns - 2) cut = b;
    }
    return std::string(title);
}

// Where the instrument list's row shown at a timbre change goes on to a second line: a row longer than this
// many characters breaks before its "(" or else its last capital, so that the text above a note at the end of
// a line of the page stays within the right margin. The size of the row when it fits on one line.
constexpr std::size_t LabelColumns = 18;

std::size_t LabelWrap(std::string_view row) {
    if (row.size() <= LabelColumns) return row.size();
    const std::size_t bracket = row.find('(');
    if (bracket != std::string_view::npos) return bracket;
    for (std::size_t at = LabelColumns; at > 4; --at)
        if (row[at] >= 'A' && row[at] <= 'Z') return at;
    return row.size();
}

class Document {
  public:
    explicit Document(std::size_t pieces) { out_.reserve(4096 + pieces * 450); }

    void Head(std::string_view title, std::span<const std::int32_t> programs) {
        programs_ = programs;
        out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
                "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
                "<score-partwise version=\"4.0\">\n";
        if (!title.empty()) {
            out_ += "  <work>\n    <work-title>";
            AppendEscaped(out_, title);
            out_ += "</work-title>\n  </work>\n  <movement-title>";
            AppendEscaped(out_, ShortTitle(title));
            out_ += "</movement-title>\n";
        }
        const std::string_view name = InstrumentName(static_cast<std::size_t>(programs.front()));
        out_ += "  <identification>\n    <encoding>\n      <software>nagisora</software>\n    </encoding>\n"
                "  </identification>\n  <part-list>\n    <score-part id=\"P1\">\n      <part-name>";
        AppendEscaped(out_, name);
        out_ += "</part-name>\n";
        for (std::size_t i = 0; i < programs.size(); ++i) {
            out_ += "      <score-instrument id=\"P1-I";
            AppendNumber(out_, static_cast<std::int64_t>(i + 1));
            out_ += "\">\n        <instrument-name>";
            AppendEscaped(out_, InstrumentName(static_cast<std::size_t>(programs[i])));
            out_ += "</instrument-name>\n      </score-instrument>\n";
        }
        for (std::size_t i = 0; i < programs.size(); ++i) {
            out_ += "      <midi-instrument id=\"P1-I";
            AppendNumber(out_, static_cast<std::int64_t>(i + 1));
            // A channel of its own, as far as there are channels (10 being the drums').
            const std::size_t channel = i % 15 + 1;
            out_ += "\">\n        <midi-channel>";
            AppendNumber(out_, static_cast<std::int64_t>(channel < 10 ? channel : channel + 1));
            out_ += "</midi-channel>\n        <midi-program>";
            AppendNumber(out_, programs[i] + 1);
            out_ += "</midi-program>\n      </midi-instrument>\n";
        }
        out_ += "    </score-part>\n  </part-list>\n  <part id=\"P1\">\n";
    }

    // The first measure's attributes: the divisions, no key, no time signature, the clef; then the tempo as a
    // metronome mark and for playback, with the volume as dynamics (100 is a velocity of 90).
    void Opening(const ConversionSettings& settings, Clef clef) {
        out_ += "      <attributes>\n        <divisions>";
        AppendNumber(out_, Divisions);
        out_ += "</divisions>\n        <key>\n"
                "          <fifths>0</fifths>\n        </key>\n        <time>\n          <senza-misura/>\n"
                "        </time>\n";
        out_ += clef == Clef::Bass
                    ? "        <clef>\n          <sign>F</sign>\n          <line>4</line>\n"
                      "        </clef>\n"
                    : "        <clef>\n          <sign>G</sign>\n          <line>2</line>\n"
                      "          <clef-octave-change>-1</clef-octave-change>\n        </clef>\n";
        out_ +=
            "      </attributes>\n      <direction placement=\"above\">\n"
            "        <direction-type>\n          <metronome>\n            <beat-unit>quarter</beat-unit>\n"
            "            <per-minute>";
        AppendNumber(out_, settings.tempo);
        out_ += "</per-minute>\n          </metronome>\n        </direction-type>\n        <sound tempo=\"";
        AppendNumber(out_, settings.tempo);
        out_ += "\" dynamics=\"";
        const std::int32_t hundredths = (settings.volume * 10000 + 45) / 90;
        AppendNumber(out_, hundredths / 100);
        out_ += '.';
        out_ += static_cast<char>('0' + hundredths / 10 % 10);
        out_ += static_cast<char>('0' + hundredths % 10);
        out_ += "\"/>\n      </direction>\n";
    }

    void Measure(std::size_t number, std::span<const Piece> pieces, std::int32_t origin,
                 const ConversionSettings& settings, Clef clef, bool last) {
        out_ += "    <measure number=\"";
        AppendNumber(out_, static_cast<std::int64_t>(number));
        out_ += "\">\n";
        if (number == 1) Opening(settings, clef);
        shown_.fill(0);
        const std::vector<Beams> beams = BeamsOf(pieces, origin);
        for (std::size_t p = 0; p < pieces.size(); ++p)
            Note(pieces[p], beams[p]);
        if (last)
            out_ += "      <barline location=\"right\">\n        <bar-style>light-heavy</bar-style>\n"
                    "      </barline>\n";
        out_ += "    </measure>\n";
    }

    std::string Finish() {
        out_ += "  </part>\n</score-partwise>\n";
        return std::move(out_);
    }

  private:
    // One note element, with the timbre change before it, put together in a buffer of its own and appended
    // at once: a long score has thousands of them, and the pieces are small.
    void Note(const Piece& piece, const Beams& beams) {
        NoteText t;
        const bool instruments = programs_.size() > 1;
        if (piece.barBefore)
            t << "      <barline location=\"middle\">\n        <bar-style>regular</bar-style>\n"
                 "      </barline>\n";
        if (piece.program >= 0) {
            // The timbre number as the score writes it and the instrument's name, in bold as a reader shows
            // an instrument change, and the program for players.
            t << "      <direction placement=\"above\">\n        <direction-type>\n          <words "
                 "font-weight=\"bold\">";
            const std::string_view row = InstrumentRows[static_cast<std::size_t>(piece.program)];
            const std::size_t wrap = LabelWrap(row);
            t.Put(row.substr(0, wrap));
            if (wrap < row.size()) {
                t << "\n";
                t.Put(row.substr(wrap));
            }
            t << "</words>\n        </direction-type>\n";
            if (programs_[static_cast<std::size_t>(piece.instrument)] == piece.program) {
                t << "        <sound>\n          <midi-instrument id=\"P1-I";
                t.Number(piece.instrument + 1);
                t << "\">\n            <midi-program>";
                t.Number(piece.program + 1);
                t << "</midi-program>\n          </midi-instrument>\n        </sound>\n";
            }
            t << "      </direction>\n";
        }
        if (piece.octaveStart)
            t << "      <direction placement=\"above\">\n        <direction-type>\n"
                 "          <octave-shift type=\"down\" size=\"8\"/>\n        </direction-type>\n"
                 "      </direction>\n";
        t << "      <note>\n";
        std::string_view accidental;
        if (piece.kind == PieceKind::Rest) {
            t << "        <rest/>\n";
        } else {
            const Spelled pitch = Spell(piece.key, piece.accidental);
            t << "        <pitch>\n          <step>";
            t.Put(Steps.substr(pitch.step, 1));
            if (pitch.alter != 0) {
                t << "</step>\n          <alter>";
                t.Number(pitch.alter);
                t << "</alter>\n          <octave>";
            } else {
                t << "</step>\n          <octave>";
            }
            t.Number(pitch.octave);
            t << "</octave>\n        </pitch>\n";
            accidental = AccidentalShown(pitch, piece.tieStop);
        }
        t << "        <duration>";
        t.Number(piece.duration);
        t << "</duration>\n";
        if (piece.tieStop) t << "        <tie type=\"stop\"/>\n";
        if (piece.tieStart) t << "        <tie type=\"start\"/>\n";
        // Rests too: a reader that meets a rest without one takes the next note for an instrument change.
        if (instruments) {
            t << "        <instrument id=\"P1-I";
            t.Number(piece.instrument + 1);
            t << "\"/>\n";
        }
        t << "        <type>";
        t.Put(NoteTypes[piece.value.type].name);
        t << "</type>\n";
        if (piece.value.dotted) t << "        <dot/>\n";
        if (!accidental.empty()) {
            t << "        <accidental>";
            t.Put(accidental);
            t << "</accidental>\n";
        }
        if (piece.value.actual != piece.value.normal) {
            t << "        <time-modification>\n          <actual-notes>";
            t.Number(piece.value.actual);
            t << "</actual-notes>\n          <normal-notes>";
            t.Number(piece.value.normal);
            t << "</normal-notes>\n        </time-modification>\n";
        }
        for (std::size_t level = 0; level < BeamLevels; ++level) {
            if (beams[level] == BeamMark::None) continue;
            t << "        <beam number=\"";
            t.Number(static_cast<std::int32_t>(level + 1));
            t << "\">";
            t.Put(BeamNames[static_cast<std::size_t>(beams[level])]);
            t << "</beam>\n";
        }
        if (piece.tieStop || piece.tieStart || piece.tupletStart || piece.tupletStop) {
            t << "        <notations>\n";
            if (piece.tieStop) t << "          <tied type=\"stop\"/>\n";
            if (piece.tieStart) t << "          <tied type=\"start\"/>\n";
            if (piece.tupletStart) t << "          <tuplet type=\"start\" bracket=\"yes\"/>\n";
            if (piece.tupletStop) t << "          <tuplet type=\"stop\"/>\n";
            t << "        </notations>\n";
        }
        t << "      </note>\n";
        if (piece.octaveStop)
            t << "      <direction>\n        <direction-type>\n"
                 "          <octave-shift type=\"stop\" size=\"8\"/>\n        </direction-type>\n"
                 "      </direction>\n";
        out_.append(t.Text());
    }

    // The accidental sign a note needs in its measure: where its letter in its octave was last shown with
    // another alteration (none at the start of every measure, there being no key signature). A note tied
    // over from the measure before shows none, and the next note of its letter shows its sign, a natural too.
    std::string_view AccidentalShown(const Spelled& pitch, bool tiedOver) {
        constexpr std::int8_t Unsure = 9;
        const std::size_t octave = static_cast<std::size_t>(std::clamp(pitch.octave, 0, 9));
        std::int8_t& shown = shown_[octave * 7 + pitch.step];
        if (shown == pitch.alter) return {};
        if (tiedOver) {
            shown = Unsure;
            return {};
        }
        shown = pitch.alter;
        return pitch.alter > 0 ? "sharp" : pitch.alter < 0 ? "flat" : "natural";
    }

    std::string out_;
    std::array<std::int8_t, 70> shown_{};
    std::span<const std::int32_t> programs_;
};

bool IsSpace(std::string_view character) {
    return character == " " || character == "\t" || character == "\x81\x40";
}

// The text without the half-width and full-width spaces around it, walking its characters so that the second
// byte of a character is never taken for a space.
std::string_view TrimSpaces(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t b = 0; b < text.size();) {
        const auto lead = static_cast<unsigned char>(text[b]);
        const bool pair =
            b + 1 < text.size() && ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC));
        const std::size_t next = b + (pair ? 2 : 1);
        if (!IsSpace(text.substr(b, next - b))) {
            begin = std::min(begin, b);
            end = next;
        }
        b = next;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view{};
}

} // namespace

std::string_view FirstCommentText(std::span<const std::string_view> lines) {
    for (const std::string_view line : lines) {
        const std::string_view trimmed = TrimLine(ScoreLine(line));
        if (KindOfLine(trimmed) != LineKindOf::Comment) continue;
        // The comment begins at the first "//" unit, the one that made the line a comment.
        std::size_t at = 0;
        while (trimmed.substr(at, 2) != "//")
            at += 2;
        const std::string_view text = TrimSpaces(trimmed.substr(at + 2));
        if (!text.empty()) return text;
    }
    return {};
}

MusicXmlExport ExportMusicXml(std::span<const std::string_view> lines, const ConversionSettings& settings,
                              std::string_view title) {
    MusicXmlExport result;
    const ScoreMap map = MapScore(lines, settings.transpose);
    if (map.timed.size() > NoteEventCapacity) {
        result.refusal = Failure::Refused(std::string(TooManyNotesMessage));
        return result;
    }
    std::vector<std::size_t> starts = MeasureStarts(map);
    std::vector<std::int32_t> tupletOf(map.timed.size(), -1);
    const std::vector<WrittenTuplet> tuplets = WrittenTuplets(map, starts, tupletOf);
    Pieces pieces = PiecesOf(map.timed, map.events, tuplets, tupletOf, starts, settings);
    // The part's first instrument is the one its first note plays: a reader that takes no instrument change
    // plays that one throughout, and names the part after it.
    const auto firstNote = std::find_if(pieces.pieces.begin(), pieces.pieces.end(),
                                        [](const Piece& piece) { return piece.kind == PieceKind::Note; });
    if (firstNote != pieces.pieces.end() && firstNote->instrument > 0) {
        const std::int32_t first = firstNote->instrument;
        std::swap(pieces.programs.front(), pieces.programs[static_cast<std::size_t>(first)]);
        for (Piece& piece : pieces.pieces)
            piece.instrument = piece.instrument == first ? 0
                               : piece.instrument == 0   ? first
                                                         : piece.instrument;
    }
    // The rests before it are of that instrument too.
    for (auto rest = pieces.pieces.begin(); rest != firstNote; ++rest)
        rest->instrument = 0;

    Document document(pieces.pieces.size());
    document.Head(title, pieces.programs);
    const std::span<const Piece> all = pieces.pieces;
    const Clef clef = ClefOf(all);
    if (clef == Clef::TrebleOctaveDown) ShiftHighPassages(pieces.pieces);
    for (std::size_t m = 0; m < starts.size(); ++m) {
        const bool last = m + 1 == starts.size();
        const std::size_t begin = m == 0 ? 0 : pieces.firstOf[starts[m]];
        const std::size_t end = last ? all.size() : pieces.firstOf[starts[m + 1]];
        document.Measure(m + 1, all.subspan(begin, end - begin), pieces.measureAt[m], settings, clef, last);
    }
    result.text = document.Finish();
    return result;
}

} // namespace nagisora
