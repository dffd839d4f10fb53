#pragma once

// WAV rendering for the command-line converter, loaded on demand: the converter does not link FluidSynth, and
// only a conversion that asks for a WAV file loads the rendering module (libnagisora_render.so).

#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// Where the module is looked for, in order: beside the running program (the build tree), then the install's
// library folder for the program (lib/nagisora, relative to the program's folder).
std::vector<std::string> RenderModuleCandidates();

// Renders the Standard MIDI File image into a 16-bit stereo WAV file at 44,100 Hz: the music and the release
// tail of its last notes, with the SoundFont at soundFont (empty: the first General MIDI SoundFont found).
// Throws Failure: the module cannot be found or loaded, or the rendering's own failure (the media layer's
// codes, a SoundFont that cannot be loaded named in the message, or the file codes for the WAV file).
void RenderWavFile(std::string_view midiData, const std::string& wavPath, const std::string& soundFont = {});

} // namespace nagisora
