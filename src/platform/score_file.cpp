#include "score_file.h"

#include "file_io.h"
#include "score_file_lines.h"

namespace nagisora {
namespace {

std::vector<std::string> CopyLines(std::string_view bytes) {
    const std::vector<std::string_view> views = SplitScoreFileLines(bytes);
    return {views.begin(), views.end()};
}

// The text of a UTF-8 file up to its end-of-text byte, without the byte-order mark. Cutting before the
// conversion keeps warnings to the lines that are read; 1A cannot occur inside a UTF-8 sequence.
std::string_view Utf8Text(std::string_view fileBytes) {
    if (fileBytes.starts_with(Utf8ByteOrderMark)) fileBytes.remove_prefix(Utf8ByteOrderMark.size());
    return fileBytes.substr(0, fileBytes.find(EndOfText));
}

} // namespace

ScoreFileText ScoreFileTextOf(std::string fileBytes) {
    if (!LooksLikeUtf8(fileBytes)) return ScoreFileText{std::move(fileBytes), false, {}, {}};
    Cp932Text converted = EncodeCp932(Utf8Text(fileBytes));
    return ScoreFileText{std::move(converted.bytes), true, std::move(converted.unmappable),
                         std::move(converted.charStarts)};
}

ScoreFileContents DecodeScoreFile(std::string_view fileBytes) {
    ScoreFileText text = ScoreFileTextOf(std::string(fileBytes));
    return ScoreFileContents{CopyLines(text.bytes), text.fromUtf8, std::move(text.unmappable)};
}

ScoreFileContents LoadScoreFile(const std::string& path) {
    return DecodeScoreFile(ReadFileBytes(path));
}

} // namespace nagisora
