#include "conversion.h"

#include "score_reader.h"
#include "tuplets.h"

namespace nagisora {

Conversion ConvertScore(std::span<const std::string_view> lines, const ConversionSettings& settings,
                        OnpuList& list) {
    Conversion result;
    const std::optional<std::int32_t> count = ReadScore(lines, settings.transpose, list);
    if (!count) {
        result.refusal = TooManyNotesMessage;
        return result;
    }
    result.onpuCount = *count;
    ApplyTuplets(list, result.onpuCount);
    result.midiData = MakeHeaderChunk(1, settings.tempo);
    AppendTrackChunk(result.midiData, list, result.onpuCount,
                     TrackSettings{settings.instrument, settings.volume, settings.useScoreTimbres});
    result.midiData.append(EndOfTrack);
    return result;
}

} // namespace nagisora
