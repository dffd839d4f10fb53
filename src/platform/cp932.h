#pragma once

// Code page 932 (Shift-JIS) text: conversion to and from UTF-8 through the C library's iconv, and a test
// whether bytes are UTF-8 text. Score bytes themselves are never decoded by the notation; this is for showing
// them in the window and for taking typed text back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// The characters U+EF00 to U+EFFF stand for single bytes (code point - U+EF00) that are not code page 932
// text, so that decoded bytes are encoded back unchanged. Code page 932's own user-defined area decodes to
// U+E000..U+E757 and never meets this range.
inline constexpr char32_t RawByteBase = 0xEF00;

// What a character that code page 932 lacks becomes.
inline constexpr char UnmappableByte = '?';

inline constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

struct CharPosition {
    std::size_t line;   // 1-based; lines end at LF, CR LF or CR
    std::size_t column; // 1-based, counted in characters

    bool operator==(const CharPosition&) const = default;
};

struct Cp932Text {
    std::string bytes;
    std::vector<CharPosition> unmappable; // where "?" stands for a character that could not be encoded
    // Where each character of the input begins in bytes, in input order, and the length of bytes at the end:
    // what lets an editor place a byte offset of the score among its own characters.
    std::vector<std::uint32_t> charStarts;
};

// UTF-8 to code page 932. A character that code page 932 lacks, and every byte that is not part of valid
// UTF-8, becomes "?" and its position is recorded. U+EF00..U+EFFF become the single byte they stand for.
Cp932Text EncodeCp932(std::string_view utf8);

// Code page 932 to UTF-8, losing nothing: EncodeCp932(DecodeCp932(b)).bytes == b for every byte string b. A
// byte or byte pair that is no code page 932 character, or a character that encodes back to other bytes (a
// duplicate of the NEC and IBM extensions), becomes one U+EF00+byte character per byte.
std::string DecodeCp932(std::string_view bytes);

// True when the bytes start with the UTF-8 byte-order mark, or are valid UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF) holding at least one multi-byte character.
bool LooksLikeUtf8(std::string_view bytes);

} // namespace nagisora
