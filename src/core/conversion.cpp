#include "conversion.h"

#include "score_reader.h"
#include "tuplets.h"

namespace nagisora {

Conversion ConvertScore(std::span<const std::string_view> lines, const ConversionSettings& settings) {
    Conversion result;
    // Left uninitialised: the reader writes every entry of the list.
    auto list = std::make_unique_for_overwrite<OnpuList>();
    const std::optional<std::int32_t> count = ReadScore(lines, settings.transpose, *list);
    if (!count) {
        result.refusal = TooManyNotesMessage;
        return result;
    }
    result.onpuCount = *count;
    ApplyTuplets(*list, result.onpuCount);
    result.list = std::move(list);
    result.midiData = MidiImageOf(result.Events(), settings);
    return result;
}

std::string MidiImageOf(std::span<const TOnpu> events, const ConversionSettings& settings) {
    std::string image = MakeHeaderChunk(1, settings.tempo);
    AppendTrackChunk(image, events, static_cast<std::int32_t>(events.size()),
                     TrackSettings{settings.instrument, settings.volume, settings.useScoreTimbres});
    image.append(EndOfTrack);
    return image;
}

} // namespace nagisora
