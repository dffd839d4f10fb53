#pragma once

// The pitch of a recorded take, frame by frame, and where its notes begin: aubio's YIN pitch detector and
// its onset detector over a WAV file. The command-line converter loads this from the module
// libnagisora_practice.so (practice_loader.h) so that a plain conversion never loads aubio.

#include "core/practice_report.h"

#include <cstddef>
#include <memory>
#include <string>

namespace nagisora {

// Tracks the take's pitch (mono: the channels mixed) at its own sample rate. Throws Failure with
// MediaCode::FileUnreadable when the file cannot be opened as audio.
TakeAnalysis TrackTake(const std::string& wavPath);

// The same detector over sound that arrives a block at a time (mono), as from a microphone: each hop of
// samples gives one frame, timed from the first sample fed.
class LivePitch {
  public:
    explicit LivePitch(unsigned sampleRate);
    ~LivePitch();
    LivePitch(const LivePitch&) = delete;
    LivePitch& operator=(const LivePitch&) = delete;

    // The frames of the hops that the samples complete.
    template <class Sink>
    void Feed(const float* samples, std::size_t count, Sink&& sink) {
        for (std::size_t i = 0; i < count; ++i)
            if (Push(samples[i])) sink(Frame());
    }

  private:
    bool Push(float sample);
    PitchFrame Frame();

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace nagisora
