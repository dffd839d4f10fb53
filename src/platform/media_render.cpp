#include "media_render.h"

#include "media_errors.h"
#include "media_midi_file.h"
#include "media_synth.h"
#include "wav_file.h"

#include <algorithm>
#include <array>
#include <optional>

namespace nagisora {
namespace {

constexpr int BlockFrames = 256;
// The release tail is cut here if voices still sound (a note held on by the SoundFont's own loop).
constexpr std::int64_t MaxTailFrames = 10 * RenderSampleRate;

// Below this the samples are only the synthesizer's dither (some 80 dB below full scale).
constexpr int InaudiblePeak = 4;

static_assert(RenderSampleRate == media::SampleRate);

bool IsInaudible(std::span<const std::int16_t> samples) {
    return std::all_of(samples.begin(), samples.end(),
                       [](std::int16_t s) { return s >= -InaudiblePeak && s <= InaudiblePeak; });
}

// Follows the player's ticks; the player calls it from within the rendering, on the rendering thread.
struct MusicEnd {
    std::int64_t lastTick = 0;
    bool reached = false;

    static int OnTick(void* data, int tick) {
        auto& end = *static_cast<MusicEnd*>(data);
        if (tick >= end.lastTick) end.reached = true;
        return FLUID_OK;
    }
};

MidiFileFacts RequireMidiFile(std::string_view midiData) {
    const std::optional<MidiFileFacts> facts = ReadMidiFileFacts(midiData);
    if (!facts) ThrowMediaError(MediaCode::NotMidiFile);
    return *facts;
}

} // namespace

void RenderMidi(std::string_view midiData, const SampleSink& sink, const std::string& soundFont) {
    MusicEnd end{RequireMidiFile(midiData).totalTicks};
    const media::Synthesizer synthesizer = media::MakeSynthesizer(soundFont);
    fluid_synth_t* const synth = synthesizer.synth.get();
    const media::PlayerHandle player = media::MakePlayer(synth, std::string(midiData));
    fluid_player_set_tick_callback(player.get(), &MusicEnd::OnTick, &end);
    if (fluid_player_play(player.get()) != FLUID_OK) ThrowMediaError(MediaCode::NoSynthesizer);

    std::array<std::int16_t, BlockFrames * RenderChannels> block{};
    const auto renderBlock = [&] {
        fluid_synth_write_s16(synth, BlockFrames, block.data(), 0, RenderChannels, block.data(), 1,
                              RenderChannels);
        sink(block);
    };
    // The player stays "playing" for a while after the music; the end is seen from its ticks. A player that
    // stops early (a file it could not read after all) ends the loop too.
    while (!end.reached && fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING)
        renderBlock();
    // The tail: until the last voice has died away or nothing more is heard.
    for (std::int64_t tail = 0;
         tail < MaxTailFrames && fluid_synth_get_active_voice_count(synth) > 0 && !IsInaudible(block);
         tail += BlockFrames)
        renderBlock();
}

void RenderWav(std::string_view midiData, const std::string& wavPath) {
    RequireMidiFile(midiData);
    WavWriter writer(wavPath, RenderSampleRate, RenderChannels);
    RenderMidi(midiData, [&writer](std::span<const std::int16_t> samples) { writer.Append(samples); });
    writer.Commit();
}

} // namespace nagisora
