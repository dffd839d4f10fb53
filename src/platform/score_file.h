#pragma once

// A score file as the reader and the window take it: code page 932 lines, also from a file saved as UTF-8.

#include "cp932.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// The text of a score file as code page 932 bytes, before it is split into lines.
struct ScoreFileText {
    std::string bytes;                    // the file's own bytes, or its UTF-8 text converted
    bool fromUtf8 = false;                // the file was UTF-8 text and has been converted
    std::vector<CharPosition> unmappable; // characters of a UTF-8 file that became "?", for warnings
    // Of a UTF-8 file: where each of its characters (after the byte-order mark) begins in bytes, and the
    // length of bytes at the end, to name places in bytes by the file's own lines and columns.
    std::vector<std::uint32_t> charStarts;
};

// A file that looks like UTF-8 loses its byte-order mark and what follows a byte 1A, and is converted to code
// page 932; any other file is taken byte for byte.
ScoreFileText ScoreFileTextOf(std::string fileBytes);

struct ScoreFileContents {
    std::vector<std::string> lines;       // code page 932 bytes without line ends
    bool fromUtf8 = false;                // the file was UTF-8 text and has been converted
    std::vector<CharPosition> unmappable; // characters of a UTF-8 file that became "?", for warnings
};

// The lines of the file's text (ScoreFileTextOf): they end at CR LF, CR or LF; a byte 1A ends the text; an
// empty file has no line.
ScoreFileContents DecodeScoreFile(std::string_view fileBytes);

// Reads and decodes the file; a failure to read it throws Failure.
ScoreFileContents LoadScoreFile(const std::string& path);

} // namespace nagisora
