#include "platform/cp932.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace nagisora {
namespace {

using Positions = std::vector<CharPosition>;

// U+EF00 + byte in UTF-8, how a byte that is no character survives decoding.
std::string Raw(unsigned char byte) {
    const char32_t codePoint = RawByteBase + byte;
    return {static_cast<char>(0xE0 | (codePoint >> 12)), static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)),
            static_cast<char>(0x80 | (codePoint & 0x3F))};
}

std::string RoundTrip(std::string_view bytes) {
    return EncodeCp932(DecodeCp932(bytes)).bytes;
}

struct EncodeCase {
    const char* name;
    std::string utf8;
    std::string bytes;
    Positions unmappable;
    WindowMarks marks = WindowMarks::Restore;
};

// Shown by its name in test listings.
void PrintTo(const EncodeCase& c, std::ostream* out) {
    *out << c.name;
}

class EncodeTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, GivesBytesAndPositionsOfUnmappableCharacters) {
    const Cp932Text text = EncodeCp932(GetParam().utf8, {GetParam().marks});
    EXPECT_EQ(text.bytes, GetParam().bytes);
    EXPECT_EQ(text.unmappable, GetParam().unmappable);
    EXPECT_EQ(text.unmappableCount, GetParam().unmappable.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cp932, EncodeTest,
    testing::Values(
        EncodeCase{"Empty", "", "", {}}, EncodeCase{"Ascii", "//0c 1A\r\n", "//0c 1A\r\n", {}},
        EncodeCase{
            "Notation", "ロツレ　－＋３", "\x83\x8D\x83\x63\x83\x8C\x81\x40\x81\x7C\x81\x7B\x82\x52", {}},
        EncodeCase{"HalfWidthKatakana", "ﾌｧｲﾙ", "\xCC\xA7\xB2\xD9", {}},
        EncodeCase{"UserDefinedArea", "\uE000", "\xF0\x40", {}},
        EncodeCase{"RawBytes", Raw(0x80) + "ロ" + Raw(0xFF) + Raw(0x0D), "\x80\x83\x8D\xFF\x0D", {}},
        EncodeCase{"RawBytesAsCharacters", Raw(0x80) + "ロ", "?\x83\x8D", {{1, 1}}, WindowMarks::AsText},
        EncodeCase{"UnmappableOnFirstLine", "ロé😀", "\x83\x8D??", {{1, 2}, {1, 3}}},
        EncodeCase{"OtherFormsTakeNoColumnForTheSelector", "∵\uFE0D纊\uFE0Cé", "\xFA\x5B\xED\x40?", {{1, 3}}},
        EncodeCase{"SelectorWithoutSuchForm", "ロ\uFE0C∵\uFE0E", "\x83\x8D?\x81\xE6?", {{1, 2}, {1, 4}}},
        EncodeCase{"LinesEndAtLfCrLfAndCr",
                   "a\né\r\nbé\rccé\n\n" + Raw(0x80) + "é",
                   "a\n?\r\nb?\rcc?\n\n\x80?",
                   {{2, 1}, {3, 2}, {4, 3}, {6, 2}}},
        EncodeCase{
            "InvalidUtf8BytesOneEach", "a\xE3\x83\n\xC0\xAF", "a??\n??", {{1, 2}, {1, 3}, {2, 1}, {2, 2}}},
        EncodeCase{"SurrogateAndBeyondRange",
                   "\xED\xA0\x80x\xF4\x90\x80\x80",
                   "???x????",
                   {{1, 1}, {1, 2}, {1, 3}, {1, 5}, {1, 6}, {1, 7}, {1, 8}}}),
    [](const testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string utf8;
};

// Shown by its name in test listings.
void PrintTo(const DecodeCase& c, std::ostream* out) {
    *out << c.name;
}

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesUtf8AndEncodesBack) {
    EXPECT_EQ(DecodeCp932(GetParam().bytes), GetParam().utf8);
    EXPECT_EQ(RoundTrip(GetParam().bytes), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cp932, DecodeTest,
    testing::Values(DecodeCase{"Ascii", std::string("\0\x1A\\~\x7F", 5), std::string("\0\x1A\\~\x7F", 5)},
                    DecodeCase{"Notation", "\x8D\x62\x83\x8D\x81\x5B\x81\x9B", "甲ロー○"},
                    DecodeCase{"HalfWidthKatakana", "\xB1\xDF", "ｱﾟ"},
                    DecodeCase{"UserDefinedArea", "\xF0\x40\xF9\xFC", "\uE000\uE757"},
                    DecodeCase{"BytesOutsideTheCodePage", "\x80\xA0\xFD\xFE\xFF",
                               Raw(0x80) + Raw(0xA0) + Raw(0xFD) + Raw(0xFE) + Raw(0xFF)},
                    DecodeCase{"LeadByteAtTheEnd", "a\x83", "a" + Raw(0x83)},
                    DecodeCase{"LeadByteBeforeLineEnd", "\x81\r\n\x83\x8D", Raw(0x81) + "\r\nロ"},
                    DecodeCase{"UnassignedPairKeptWhole", "\x85\x40\x41", Raw(0x85) + Raw(0x40) + "A"},
                    // The form that encodes back to itself is the character alone; the other forms, in byte
                    // order, add VS13 and VS14.
                    DecodeCase{"NecRow13Form", "\x87\x90\x41\x81\xE0", "≒\uFE0CA≒"},
                    DecodeCase{"NecSelectedIbmForms", "\xFA\x40\xED\x40\xFA\x5C\xED\x95\xEE\xE0",
                               "ⅰ纊\uFE0C纊﨑\uFE0C髙\uFE0C"},
                    DecodeCase{"ThreeForms", "\x81\xE6\x87\x9A\xFA\x5B\x81\xCA\xEE\xF9\xFA\x54",
                               "∵∵\uFE0C∵\uFE0D￢￢\uFE0C￢\uFE0D"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

// The selector of another form takes no byte: it starts where its character ends.
TEST(Cp932CharStarts, SelectorStartsAtTheEndOfItsCharacter) {
    EXPECT_EQ(EncodeCp932("a∵\uFE0Dロ").charStarts, (std::vector<std::uint32_t>{0, 1, 3, 3, 5}));
}

TEST(Cp932RoundTrip, EverySingleByte) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::string bytes(1, static_cast<char>(byte));
        EXPECT_EQ(RoundTrip(bytes), bytes) << "byte " << byte;
    }
}

TEST(Cp932RoundTrip, EveryBytePair) {
    int failures = 0;
    for (int pair = 0; pair < 0x10000 && failures < 10; ++pair) {
        const std::string bytes{static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
        if (RoundTrip(bytes) != bytes) {
            ADD_FAILURE() << "pair " << std::hex << pair;
            ++failures;
        }
    }
}

TEST(Cp932RoundTrip, RandomStrings) {
    std::mt19937 generator(932);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int sample = 0; sample < 5000; ++sample) {
        std::string bytes(static_cast<std::size_t>(length(generator)), '\0');
        for (char& c : bytes)
            c = static_cast<char>(byte(generator));
        ASSERT_EQ(RoundTrip(bytes), bytes) << "sample " << sample;
    }
}

TEST(Cp932RoundTrip, DecodedTextIsValidUtf8) {
    const std::string bytes = "\x83\x8D\x80\x87\x90\xFF\x81";
    EXPECT_TRUE(LooksLikeUtf8(DecodeCp932(bytes)));
}

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool utf8;
};

// Shown by its name in test listings.
void PrintTo(const Utf8Case& c, std::ostream* out) {
    *out << c.name;
}

class LooksLikeUtf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(LooksLikeUtf8Test, Decides) {
    EXPECT_EQ(LooksLikeUtf8(GetParam().bytes), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Cp932, LooksLikeUtf8Test,
    testing::Values(
        Utf8Case{"Empty", "", false}, Utf8Case{"AsciiOnly", "abc\r\n", false},
        Utf8Case{"ByteOrderMarkAlone", "\xEF\xBB\xBF", true},
        Utf8Case{"ByteOrderMarkBeforeInvalid", "\xEF\xBB\xBF\xFF", true},
        Utf8Case{"Katakana", "ロツレ\r\n", true}, Utf8Case{"FourByteCharacter", "a😀", true},
        Utf8Case{"HighestCodePoint", "\xF4\x8F\xBF\xBF", true},
        Utf8Case{"ShiftJisNotation", "\x83\x8D\x83\x63", false}, Utf8Case{"OverlongSlash", "\xC0\xAF", false},
        Utf8Case{"OverlongThreeBytes", "\xE0\x80\xAF", false}, Utf8Case{"Surrogate", "\xED\xA0\x80", false},
        Utf8Case{"AboveU10FFFF", "\xF4\x90\x80\x80", false}, Utf8Case{"CutOffAtEnd", "ロ\xE3\x83", false},
        Utf8Case{"ValidThenStrayContinuation", "ロ\x80", false}),
    [](const testing::TestParamInfo<Utf8Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace nagisora
