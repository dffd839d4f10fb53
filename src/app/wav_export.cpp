#include "app/wav_export.h"

#include "platform/media_midi_file.h"
#include "platform/media_render.h"
#include "platform/wav_file.h"

#include <optional>

namespace nagisora {
namespace {

// Thrown by the sample sink to leave the rendering when a stop is requested; caught below.
struct StopRequested {};

// The image carries no tempo event: every quarter note lasts the file format's default half second.
constexpr std::int64_t MicrosecondsPerQuarter = 500000;

} // namespace

std::int64_t MusicFrames(std::string_view midiData) {
    const std::optional<MidiFileFacts> facts = ReadMidiFileFacts(midiData);
    if (!facts) return 0;
    return facts->totalTicks * MicrosecondsPerQuarter * RenderSampleRate / (facts->division * 1000000ll);
}

WavEnd WriteWav(std::string_view midiData, const std::string& path, const std::string& soundFont,
                std::stop_token stop, std::atomic<std::int64_t>& frames) {
    WavWriter writer(path, RenderSampleRate, RenderChannels);
    try {
        RenderMidi(
            midiData,
            [&](std::span<const std::int16_t> samples) {
                if (stop.stop_requested()) throw StopRequested{};
                writer.Append(samples);
                frames.fetch_add(static_cast<std::int64_t>(samples.size() / RenderChannels),
                                 std::memory_order_relaxed);
            },
            soundFont);
    } catch (const StopRequested&) {
        return WavEnd::Stopped; // the writer removes its temporary file
    }
    writer.Commit();
    return WavEnd::Written;
}

} // namespace nagisora
