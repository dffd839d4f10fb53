#pragma once

// The program's reader of Standard MIDI Files: whether the sequencer can read the bytes, how long the music
// lasts, its channel events and tempo changes in tick order, and the time of every tick. No FluidSynth.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

struct MidiFileFacts {
    std::int32_t format = 0;     // 0, 1 or 2
    std::int32_t trackCount = 0; // "MTrk" chunks read
    std::int32_t division = 0;   // ticks per quarter note
    std::int64_t totalTicks = 0; // the longest track: the sum of its delta times up to its end of track
};

// One channel message. The data bytes are as the file has them: the program's own files hold a few that are
// 80 or above (the filler key FF of a hold), which the synthesizer refuses as it would any key out of range.
struct MidiChannelEvent {
    std::int64_t tick = 0;
    std::uint8_t status = 0; // 80 to EF: the kind in the high four bits, the channel in the low four
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0; // 0 for the kinds with one data byte (C0, D0)
    std::uint8_t track = 0; // from 0, below MaxMidiTracks

    int Kind() const { return status & 0xF0; }
    int Channel() const { return status & 0x0F; }
    bool IsNote() const { return Kind() == 0x80 || Kind() == 0x90; }
};

struct MidiTempoChange {
    std::int64_t tick = 0;
    std::uint32_t microsecondsPerQuarter = 0;
};

// A meta event that describes the music rather than plays it: a track name (03), a time signature (58) or a
// key signature (59), with its data bytes.
struct MidiMetaEvent {
    std::int64_t tick = 0;
    std::int32_t track = 0; // from 0
    std::uint8_t type = 0;
    std::string data;
};

struct MidiFile {
    MidiFileFacts facts;
    std::vector<MidiChannelEvent> events; // every track's, in tick order; at the same tick, in track order
    std::vector<MidiTempoChange> tempos;  // in tick order
    std::vector<MidiMetaEvent> metas;     // in tick order
};

// The most tracks the sequencer plays from one file.
inline constexpr std::int32_t MaxMidiTracks = 128;

// The tempo of a file until its first tempo change: 120 quarter notes a minute.
inline constexpr std::uint32_t DefaultMicrosecondsPerQuarter = 500000;

// The file, or nothing when the sequencer could not read it: no "MThd" header of 6 bytes, a format above 2,
// SMPTE timing or a division of 0, more than MaxMidiTracks tracks, a chunk or an event cut off by the end of
// its chunk or of the file, a delta time of more than four bytes, a data byte without a running status, or a
// status byte F1 to FE other than F7. Data bytes are not checked. Events after a track's end of track are
// ignored, as the sequencer ignores them.
std::optional<MidiFile> ReadMidiFile(std::string_view bytes);

// As ReadMidiFile, into a file whose lists are emptied first and keep their room: a reader of many files
// allocates once. False, with the file emptied, when the sequencer could not read it.
bool ReadMidiFile(std::string_view bytes, MidiFile& file);

// The facts of ReadMidiFile alone.
std::optional<MidiFileFacts> ReadMidiFileFacts(std::string_view bytes);

// Where the music begins for a listener: the tick of the first note-on or note-off, before which a file holds
// only its set-up (the program's images: the opening program change and a lead-in of 32 ticks of silence).
// The total length when the file has no note event.
std::int64_t FirstNoteEventTick(const MidiFile& file);

// The tick of the first note that sounds (a note-on of a key 0 to 127 with a velocity above 0); nothing when
// no note sounds.
std::optional<std::int64_t> FirstSoundingTick(const MidiFile& file);

// The time of ticks under the file's tempo changes, counted in frames of audio at a sample rate from tick 0.
class MidiClock {
  public:
    MidiClock(const MidiFile& file, int sampleRate);

    // The frame at which the tick begins (its time, rounded to the nearest frame).
    std::int64_t FrameOf(std::int64_t tick) const;
    // The last tick whose frame is not after the frame (0 before the music).
    std::int64_t TickAt(std::int64_t frame) const;
    int SampleRate() const { return sampleRate_; }

  private:
    struct Segment {
        std::int64_t tick;
        double frame;
        double framesPerTick;
    };
    const Segment& SegmentOfTick(std::int64_t tick) const;

    int sampleRate_;
    std::vector<Segment> segments_; // at least one, from tick 0
};

} // namespace nagisora
