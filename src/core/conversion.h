#pragma once

// The whole conversion of a score: read, tuplet pass, header and track chunks, end of track.

#include "core/failure.h"
#include "core/midi_image.h"
#include "core/note_event.h"
#include "core/score_file_lines.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nagisora {

struct ConversionSettings {
    std::int32_t tempo = 90;     // 30 to 254, beats a minute, written as the division
    std::int32_t transpose = 0;  // -16 to 16 semitones, added to every key
    std::int32_t volume = 64;    // 0 to 127
    std::int32_t instrument = 0; // 0 to 127
    bool useScoreTimbres = true;
};

struct Conversion {
    std::string midiData; // the whole Standard MIDI File; empty when the score was refused
    std::int32_t eventCount = 0;
    std::optional<Failure> refusal; // why the score was refused; none on success
    // The conversion's event list after the tuplet pass: entries 1 to eventCount are the events, the rest are
    // zero. Empty when the score was refused.
    std::unique_ptr<NoteEventList> list;

    bool Refused() const { return refusal.has_value(); }
    std::span<const NoteEvent> Events() const {
        return list ? std::span<const NoteEvent>(*list).first(static_cast<std::size_t>(eventCount))
                    : std::span<const NoteEvent>();
    }
};

// Converts the score lines (code page 932 bytes, without line ends): a list of them, or those of a score
// file's bytes, found as they are read.
Conversion ConvertScore(std::span<const std::string_view> lines, const ConversionSettings& settings);
Conversion ConvertScore(const ScoreFileLines& lines, const ConversionSettings& settings);

// The image of events already read and timed: the header for the tempo, the track of the events with the
// instrument, volume and timbre switch of the settings, and the end of track.
std::string MidiImageOf(std::span<const NoteEvent> events, const ConversionSettings& settings);

} // namespace nagisora
