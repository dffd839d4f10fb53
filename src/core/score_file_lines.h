#pragma once

// How the lines of a score file are found in its bytes, and how lines are written back.

#include <cstddef>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

inline constexpr char EndOfText = '\x1A';
inline constexpr std::string_view LineEnd = "\r\n";

// The lines of a score file's bytes, found one after another as they are walked, so that a file of many short
// lines costs no list of them. A line ends at CR LF, at a lone CR or at a lone LF; a byte 1A ends the text;
// the end of the file ends the last line, and an empty file holds no line. The views point into bytes.
class ScoreFileLines {
  public:
    class Iterator {
      public:
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag; // its lines are values, not references
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;

        Iterator() = default;
        std::string_view operator*() const { return text_.substr(start_, end_ - start_); }
        Iterator& operator++();
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator& other) const { return start_ == other.start_; }
        bool operator==(std::default_sentinel_t) const { return start_ > text_.size(); }

      private:
        friend class ScoreFileLines;
        explicit Iterator(std::string_view text);
        void FindEnd();

        std::string_view text_;
        std::size_t start_ = 1; // past the text: the end
        std::size_t end_ = 0;
        // The next CR and the next LF, looked up with memchr and kept until passed, so that a file using only
        // one of them is still scanned once.
        std::size_t nextCr_ = 0;
        std::size_t nextLf_ = 0;
    };

    explicit ScoreFileLines(std::string_view bytes);

    Iterator begin() const { return Iterator(text_); }
    std::default_sentinel_t end() const { return {}; }

    // The bytes the lines are found in, up to the end-of-text byte.
    std::size_t Bytes() const { return text_.size(); }

  private:
    std::string_view text_; // up to the end-of-text byte
};

// All the lines at once (ScoreFileLines).
std::vector<std::string_view> SplitScoreFileLines(std::string_view bytes);

// Every line followed by CR LF.
std::string JoinScoreFileLines(std::span<const std::string> lines);

} // namespace nagisora
