#pragma once

// Offline rendering of a Standard MIDI File through FluidSynth: faster than real time, without a device.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace nagisora {

inline constexpr int RenderSampleRate = 44100;
inline constexpr int RenderChannels = 2;

// Samples within this of zero are the synthesizer's dither (some 80 dB below full scale), not music.
inline constexpr int InaudiblePeak = 4;

// Receives the rendered audio block by block: interleaved 16-bit stereo samples at RenderSampleRate.
using SampleSink = std::function<void(std::span<const std::int16_t> samples)>;

// Renders the music from its tick 0 to its last tick, then the release tail: on until the last voice has died
// away or nothing more is heard (at most ten seconds). soundFont empty: the first General MIDI SoundFont
// found. Throws Failure with the media layer's codes (media_errors.h): no MIDI file, no SoundFont, no
// synthesizer; and whatever the sink throws.
void RenderMidi(std::string_view midiData, const SampleSink& sink, const std::string& soundFont = {});

// The WAV path that means standard output, where the file is streamed as it is rendered.
inline constexpr char StandardOutputName[] = "-";

// Renders into a 16-bit stereo WAV file at 44,100 Hz (wav_file.h: the file is replaced only when all went
// well; "-" streams it to standard output), with the SoundFont as RenderMidi. Throws Failure: the media codes
// above, or the file codes of file_io.h for the WAV file.
void RenderWav(std::string_view midiData, const std::string& wavPath, const std::string& soundFont = {});

} // namespace nagisora
