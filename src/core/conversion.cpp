#include "core/conversion.h"

#include "core/score_reader.h"
#include "core/tuplets.h"

namespace nagisora {
namespace {

// A list whose entries are left as the allocation finds them: the reader writes every entry. Making the
// list with new, even for overwrite, would set each entry to its default values first, a pass over 48 KB
// that the conversion of a short score would spend most of its time on.
std::unique_ptr<NoteEventList> UnfilledList() {
    return std::unique_ptr<NoteEventList>(static_cast<NoteEventList*>(::operator new(sizeof(NoteEventList))));
}

} // namespace

namespace {

template <class Lines>
Conversion ConvertLines(const Lines& lines, const ConversionSettings& settings) {
    Conversion result;
    auto list = UnfilledList();
    const std::optional<std::int32_t> count = ReadScore(lines, settings.transpose, *list);
    if (!count) {
        result.refusal = Failure::Refused(std::string(TooManyNotesMessage));
        return result;
    }
    result.eventCount = *count;
    ApplyTuplets(*list, result.eventCount);
    result.list = std::move(list);
    result.midiData = MidiImageOf(result.Events(), settings);
    return result;
}

} // namespace

Conversion ConvertScore(std::span<const std::string_view> lines, const ConversionSettings& settings) {
    return ConvertLines(lines, settings);
}

Conversion ConvertScore(const ScoreFileLines& lines, const ConversionSettings& settings) {
    return ConvertLines(lines, settings);
}

std::string MidiImageOf(std::span<const NoteEvent> events, const ConversionSettings& settings) {
    std::string image = MakeHeaderChunk(1, settings.tempo);
    AppendTrackChunk(image, events, static_cast<std::int32_t>(events.size()),
                     TrackSettings{settings.instrument, settings.volume, settings.useScoreTimbres});
    image.append(EndOfTrack);
    return image;
}

} // namespace nagisora
