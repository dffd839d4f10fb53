#pragma once

// The command line of nagisora-convert.

#include "core/conversion.h"

#include <optional>
#include <string>
#include <vector>

namespace nagisora {

// How --check prints its findings: "FILE:LINE:COL: error|warning: MESSAGE [CODE]" lines, or a JSON array.
enum class CheckFormat { Gcc, Json };

// How --practice-report prints its notes: one line each, or a JSON array.
enum class PracticeFormat { Text, Json };

struct ConvertOptions {
    std::vector<std::string> scores;     // "-" reads standard input
    std::optional<std::string> output;   // "-" writes standard output
    std::optional<std::string> wav;      // also render what the score sounds like
    std::string soundFont;               // the SoundFont of the WAV file; empty: the program's own search
    std::optional<std::string> musicXml; // also, or only, the notation; "-" writes standard output
    std::optional<std::string> pdf;      // also, or only, the vertical score; "-" writes standard output
    int paper = 0;                       // of the PDF: 0 A4, 1 B5
    double fontPoints = 12;              // of the PDF's notes
    double marginMm = 15;                // of the PDF's pages, on every side
    ConversionSettings settings;
    bool events = false; // print the events instead of writing MIDI
    bool check = false;  // report the findings of the score checker instead of converting
    CheckFormat checkFormat = CheckFormat::Gcc;
    // --import: a MIDI or MusicXML file written as a score (to -o, default: the file with .txt), for the part
    // (1-based; none: the first melodic one) and the pipe (tenths of a 尺; none: chosen), in code page 932 or
    // UTF-8.
    std::optional<std::string> import;
    std::optional<std::int32_t> part;
    std::optional<std::int32_t> pipe = 18;
    bool utf8 = false;
    // --practice-report: the score a take (--audio, a WAV file) is held against, note by note.
    std::optional<std::string> practiceReport;
    std::optional<std::string> audio;
    PracticeFormat practiceFormat = PracticeFormat::Text;

    // MIDI is written unless only MusicXML or PDF is asked for.
    bool WritesMidi() const { return output || (!musicXml && !pdf); }
};

inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1; // a file could not be read or written, or a score was refused
inline constexpr int ExitUsage = 2;

struct ParsedCommandLine {
    std::optional<ConvertOptions> options; // empty when the program should stop with exitCode
    int exitCode = ExitSuccess;
};

// Parses argv; prints help, the version or the usage error itself.
ParsedCommandLine ParseCommandLine(int argc, char** argv);

} // namespace nagisora
