#pragma once

// Scores from other notations: the timed notes of a MIDI or MusicXML file written as the notation's text,
// line sets of timbre, pitch and duration lines that the reader converts back to the same events. What the
// notation cannot say (chords, other parts, notes out of the pipe's range, durations off its units, grace
// notes, key and tempo changes) is kept as a finding with its place in the source and in the text.

#include "core/conversion.h"
#include "core/pipe_lengths.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// The source's time is given in the notation's ticks: a quarter note is one beat, 120 ticks.
inline constexpr std::int32_t ImportTicksPerQuarter = 120;

enum class Spelling : std::uint8_t { None, Sharp, Flat };

struct ImportNote {
    std::int64_t start = 0;
    std::int64_t length = 0;
    std::int32_t key = 60;     // MIDI key as the source sounds it
    std::int32_t part = 0;     // index into ImportSource::parts
    std::int32_t program = -1; // a program change the source makes at this note: its timbre number
    Spelling spelling = Spelling::None;
    bool grace = false;
};

// Where the source begins a hold (ー) or a rest (○) of its own: the program's own MIDI files say so with
// their filler events and repeated note-offs, and keeping them gives back the very events of the score.
enum class MarkKind : std::uint8_t { Hold, Rest };
struct ImportMark {
    std::int64_t tick = 0;
    std::int32_t part = 0;
    MarkKind kind = MarkKind::Rest;
};

struct ImportPart {
    std::string name; // UTF-8
    bool drums = false;
    std::int32_t program = 0;   // the instrument at the part's first note
    std::int32_t velocity = 64; // its loudness, the conversion's volume
};

struct ImportChange {
    std::int64_t tick = 0;
    std::int32_t value = 0; // quarter notes a minute, or the key's fifths
};

struct ImportSource {
    std::string title; // code page 932 bytes; empty: none
    std::vector<ImportPart> parts;
    std::vector<ImportNote> notes; // any order
    std::vector<ImportMark> marks;
    // Where the measures begin, ascending. Empty when the source has none: bar lines then stand every four
    // beats, at the first boundary of events there, and never split a note.
    std::vector<std::int64_t> measures;
    std::vector<ImportChange> tempoChanges; // after the start
    std::vector<ImportChange> keys;         // the key and its changes
    std::int64_t end = 0;                   // the end of the music, when later than its last note
    ConversionSettings settings;            // the tempo the source sounds with
};

struct ImportOptions {
    std::optional<std::int32_t> part;                      // 1-based; none: the first melodic part
    std::optional<std::int32_t> pipe = StandardPipeTenths; // tenths of a 尺; none: chosen (auto)
};

enum class ImportIssue : std::uint8_t {
    OtherParts,
    Chord,
    Overlap,
    OutOfRange,
    Quantised,
    TooShort,
    Grace,
    KeyChange,
    TempoChange,
    TooManyEvents,
};

struct ImportFinding {
    ImportIssue issue{};
    std::int32_t measure = 1;       // in the source, from 1
    std::int64_t tickInMeasure = 0; // from the measure's start
    std::int32_t line = 1;          // in the text, from 1
    std::int32_t column = 1;        // in characters, from 1
    std::string message;            // Japanese, UTF-8
};

struct ImportResult {
    std::string text; // the score file's bytes, code page 932, each line ended by CR LF; empty when refused
    std::vector<ImportFinding> findings;
    ConversionSettings settings; // what converts the text back: the source's tempo, instrument and volume,
                                 // and the pipe's transposition
    std::int32_t part = 0;       // 1-based
    PipeLength pipe{};
    std::int32_t octaveShift = 0;   // semitones the text stands above the source besides the pipe's
    std::optional<Failure> refusal; // why nothing was written

    bool Refused() const { return refusal.has_value(); }
    std::vector<std::string_view> Lines() const; // the text's lines, into it, without their ends
};

// Beat text of a finding's place: "M 小節 B 拍" with the beat from 1 in quarter notes.
std::string SourcePlaceText(const ImportFinding& finding);

ImportResult ImportScore(const ImportSource& source, const ImportOptions& options = {});

} // namespace nagisora
