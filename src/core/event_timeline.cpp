#include "core/event_timeline.h"

#include "core/midi_image.h"

namespace nagisora {

std::optional<std::size_t> EventSoundingAt(std::span<const NoteEvent> events, std::int64_t tick) {
    std::int64_t end = midi::LeadInDelta;
    if (tick < end) return std::nullopt;
    for (std::size_t k = 0; k < events.size(); ++k) {
        end += events[k].ticks;
        if (tick < end) return k;
    }
    return std::nullopt;
}

} // namespace nagisora
