#pragma once

// A take of the score held against its notes: for every sounding note, how far its pitch lay from the written
// key (in cents) and how early or late it began against the beat, with the notes far out marked. The take is
// aligned to the score by its first note, so a recording that begins with silence is read the same.

#include "core/conversion.h"
#include "core/score_map.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// One frame of a take's pitch track: its time and its pitch as a MIDI key with fractions; 0 where no tone
// was found (silence, breath, noise).
struct PitchFrame {
    double seconds = 0;
    double midi = 0;
};

// What a pitch tracker found in a take: its frames in time order, and the times where notes began.
struct TakeAnalysis {
    std::vector<PitchFrame> frames;
    std::vector<double> onsets;
};

// A note is far out beyond these: its pitch, or its timing when it is also more than an eighth of a beat off.
inline constexpr double FarOutCents = 30.0;
inline constexpr double FarOutMs = 100.0;

struct PlayedNote {
    std::int32_t number = 0; // from 1, in playing order
    SourceSpan at;           // the note's pitch symbol; none when the score's map does not reach it
    std::int32_t key = 0;
    std::optional<double> cents;  // median deviation over the steady part; none when no tone was heard
    std::optional<double> lateMs; // onset after the beat (negative: early); none when not found
    bool farOut = false;          // also when the note was not heard
};

// The report of the take against the conversion's events (times and keys at the settings' tempo), the notes
// placed on the score lines through the map made from them.
std::vector<PlayedNote> PracticeReport(std::span<const NoteEvent> events, const ConversionSettings& settings,
                                       const ScoreMap& map, std::span<const std::string_view> lines,
                                       const TakeAnalysis& take);

// The take moved onto the keys of the events: by the pipe's semitones (a pipe of another length sounds the
// written notes that much higher or lower, pipe_lengths.h) and then by the whole octaves that bring its
// middle pitch nearest the middle key of the notes (a shakuhachi sounds its notes an octave above the events'
// keys; the preview sounds them at the keys). Frames without a tone stay as they are.
void MoveTakeToKeys(TakeAnalysis& take, std::span<const NoteEvent> events, std::int32_t pipeSemitones);

// One line a note: "NOTE LINE:COLUMN key KEY: +C cents, +L ms" and " far out" where it is.
std::string PracticeReportText(std::span<const PlayedNote> notes);

// A JSON array, one object a note: note, line, column, key, cents, late_ms (null when not found) and flag.
std::string PracticeReportJson(std::span<const PlayedNote> notes);

} // namespace nagisora
