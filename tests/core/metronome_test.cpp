#include "core/metronome.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

// Clicks as "tick" or "tick!" (accented).
std::string Text(const std::vector<BeatClick>& clicks) {
    std::string text;
    for (const BeatClick& click : clicks)
        text += (text.empty() ? "" : " ") + std::to_string(click.tick) + (click.accent ? "!" : "");
    return text;
}

TEST(MetronomeClicks, CountInAndBeatsFollowTheBarLines) {
    const struct {
        const char* what;
        std::vector<std::int64_t> bars;
        MetronomeRequest request;
        const char* clicks;
    } cases[] = {
        {"no bar lines: four beats, none accented",
         {},
         {0, 480, true, true},
         "-480 -360 -240 -120 0 120 240 360"},
        {"an upbeat of three beats, then measures of four (a bar line twice at one tick)",
         {360, 360, 840},
         {0, 1080, true, true},
         "-480! -360 -240 -120 0 120 240 360! 480 600 720 840! 960"},
        {"an upbeat of half a beat falls between clicks",
         {60, 540},
         {0, 600, true, true},
         "-420! -300 -180 -60 60! 180 300 420 540!"},
        {"from an offbeat of a measure of three beats: its count-in ends on the next beat",
         {0, 360, 720},
         {400, 720, true, true},
         "120! 240 360 480 600"},
        {"a short last measure: the beats restart at its bar line",
         {0, 480, 540},
         {420, 700, false, true},
         "480! 540! 660"},
        {"count-in only", {0, 360}, {0, 720, true, false}, "-360! -240 -120"},
        {"measures of two beats are counted twice",
         {0, 240, 480},
         {240, 480, true, false},
         "-240! -120 0! 120"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(MetronomeClicks(c.bars, c.request)), c.clicks) << c.what;
}

} // namespace
} // namespace nagisora
