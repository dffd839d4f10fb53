#pragma once

// The score checker: every place where the notation will silently do something else than what the writer
// most likely meant. Each finding is derived from the map of the score (the reader's own gathering and walk),
// never from a reading of its own, so what it says is what the conversion does; the conversion itself is not
// touched.

#include "core/score_map.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// error: the music will not be what is written; warning: probably not what was meant. A finding about text
// that may be harmless (a half-width character, a long neighbour line, "//" after a note, ♯) is an error only
// when the score with that text mended converts to other events than the score as it is.
enum class Severity : std::uint8_t { Error, Warning };

enum class FindingCode : std::uint8_t {
    HalfWidthInPitchLine,    // a single byte shifts the units of the rest of the line (and later sets)
    HalfWidthInDurationLine, // a single byte shifts the rest of a duration line under its notes
    LongTimbreLine,          // a timbre line longer than its pitch line shifts the timbres of later sets
    LongDurationLine,        // a duration line longer than its pitch line shifts the durations of later sets
    NoDurationLine,          // nothing below the pitch line, or a blank line: every note two beats
    TextAsDurationLine,      // a comment, text or another pitch line read as the duration line
    DurationLineReadAsPitchLine, // ー in a duration line makes it a pitch line of its own
    TimbreLineNotAdjacent,       // timbre numbers kept from their pitch line by a blank or other line
    MusicSharp,                  // ♯ raises nothing; the sharp is ＃
    CommentAfterPitch,           // "//" after a pitch symbol: the rest of the line is read as notes
    UnknownSymbol,               // a unit of a pitch line that is no notation symbol
    AccidentalUnused,            // an accidental that no note takes
    UnknownDuration,             // under a note, a unit outside the duration table: 0 ticks
    NoDuration,                  // under a note, nothing written: two beats
    DurationUnderNoNote,         // a duration symbol with no note above it
    TupletCut,                   // a tuplet marker whose group is cut or has no base
    TupletMarkerOverwritten,     // a marker inside an earlier group, overwritten before it acts
    TupletBaseInTuplet,          // a marker whose base note was shortened by an earlier group
    TimbreNotOverNote,           // a timbre entry the reader does not give to a sounding note
    TimbreAbove7F,               // a program number the MIDI file cannot hold
    TimbreFromText,              // a note takes a timbre from a line that is no timbre line
    TooManyNotes,                // more than 4096 events: the conversion refuses the score
    LineTooLong,                 // bytes past 4096 of a line are not seen
    NotAPitchLine,               // ○ or ヰ in a line that no pitch-line symbol makes a pitch line
    NotInCodePage932,            // a character code page 932 lacks, read as "?"
    LeadingCharacters,           // characters before the first symbol keep a line from being a pitch line
    MeasureLength,               // a measure of another length than the score's other measures
    TupletDurations,             // the notes of a tuplet group written with other durations than its base
    TupletOffBeat,               // a tuplet group that starts off the beat its length needs
    LinesApart, // a duration symbol under a bar line or a mark, or ｜ under a note: a unit missing
};

// The stable name of a code, in kebab case ("half-width-in-pitch-line").
std::string_view CodeName(FindingCode code);
Severity SeverityOf(FindingCode code);
std::string_view SeverityName(Severity severity); // "error" or "warning"

struct Finding {
    FindingCode code{};
    Severity severity{};
    SourcePlace place;   // the bytes of the score line that cause it
    SourceSpan span;     // the same as the score area shows them: line, column and length in characters
    std::string message; // Japanese, UTF-8: what happens and what to write instead
};

// Every finding of the score lines (code page 932 bytes, without line ends) and their map, ordered by line
// and column.
std::vector<Finding> CheckScore(std::span<const std::string_view> lines, const ScoreMap& map);
std::vector<Finding> CheckScore(std::span<const std::string_view> lines);

// The finding for a character that code page 932 lacks, found where the text was encoded: its place in the
// bytes (none when unknown) and in the text as its writer sees it.
Finding UnmappableCharacterFinding(const SourcePlace& place, const SourceSpan& span);

} // namespace nagisora
