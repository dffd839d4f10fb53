// Importing MIDI and MusicXML files, beside the conversion of the 4096-note example (README "Measuring":
// ImportMidi ≤ 5 × ConvertLongScore, ImportMusicXml ≤ 20 ms). The files are the conversion's own MIDI file
// and MusicXML export of that example, read from memory.

#include "core/conversion.h"
#include "core/musicxml.h"
#include "core/score_file_lines.h"
#include "core/score_import.h"
#include "platform/score_import_file.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string& LongScore() {
    static const std::string file = [] {
        std::ifstream in(std::string(NAGISORA_EXAMPLES_DIR) + "/long-4096.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    return file;
}

void ConvertLongScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    for (auto _ : state)
        benchmark::DoNotOptimize(nagisora::ConvertScore(lines, {}));
}

void Import(benchmark::State& state, const std::string& bytes) {
    for (auto _ : state) {
        const nagisora::ImportRead read = nagisora::ReadImportSource(bytes);
        const nagisora::ImportResult result = nagisora::ImportScore(*read.source);
        benchmark::DoNotOptimize(result);
    }
    const std::string text = nagisora::ImportScore(*nagisora::ReadImportSource(bytes).source).text;
    state.counters["lines"] = static_cast<double>(std::count(text.begin(), text.end(), '\n'));
}

void ImportMidi(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    Import(state, nagisora::ConvertScore(lines, {}).midiData);
}

// The two halves of ImportMidi: reading the file into timed notes, and writing them as a score.
void ReadMidi(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    const std::string midi = nagisora::ConvertScore(lines, {}).midiData;
    for (auto _ : state)
        benchmark::DoNotOptimize(nagisora::ReadImportSource(midi));
}

void WriteMidiNotes(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    const nagisora::ImportRead read = nagisora::ReadImportSource(nagisora::ConvertScore(lines, {}).midiData);
    for (auto _ : state)
        benchmark::DoNotOptimize(nagisora::ImportScore(*read.source));
}

void ImportMusicXml(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    Import(state, nagisora::ExportMusicXml(lines, {}).text);
}

} // namespace

BENCHMARK(ConvertLongScore);
BENCHMARK(ImportMidi)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadMidi)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteMidiNotes)->Unit(benchmark::kMicrosecond);
BENCHMARK(ImportMusicXml)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
