#pragma once

// Score lines for the tests, written as UTF-8 in the test source and turned into code page 932 bytes by the
// C library's iconv, so that the core's tests need nothing of the platform layer.

#include "test_files.h"

#include <cerrno>
#include <iconv.h>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora::test {

// Text from one encoding to another; a character the other lacks becomes "?", as the window's encoding makes
// it.
inline std::string Recode(std::string_view text, const char* from, const char* to) {
    const bool fromUtf8 = std::string_view(from) == "UTF-8";
    const iconv_t codec = iconv_open(to, from);
    if (codec == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv cannot convert the test's text");
    std::string bytes(text.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* out = bytes.data();
    std::size_t outLeft = bytes.size();
    while (inLeft > 0 && iconv(codec, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) {
        if (errno != EILSEQ && errno != EINVAL) break;
        *out++ = '?';
        --outLeft;
        do { // past the character: its first byte, and the rest of a UTF-8 sequence
            ++in;
            --inLeft;
        } while (fromUtf8 && inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    }
    iconv_close(codec);
    bytes.resize(bytes.size() - outLeft);
    return bytes;
}

inline std::string Sjis(std::string_view utf8) {
    return Recode(utf8, "UTF-8", "CP932");
}

inline std::string Utf8(std::string_view sjis) {
    return Recode(sjis, "CP932", "UTF-8");
}

class ScoreLines {
  public:
    ScoreLines(std::initializer_list<std::string_view> utf8Lines) {
        for (std::string_view line : utf8Lines)
            bytes_.push_back(Sjis(line));
        Refresh();
    }
    explicit ScoreLines(std::vector<std::string> sjisLines) : bytes_(std::move(sjisLines)) { Refresh(); }

    ScoreLines(const ScoreLines& other) : bytes_(other.bytes_) { Refresh(); }
    ScoreLines& operator=(const ScoreLines&) = delete;

    std::span<const std::string_view> View() const { return views_; }
    operator std::span<const std::string_view>() const { return views_; }

  private:
    void Refresh() { views_.assign(bytes_.begin(), bytes_.end()); }
    std::vector<std::string> bytes_;
    std::vector<std::string_view> views_;
};

inline std::string ReadExample(const std::string& name) {
    return ReadBytes(std::string(NAGISORA_EXAMPLES_DIR) + "/" + name);
}

} // namespace nagisora::test
