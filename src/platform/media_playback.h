#pragma once

// Music timed in frames of audio and fed into a FluidSynth synthesizer at the right frames: the sequencer of
// the preview and of WAV rendering. Only the media sources include this header.

#include "platform/media_midi_file.h"

#include <cstdint>
#include <fluidsynth.h>
#include <memory>
#include <string_view>
#include <vector>

namespace nagisora::media {

// A MIDI file ready to play: its channel events with the frame each falls on.
struct Music {
    Music(MidiFile midi, int sampleRate);

    MidiFile file;
    MidiClock clock;
    std::vector<std::int64_t> eventFrames; // one for each of file.events
    std::int64_t startFrame = 0;           // where a listener's music begins: FirstNoteEventTick
    std::int64_t endFrame = 0;             // the last tick
    std::uint16_t channelsUsed = 0;        // bit n: channel n has events

    // The index of the first event at or after the frame.
    std::size_t EventAt(std::int64_t frame) const;
};

// The music of the bytes at the sample rate. Throws Failure(MediaCode::NotMidiFile).
std::unique_ptr<const Music> PrepareMusic(std::string_view bytes, int sampleRate);

// Sends one channel message to the synthesizer. Values the synthesizer refuses (a key of 255) do nothing.
void SendEvent(fluid_synth_t* synth, const MidiChannelEvent& event);

// Releases whatever still sounds on the channels the music uses (all notes off): the end of the music and a
// stop leave no note hanging, whatever the file left on.
void ReleaseChannels(fluid_synth_t* synth, const Music& music);

// A place in one music and the events still to send from there.
class MusicCursor {
  public:
    MusicCursor() = default;
    MusicCursor(const Music& music, std::int64_t frame);

    // Sends what a listener entering at the cursor has heard before: every event before it that is no note
    // (program changes, controllers, pitch bends), in order.
    void SendSetUp(fluid_synth_t* synth) const;
    // Sends the events before the frame that are still due, and moves the cursor to the frame. A frame at or
    // past the end sends every event left, those of the last tick included.
    void SendUntil(fluid_synth_t* synth, std::int64_t frame);

    std::int64_t Frame() const { return frame_; }
    bool AtEnd() const { return music_ == nullptr || frame_ >= music_->endFrame; }

  private:
    const Music* music_ = nullptr;
    std::int64_t frame_ = 0;
    std::size_t next_ = 0;
};

} // namespace nagisora::media
