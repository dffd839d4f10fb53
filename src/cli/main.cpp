// nagisora-convert: converts score files to Standard MIDI Files from the command line.

#include "check_command.h"
#include "conversion.h"
#include "convert_options.h"
#include "failure.h"
#include "file_io.h"
#include "musicxml_output.h"
#include "score_file.h"
#include "score_file_lines.h"
#include "wav_render_loader.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

constexpr std::string_view StandardStream = "-";

std::string ReadStandardInput() {
    std::string bytes;
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got == 0) return bytes;
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowIoError(errno, "-");
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

void WriteStandardOutput(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            ThrowIoError(errno, "-");
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
}

std::string DefaultOutput(const std::string& score) {
    if (score == StandardStream) return std::string(StandardStream);
    return std::filesystem::path(score).replace_extension(".mid").string();
}

std::string EventLines(std::span<const TOnpu> events) {
    std::string text;
    for (const TOnpu& e : events) {
        text +=
            std::to_string(e.Onshoku) + ' ' + std::to_string(e.Onko) + ' ' + std::to_string(e.Oncho) + '\n';
    }
    return text;
}

void Report(const std::string& score, const std::string& message) {
    std::fprintf(stderr, "nagisora-convert: %s: %s\n", score.c_str(), message.c_str());
}

// The text of a score, from its file or from standard input; a code page 932 file, the usual case, is
// split where it lies, without a copy.
ScoreFileText LoadScoreText(const std::string& score) {
    ScoreFileText text =
        ScoreFileTextOf(score == StandardStream ? ReadStandardInput() : ReadFileBytes(score));
    for (const CharPosition& at : text.unmappable)
        Report(score, "warning: line " + std::to_string(at.line) + ", column " + std::to_string(at.column) +
                          ": character not in code page 932, read as \"?\"");
    return text;
}

// Runs a write to another file than the score, naming that file in its failure.
template <typename Write>
void WriteNaming(const std::string& path, Write&& write) {
    try {
        write();
    } catch (const Failure& failure) {
        throw Failure(failure.Code(), path + ": " + failure.Message());
    }
}

// Writes an output of a score: to standard output for "-", else to the file.
void WriteOutput(const std::string& output, std::string_view bytes) {
    if (output == StandardStream)
        WriteStandardOutput(bytes);
    else
        WriteNaming(output, [&] {
            WriteFileAtomically(output, bytes, Durability::Unflushed); // made again from the score
        });
}

// Converts one score and writes what was asked for. Returns false when the score was refused.
bool ConvertOne(const std::string& score, const ConvertOptions& options) {
    const ScoreFileText text = LoadScoreText(score);
    const std::vector<std::string_view> lines = SplitScoreFileLines(text.bytes);
    const Conversion conversion = ConvertScore(lines, options.settings);
    if (conversion.Refused()) {
        Report(score, conversion.refusal);
        return false;
    }
    if (options.events) {
        WriteStandardOutput(EventLines(conversion.Events()));
        return true;
    }
    if (options.WritesMidi()) WriteOutput(options.output.value_or(DefaultOutput(score)), conversion.midiData);
    if (options.musicXml) WriteOutput(*options.musicXml, MusicXmlOfScore(lines, options.settings));
    if (options.wav)
        WriteNaming(*options.wav,
                    [&] { RenderWavFile(conversion.midiData, *options.wav, options.soundFont); });
    return true;
}

int Run(const ConvertOptions& options) {
    int exitCode = ExitSuccess;
    for (const std::string& score : options.scores) {
        try {
            if (!ConvertOne(score, options)) exitCode = ExitFailure;
        } catch (const Failure& failure) {
            Report(score, failure.Message() + ".");
            exitCode = ExitFailure;
        }
    }
    return exitCode;
}

} // namespace
} // namespace nagisora

int main(int argc, char** argv) {
    const nagisora::ParsedCommandLine parsed = nagisora::ParseCommandLine(argc, argv);
    if (!parsed.options) return parsed.exitCode;
    if (parsed.options->check) return nagisora::RunCheck(*parsed.options);
    return nagisora::Run(*parsed.options);
}
