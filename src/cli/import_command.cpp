#include "import_command.h"

#include "cp932.h"
#include "failure.h"
#include "file_io.h"
#include "score_file_lines.h"
#include "score_import.h"
#include "score_import_file.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <unistd.h>

namespace nagisora {
namespace {

constexpr std::string_view StandardStream = "-";

std::string_view IssueCode(ImportIssue issue) {
    static constexpr std::array<std::string_view, 10> codes{
        "import-other-parts",  "import-chord",           "import-overlap",    "import-out-of-range",
        "import-quantised",    "import-too-short",       "import-grace-note", "import-key-change",
        "import-tempo-change", "import-too-many-events",
    };
    return codes[static_cast<std::size_t>(issue)];
}

void Report(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "nagisora-convert: %s: %s\n", file.c_str(), message.c_str());
}

} // namespace

int RunImport(const ConvertOptions& options) {
    const std::string& input = *options.import;
    const std::string output =
        options.output.value_or(std::filesystem::path(input).replace_extension(".txt").string());
    try {
        const std::optional<FilePlace> inputPlace = PlaceOf(input);
        const std::optional<FilePlace> outputPlace =
            output == StandardStream ? PlaceOfDescriptor(STDOUT_FILENO) : PlaceOf(output);
        if (inputPlace && outputPlace && *inputPlace == *outputPlace) {
            Report(input, "出力先が入力ファイルと同じです: " + output + ".");
            return ExitFailure;
        }
        const ImportRead read = ReadImportSource(ReadFileBytes(input));
        if (!read.Read()) {
            Report(input, read.problem + ".");
            return ExitFailure;
        }
        const ImportResult result = ImportScore(*read.source, ImportOptions{options.part, options.pipe});
        if (result.Refused()) {
            Report(input, result.refusal + ".");
            return ExitFailure;
        }
        std::string text = JoinScoreFileLines(result.lines);
        if (options.utf8) text = DecodeCp932(text);
        if (output == StandardStream)
            WriteAll(STDOUT_FILENO, text, output);
        else
            try {
                WriteFileAtomically(output, text);
            } catch (const Failure& failure) {
                throw Failure(failure.Code(), output + ": " + failure.Message());
            }
        for (const ImportFinding& f : result.findings)
            std::fprintf(stderr, "%s:%d:%d: warning: %s（元の %s） [%s]\n", output.c_str(), f.line, f.column,
                         f.message.c_str(), SourcePlaceText(f).c_str(),
                         std::string(IssueCode(f.issue)).c_str());
        const PipeLength& pipe = result.pipe;
        Report(input, "パート " + std::to_string(result.part) + "、尺八 " + std::to_string(pipe.tenths / 10) +
                          "." + std::to_string(pipe.tenths % 10) + "尺（" + std::string(pipe.note) +
                          "）、音程 " + std::to_string(result.settings.transpose) + "、テンポ " +
                          std::to_string(result.settings.tempo) + (options.pipe ? "" : "（管は自動で選択）"));
        return ExitSuccess;
    } catch (const Failure& failure) {
        Report(input, failure.Message() + ".");
    } catch (const std::bad_alloc&) {
        Report(input, IoErrorMessage(IoCode::OutOfMemory) + ".");
    }
    return ExitFailure;
}

} // namespace nagisora
