#include "tuplets.h"

namespace nagisora {

void ApplyTuplets(std::span<TOnpu> list, std::int32_t onpuCount) {
    ApplyTuplets(list, onpuCount, tuplets_detail::IgnoreGroups{});
}

} // namespace nagisora
