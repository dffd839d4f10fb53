#include "score_file_lines.h"

#include <algorithm>
#include <cstring>

namespace nagisora {

std::vector<std::string_view> SplitScoreFileLines(std::string_view bytes) {
    const std::string_view text = bytes.substr(0, std::min(bytes.find(EndOfText), bytes.size()));
    // The next CR and the next LF are looked up with memchr and kept until passed, so that a file using only
    // one of them is still scanned once.
    const auto next = [&text](char c, std::size_t from) {
        const void* found = std::memchr(text.data() + from, c, text.size() - from);
        return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) : text.size();
    };
    std::vector<std::string_view> lines;
    std::size_t nextCr = next('\r', 0);
    std::size_t nextLf = next('\n', 0);
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (nextCr < pos) nextCr = next('\r', pos);
        if (nextLf < pos) nextLf = next('\n', pos);
        const std::size_t end = std::min(nextCr, nextLf);
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (end == nextCr && nextLf == pos) ++pos; // CR LF is one line end
    }
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
