#include "core/tuplets.h"

namespace nagisora {

void ApplyTuplets(std::span<NoteEvent> list, std::int32_t eventCount) {
    ApplyTuplets(list, eventCount, tuplets_detail::IgnoreGroups{});
}

} // namespace nagisora
