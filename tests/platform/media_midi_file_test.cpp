#include "media_test_support.h"
#include "platform/media_midi_file.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace nagisora {
namespace {

using test::Big32;
using test::EndOfTrackEvent;
using test::Header;
using test::Track;

TEST(ReadMidiFileFacts, TheProgramsOwnImage) {
    // 2192 ticks at division 90; the image holds note-ons with key FF, which must not be taken for statuses.
    const std::optional<MidiFileFacts> facts = ReadMidiFileFacts(test::StartScoreImage());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->format, 0);
    EXPECT_EQ(facts->trackCount, 1);
    EXPECT_EQ(facts->division, 90);
    EXPECT_EQ(facts->totalTicks, 2192);

    // Its events: the opening program change, then the notes from the end of the lead-in on.
    const std::optional<MidiFile> file = ReadMidiFile(test::StartScoreImage());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->events.front().status, 0xC0);
    EXPECT_EQ(FirstNoteEventTick(*file), 32);
    EXPECT_EQ(FirstSoundingTick(*file), std::optional<std::int64_t>(32));
    EXPECT_TRUE(std::any_of(file->events.begin(), file->events.end(), [](const MidiChannelEvent& e) {
        return e.status == 0x90 && e.data1 == 0xFF;
    })) << "a hold's filler key is kept as it is";
}

// Events of several tracks merge in tick order; a tempo change sets the time of the ticks after it.
TEST(ReadMidiFile, EventsAndTheirTimes) {
    const std::string slow = std::string("\x00\xFF\x51\x03\x0F\x42\x40", 7); // 1,000,000 µs a quarter
    const std::string first = std::string("\x00\x90\x3C\x64\x60\x80\x3C\x40", 8) + EndOfTrackEvent;
    const std::string second = std::string("\x30\xC1\x05", 3) + slow + EndOfTrackEvent;
    const std::string bytes = Header(1, 2, 96) + Track(first) + Track(second);
    const std::optional<MidiFile> file = ReadMidiFile(bytes);
    ASSERT_TRUE(file);
    // Read again into the same file: its lists are emptied, not added to.
    MidiFile reused = *file;
    ASSERT_TRUE(ReadMidiFile(bytes, reused));
    EXPECT_EQ(reused.events.size(), file->events.size());
    EXPECT_EQ(reused.facts.totalTicks, file->facts.totalTicks);
    std::vector<std::pair<std::int64_t, int>> order;
    for (const MidiChannelEvent& e : file->events)
        order.emplace_back(e.tick, e.status);
    EXPECT_EQ(order, (std::vector<std::pair<std::int64_t, int>>{{0, 0x90}, {48, 0xC1}, {96, 0x80}}));
    ASSERT_EQ(file->tempos.size(), 1u);

    // 48 ticks at 500,000 µs a quarter (0.25 s), then 1,000,000 µs a quarter: 96 ticks are 0.75 s.
    const MidiClock clock(*file, 1000);
    const struct {
        std::int64_t tick;
        std::int64_t frame;
    } times[] = {{0, 0}, {48, 250}, {96, 750}, {192, 1750}};
    for (const auto& t : times) {
        SCOPED_TRACE(t.tick);
        EXPECT_EQ(clock.FrameOf(t.tick), t.frame);
        EXPECT_EQ(clock.TickAt(t.frame), t.tick);
    }
    EXPECT_EQ(clock.TickAt(-5), 0);
    EXPECT_EQ(FirstNoteEventTick(*file), 0);
}

TEST(ReadMidiFileFacts, ReadableFiles) {
    const std::string note = std::string("\x00\x90\x3C\x64\x60\x80\x3C\x40", 8); // 96 ticks
    const struct {
        const char* what;
        std::string bytes;
        std::int32_t tracks;
        std::int64_t ticks;
    } cases[] = {
        {"one note", Header(0, 1, 96) + Track(note + EndOfTrackEvent), 1, 96},
        {"delta on the end of track counts",
         Header(0, 1, 96) + Track(note + std::string("\x30\xFF\x2F\x00", 4)), 1, 144},
        {"no end of track: the chunk ends the track", Header(0, 1, 96) + Track(note), 1, 96},
        {"running status",
         Header(0, 1, 96) + Track(std::string("\x00\x90\x3C\x64\x60\x3C\x00", 7) + EndOfTrackEvent), 1, 96},
        {"four-byte delta", Header(0, 1, 96) + Track(std::string("\x81\x80\x80\x00\xFF\x2F\x00", 7)), 1,
         1 << 21},
        {"events after the end of track are ignored",
         Header(0, 1, 96) + Track(EndOfTrackEvent + std::string("\x7F\x90\x3C", 3)), 1, 0},
        {"longest of two tracks", Header(1, 2, 96) + Track(note + EndOfTrackEvent) + Track(EndOfTrackEvent),
         2, 96},
        {"chunk of another kind passed over",
         Header(0, 1, 96) + "XFIH" + Big32(3) + "abc" + Track(note + EndOfTrackEvent), 1, 96},
        {"meta and system exclusive events",
         Header(0, 1, 96) + Track(std::string("\x00\xFF\x51\x03\x07\xA1\x20\x00\xF0\x02\x7E\xF7", 12) + note +
                                  EndOfTrackEvent),
         1, 96},
        {"no track", Header(0, 0, 96), 0, 0},
        {"a delta at the end under the running status of a program change",
         Header(0, 1, 96) + Track(std::string("\x00\xC0\x05\x10", 4)), 1, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<MidiFileFacts> facts = ReadMidiFileFacts(c.bytes);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->trackCount, c.tracks);
        EXPECT_EQ(facts->totalTicks, c.ticks);
    }
}

TEST(ReadMidiFileFacts, UnreadableFiles) {
    const std::string good = Header(0, 1, 96) + Track(EndOfTrackEvent);
    std::string longHeader = good;
    longHeader[7] = 8;
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "ロツレチ, not a MIDI file at all"},
        {"header cut short", good.substr(0, 13)},
        {"header length not 6", longHeader},
        {"format 3", Header(3, 1, 96) + Track(EndOfTrackEvent)},
        {"SMPTE timing", Header(0, 1, 0xE728) + Track(EndOfTrackEvent)},
        {"division 0", Header(0, 1, 0) + Track(EndOfTrackEvent)},
        {"more tracks than the sequencer plays", Header(1, 129, 96)},
        {"track missing", Header(0, 2, 96) + Track(EndOfTrackEvent)},
        {"track longer than the file", good.substr(0, good.size() - 1)},
        {"event cut by the end of its chunk", Header(0, 1, 96) + Track(std::string("\x00\x90\x3C", 3))},
        {"delta at the end under the running status of a note",
         Header(0, 1, 96) + Track(std::string("\x00\x90\x3C\x64\x60", 5))},
        {"running status cut after its first data byte",
         Header(0, 1, 96) + Track(std::string("\x00\x90\x3C\x64\x60\x3C", 6))},
        {"five-byte delta", Header(0, 1, 96) + Track(std::string("\x81\x80\x80\x80\x00\xFF\x2F\x00", 8))},
        {"data byte without running status", Header(0, 1, 96) + Track(std::string("\x00\x3C\x64", 3))},
        {"running status after a meta event",
         Header(0, 1, 96) + Track(std::string("\x00\x90\x3C\x64\x00\xFF\x01\x00\x00\x3C\x00", 11))},
        {"system common status", Header(0, 1, 96) + Track(std::string("\x00\xF2\x00\x00", 4))},
        {"tempo of the wrong length", Header(0, 1, 96) + Track(std::string("\x00\xFF\x51\x02\x07\xA1", 6))},
        {"chunk name not ASCII", Header(0, 1, 96) + "\xFFTrk" + Big32(0)},
    };
    // A file read into one that held another is refused as a fresh one, and left with no event.
    const std::string notes = Header(0, 1, 96) + Track(std::string("\x00\x90\x3C\x64\x60\x80\x3C\x40", 8));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ReadMidiFileFacts(c.bytes));
        MidiFile reused;
        ASSERT_TRUE(ReadMidiFile(notes, reused));
        EXPECT_FALSE(ReadMidiFile(c.bytes, reused));
        EXPECT_TRUE(reused.events.empty());
        EXPECT_EQ(reused.facts.trackCount, 0);
    }
}

} // namespace
} // namespace nagisora
