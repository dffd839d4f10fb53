#include "platform/media_render.h"

#include "platform/media_errors.h"
#include "platform/media_midi_file.h"
#include "platform/media_playback.h"
#include "platform/media_synth.h"
#include "platform/wav_file.h"

#include <algorithm>
#include <array>
#include <unistd.h>

namespace nagisora {
namespace {

constexpr int BlockFrames = 256;
constexpr int StepFrames = 64;
// The release tail is cut here if voices still sound (a note held on by the SoundFont's own loop).
constexpr std::int64_t MaxTailFrames = 10 * RenderSampleRate;

static_assert(RenderSampleRate == media::SampleRate);

bool IsInaudible(std::span<const std::int16_t> samples) {
    return std::all_of(samples.begin(), samples.end(),
                       [](std::int16_t s) { return s >= -InaudiblePeak && s <= InaudiblePeak; });
}

} // namespace

void RenderMidi(std::string_view midiData, const SampleSink& sink, const std::string& soundFont) {
    const std::unique_ptr<const media::Music> music = media::PrepareMusic(midiData, RenderSampleRate);
    const media::Synthesizer synthesizer = media::MakeSynthesizer(soundFont);
    fluid_synth_t* const synth = synthesizer.synth.get();

    // A block is rendered in FluidSynth's own steps of 64 frames, with the events due sent before each.
    std::array<std::int16_t, BlockFrames * RenderChannels> block{};
    const auto renderBlock = [&](media::MusicCursor* cursor) {
        for (int done = 0; done < BlockFrames; done += StepFrames) {
            if (cursor != nullptr) cursor->SendUntil(synth, cursor->Frame() + StepFrames);
            fluid_synth_write_s16(synth, StepFrames, block.data(), done * RenderChannels, RenderChannels,
                                  block.data(), done * RenderChannels + 1, RenderChannels);
        }
        sink(block);
    };
    // The whole file from its tick 0, lead-in included, as a MIDI player plays it.
    for (media::MusicCursor cursor(*music, 0); !cursor.AtEnd();)
        renderBlock(&cursor);
    media::ReleaseChannels(synth, *music);
    // The tail: until the last voice has died away or nothing more is heard.
    for (std::int64_t tail = 0;
         tail < MaxTailFrames && fluid_synth_get_active_voice_count(synth) > 0 && !IsInaudible(block);
         tail += BlockFrames)
        renderBlock(nullptr);
}

void RenderWav(std::string_view midiData, const std::string& wavPath, const std::string& soundFont) {
    if (!ReadMidiFileFacts(midiData)) ThrowMediaError(MediaCode::NotMidiFile);
    WavWriter writer = wavPath == StandardOutputName
                           ? WavWriter(STDOUT_FILENO, wavPath, RenderSampleRate, RenderChannels)
                           : WavWriter(wavPath, RenderSampleRate, RenderChannels);
    RenderMidi(
        midiData, [&writer](std::span<const std::int16_t> samples) { writer.Append(samples); }, soundFont);
    writer.Commit();
}

} // namespace nagisora
