#include "cli/convert_options.h"

#include "core/instruments.h"
#include "core/pipe_lengths.h"
#include "platform/sound_font.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <map>

namespace nagisora {
namespace {

// A program number 0..127, or an instrument name of the list without its number, case-insensitive.
std::string ParseInstrument(const std::string& text, std::int32_t& program) {
    std::int32_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error == std::errc{} && end == text.data() + text.size()) {
        if (number < 0 || number > 127) return "Value " + text + " not in range [0 - 127]";
        program = number;
        return {};
    }
    if (const std::optional<std::int32_t> named = InstrumentByName(text)) {
        program = *named;
        return {};
    }
    return "'" + text + "' is neither a program number 0..127 nor an instrument name (e.g. Shakuhachi)";
}

// --pipe: a length of the pipe table in 尺 (1.8) or "auto".
std::string ParsePipe(const std::string& text, std::optional<std::int32_t>& pipe) {
    if (text == "auto") {
        pipe.reset();
        return {};
    }
    for (const PipeLength& p : PipeLengths)
        if (text == std::to_string(p.tenths / 10) + "." + std::to_string(p.tenths % 10)) {
            pipe = p.tenths;
            return {};
        }
    return "'" + text + "' is no pipe length: 1.3 to 2.4 (尺) or auto";
}

void CheckCombinations(const ConvertOptions& options) {
    if (options.practiceReport) {
        if (!options.audio)
            throw CLI::ValidationError("--practice-report", "needs the take: --audio TAKE.wav");
        if (!options.scores.empty() || options.output || options.wav || options.musicXml || options.pdf ||
            options.events || options.check || options.import)
            throw CLI::ValidationError("--practice-report",
                                       "prints a report only; drop SCORE and the outputs");
        return;
    }
    if (options.import) {
        if (!options.scores.empty()) throw CLI::ValidationError("--import", "takes no SCORE");
        if (options.wav || options.musicXml || options.events || options.check)
            throw CLI::ValidationError("--import",
                                       "writes a score only; drop --wav, --musicxml, --events and --check");
        return;
    }
    if (options.scores.empty()) throw CLI::ValidationError("SCORE", "is required");
    if (options.output && options.scores.size() != 1)
        throw CLI::ValidationError("--output", "can only be used with one SCORE");
    if (options.wav && options.scores.size() != 1)
        throw CLI::ValidationError("--wav", "can only be used with one SCORE");
    if (options.musicXml && options.scores.size() != 1)
        throw CLI::ValidationError("--musicxml", "can only be used with one SCORE");
    if (options.musicXml == "-" && options.output == "-")
        throw CLI::ValidationError("--musicxml", "and the MIDI output cannot both go to standard output");
    if (options.pdf && options.scores.size() != 1)
        throw CLI::ValidationError("--pdf", "can only be used with one SCORE");
    if (options.pdf == "-" && (options.output == "-" || options.musicXml == "-" || options.wav == "-"))
        throw CLI::ValidationError("--pdf", "and another output cannot both go to standard output");
    if (options.wav == "-") {
        if (options.musicXml == "-")
            throw CLI::ValidationError("--wav", "and the MusicXML output cannot both go to standard output");
        const bool midiToStandardOutput =
            options.WritesMidi() && options.output.value_or(options.scores.front()) == "-";
        if (midiToStandardOutput)
            throw CLI::ValidationError("--wav", "and the MIDI output cannot both go to standard output");
    }
    if (options.events && (options.output || options.wav || options.musicXml || options.pdf))
        throw CLI::ValidationError(
            "--events", "prints the events and writes no file; drop --output, --wav, --musicxml and --pdf");
    if (options.check && (options.output || options.wav || options.events || options.musicXml || options.pdf))
        throw CLI::ValidationError("--check",
                                   "converts nothing; drop --output, --wav, --events, --musicxml and --pdf");
}

} // namespace

ParsedCommandLine ParseCommandLine(int argc, char** argv) {
    ConvertOptions options;
    std::string instrument = "0";
    CLI::App app{"Converts shakuhachi scores in Tozan-school katakana notation (code page 932 or UTF-8 text) "
                 "into Standard MIDI Files.",
                 "nagisora-convert"};
    app.set_version_flag("--version", std::string(NAGISORA_VERSION));
    app.add_option("SCORE", options.scores, "Score files; \"-\" reads standard input");
    app.add_option(
        "-o,--output", options.output,
        "Output file (only with one SCORE); \"-\" writes standard output; default: SCORE with .mid");
    app.add_option("--tempo", options.settings.tempo, "Beats a minute")
        ->check(CLI::Range(30, 254))
        ->capture_default_str();
    app.add_option("--transpose", options.settings.transpose, "Semitones added to every note")
        ->check(CLI::Range(-16, 16))
        ->capture_default_str();
    app.add_option("--volume", options.settings.volume, "Velocity of every note")
        ->check(CLI::Range(0, 127))
        ->capture_default_str();
    app.add_option("--instrument", instrument, "Program 0..127 or an instrument name such as Shakuhachi")
        ->check(CLI::Validator(
            [&options](std::string& text) { return ParseInstrument(text, options.settings.instrument); },
            "N|NAME"))
        ->capture_default_str();
    app.add_flag_function(
        "--no-score-timbres", [&options](std::int64_t) { options.settings.useScoreTimbres = false; },
        "Ignore the timbre lines of the score");
    app.add_flag("--events", options.events, "Print the events (Onshoku Onko Oncho) instead of writing MIDI");
    app.add_option(
        "--wav", options.wav,
        "Also render the music to this WAV file (only with one SCORE); \"-\" writes standard output");
    app.add_option(
           "--soundfont", options.soundFont,
           "SoundFont (.sf2) of the --wav rendering; default: $NAGISORA_SOUNDFONT, else the first General "
           "MIDI SoundFont under /usr/share/sounds/sf2")
        ->envname(SoundFontVariable);
    app.add_flag("--check", options.check,
                 "Report what in the scores will not sound as written; convert nothing");
    CLI::Option* practice =
        app.add_option("--practice-report", options.practiceReport,
                       "Hold a recorded take (--audio) against this score and print each note as played: its "
                       "pitch in cents and its timing against the beat, the notes far out flagged");
    app.add_option("--audio", options.audio, "The take of --practice-report: a WAV file")->needs(practice);
    std::string format;
    CLI::Option* formatOption =
        app.add_option("--format", format,
                       "How --check prints: gcc (FILE:LINE:COL: ...) or json; how --practice-report prints: "
                       "text or json")
            ->check(CLI::IsMember({"gcc", "json", "text"}));
    app.add_option("--musicxml", options.musicXml,
                   "Write the notation as MusicXML to this file (only with one SCORE); \"-\" writes standard "
                   "output; MIDI is then written only when --output is given");
    CLI::Option* pdf = app.add_option(
        "--pdf", options.pdf,
        "Write the vertical score (縦譜) as PDF to this file (only with one SCORE); \"-\" writes standard "
        "output; MIDI is then written only when --output is given");
    app.add_option("--paper", options.paper, "Paper of --pdf: A4 or B5 (portrait)")
        ->transform(
            CLI::CheckedTransformer(std::map<std::string, int>{{"A4", 0}, {"B5", 1}}, CLI::ignore_case))
        ->needs(pdf);
    app.add_option("--font-size", options.fontPoints, "Font size of --pdf in points: 6..36")
        ->check(CLI::Range(6.0, 36.0))
        ->needs(pdf);
    app.add_option("--margin", options.marginMm, "Margins of --pdf in millimetres: 5..40")
        ->check(CLI::Range(5.0, 40.0))
        ->needs(pdf);

    CLI::Option* import = app.add_option(
        "--import", options.import,
        "Write a MIDI (.mid) or MusicXML (.musicxml, .xml, .mxl) file as a score (to --output, default: the "
        "file with .txt) instead of converting scores");
    app.add_option("--part", options.part, "The part to import, from 1; default: the first melodic part")
        ->check(CLI::PositiveNumber)
        ->needs(import);
    std::string pipe = "1.8";
    app.add_option("--pipe", pipe, "Length of the pipe the score is written for, 1.3 to 2.4 (尺), or auto")
        ->check(CLI::Validator([&options](std::string& text) { return ParsePipe(text, options.pipe); },
                               "1.8|auto"))
        ->capture_default_str()
        ->needs(import);
    app.add_option("--encoding", options.utf8, "Encoding of the imported score: cp932 (CR LF) or utf-8")
        ->transform(CLI::CheckedTransformer(std::map<std::string, bool>{{"cp932", false}, {"utf-8", true}}))
        ->needs(import);

    try {
        app.parse(argc, argv);
        if (formatOption->count() > 0) {
            if (options.check && format != "text")
                options.checkFormat = format == "json" ? CheckFormat::Json : CheckFormat::Gcc;
            else if (options.practiceReport && format != "gcc")
                options.practiceFormat = format == "json" ? PracticeFormat::Json : PracticeFormat::Text;
            else
                throw CLI::ValidationError("--format", "'" + format +
                                                           "' is no format here: gcc or json with --check, "
                                                           "text or json with --practice-report");
        }
        CheckCombinations(options);
    } catch (const CLI::CallForHelp& e) {
        return {std::nullopt, app.exit(e)};
    } catch (const CLI::CallForVersion& e) {
        return {std::nullopt, app.exit(e)};
    } catch (const CLI::Error& e) {
        app.exit(e);
        return {std::nullopt, ExitUsage};
    }
    return {std::move(options), ExitSuccess};
}

} // namespace nagisora
