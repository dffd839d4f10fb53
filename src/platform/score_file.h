#pragma once

// A score file as the reader and the window take it: code page 932 text, also from a file saved as UTF-8.

#include "core/score_file_lines.h"
#include "platform/cp932.h"
#include "platform/file_io.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// How many places of characters that became "?" a score file's text keeps for its warnings; the rest are
// only counted.
inline constexpr std::size_t KeptPositions = 20;

// What the text of a UTF-8 file keeps besides its bytes.
enum class Utf8Places {
    Warnings, // the first KeptPositions places of the characters that became "?", and their count
    All, // every such place, and where each character begins (charStarts): to name any place by the file's
         // own lines and columns; four bytes more a character
};

// The text of a score file as code page 932 bytes, before it is split into lines.
struct ScoreFileText {
    std::string bytes;     // the file's own bytes, or its UTF-8 text converted
    bool fromUtf8 = false; // the file was UTF-8 text and has been converted
    // Characters of a UTF-8 file that became "?": their places (as many as Utf8Places keeps), and the count.
    std::vector<CharPosition> unmappable;
    std::size_t unmappableCount = 0;
    // Of a UTF-8 file read with Utf8Places::All: where each of its characters (after the byte-order mark)
    // begins in bytes, and the length of bytes at the end, to name places in bytes by the file's own lines
    // and columns.
    std::vector<std::uint32_t> charStarts;

    // The lines of the text (SplitScoreFileLines): they end at CR LF, CR or LF; a byte 1A ends the text; an
    // empty file has no line. The views point into bytes.
    ScoreFileLines Lines() const { return ScoreFileLines(bytes); }
};

// A file whose text before its end-of-text byte 1A looks like UTF-8 loses its byte-order mark and what
// follows the 1A, and is converted to code page 932; any other file is taken byte for byte. The window's
// marks in a UTF-8 file (U+EF00 to U+EFFF, the form selectors) are characters that code page 932 lacks, not
// what they stand for in the window.
ScoreFileText ScoreFileTextOf(std::string fileBytes, Utf8Places places = Utf8Places::Warnings);

// The largest score file that the window opens and the checker checks. Both keep a view of their own of every
// line, unit and note (the score area some hundreds of bytes a line), so they take less than the conversion
// does: still some thirty times the 4096-note example (30 KB), and a file of nothing but line ends opens in
// seconds instead of filling the memory.
inline constexpr std::size_t EditedScoreLimit = 1024 * 1024;

// Reads (at most limit bytes, file_io.h) and decodes the file; a failure to read it throws Failure.
ScoreFileText LoadScoreFile(const std::string& path, std::size_t limit = ScoreFileLimit);

} // namespace nagisora
