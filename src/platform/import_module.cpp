// The loadable module that imports MIDI and MusicXML files for the command-line converter, which loads it
// only when asked to import: plain conversion never pays for loading libxml2 and libzip.

#include "platform/import_module.h"

#include "core/score_file_lines.h"
#include "core/score_import.h"
#include "platform/score_import_file.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// "MESSAGE（元の M 小節 B 拍）"; on the command line, the other parts say how to choose one.
std::string FindingText(const nagisora::ImportFinding& f, bool commandLine) {
    const bool hint = commandLine && f.issue == nagisora::ImportIssue::OtherParts;
    return f.message + (hint ? "（--part N で選べます）" : "") + "（元の " + nagisora::SourcePlaceText(f) +
           "）";
}

std::string Summary(const nagisora::ImportResult& result, bool chosen) {
    const nagisora::PipeLength& pipe = result.pipe;
    return "パート " + std::to_string(result.part) + "、尺八 " + std::to_string(pipe.tenths / 10) + "." +
           std::to_string(pipe.tenths % 10) + "尺（" + std::string(pipe.note) + "）、音程 " +
           std::to_string(result.settings.transpose) + "、テンポ " + std::to_string(result.settings.tempo) +
           (chosen ? "（管は自動で選択）" : "");
}

std::string Report(const nagisora::ImportResult& result, const std::string& output, bool chosen) {
    std::string report;
    for (const nagisora::ImportFinding& f : result.findings)
        report += output + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) +
                  ": warning: " + FindingText(f, true) + " [" + std::string(IssueCode(f.issue)) + "]\n";
    return report + Summary(result, chosen);
}

// Reads and imports the file; the result, or nothing with the problem in *report.
std::optional<nagisora::ImportResult> Import(std::string_view bytes, int part, int pipeTenths,
                                             char** report) {
    const nagisora::ImportRead read = nagisora::ReadImportSource(bytes);
    if (!read.Read()) {
        *report = Copy(read.problem);
        return std::nullopt;
    }
    nagisora::ImportOptions options;
    if (part > 0) options.part = part;
    if (pipeTenths > 0)
        options.pipe = pipeTenths;
    else
        options.pipe.reset();
    nagisora::ImportResult result = nagisora::ImportScore(*read.source, options);
    if (result.Refused()) {
        *report = Copy(result.refusal->Message());
        return std::nullopt;
    }
    return result;
}

void GiveScore(const nagisora::ImportResult& result, char** score, std::size_t* scoreSize) {
    *score = Copy(result.text);
    *scoreSize = result.text.size();
}

} // namespace

extern "C" int nagisora_import_v1(const char* bytes, std::size_t size, int part, int pipeTenths,
                                  const char* outputName, char** score, std::size_t* scoreSize,
                                  char** report) {
    *score = nullptr;
    *scoreSize = 0;
    try {
        const std::optional<nagisora::ImportResult> result =
            Import(std::string_view(bytes, size), part, pipeTenths, report);
        if (!result) return 1;
        GiveScore(*result, score, scoreSize);
        *report = Copy(Report(*result, outputName, pipeTenths == 0));
        return 0;
    } catch (const std::exception&) {
        *report = Copy("メモリが足りません");
        return 1;
    }
}

extern "C" int nagisora_import_parts_v1(const char* bytes, std::size_t size, void* context,
                                        void (*part)(void* context, const char* name, int drums,
                                                     int playable),
                                        char** report) {
    *report = nullptr;
    try {
        const nagisora::ImportRead read = nagisora::ReadImportSource(std::string_view(bytes, size));
        if (!read.Read()) {
            *report = Copy(read.problem);
            return 1;
        }
        const nagisora::ImportSource& source = *read.source;
        std::vector<char> playable(source.parts.size(), 0);
        for (const nagisora::ImportNote& n : source.notes)
            if (!n.grace && n.part >= 0 && std::size_t(n.part) < playable.size())
                playable[std::size_t(n.part)] = 1;
        for (std::size_t p = 0; p < source.parts.size(); ++p)
            part(context, source.parts[p].name.c_str(), source.parts[p].drums ? 1 : 0, playable[p]);
        return 0;
    } catch (const std::exception&) {
        *report = Copy("メモリが足りません");
        return 1;
    }
}

extern "C" int nagisora_import_each_v1(
    const char* bytes, std::size_t size, int part, int pipeTenths, void* context,
    void (*finding)(void* context, int line, int column, const char* text, const char* code),
    NagisoraImportOutcome* outcome, char** score, std::size_t* scoreSize, char** report) {
    *score = nullptr;
    *scoreSize = 0;
    try {
        const std::optional<nagisora::ImportResult> result =
            Import(std::string_view(bytes, size), part, pipeTenths, report);
        if (!result) return 1;
        for (const nagisora::ImportFinding& f : result->findings)
            finding(context, f.line, f.column, FindingText(f, false).c_str(),
                    std::string(IssueCode(f.issue)).c_str());
        *outcome = NagisoraImportOutcome{result->settings.tempo,
                                         result->settings.transpose,
                                         result->settings.volume,
                                         result->settings.instrument,
                                         result->part,
                                         result->pipe.tenths};
        GiveScore(*result, score, scoreSize);
        *report = Copy(Summary(*result, pipeTenths == 0));
        return 0;
    } catch (const std::exception&) {
        *report = Copy("メモリが足りません");
        return 1;
    }
}
