#pragma once

// The one entry point of the take analysis module (libnagisora_practice.so), shared by the module and its
// loader.

#include <cstddef>

extern "C" {
// Receives one frame of the take: its time in seconds and its pitch as a MIDI key with fractions (0: none).
typedef void (*NagisoraPitchFrame)(void* context, double seconds, double midi);
// Receives the time in seconds of a note's beginning found in the take.
typedef void (*NagisoraOnset)(void* context, double seconds);

// Tracks the WAV file at wavPath (UTF-8). Returns 0 on success; otherwise the failure's code, with its UTF-8
// message in message (NUL-terminated, cut to messageCapacity).
__attribute__((visibility("default"))) int nagisora_track_take_v1(const char* wavPath, void* context,
                                                                  NagisoraPitchFrame frame,
                                                                  NagisoraOnset onset, char* message,
                                                                  std::size_t messageCapacity);
}

namespace nagisora {

inline constexpr char PracticeModuleFileName[] = "libnagisora_practice.so";
inline constexpr char TrackTakeEntryName[] = "nagisora_track_take_v1";
using TrackTakeEntry = decltype(&nagisora_track_take_v1);

} // namespace nagisora
