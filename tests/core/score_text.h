#pragma once

// Score lines for the tests, written as UTF-8 in the test source and turned into code page 932 bytes.

#include "platform/cp932.h"
#include "test_files.h"

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora::test {

inline std::string Sjis(std::string_view utf8) {
    return EncodeCp932(utf8).bytes;
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
