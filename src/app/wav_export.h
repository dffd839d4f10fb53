#pragma once

// What a score sounds like, rendered into a WAV file on a worker thread: counted as it goes, so that the
// window can show how far it is, and stopped on request without leaving a file.

#include <atomic>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

namespace nagisora {

enum class WavEnd { Written, Stopped };

// The audio frames the music of the MIDI image lasts at the render's sample rate, without the release tail
// (0 for bytes that are no MIDI file).
std::int64_t MusicFrames(std::string_view midiData);

// Renders the MIDI image with the SoundFont (empty: the first General MIDI one found) into a 16-bit stereo
// WAV file at path, adding the frames rendered to frames as it goes. The file replaces path only when all
// went well; a stop request ends the rendering at its next block and leaves path as it was. Throws Failure
// (the media codes, or the file codes for the WAV file).
WavEnd WriteWav(std::string_view midiData, const std::string& path, const std::string& soundFont,
                std::stop_token stop, std::atomic<std::int64_t>& frames);

} // namespace nagisora
