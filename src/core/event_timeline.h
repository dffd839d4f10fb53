#pragma once

// Where the events of a list stand in the time of the MIDI image made from them, for whatever follows the
// music as it plays (a playing cursor, a piano roll).

#include "core/note_event.h"

#include <cstdint>
#include <optional>
#include <span>

namespace nagisora {

// The index (from 0) of the event that sounds at the tick of the image: the image's lead-in of
// midi::LeadInDelta ticks comes first, then each event lasts its ticks, one after the other (an event of
// ticks 0 never sounds). Nothing in the lead-in or from the end of the last event on.
std::optional<std::size_t> EventSoundingAt(std::span<const NoteEvent> events, std::int64_t tick);

} // namespace nagisora
