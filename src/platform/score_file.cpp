#include "platform/score_file.h"

#include "platform/file_io.h"

#include <limits>

namespace nagisora {
namespace {

// The text up to its end-of-text byte; 1A cannot occur inside a UTF-8 sequence.
std::string_view BeforeEndOfText(std::string_view bytes) {
    return bytes.substr(0, bytes.find(EndOfText));
}

// The text of a UTF-8 file without the byte-order mark. Cutting before the conversion keeps warnings to the
// lines that are read.
std::string_view Utf8Text(std::string_view fileBytes) {
    if (fileBytes.starts_with(Utf8ByteOrderMark)) fileBytes.remove_prefix(Utf8ByteOrderMark.size());
    return BeforeEndOfText(fileBytes);
}

} // namespace

ScoreFileText ScoreFileTextOf(std::string fileBytes, Utf8Places places) {
    if (!LooksLikeUtf8(BeforeEndOfText(fileBytes)))
        return ScoreFileText{std::move(fileBytes), false, {}, 0, {}};
    const bool all = places == Utf8Places::All;
    Cp932Text converted =
        EncodeCp932(Utf8Text(fileBytes),
                    Cp932Encoding{WindowMarks::AsText,
                                  all ? std::numeric_limits<std::size_t>::max() : KeptPositions, all});
    return ScoreFileText{std::move(converted.bytes), true, std::move(converted.unmappable),
                         converted.unmappableCount, std::move(converted.charStarts)};
}

ScoreFileText LoadScoreFile(const std::string& path, std::size_t limit) {
    return ScoreFileTextOf(ReadFileBytes(path, limit));
}

} // namespace nagisora
