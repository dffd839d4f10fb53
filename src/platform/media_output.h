#pragma once

// The audio outputs of the preview: a PulseAudio stream of its own (PipeWire serves it too) that asks for a
// small latency, FluidSynth's drivers (ALSA, JACK, OSS) as fallbacks, and a WAV file written in real time for
// running without a sound card. An output pulls its audio from a source on a thread of its own. Only the
// media sources include this header.

#include <chrono>
#include <cstdint>
#include <fluidsynth.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nagisora::media {

// What an output plays. Called on the output's thread only.
class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // The next frames, left and right samples every increment floats apart.
    virtual void Render(float* left, float* right, int increment, int frames) = 0;
    // How long from now until the last frame rendered so far is heard, as the output reports it.
    virtual void ReportLatency(std::chrono::microseconds latency) = 0;
    // Whether the source has had nothing to play for a long while: the output may then stop asking for audio
    // until the next change.
    virtual bool LongIdle() const = 0;
    // The last frames rendered will never be heard: the output replaces them with what it renders next.
    virtual void Discard(std::int64_t frames) = 0;
    // The output stopped for good (its server went away): no more audio will be asked for.
    virtual void OutputLost() = 0;
};

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // Runs a change of what the source plays (a start, a stop) so that it is heard at once: where the output
    // can, it holds its audio meanwhile and replaces what it has queued but not yet played with the source's
    // audio after the change. An output that stopped asking for audio for a long idle source asks again.
    virtual void ChangeNow(const std::function<void()>& change) { change(); }
    // Whether the output has stopped for good.
    virtual bool Lost() const { return false; }
};

struct OutputRequest {
    std::vector<std::string> drivers; // tried in order: "pulseaudio", "file", or a FluidSynth driver name
    std::string outputFile;           // the WAV file of the "file" driver
    std::chrono::milliseconds targetLatency{}; // of PulseAudio: what it queues and its sink's own delay
    // The same once the audio thread is known to run without a real-time priority.
    std::chrono::milliseconds latencyWithoutRealtime{};
    int sampleRate = 44100;
    fluid_settings_t* settings = nullptr; // the synthesizer's settings, for FluidSynth's drivers
};

// The first output of the request's drivers that opens. Throws Failure(MediaCode::NoAudioDevice) with every
// driver's reason.
std::unique_ptr<AudioOutput> OpenAudioOutput(const OutputRequest& request, AudioSource& source);

} // namespace nagisora::media
