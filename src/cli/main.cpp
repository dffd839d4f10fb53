// nagisora-convert: converts score files to Standard MIDI Files from the command line.

#include "cli/check_command.h"
#include "cli/convert_options.h"
#include "cli/import_command.h"
#include "cli/musicxml_output.h"
#include "cli/pdf_output.h"
#include "cli/practice_command.h"
#include "core/conversion.h"
#include "core/failure.h"
#include "platform/file_io.h"
#include "platform/score_file.h"
#include "platform/wav_render_loader.h"

#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

constexpr std::string_view StandardStream = "-";

std::string DefaultOutput(const std::string& score) {
    if (score == StandardStream) return std::string(StandardStream);
    return std::filesystem::path(score).replace_extension(".mid").string();
}

// Where a score is read from, or its output written to; standard input and output by their descriptors.
std::optional<FilePlace> PlaceOfStream(const std::string& path, int standardFd) {
    return path == StandardStream ? PlaceOfDescriptor(standardFd) : PlaceOf(path);
}

std::string EventLines(std::span<const NoteEvent> events) {
    std::string text;
    for (const NoteEvent& e : events) {
        text +=
            std::to_string(e.program) + ' ' + std::to_string(e.key) + ' ' + std::to_string(e.ticks) + '\n';
    }
    return text;
}

void Report(const std::string& score, const std::string& message) {
    WriteError("nagisora-convert: " + score + ": " + message + "\n");
}

void Report(const std::string& score, const Failure& failure) {
    Report(score, FailureText(failure));
}

// The characters that became "?", the first KeptPositions of them by place and the rest by their number.
void WarnOfUnmappable(const std::string& score, const ScoreFileText& text) {
    for (const CharPosition& at : text.unmappable)
        Report(score, "warning: line " + std::to_string(at.line) + ", column " + std::to_string(at.column) +
                          ": character not in code page 932, read as \"?\"");
    if (text.unmappableCount > text.unmappable.size())
        Report(score, "warning: " + std::to_string(text.unmappableCount - text.unmappable.size()) +
                          " more characters not in code page 932, read as \"?\"");
}

// The text of a score, from its file or from standard input.
ScoreFileText LoadScoreText(const std::string& score) {
    ScoreFileText text = score == StandardStream ? ScoreFileTextOf(ReadAll(STDIN_FILENO, ScoreFileLimit))
                                                 : LoadScoreFile(score);
    WarnOfUnmappable(score, text);
    return text;
}

// Runs a write to another file than the score, naming that file in its failure.
template <typename Write>
void WriteNaming(const std::string& path, Write&& write) {
    try {
        write();
    } catch (const Failure& failure) {
        throw failure.Within(path);
    }
}

// Writes an output of a score: to standard output for "-", else to the file.
void WriteOutput(const std::string& output, std::string_view bytes) {
    if (output == StandardStream)
        WriteAll(STDOUT_FILENO, bytes, output);
    else
        WriteNaming(output, [&] {
            WriteFileAtomically(output, bytes, Durability::Unflushed); // made again from the score
        });
}

enum class OutputKind { Midi, MusicXml, Wav, Pdf };

std::string_view KindName(OutputKind kind) {
    switch (kind) {
    case OutputKind::Midi:
        return "MIDI";
    case OutputKind::MusicXml:
        return "MusicXML";
    case OutputKind::Wav:
        return "WAV";
    case OutputKind::Pdf:
        return "PDF";
    }
    return {};
}

// One file the call writes: a score's MIDI, MusicXML or WAV file.
struct Output {
    std::string path;
    std::optional<FilePlace> place; // found before anything is written
    std::string score;              // whose output it is
    OutputKind kind;
};

// One score of the call with the files it writes.
struct Job {
    std::string score;
    std::vector<Output> outputs;
};

// The jobs of the call, and every place the call reads from, so that no output is written over an input or
// over another output. The places are all taken before anything is written: a file not made yet is known by
// its folder and name until then.
struct Plan {
    std::vector<Job> jobs;
    std::vector<std::pair<FilePlace, std::string>> inputs; // place and path
};

Plan PlanCall(const ConvertOptions& options) {
    Plan plan;
    if (!options.soundFont.empty())
        if (const std::optional<FilePlace> place = PlaceOf(options.soundFont))
            plan.inputs.emplace_back(*place, options.soundFont);
    for (const std::string& score : options.scores) {
        if (const std::optional<FilePlace> place = PlaceOfStream(score, STDIN_FILENO))
            plan.inputs.emplace_back(*place, score);
        Job job{score, {}};
        if (!options.events && options.WritesMidi()) {
            const std::string midi = options.output.value_or(DefaultOutput(score));
            job.outputs.push_back(Output{midi, PlaceOfStream(midi, STDOUT_FILENO), score, OutputKind::Midi});
        }
        if (options.musicXml)
            job.outputs.push_back(Output{*options.musicXml, PlaceOfStream(*options.musicXml, STDOUT_FILENO),
                                         score, OutputKind::MusicXml});
        if (options.wav)
            job.outputs.push_back(
                Output{*options.wav, PlaceOfStream(*options.wav, STDOUT_FILENO), score, OutputKind::Wav});
        if (options.pdf)
            job.outputs.push_back(
                Output{*options.pdf, PlaceOfStream(*options.pdf, STDOUT_FILENO), score, OutputKind::Pdf});
        plan.jobs.push_back(std::move(job));
    }
    return plan;
}

// Why the output may not be written, none when it may: it is an input of the call, or an earlier output of
// the call has claimed it.
std::optional<Failure> Conflict(const Output& output, const Plan& plan,
                                const std::vector<const Output*>& claimed) {
    for (const auto& [place, input] : plan.inputs)
        if (place == *output.place)
            return Failure::Refused("出力先が入力ファイルと同じです: " + output.path + " (入力 " + input +
                                    ")");
    for (const Output* earlier : claimed)
        if (*earlier->place == *output.place)
            return Failure::Refused("出力先がほかの出力と同じです: " + output.path + " (" + earlier->score +
                                    " の " + std::string(KindName(earlier->kind)) + ")");
    return std::nullopt;
}

// Why the job may write none of its outputs, none when it may write them all. Its outputs are claimed either
// way, in the order of the command line.
std::optional<Failure> Conflict(const Job& job, const Plan& plan, std::vector<const Output*>& claimed) {
    std::optional<Failure> conflict;
    for (const Output& output : job.outputs) {
        if (!output.place) continue;
        if (!conflict) conflict = Conflict(output, plan, claimed);
        claimed.push_back(&output);
    }
    return conflict;
}

// Converts one score and writes what was asked for. Returns false when the score was refused.
bool ConvertOne(const Job& job, const ConvertOptions& options) {
    const ScoreFileText text = LoadScoreText(job.score);
    const Conversion conversion = ConvertScore(text.Lines(), options.settings);
    if (conversion.Refused()) {
        // The converter has always printed a refused score's reason without the closing full stop; scripts
        // may read it so.
        Report(job.score, conversion.refusal->Message());
        return false;
    }
    if (options.events) {
        WriteAll(STDOUT_FILENO, EventLines(conversion.Events()), "-");
        return true;
    }
    for (const Output& output : job.outputs) {
        switch (output.kind) {
        case OutputKind::Midi:
            WriteOutput(output.path, conversion.midiData);
            break;
        case OutputKind::MusicXml:
            WriteOutput(output.path, MusicXmlOfScore(text.Lines(), options.settings));
            break;
        case OutputKind::Wav:
            WriteNaming(output.path,
                        [&] { RenderWavFile(conversion.midiData, output.path, options.soundFont); });
            break;
        case OutputKind::Pdf:
            WriteOutput(output.path, PdfOfScore(text.Lines(), PdfPageOptions{options.paper, options.marginMm,
                                                                             options.fontPoints}));
            break;
        }
    }
    return true;
}

// Every score is tried, whatever became of the ones before it.
int Run(const ConvertOptions& options) {
    const Plan plan = PlanCall(options);
    std::vector<const Output*> claimed;
    int exitCode = ExitSuccess;
    for (const Job& job : plan.jobs) {
        try {
            if (const std::optional<Failure> conflict = Conflict(job, plan, claimed)) {
                Report(job.score, *conflict);
                exitCode = ExitFailure;
            } else if (!ConvertOne(job, options)) {
                exitCode = ExitFailure;
            }
        } catch (const Failure& failure) {
            Report(job.score, failure);
            exitCode = ExitFailure;
        } catch (const std::bad_alloc&) {
            Report(job.score, Failure::File(IoCode::OutOfMemory));
            exitCode = ExitFailure;
        }
    }
    return exitCode;
}

} // namespace
} // namespace nagisora

int main(int argc, char** argv) {
    nagisora::HoldClosedStandardStreams();
    const nagisora::ParsedCommandLine parsed = nagisora::ParseCommandLine(argc, argv);
    if (!parsed.options) return parsed.exitCode;
    if (parsed.options->check) return nagisora::RunCheck(*parsed.options);
    if (parsed.options->import) return nagisora::RunImport(*parsed.options);
    if (parsed.options->practiceReport) return nagisora::RunPracticeReport(*parsed.options);
    return nagisora::Run(*parsed.options);
}
