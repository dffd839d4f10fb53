#include "core/score_file_lines.h"

#include <algorithm>
#include <cstring>

namespace nagisora {
namespace {

std::size_t Find(std::string_view text, char c, std::size_t from) {
    const void* found = std::memchr(text.data() + from, c, text.size() - from);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) : text.size();
}

} // namespace

ScoreFileLines::ScoreFileLines(std::string_view bytes)
    : text_(bytes.substr(0, std::min(bytes.find(EndOfText), bytes.size()))) {}

ScoreFileLines::Iterator::Iterator(std::string_view text)
    : text_(text), start_(text.empty() ? 1 : 0), nextCr_(Find(text, '\r', 0)), nextLf_(Find(text, '\n', 0)) {
    if (!text.empty()) FindEnd();
}

void ScoreFileLines::Iterator::FindEnd() {
    if (nextCr_ < start_) nextCr_ = Find(text_, '\r', start_);
    if (nextLf_ < start_) nextLf_ = Find(text_, '\n', start_);
    end_ = std::min(nextCr_, nextLf_);
}

ScoreFileLines::Iterator& ScoreFileLines::Iterator::operator++() {
    std::size_t next = end_ + 1;
    if (end_ == nextCr_ && nextLf_ == next) ++next; // CR LF is one line end
    start_ = next;
    if (start_ >= text_.size()) {
        start_ = text_.size() + 1; // the end of the text ends the last line: no empty line after it
        return *this;
    }
    FindEnd();
    return *this;
}

std::vector<std::string_view> SplitScoreFileLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    for (const std::string_view line : ScoreFileLines(bytes))
        lines.push_back(line);
    return lines;
}

std::string JoinScoreFileLines(std::span<const std::string> lines) {
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + LineEnd.size();
    std::string bytes;
    bytes.reserve(size);
    for (const std::string& line : lines) {
        bytes.append(line);
        bytes.append(LineEnd);
    }
    return bytes;
}

} // namespace nagisora
