#pragma once

// The one entry point of the WAV rendering module (libnagisora_render.so), shared by the module and its
// loader.

#include <cstddef>

extern "C" {
// Renders midiSize bytes of a Standard MIDI File into the WAV file at wavPath (UTF-8) with the SoundFont at
// soundFont (UTF-8; empty: the first General MIDI SoundFont found). Returns 0 on success; otherwise the
// failure's code, with its UTF-8 message in message (NUL-terminated, cut to messageCapacity).
__attribute__((visibility("default"))) int nagisora_render_wav_v2(const char* midiData, std::size_t midiSize,
                                                                  const char* wavPath, const char* soundFont,
                                                                  char* message, std::size_t messageCapacity);
}

namespace nagisora {

inline constexpr char RenderModuleFileName[] = "libnagisora_render.so";
inline constexpr char RenderWavEntryName[] = "nagisora_render_wav_v2";
using RenderWavEntry = decltype(&nagisora_render_wav_v2);

} // namespace nagisora
