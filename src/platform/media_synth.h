#pragma once

// FluidSynth objects owned the RAII way, the SoundFont search and the making of a synthesizer. Shared by the
// preview player's media layer and the offline renderer; only their sources include this header.

#include <fluidsynth.h>
#include <memory>
#include <string>
#include <vector>

namespace nagisora::media {

struct FluidDeleter {
    void operator()(fluid_settings_t* p) const { delete_fluid_settings(p); }
    void operator()(fluid_synth_t* p) const { delete_fluid_synth(p); }
    void operator()(fluid_audio_driver_t* p) const { delete_fluid_audio_driver(p); }
};

using SettingsHandle = std::unique_ptr<fluid_settings_t, FluidDeleter>;
using SynthHandle = std::unique_ptr<fluid_synth_t, FluidDeleter>;
using DriverHandle = std::unique_ptr<fluid_audio_driver_t, FluidDeleter>;

inline constexpr int SampleRate = 44100;

// The General MIDI SoundFonts looked for, best first. The compressed .sf3 default is left out: it takes
// seconds to load.
std::vector<std::string> SoundFontCandidates();

// The first candidate that exists and is not an .sf3 behind a link; empty when there is none.
std::string FindSoundFont();

// A synthesizer with its settings and one SoundFont loaded. Members are destroyed synthesizer first, then
// settings, as FluidSynth requires.
struct Synthesizer {
    SettingsHandle settings;
    SynthHandle synth;
};

// Makes the settings (44,100 Hz) and the synthesizer, and loads the SoundFont (FindSoundFont() when the path
// is empty). Throws Failure: MediaCode::NoSoundFont naming the file that could not be loaded (or the files
// looked for), MediaCode::NoSynthesizer.
Synthesizer MakeSynthesizer(const std::string& soundFont);

} // namespace nagisora::media
