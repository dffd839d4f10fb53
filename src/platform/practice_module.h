#pragma once

// The one entry point of the take analysis module (libnagisora_practice.so), shared by the module and its
// loader.

#include "platform/module_failure.h"

#include <cstddef>

extern "C" {
// Receives one frame of the take: its time in seconds and its pitch as a MIDI key with fractions (0: none).
typedef void (*NagisoraPitchFrame)(void* context, double seconds, double midi);
// Receives the time in seconds of a note's beginning found in the take.
typedef void (*NagisoraOnset)(void* context, double seconds);

// Tracks the WAV file at wavPath (UTF-8). Returns 0 on success; otherwise 1, with the failure in *failure.
__attribute__((visibility("default"))) int nagisora_track_take_v2(const char* wavPath, void* context,
                                                                  NagisoraPitchFrame frame,
                                                                  NagisoraOnset onset,
                                                                  NagisoraFailure* failure);

// The same tracker over sound that arrives a block at a time: made for a sample rate (nothing when aubio
// cannot make it), fed mono samples (frame receives one frame per hop, timed from the first sample fed),
// freed.
typedef struct NagisoraLivePitch NagisoraLivePitch;
__attribute__((visibility("default"))) NagisoraLivePitch* nagisora_live_pitch_open_v1(unsigned sampleRate);
__attribute__((visibility("default"))) void nagisora_live_pitch_feed_v1(NagisoraLivePitch* tracker,
                                                                        const float* samples,
                                                                        std::size_t count, void* context,
                                                                        NagisoraPitchFrame frame);
__attribute__((visibility("default"))) void nagisora_live_pitch_close_v1(NagisoraLivePitch* tracker);
}

namespace nagisora {

inline constexpr char PracticeModuleFileName[] = "libnagisora_practice.so";
inline constexpr char TrackTakeEntryName[] = "nagisora_track_take_v2";
using TrackTakeEntry = decltype(&nagisora_track_take_v2);
inline constexpr char LivePitchOpenName[] = "nagisora_live_pitch_open_v1";
inline constexpr char LivePitchFeedName[] = "nagisora_live_pitch_feed_v1";
inline constexpr char LivePitchCloseName[] = "nagisora_live_pitch_close_v1";
using LivePitchOpenEntry = decltype(&nagisora_live_pitch_open_v1);
using LivePitchFeedEntry = decltype(&nagisora_live_pitch_feed_v1);
using LivePitchCloseEntry = decltype(&nagisora_live_pitch_close_v1);

} // namespace nagisora
