// Speed of "WAV 保存…" against real time: the rendering its worker thread runs (WriteWav: FluidSynth into the
// WAV file, counting frames and watching for a stop), on the example scores. The counter music_per_second is
// the seconds of music (without the release tail) rendered per second of wall time.

#include "app/wav_export.h"
#include "core/conversion.h"
#include "core/score_file_lines.h"
#include "platform/media_render.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

void RenderFromTheWindow(benchmark::State& state, const std::string& example) {
    std::ifstream in(std::string(NAGISORA_EXAMPLES_DIR) + "/" + example, std::ios::binary);
    if (!in) throw std::runtime_error("missing example " + example);
    const std::string file(std::istreambuf_iterator<char>(in), {});
    const std::string midi = nagisora::ConvertScore(nagisora::SplitScoreFileLines(file), {}).midiData;
    const double musicSeconds =
        static_cast<double>(nagisora::MusicFrames(midi)) / static_cast<double>(nagisora::RenderSampleRate);
    const std::string path = (std::filesystem::temp_directory_path() / "nagisora-wav-bench.wav").string();
    for (auto _ : state) {
        std::atomic<std::int64_t> frames{0};
        nagisora::WriteWav(midi, path, {}, std::stop_token{}, frames);
    }
    std::filesystem::remove(path);
    state.counters["music_per_second"] = benchmark::Counter(
        musicSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK_CAPTURE(RenderFromTheWindow, StartScore, std::string("start-score.txt"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RenderFromTheWindow, Mixed4096Notes, std::string("long-4096.txt"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

BENCHMARK_MAIN();
