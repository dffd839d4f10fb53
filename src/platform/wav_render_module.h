#pragma once

// The one entry point of the WAV rendering module (libnagisora_render.so), shared by the module and its
// loader.

#include "platform/module_failure.h"

#include <cstddef>

extern "C" {
// Renders midiSize bytes of a Standard MIDI File into the WAV file at wavPath (UTF-8) with the SoundFont at
// soundFont (UTF-8; empty: the first General MIDI SoundFont found). Returns 0 on success; otherwise 1,
// with the failure in *failure.
__attribute__((visibility("default"))) int nagisora_render_wav_v3(const char* midiData, std::size_t midiSize,
                                                                  const char* wavPath, const char* soundFont,
                                                                  NagisoraFailure* failure);
}

namespace nagisora {

inline constexpr char RenderModuleFileName[] = "libnagisora_render.so";
inline constexpr char RenderWavEntryName[] = "nagisora_render_wav_v3";
using RenderWavEntry = decltype(&nagisora_render_wav_v3);

} // namespace nagisora
