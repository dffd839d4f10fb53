#include "cli/check_command.h"

#include "core/failure.h"
#include "core/score_check.h"
#include "core/score_file_lines.h"
#include "platform/cp932.h"
#include "platform/file_io.h"
#include "platform/score_file.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

constexpr std::string_view StandardStream = "-";

// Places in the code page 932 text of a UTF-8 file, named by the file's own lines and columns: the lines are
// the same, the columns count the file's characters.
class Utf8Columns {
  public:
    Utf8Columns(const ScoreFileText& text, std::span<const std::string_view> lines)
        : text_(text), lines_(lines) {}

    SourceSpan SpanOf(const SourcePlace& place) const {
        const std::size_t lineStart = static_cast<std::size_t>(
            lines_[static_cast<std::size_t>(place.line - 1)].data() - text_.bytes.data());
        const std::size_t first = CharacterAt(lineStart + place.byte);
        const std::size_t last =
            CharacterAt(lineStart + place.byte + std::max<std::uint32_t>(place.bytes, 1) - 1);
        const std::size_t lineFirst = CharacterAt(lineStart);
        return SourceSpan{place.line, static_cast<std::int32_t>(first - lineFirst + 1),
                          static_cast<std::int32_t>(last - first + 1)};
    }

  private:
    // The character (from 0) that holds a byte; past the end, counting on one a byte.
    std::size_t CharacterAt(std::size_t byte) const {
        const std::vector<std::uint32_t>& starts = text_.charStarts;
        const std::size_t end = starts.back();
        if (byte >= end) return starts.size() - 1 + (byte - end);
        return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), byte) -
                                        starts.begin()) -
               1;
    }

    const ScoreFileText& text_;
    std::span<const std::string_view> lines_;
};

// The findings of one score, ordered by line and column as its file shows them.
std::vector<Finding> CheckScoreText(const ScoreFileText& text) {
    const std::vector<std::string_view> lines = SplitScoreFileLines(text.bytes);
    std::vector<Finding> findings = CheckScore(lines);
    if (!text.fromUtf8) return findings;
    const Utf8Columns columns(text, lines);
    for (Finding& f : findings)
        f.span = columns.SpanOf(f.place);
    for (const CharPosition& at : text.unmappable)
        findings.push_back(UnmappableCharacterFinding(
            {}, SourceSpan{static_cast<std::int32_t>(at.line), static_cast<std::int32_t>(at.column), 1}));
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.span.line, a.span.column) < std::tie(b.span.line, b.span.column);
    });
    return findings;
}

// A file name as text: a UTF-8 name as it is, any other decoded from code page 932 as a score's text is, so
// that a name from an archive made on Windows reads as it was written. A byte that is no character there
// becomes U+EF00 + the byte, as in the window, which JsonString writes escaped.
std::string NameText(std::string_view name) {
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii || LooksLikeUtf8(name) ? std::string(name) : DecodeCp932(name);
}

// JSON text of UTF-8 text: quotes, backslashes, control characters and the stand-ins for bytes that are no
// character (U+EF00..U+EFFF, three bytes EE BC..BF xx) escaped.
std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto lead = static_cast<unsigned char>(c);
        if (lead == 0xEE && i + 2 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xFC) == 0xBC) {
            const unsigned codePoint = ((lead & 0x0Fu) << 12) |
                                       ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                                       (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", codePoint);
            quoted += escaped;
            i += 2;
        } else if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string GccLine(const std::string& score, const Finding& f) {
    return score + ':' + std::to_string(f.span.line) + ':' + std::to_string(f.span.column) + ": " +
           std::string(SeverityName(f.severity)) + ": " + f.message + " [" + std::string(CodeName(f.code)) +
           "]\n";
}

std::string JsonObject(const std::string& score, const Finding& f) {
    return "{\"file\":" + JsonString(NameText(score)) + ",\"line\":" + std::to_string(f.span.line) +
           ",\"column\":" + std::to_string(f.span.column) + ",\"length\":" + std::to_string(f.span.length) +
           ",\"severity\":\"" + std::string(SeverityName(f.severity)) + "\",\"code\":\"" +
           std::string(CodeName(f.code)) + "\",\"message\":" + JsonString(f.message) + '}';
}

// Through the one write-all helper: a failed write is reported, not lost.
void Print(const std::string& text) {
    WriteAll(STDOUT_FILENO, text, std::string(StandardStream));
}

int CheckAll(const ConvertOptions& options) {
    int exitCode = ExitSuccess;
    bool firstObject = true;
    if (options.checkFormat == CheckFormat::Json) Print("[");
    for (const std::string& score : options.scores) {
        std::vector<Finding> findings;
        try {
            findings = CheckScoreText(ScoreFileTextOf(score == StandardStream
                                                          ? ReadAll(STDIN_FILENO, EditedScoreLimit)
                                                          : ReadFileBytes(score, EditedScoreLimit),
                                                      Utf8Places::All));
        } catch (const Failure& failure) {
            WriteError("nagisora-convert: " + FailureText(failure.Within(score)) + "\n");
            exitCode = ExitFailure;
            continue;
        } catch (const std::bad_alloc&) {
            WriteError("nagisora-convert: " + FailureText(Failure::File(IoCode::OutOfMemory).Within(score)) +
                       "\n");
            exitCode = ExitFailure;
            continue;
        }
        for (const Finding& f : findings) {
            if (f.severity == Severity::Error) exitCode = ExitFailure;
            if (options.checkFormat == CheckFormat::Gcc) {
                Print(GccLine(score, f));
            } else {
                Print((firstObject ? "\n" : ",\n") + JsonObject(score, f));
                firstObject = false;
            }
        }
    }
    if (options.checkFormat == CheckFormat::Json) Print(firstObject ? "]\n" : "\n]\n");
    return exitCode;
}

} // namespace

int RunCheck(const ConvertOptions& options) {
    try {
        return CheckAll(options);
    } catch (const Failure& failure) { // the findings could not be printed
        WriteError("nagisora-convert: " + FailureText(failure.Within(StandardStream)) + "\n");
        return ExitFailure;
    }
}

} // namespace nagisora
