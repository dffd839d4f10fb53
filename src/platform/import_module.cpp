// The loadable module that imports MIDI and MusicXML files for the command-line converter, which loads it
// only when asked to import: plain conversion never pays for loading libxml2 and libzip.

#include "import_module.h"

#include "score_file_lines.h"
#include "score_import.h"
#include "score_import_file.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

char* Copy(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

std::string_view IssueCode(nagisora::ImportIssue issue) {
    static constexpr std::array<std::string_view, 10> codes{
        "import-other-parts",  "import-chord",           "import-overlap",    "import-out-of-range",
        "import-quantised",    "import-too-short",       "import-grace-note", "import-key-change",
        "import-tempo-change", "import-too-many-events",
    };
    return codes[static_cast<std::size_t>(issue)];
}

std::string Report(const nagisora::ImportResult& result, const std::string& output, bool chosen) {
    std::string report;
    for (const nagisora::ImportFinding& f : result.findings)
        report += output + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) +
                  ": warning: " + f.message + "（元の " + nagisora::SourcePlaceText(f) + "） [" +
                  std::string(IssueCode(f.issue)) + "]\n";
    const nagisora::PipeLength& pipe = result.pipe;
    report += "パート " + std::to_string(result.part) + "、尺八 " + std::to_string(pipe.tenths / 10) + "." +
              std::to_string(pipe.tenths % 10) + "尺（" + std::string(pipe.note) + "）、音程 " +
              std::to_string(result.settings.transpose) + "、テンポ " +
              std::to_string(result.settings.tempo) + (chosen ? "（管は自動で選択）" : "");
    return report;
}

} // namespace

extern "C" int nagisora_import_v1(const char* bytes, std::size_t size, int part, int pipeTenths,
                                  const char* outputName, char** score, std::size_t* scoreSize,
                                  char** report) {
    *score = nullptr;
    *scoreSize = 0;
    try {
        const nagisora::ImportRead read = nagisora::ReadImportSource(std::string_view(bytes, size));
        if (!read.Read()) {
            *report = Copy(read.problem);
            return 1;
        }
        nagisora::ImportOptions options;
        if (part > 0) options.part = part;
        if (pipeTenths > 0)
            options.pipe = pipeTenths;
        else
            options.pipe.reset();
        const nagisora::ImportResult result = nagisora::ImportScore(*read.source, options);
        if (result.Refused()) {
            *report = Copy(result.refusal);
            return 1;
        }
        const std::string text = nagisora::JoinScoreFileLines(result.lines);
        *score = Copy(text);
        *scoreSize = text.size();
        *report = Copy(Report(result, outputName, pipeTenths == 0));
        return 0;
    } catch (const std::exception&) {
        *report = Copy("メモリが足りません");
        return 1;
    }
}
