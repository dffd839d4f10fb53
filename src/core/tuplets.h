#pragma once

// The tuplet pass: turns the markers 3, 5 and 7 left by the score reader into real durations.

#include "onpu.h"

#include <cstdint>

namespace nagisora {

// Rewrites the Oncho of events 1 to onpuCount in place. A marker at event k takes the duration of event k - 1
// as its base b and times its group of 3, 5 or 7 events (k in the middle) as 2b, 4b or 8b ticks. A group that
// would begin before the first event or run past the last is cut to the events that exist, each keeping the
// value of its place in the whole group; a marker on the first event has no base and gets 0 ticks.
void ApplyTuplets(OnpuList& list, std::int32_t onpuCount);

} // namespace nagisora
