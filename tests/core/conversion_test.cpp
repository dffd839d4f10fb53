#include "core/conversion.h"
#include "core/score_file_lines.h"
#include "score_text.h"

#include <gtest/gtest.h>
#include <numeric>

namespace nagisora {
namespace {

using test::ScoreLines;

// Sums the delta times of a format-0 image's track: the length of the music in ticks.
std::int64_t TotalTicks(const std::string& image) {
    std::int64_t ticks = 0;
    std::size_t pos = 22;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(image.at(at)); };
    const auto readDelta = [&] {
        std::int64_t value = 0;
        unsigned char b;
        do {
            b = byte(pos++);
            value = (value << 7) | (b & 0x7F);
        } while (b & 0x80);
        return value;
    };
    while (true) {
        ticks += readDelta();
        const unsigned char status = byte(pos);
        if (status == 0xFF) break;
        pos += (status & 0xF0) == 0xC0 ? 2 : 3;
    }
    return ticks;
}

TEST(ConvertScore, StartScoreEndToEnd) {
    const std::string file = test::ReadExample("start-score.txt");
    const Conversion conversion = ConvertScore(SplitScoreFileLines(file), ConversionSettings{});
    ASSERT_FALSE(conversion.Refused());
    ASSERT_EQ(conversion.eventCount, 41);
    std::vector<std::int32_t> durations;
    for (const NoteEvent& e : conversion.Events())
        durations.push_back(e.ticks);
    EXPECT_EQ(durations, (std::vector<std::int32_t>{
                             120, 60, 60, 40, 40, 40,  30,  30, 30, 30, 24, 24, 24,  24,  24, 20,
                             20,  20, 20, 20, 20, 240, 120, 60, 60, // first set
                             40,  40, 40, 40, 40, 40,  40,  40, 40, 40, 40, 40, 240, 120, 60, 60}));
    EXPECT_EQ(std::accumulate(durations.begin(), durations.end(), 0), 2160);
    // The music lasts its 2160 ticks plus the 32 of the lead-in.
    EXPECT_EQ(TotalTicks(conversion.midiData), 2192);
    EXPECT_EQ(conversion.midiData.substr(0, 4), "MThd");
    EXPECT_EQ(conversion.midiData.substr(conversion.midiData.size() - 3), std::string(EndOfTrack));
    // The timbre 16 of the timbre line stands over the first note: C0 16 00 right after the lead-in.
    EXPECT_EQ(conversion.midiData.substr(26, 3), std::string("\xC0\x16\x00", 3));
}

TEST(ConvertScore, SettingsReachTheImage) {
    const ScoreLines lines{"10", "ロ", "－"};
    const Conversion plain = ConvertScore(lines, ConversionSettings{});
    EXPECT_EQ(plain.midiData.substr(26, 7), std::string("\xC0\x10\x00\x90\x32\x40\x78", 7));

    const Conversion changed = ConvertScore(lines, ConversionSettings{254, 5, 100, 77, false});
    EXPECT_EQ(static_cast<unsigned char>(changed.midiData[13]), 254);
    EXPECT_EQ(static_cast<unsigned char>(changed.midiData[24]), 77);
    EXPECT_EQ(changed.midiData.substr(26, 4), std::string("\x90\x37\x64\x78", 4));
}

TEST(ConvertScore, RefusesMoreThan4096NotesAndMakesNothing) {
    const std::string hundredNotes = [] {
        std::string line;
        for (int i = 0; i < 100; ++i)
            line += test::Sjis("ロ");
        return line;
    }();
    // Adjacent pitch lines are all read: 41 lines of 100 notes.
    const ScoreLines over(std::vector<std::string>(41, hundredNotes));
    const Conversion conversion = ConvertScore(over, ConversionSettings{});
    ASSERT_TRUE(conversion.Refused());
    EXPECT_EQ(conversion.refusal->Kind(), FailureKind::Refused);
    EXPECT_EQ(conversion.refusal->Message(), "音符の数が 4096 を超えています");
    EXPECT_TRUE(conversion.midiData.empty());
}

} // namespace
} // namespace nagisora
