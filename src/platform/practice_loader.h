#pragma once

// The take analysis for the command-line converter, loaded on demand: the converter does not link aubio, and
// only --practice-report loads the module libnagisora_practice.so (found as the WAV module is).

#include "core/practice_report.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nagisora {

// TrackTake through the module. Throws Failure: the module cannot be found or loaded, or the analysis's own
// failure.
TakeAnalysis TrackTakeThroughModule(const std::string& wavPath);

// The live pitch tracker of the module, for sound that arrives a block at a time (the practice window).
class LivePitchTracker {
  public:
    // Throws Failure: the module cannot be found or loaded, or aubio cannot make the tracker.
    explicit LivePitchTracker(unsigned sampleRate);
    ~LivePitchTracker();
    LivePitchTracker(const LivePitchTracker&) = delete;
    LivePitchTracker& operator=(const LivePitchTracker&) = delete;

    // Appends the frames of the hops the samples complete.
    void Feed(std::span<const float> samples, std::vector<PitchFrame>& frames);

  private:
    struct Module;
    std::unique_ptr<Module> module_;
};

} // namespace nagisora
