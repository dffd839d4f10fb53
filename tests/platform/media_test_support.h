#pragma once

// Helpers of the media tests: small MIDI files made byte by byte, the start score's image and WAV files read
// back.

#include "core/conversion.h"
#include "core/score_file_lines.h"
#include "test_files.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora::test {

inline std::string Big32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

inline std::string Header(int format, int tracks, int division) {
    return std::string("MThd") + Big32(6) + static_cast<char>(format >> 8) + static_cast<char>(format) +
           static_cast<char>(tracks >> 8) + static_cast<char>(tracks) + static_cast<char>(division >> 8) +
           static_cast<char>(division);
}

inline std::string Track(std::string_view events) {
    return std::string("MTrk") + Big32(static_cast<std::uint32_t>(events.size())) + std::string(events);
}

inline const std::string EndOfTrackEvent{"\x00\xFF\x2F\x00", 4};

// One note of the given key, lasting ticks (below 128) at division 96: one quarter note is 96 ticks and lasts
// half a second at the default tempo. Velocity 0 gives a file as long as the note that makes no sound.
inline std::string OneNote(int key, int ticks, int velocity = 100) {
    std::string events{"\x00\xC0\x00\x00\x90", 5};
    events += static_cast<char>(key);
    events += static_cast<char>(velocity);
    events += static_cast<char>(ticks);
    events += '\x80';
    events += static_cast<char>(key);
    events += '\x40';
    events += EndOfTrackEvent;
    return Header(0, 1, 96) + Track(events);
}

// The image of examples/start-score.txt with the window's start settings.
inline std::string StartScoreImage() {
    const std::string file = ReadBytes(std::filesystem::path(NAGISORA_EXAMPLES_DIR) / "start-score.txt");
    return ConvertScore(SplitScoreFileLines(file), ConversionSettings{}).midiData;
}

struct WavContents {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    std::vector<std::int16_t> samples; // interleaved

    double Seconds() const {
        return channels && sampleRate ? static_cast<double>(samples.size()) / channels / sampleRate : 0.0;
    }
};

inline std::uint32_t Little(std::string_view bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The format and the 16-bit samples of a RIFF/WAVE file, found chunk by chunk; nothing when it is none.
inline std::optional<WavContents> ReadWav(std::string_view bytes) {
    if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE")
        return std::nullopt;
    WavContents wav;
    bool haveData = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string_view id = bytes.substr(at, 4);
        const std::uint32_t size = Little(bytes, at + 4, 4);
        const std::size_t body = at + 8;
        if (body + size > bytes.size()) return std::nullopt;
        if (id == "fmt ") {
            wav.channels = static_cast<int>(Little(bytes, body + 2, 2));
            wav.sampleRate = static_cast<int>(Little(bytes, body + 4, 4));
            wav.bitsPerSample = static_cast<int>(Little(bytes, body + 14, 2));
        } else if (id == "data") {
            for (std::size_t i = 0; i + 1 < size; i += 2)
                wav.samples.push_back(static_cast<std::int16_t>(Little(bytes, body + i, 2)));
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveData || wav.bitsPerSample != 16) return std::nullopt;
    return wav;
}

inline int PeakAmplitude(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (const std::int16_t s : samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

// Above the synthesizer's dither, well below any note.
inline constexpr int SilenceLevel = 64;

} // namespace nagisora::test
