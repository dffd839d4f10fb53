#include "core/tuplets.h"

#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace nagisora {
namespace {

// Runs the pass over events with the given durations and returns the durations after it.
std::vector<std::int32_t> Timed(const std::vector<std::int32_t>& durations) {
    NoteEventList list{};
    for (std::size_t k = 0; k < durations.size(); ++k)
        list[k] = NoteEvent{NoteEvent::NoProgram, 60, durations[k]};
    ApplyTuplets(list, static_cast<std::int32_t>(durations.size()));
    std::vector<std::int32_t> result;
    for (std::size_t k = 0; k < durations.size(); ++k) {
        EXPECT_EQ(list[k].key, 60);
        EXPECT_EQ(list[k].program, -1);
        result.push_back(list[k].ticks);
    }
    for (std::size_t k = durations.size(); k < list.size(); ++k)
        EXPECT_EQ(list[k].ticks, 0) << "entry " << k + 1;
    return result;
}

struct TupletCase {
    const char* name;
    std::vector<std::int32_t> written;
    std::vector<std::int32_t> timed;
};

TEST(ApplyTuplets, TimesEachGroupFromTheNoteBeforeItsMarker) {
    const TupletCase cases[] = {
        {"＋３＋", {60, 3, 60}, {40, 40, 40}},
        {"－３－", {120, 3, 120}, {80, 80, 80}},
        {"＝＝５＝＝", {30, 30, 5, 30, 30}, {24, 24, 24, 24, 24}},
        {"＋＋５＋＋", {60, 60, 5, 60, 60}, {48, 48, 48, 48, 48}},
        {"－－５－－", {120, 120, 5, 120, 120}, {96, 96, 96, 96, 96}},
        {"＋＋＋７＋＋＋", {60, 60, 60, 7, 60, 60, 60}, {69, 69, 69, 69, 68, 68, 68}},
        {"－－－７－－－", {120, 120, 120, 7, 120, 120, 120}, {138, 137, 137, 137, 137, 137, 137}},
        {"＝＝＝７＝＝＝", {30, 30, 30, 7, 30, 30, 30}, {35, 35, 34, 34, 34, 34, 34}},
        {"＝３＝＝３＝", {30, 3, 30, 30, 3, 30}, {20, 20, 20, 20, 20, 20}},
        {"＋３＋３＋: later base already rewritten", {60, 3, 60, 3, 60}, {40, 40, 26, 26, 26}},
        {"triplet on a base of 40", {40, 3, 60}, {26, 26, 26}},
        {"＋３３: second marker overwritten", {60, 3, 3}, {40, 40, 40}},
        {"triplet marker on the last event", {60, 3}, {40, 40}},
        {"septuplet on the last event", {60, 60, 60, 7}, {69, 69, 69, 69}},
        {"no markers", {240, 120, 60, 30, 15, 0}, {240, 120, 60, 30, 15, 0}},
        {"septuplet of 0 ticks", {0, 0, 0, 7, 0}, {0, 0, 0, 0, 0}},
        // A marker without enough events before it: the first event has no base and gets 0 ticks; otherwise
        // the group is cut to the events that exist, each with the value of its place in the whole group.
        {"triplet on the first event", {3, 60, 60}, {0, 60, 60}},
        {"quintuplet on the first event", {5, 60}, {0, 60}},
        {"quintuplet on the second event", {60, 5, 60, 60, 120}, {48, 48, 48, 48, 120}},
        {"septuplet on the second event", {60, 7, 60, 60, 60, 60}, {69, 69, 68, 68, 68, 60}},
        {"septuplet on the third event",
         {120, 120, 7, 120, 120, 120, 120},
         {137, 137, 137, 137, 137, 137, 120}},
    };
    for (const TupletCase& c : cases)
        EXPECT_EQ(Timed(c.written), c.timed) << c.name;
}

TEST(ApplyTuplets, SeptupletAlwaysLastsEightBases) {
    for (std::int32_t b = 8; b <= 2000; ++b) {
        const std::vector<std::int32_t> timed = Timed({b, b, b, 7, b, b, b});
        const std::int32_t sum = std::accumulate(timed.begin(), timed.end(), 0);
        ASSERT_EQ(sum, 8 * b) << "base " << b;
        ASSERT_LE(timed.front() - timed.back(), 1) << "base " << b;
    }
}

TEST(ApplyTuplets, EmptyListIsLeftAlone) {
    NoteEventList list{};
    list[0].ticks = 3;
    ApplyTuplets(list, 0);
    EXPECT_EQ(list[0].ticks, 3);
}

TEST(ApplyTuplets, FullListNeverWritesPastItsEnd) {
    NoteEventList list{};
    for (NoteEvent& e : list)
        e = NoteEvent{NoteEvent::NoProgram, 50, 60};
    list[NoteEventCapacity - 1].ticks = 7;
    ApplyTuplets(list, static_cast<std::int32_t>(NoteEventCapacity));
    EXPECT_EQ(list[NoteEventCapacity - 4].ticks, 69);
    EXPECT_EQ(list[NoteEventCapacity - 1].ticks, 69);
    EXPECT_EQ(list[NoteEventCapacity - 5].ticks, 60);
}

} // namespace
} // namespace nagisora
