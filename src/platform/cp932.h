#pragma once

// Code page 932 (Shift-JIS) text: conversion to and from UTF-8 through the C library's iconv, and a test
// whether bytes are UTF-8 text. Score bytes themselves are never decoded by the notation; this is for showing
// them in the window and for taking typed text back.

#include "core/score_place.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// The characters U+EF00 to U+EFFF stand for single bytes (code point - U+EF00) that are not code page 932
// text, so that decoded bytes are encoded back unchanged. Code page 932's own user-defined area decodes to
// U+E000..U+E757 and never meets this range.
inline constexpr char32_t RawByteBase = 0xEF00;

// A character that code page 932 holds in more than one form (the NEC-selected IBM extensions, the NEC row-13
// symbols and their IBM twins) decodes from the form that encodes back to itself as the character alone, and
// from each other form as the character followed by an invisible variation selector: the first other form in
// byte order by VS13 (U+FE0C), the second by VS14 (U+FE0D). No standardized variation sequence uses these two
// selectors, so fonts draw the character as usual; encoding turns each pair back into its own form.
inline constexpr char32_t FirstFormSelector = 0xFE0C;
inline constexpr char32_t SecondFormSelector = 0xFE0D;

// What a character that code page 932 lacks becomes.
inline constexpr char UnmappableByte = '?';

inline constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

// Where a character stands in a text: its line and column.
using CharPosition = ScorePlace;

struct Cp932Text {
    std::string bytes;
    // Where "?" stands for a character that could not be encoded: all of them, or the first ones, as many as
    // the encoding keeps; unmappableCount counts all of them.
    std::vector<CharPosition> unmappable;
    std::size_t unmappableCount = 0;
    // Where each character of the input begins in bytes, in input order, and the length of bytes at the end:
    // what lets an editor place a byte offset of the score among its own characters. Empty when the encoding
    // does not keep them.
    std::vector<std::uint32_t> charStarts;
};

// What the marks are that the window's text holds for what code page 932 text has and Unicode lacks
// (U+EF00..U+EFFF for bytes that are no character, FirstFormSelector and SecondFormSelector for other forms).
enum class WindowMarks {
    Restore, // the bytes they stand for: text that DecodeCp932 made, as the window shows it
    AsText,  // characters like any other, which code page 932 lacks: text from elsewhere (a UTF-8 file)
};

// How a text is encoded, besides its bytes. A file's text needs neither every place of its unmappable
// characters nor the start of every character, which would take many times the size of the file.
struct Cp932Encoding {
    WindowMarks marks = WindowMarks::Restore;
    std::size_t keptPositions = std::numeric_limits<std::size_t>::max();
    bool charStarts = true;
};

// UTF-8 to code page 932. A character that code page 932 lacks, and every byte that is not part of valid
// UTF-8, becomes "?" and its position is recorded. With the window's marks restored, U+EF00..U+EFFF become
// the single byte they stand for, and a character followed by the selector of one of its other forms becomes
// that form; the selector takes no byte (its charStarts entry is the end of the character) and no column.
Cp932Text EncodeCp932(std::string_view utf8, const Cp932Encoding& encoding = {});

// Code page 932 to UTF-8, losing nothing: EncodeCp932(DecodeCp932(b)).bytes == b for every byte string b. A
// byte or byte pair that is no code page 932 character becomes one U+EF00+byte character per byte; another
// form of a character becomes the character and its form's selector.
std::string DecodeCp932(std::string_view bytes);

// True when the bytes start with the UTF-8 byte-order mark, or are valid UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF) holding at least one multi-byte character.
bool LooksLikeUtf8(std::string_view bytes);

} // namespace nagisora
