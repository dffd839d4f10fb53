#include "cli/practice_command.h"

#include "core/failure.h"
#include "core/practice_report.h"
#include "core/score_file_lines.h"
#include "core/score_map.h"
#include "platform/file_io.h"
#include "platform/practice_loader.h"
#include "platform/score_file.h"

#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

int Report(const ConvertOptions& options) {
    const std::string& score = *options.practiceReport;
    const ScoreFileText text = LoadScoreFile(score);
    const std::vector<std::string_view> lines = SplitScoreFileLines(text.bytes);
    const Conversion conversion = ConvertScore(lines, options.settings);
    if (conversion.Refused()) throw conversion.refusal->Within(score);
    const ScoreMap map = MapScore(lines, options.settings.transpose);
    // A pipe sounds its notes an octave above the events' keys: the take is moved by whole octaves onto them,
    // so that a recording of a pipe and a render of the preview are held against the same notes.
    TakeAnalysis take = TrackTakeThroughModule(*options.audio);
    MoveTakeToKeys(take, conversion.Events(), 0);
    const std::vector<PlayedNote> notes =
        PracticeReport(conversion.Events(), options.settings, map, lines, take);
    const std::string out = options.practiceFormat == PracticeFormat::Json ? PracticeReportJson(notes)
                                                                           : PracticeReportText(notes);
    WriteAll(STDOUT_FILENO, out, "-");
    return ExitSuccess;
}

} // namespace

int RunPracticeReport(const ConvertOptions& options) {
    try {
        return Report(options);
    } catch (const Failure& failure) {
        WriteError("nagisora-convert: " + FailureText(failure) + "\n");
    } catch (const std::bad_alloc&) {
        WriteError("nagisora-convert: " + FailureText(Failure::File(IoCode::OutOfMemory)) + "\n");
    }
    return ExitFailure;
}

} // namespace nagisora
