#pragma once

// A part of a score to be heard on its own: the notes from the one under the caret, or the selected notes,
// sounding exactly as they do at that point of the whole piece. Also the way from a place in the score lines
// to the events the reader makes there.

#include "core/conversion.h"
#include "core/note_event.h"
#include "core/score_map.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace nagisora {

// A point between bytes of a score line: the line from 1, the byte offset from 0 (the byte after the point).
struct TextPoint {
    std::int32_t line = 1;
    std::size_t byte = 0;
};

// Events first to end - 1 (from 0).
struct EventRange {
    std::size_t first = 0;
    std::size_t end = 0;

    bool Empty() const { return first >= end; }
    bool Holds(std::size_t event) const { return first <= event && event < end; }
    bool operator==(const EventRange&) const = default;
};

// Where a point stands in the order in which the reader walks the score: an offset in the aligned texts. On a
// pitch line, its own bytes; on the timbre or duration line of a set, the pitch bytes the reader pairs with
// them; on any other line, the start of the next set's pitch line (the end of the texts after the last set).
std::size_t ReadingOffsetOf(const ScoreMap& map, TextPoint point);

// The first event whose pitch symbol ends after the point: the note under the caret, or the next one. The
// event count when none follows.
std::size_t EventAtOrAfter(const ScoreMap& map, TextPoint point);

// The events whose pitch symbols the stretch from one point to the other touches, directly or through the
// timbre and duration units it covers.
EventRange EventsBetween(const ScoreMap& map, TextPoint from, TextPoint to);

// When each event begins, in ticks from the first event (the image's lead-in not counted); one entry more
// for the end of the last event.
std::vector<std::int64_t> EventStarts(std::span<const NoteEvent> events);

struct ScorePart {
    std::vector<NoteEvent> events; // to be made into an image with MidiImageOf
    ConversionSettings settings;   // the whole piece's, with the program in force at the start as instrument
    std::int64_t startTick = 0;    // where the part begins in the whole piece, in ticks from its first event
};

// The events of the range, read and timed as in the whole piece, made to sound as the whole piece sounds from
// the start of its first event on: the program in force there is the opening program (the last timbre
// number of a note before it when the score's timbres are used, else the instrument), and a first event that
// holds a note on (ー) sounds that note.
ScorePart PartOfScore(std::span<const NoteEvent> events, EventRange range,
                      const ConversionSettings& settings);

// A note as the image sounds it: from its note symbol on, through the holds (ー) after it.
struct SoundingNote {
    std::int64_t start = 0; // ticks from the first event
    std::int64_t end = 0;
    std::int32_t key = 0;
    std::int32_t program = 0; // the program in force: its timbre number, an earlier one, or the instrument
    std::size_t event = 0;    // its note symbol's event, from 0
};

// The notes of the events in time order, as the image made with the settings sounds them; they never
// overlap.
std::vector<SoundingNote> NotesSounding(std::span<const NoteEvent> events,
                                        const ConversionSettings& settings);

// The lowest and the highest key of the notes; {empty, empty} when there are none.
struct KeyRange {
    std::int32_t low = 0;
    std::int32_t high = 0;
};
KeyRange KeyRangeOf(std::span<const SoundingNote> notes, KeyRange empty);

} // namespace nagisora
