#include "platform/media_playback.h"

#include "platform/media_errors.h"

#include <algorithm>

namespace nagisora::media {

Music::Music(MidiFile midi, int sampleRate) : file(std::move(midi)), clock(file, sampleRate) {
    eventFrames.reserve(file.events.size());
    for (const MidiChannelEvent& event : file.events) {
        eventFrames.push_back(clock.FrameOf(event.tick));
        channelsUsed |= static_cast<std::uint16_t>(1u << event.Channel());
    }
    startFrame = clock.FrameOf(FirstNoteEventTick(file));
    endFrame = clock.FrameOf(file.facts.totalTicks);
}

std::size_t Music::EventAt(std::int64_t frame) const {
    return static_cast<std::size_t>(std::lower_bound(eventFrames.begin(), eventFrames.end(), frame) -
                                    eventFrames.begin());
}

std::unique_ptr<const Music> PrepareMusic(std::string_view bytes, int sampleRate) {
    std::optional<MidiFile> file = ReadMidiFile(bytes);
    if (!file) ThrowMediaError(MediaCode::NotMidiFile);
    return std::make_unique<const Music>(std::move(*file), sampleRate);
}

void SendEvent(fluid_synth_t* synth, const MidiChannelEvent& event) {
    const int channel = event.Channel();
    switch (event.Kind()) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, event.data1);
        break;
    case 0x90:
        fluid_synth_noteon(synth, channel, event.data1, event.data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, channel, event.data1, event.data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, channel, event.data1, event.data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, channel, event.data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, event.data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, (event.data2 & 0x7F) << 7 | (event.data1 & 0x7F));
        break;
    default:
        break;
    }
}

MusicCursor::MusicCursor(const Music& music, std::int64_t frame)
    : music_(&music), frame_(frame), next_(music.EventAt(frame)) {}

void ReleaseChannels(fluid_synth_t* synth, const Music& music) {
    for (int channel = 0; channel < 16; ++channel)
        if ((music.channelsUsed >> channel) & 1u) fluid_synth_all_notes_off(synth, channel);
}

void MusicCursor::SendSetUp(fluid_synth_t* synth) const {
    for (std::size_t k = 0; k < next_; ++k)
        if (!music_->file.events[k].IsNote()) SendEvent(synth, music_->file.events[k]);
}

void MusicCursor::SendUntil(fluid_synth_t* synth, std::int64_t frame) {
    if (music_ == nullptr) return;
    const std::vector<MidiChannelEvent>& events = music_->file.events;
    // Reaching the end sends the events of the last tick too: the note-offs there would otherwise never go.
    const bool reachesEnd = frame >= music_->endFrame;
    while (next_ < events.size() && (reachesEnd || music_->eventFrames[next_] < frame))
        SendEvent(synth, events[next_++]);
    frame_ = frame;
}

} // namespace nagisora::media
