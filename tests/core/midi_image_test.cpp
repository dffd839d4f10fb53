#include "core/midi_image.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

namespace nagisora {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : bytes) {
        if (!hex.empty()) hex += ' ';
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::string MakeImage(const std::vector<NoteEvent>& events, const TrackSettings& track = TrackSettings{}) {
    NoteEventList list{};
    std::copy(events.begin(), events.end(), list.begin());
    return MakeHeaderChunk(1, 90) + MakeTrackChunk(list, static_cast<std::int32_t>(events.size()), track) +
           std::string(EndOfTrack);
}

TEST(MidiImage, TwoNotesAtTheDefaults) {
    const std::string image = MakeImage({{-1, 62, 120}, {-1, 69, 240}});
    EXPECT_EQ(Hex(image), "4D 54 68 64 00 00 00 06 00 00 00 01 00 5A 4D 54 72 6B 00 00 00 18 00 C0 00 20 "
                          "90 3E 40 78 80 3E 40 00 90 45 40 81 70 80 45 40 00 FF 2F 00");
    EXPECT_EQ(image.size(), 46u);
}

TEST(MidiImage, TimbreHoldRestAndNote) {
    NoteEventList list{};
    list[0] = {0x4D, 62, 120};
    list[1] = {-1, -1, 60};
    list[2] = {-1, 0, 60};
    list[3] = {-1, 64, 30};
    EXPECT_EQ(Hex(MakeTrackChunk(list, 4, TrackSettings{})),
              "4D 54 72 6B 00 00 00 22 00 C0 00 20 C0 4D 00 90 3E 40 78 90 FF 00 3C 80 3E 00 3C 80 3E 40 00 "
              "90 40 40 1E 80 40 40 00");
}

TEST(MidiImage, EmptyList) {
    EXPECT_EQ(Hex(MakeImage({})),
              "4D 54 68 64 00 00 00 06 00 00 00 01 00 5A 4D 54 72 6B 00 00 00 0B 00 C0 00 20 "
              "80 00 40 00 FF 2F 00");
}

TEST(MidiImage, SettingsAndGroups) {
    struct Case {
        const char* name;
        std::vector<NoteEvent> events;
        TrackSettings track;
        std::string body; // the bytes after the lead-in 00 C0 <instrument> 20
    };
    const Case cases[] = {
        {"starts with a rest",
         {{-1, 0, 60}, {-1, 62, 120}},
         {},
         Bytes({0x80, 0, 0, 60, 0x80, 0, 0x40, 0, 0x90, 62, 0x40, 120, 0x80, 62, 0x40, 0})},
        {"starts with a hold",
         {{-1, -1, 60}, {-1, 62, 120}},
         {},
         Bytes({0x90, 0xFF, 0, 60, 0x80, 0, 0x40, 0, 0x90, 62, 0x40, 120, 0x80, 62, 0x40, 0})},
        {"score timbres off",
         {{5, 62, 120}},
         {0, 64, false},
         Bytes({0x90, 62, 0x40, 120, 0x80, 62, 0x40, 0})},
        {"repeated timbres each give a program change",
         {{5, 62, 120}, {5, 64, 120}},
         {},
         Bytes({0xC0, 5, 0, 0x90, 62, 0x40, 120, 0x80, 62, 0x40, 0,
                0xC0, 5, 0, 0x90, 64, 0x40, 120, 0x80, 64, 0x40, 0})},
        {"timbre above 127 is written as its low byte",
         {{255, 62, 120}},
         {},
         Bytes({0xC0, 0xFF, 0, 0x90, 62, 0x40, 120, 0x80, 62, 0x40, 0})},
        {"volume 0",
         {{-1, 62, 120}, {-1, 0, 60}},
         {0, 0, true},
         Bytes({0x90, 62, 0, 120, 0x80, 62, 0, 60, 0x80, 62, 0, 0})},
        {"rest after a note turns the same key off",
         {{-1, 62, 120}, {-1, 0, 60}, {-1, 64, 30}},
         {},
         Bytes({0x90, 62, 0x40, 120, 0x80, 62, 0,    60, 0x80, 62,
                0x40, 0,  0x90, 64,  0x40, 30, 0x80, 64, 0x40, 0})},
    };
    for (const Case& c : cases) {
        const std::string image = MakeImage(c.events, c.track);
        ASSERT_GE(image.size(), 29u) << c.name;
        EXPECT_EQ(Hex(image.substr(26, image.size() - 29)), Hex(c.body)) << c.name;
    }
}

TEST(MidiImage, HeaderCarriesTempoAsDivision) {
    EXPECT_EQ(Hex(MakeHeaderChunk(1, 254)), "4D 54 68 64 00 00 00 06 00 00 00 01 00 FE");
    EXPECT_EQ(Hex(MakeHeaderChunk(1, 30)), "4D 54 68 64 00 00 00 06 00 00 00 01 00 1E");
}

TEST(MidiImage, InstrumentInTheLeadIn) {
    const std::string track = MakeTrackChunk(NoteEventList{}, 0, TrackSettings{77, 64, true});
    EXPECT_EQ(Hex(track.substr(8, 4)), "00 C0 4D 20");
}

TEST(MidiImage, LengthFieldCountsBodyAndEndOfTrack) {
    // Holds of 0 ticks write four bytes each: 74 of them and the closing note-off give a body of 300 bytes.
    NoteEventList list{};
    for (int k = 0; k < 74; ++k)
        list[k] = {-1, -1, 0};
    const std::string track = MakeTrackChunk(list, 74, TrackSettings{});
    EXPECT_EQ(Hex(track.substr(4, 4)), "00 00 01 33");
    EXPECT_EQ(track.size(), 12u + 300u);
}

TEST(DeltaTime, VariableLengthQuantity) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "00"},           {127, "7F"},           {128, "81 00"},           {16383, "FF 7F"},
        {16384, "81 80 00"}, {2097151, "FF FF 7F"}, {2097152, "81 80 80 00"}, {268435455, "FF FF FF 7F"},
        {120, "78"},         {240, "81 70"},
    };
    for (const auto& [value, hex] : cases)
        EXPECT_EQ(Hex(DeltaTime(value)), hex) << value;
}

} // namespace
} // namespace nagisora
