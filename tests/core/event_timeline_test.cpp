#include "core/event_timeline.h"

#include <gtest/gtest.h>
#include <vector>

namespace nagisora {
namespace {

TEST(EventSoundingAt, LeadInThenEachEventForItsOncho) {
    // program, key, ticks: a note of 120, a hold of 0 (it never sounds), a rest of 60, a note of 30.
    const std::vector<NoteEvent> events = {{-1, 62, 120}, {-1, -1, 0}, {-1, 0, 60}, {-1, 64, 30}};
    const struct {
        std::int64_t tick;
        std::optional<std::size_t> index;
    } cases[] = {
        {-1, std::nullopt}, {0, std::nullopt}, {31, std::nullopt}, {32, 0},  {151, 0},
        {152, 2},           {211, 2},          {212, 3},           {241, 3}, {242, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tick);
        EXPECT_EQ(EventSoundingAt(events, c.tick), c.index);
    }
    EXPECT_EQ(EventSoundingAt({}, 32), std::nullopt);
}

} // namespace
} // namespace nagisora
