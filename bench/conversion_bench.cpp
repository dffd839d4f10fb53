// Speed of the conversion chain: score lines to the bytes of a MIDI file.

#include "core/conversion.h"
#include "core/line_sets.h"
#include "core/midi_image.h"
#include "core/musicxml.h"
#include "core/score_check.h"
#include "core/score_file_lines.h"
#include "core/score_map.h"
#include "core/score_reader.h"
#include "core/tuplets.h"
#include "core/vertical_layout.h"
#include "platform/cp932.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace {

std::string ReadExample(const std::string& name) {
    std::ifstream in(std::string(NAGISORA_EXAMPLES_DIR) + "/" + name, std::ios::binary);
    if (!in) throw std::runtime_error("missing example " + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// From lines already split: what every press of "MIDI 作成" runs.
void ConvertLines(benchmark::State& state, const std::string& example, std::int32_t expectedNotes) {
    const std::string file = ReadExample(example);
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(file);
    for (auto _ : state) {
        nagisora::Conversion conversion = nagisora::ConvertScore(lines, nagisora::ConversionSettings{});
        benchmark::DoNotOptimize(conversion.midiData.data());
        if (conversion.eventCount != expectedNotes) state.SkipWithError("unexpected note count");
    }
    state.counters["notes"] = expectedNotes;
}

// From the bytes of a score file, splitting its lines too.
void ConvertFileBytes(benchmark::State& state, const std::string& example) {
    const std::string file = ReadExample(example);
    for (auto _ : state) {
        const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(file);
        nagisora::Conversion conversion = nagisora::ConvertScore(lines, nagisora::ConversionSettings{});
        benchmark::DoNotOptimize(conversion.midiData.data());
    }
}

// The stages of the chain one by one, on the long score, to see where the time of ConvertLines goes.
const std::string& LongScore() {
    static const std::string file = ReadExample("long-4096.txt");
    return file;
}

void StageGatherLineSets(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    for (auto _ : state) {
        nagisora::AlignedTexts texts = nagisora::GatherLineSets(lines);
        benchmark::DoNotOptimize(texts.PitchText.data());
    }
}

void StageReadScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    const auto list = std::make_unique<nagisora::NoteEventList>();
    for (auto _ : state) {
        benchmark::DoNotOptimize(nagisora::ReadScore(lines, 0, *list));
        benchmark::ClobberMemory();
    }
}

void StageApplyTuplets(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    const auto read = std::make_unique<nagisora::NoteEventList>();
    const std::int32_t count = nagisora::ReadScore(lines, 0, *read).value_or(0);
    const auto list = std::make_unique<nagisora::NoteEventList>();
    for (auto _ : state) {
        *list = *read; // the copy is part of the time
        nagisora::ApplyTuplets(*list, count);
        benchmark::ClobberMemory();
    }
}

void StageAppendTrackChunk(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    const auto list = std::make_unique<nagisora::NoteEventList>();
    const std::int32_t count = nagisora::ReadScore(lines, 0, *list).value_or(0);
    nagisora::ApplyTuplets(*list, count);
    for (auto _ : state) {
        std::string image;
        nagisora::AppendTrackChunk(image, *list, count, nagisora::TrackSettings{});
        benchmark::DoNotOptimize(image.data());
    }
}

// The map of the long score: every line's role and every event's place, as the score area and the checker
// take them on each keystroke. Beside ConvertLines it shows what the places cost over the conversion.
void MapLongScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    for (auto _ : state) {
        nagisora::ScoreMap map = nagisora::MapScore(lines);
        benchmark::DoNotOptimize(map.events.data());
    }
}

// The same into a map kept from the last time, as the score area's model makes it on every keystroke.
void RemapLongScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    nagisora::ScoreMap map;
    for (auto _ : state) {
        nagisora::MapScore(lines, 0, map);
        benchmark::DoNotOptimize(map.events.data());
    }
}

// The checker on the long score as the score area runs it on every keystroke: the map made again into the
// kept one, then the findings. Beside ConvertLines (target: at most three times its time).
void CheckLongScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    nagisora::ScoreMap map;
    std::size_t findings = 0;
    for (auto _ : state) {
        nagisora::MapScore(lines, 0, map);
        const std::vector<nagisora::Finding> found = nagisora::CheckScore(lines, map);
        findings = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["findings"] = static_cast<double>(findings);
}

// The same from nothing, as nagisora-convert --check runs it once per score: a fresh map every time.
void CheckLongScoreFresh(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    for (auto _ : state) {
        const std::vector<nagisora::Finding> found = nagisora::CheckScore(lines);
        benchmark::DoNotOptimize(found.data());
    }
}

// The checker's own share: the findings from a map already made.
void CheckMappedLongScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    const nagisora::ScoreMap map = nagisora::MapScore(lines);
    for (auto _ : state) {
        const std::vector<nagisora::Finding> found = nagisora::CheckScore(lines, map);
        benchmark::DoNotOptimize(found.data());
    }
}

// The text of the longest score as the score area shows it (a load) and as the model takes it back (every
// line once after a load): what opening a score costs besides the conversion.
void DecodeLongScore(benchmark::State& state) {
    const std::string file = LongScore();
    for (auto _ : state)
        benchmark::DoNotOptimize(nagisora::DecodeCp932(file).data());
}

void EncodeLongScore(benchmark::State& state) {
    const std::string text = nagisora::DecodeCp932(LongScore());
    for (auto _ : state)
        benchmark::DoNotOptimize(nagisora::EncodeCp932(text).bytes.data());
}

// The MusicXML document of a score, what "MusicXML 保存…" and --musicxml write: the map of the score, the
// notes and the text.
void ExportMusicXml(benchmark::State& state, const std::string& example) {
    const std::string file = ReadExample(example);
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(file);
    std::size_t bytes = 0;
    for (auto _ : state) {
        nagisora::MusicXmlExport musicXml = nagisora::ExportMusicXml(lines, nagisora::ConversionSettings{});
        benchmark::DoNotOptimize(musicXml.text.data());
        bytes = musicXml.text.size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

// The vertical score of the long score from its map, as the 縦譜 window lays it out again after an edit
// (target: at most twice ConvertLines), and with the map made too, as --pdf runs it.
void LayOutLongScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    const nagisora::ScoreMap map = nagisora::MapScore(lines);
    nagisora::VerticalScore score;
    for (auto _ : state) {
        nagisora::LayOutVertical(map, {}, {}, score);
        benchmark::DoNotOptimize(score.cells.data());
    }
}

void MapAndLayOutLongScore(benchmark::State& state) {
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(LongScore());
    nagisora::ScoreMap map;
    for (auto _ : state) {
        nagisora::MapScore(lines, 0, map);
        nagisora::VerticalScore score = nagisora::LayOutVertical(map, {});
        benchmark::DoNotOptimize(score.cells.data());
    }
}

} // namespace

BENCHMARK(DecodeLongScore);
BENCHMARK(EncodeLongScore);
BENCHMARK(StageGatherLineSets);
BENCHMARK(StageReadScore);
BENCHMARK(StageApplyTuplets);
BENCHMARK(StageAppendTrackChunk);
BENCHMARK_CAPTURE(ConvertLines, StartScore, std::string("start-score.txt"), 41);
BENCHMARK_CAPTURE(ConvertLines, Mixed4096Notes, std::string("long-4096.txt"), 4096);
BENCHMARK_CAPTURE(ConvertFileBytes, Mixed4096Notes, std::string("long-4096.txt"));
BENCHMARK(MapLongScore);
BENCHMARK(RemapLongScore);
BENCHMARK(CheckLongScore);
BENCHMARK(CheckLongScoreFresh);
BENCHMARK(CheckMappedLongScore);
BENCHMARK_CAPTURE(ExportMusicXml, StartScore, std::string("start-score.txt"));
BENCHMARK_CAPTURE(ExportMusicXml, Mixed4096Notes, std::string("long-4096.txt"));
BENCHMARK(LayOutLongScore);
BENCHMARK(MapAndLayOutLongScore);

BENCHMARK_MAIN();
