// sink_watch: listens to a PulseAudio sink's monitor through parec and times what is heard there against
// clicks sent with xdotool and the program's own trace, all on the one clock of the machine
// (CLOCK_MONOTONIC). Run by bench/preview-latency.sh, which sets up the sound server, the display and the
// program; see there for the method.
//
//   sink_watch tone FILE                        writes a short WAV tone that is loud from its first sample
//   sink_watch floor --runs N FILE              paplay FILE: start of paplay -> first audible sample
//   sink_watch play --runs N --at X Y --trace T ▶ at X Y: release of the mouse button -> first audible
//   sample;
//                                               last audible sample -> "MIDI 作成" enabled (the trace's
//                                               "ok-enabled"); the music must end by itself
//   sink_watch dropouts --runs N --seconds S --at X Y --stop X Y
//                                               ▶, S seconds of listening, ■: gaps the stream left
//
// The monitor is read by a thread of its own that stamps every piece with the moment it arrived; a sample's
// moment is its piece's, less the samples that follow it in the piece. Audible: a sample beyond the program's
// silence threshold (InaudiblePeak). Each run starts after 300 ms of silence.

#include "media_render.h"
#include "wav_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC, as the program's trace
using namespace std::chrono_literals;

constexpr int Rate = nagisora::RenderSampleRate;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

Clock::time_point FromNanoseconds(long long ns) {
    return Clock::time_point(std::chrono::nanoseconds(ns));
}

bool Audible(std::int16_t left, std::int16_t right) {
    return std::abs(left) > nagisora::InaudiblePeak || std::abs(right) > nagisora::InaudiblePeak;
}

// Runs a program to its end; returns the moments just before it started and just after it ended.
std::pair<Clock::time_point, Clock::time_point> Run(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const Clock::time_point started = Clock::now();
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + arguments[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const Clock::time_point ended = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(arguments[0] + " failed");
    return {started, ended};
}

// One stereo frame with the moment it was played at the sink.
struct Frame {
    Clock::time_point at;
    std::int16_t left;
    std::int16_t right;
};

// parec on the default monitor, read on a thread of its own.
class Monitor {
  public:
    explicit Monitor(int latencyMs) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        const std::string latency = "--latency-msec=" + std::to_string(latencyMs);
        const std::string rate = "--rate=" + std::to_string(Rate);
        const char* argv[] = {"parec",         "--raw", "--format=s16le",    rate.c_str(), "--channels=2",
                              latency.c_str(), "-d",    "@DEFAULT_MONITOR@", nullptr};
        const int spawned =
            posix_spawnp(&parec_, "parec", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        fd_ = ends[0];
        if (spawned != 0) {
            ::close(fd_);
            throw std::runtime_error("cannot start parec");
        }
        reader_ = std::thread([this] { Read(); });
    }

    ~Monitor() {
        ::kill(parec_, SIGTERM);
        ::waitpid(parec_, nullptr, 0);
        stop_.store(true);
        reader_.join();
        ::close(fd_);
    }

    // The frames that arrived since the last call.
    std::vector<Frame> Take() {
        std::lock_guard lock(mutex_);
        std::vector<Frame> frames(frames_.begin(), frames_.end());
        frames_.clear();
        return frames;
    }

    // Waits until nothing audible has arrived for the quiet time.
    void WaitForSilence(Clock::duration quiet = 300ms) {
        const Clock::time_point deadline = Clock::now() + 10s;
        Clock::time_point lastSound = Clock::now();
        while (Clock::now() - lastSound < quiet) {
            if (Clock::now() > deadline) throw std::runtime_error("the sink does not go quiet");
            for (const Frame& f : Take())
                if (Audible(f.left, f.right)) lastSound = f.at;
            std::this_thread::sleep_for(5ms);
        }
    }

  private:
    void Read() {
        std::array<char, 16384> buffer{};
        std::string pending;
        while (!stop_.load()) {
            pollfd watched{fd_, POLLIN, 0};
            if (::poll(&watched, 1, 50) <= 0) continue;
            const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
            const Clock::time_point arrived = Clock::now();
            if (got <= 0) break;
            pending.append(buffer.data(), static_cast<std::size_t>(got));
            const std::size_t frames = pending.size() / 4;
            std::lock_guard lock(mutex_);
            for (std::size_t k = 0; k < frames; ++k) {
                std::int16_t sample[2];
                std::memcpy(sample, pending.data() + 4 * k, 4);
                const auto before = std::chrono::nanoseconds((frames - 1 - k) * 1000000000LL / Rate);
                frames_.push_back(Frame{arrived - before, sample[0], sample[1]});
            }
            pending.erase(0, frames * 4);
        }
    }

    pid_t parec_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::deque<Frame> frames_;
};

// The first audible frame after the moment, waiting for it up to the timeout; frames read on the way are
// kept in seen.
std::optional<Clock::time_point> FirstSound(Monitor& monitor, Clock::time_point after,
                                            std::vector<Frame>& seen, Clock::duration timeout = 3s) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::size_t checked = 0;
    while (Clock::now() < deadline) {
        const std::vector<Frame> frames = monitor.Take();
        seen.insert(seen.end(), frames.begin(), frames.end());
        for (; checked < seen.size(); ++checked)
            if (seen[checked].at >= after && Audible(seen[checked].left, seen[checked].right))
                return seen[checked].at;
        std::this_thread::sleep_for(1ms);
    }
    return std::nullopt;
}

// The moment of the trace's first event of the kind after the moment, waiting for it up to the timeout.
std::optional<Clock::time_point> TraceEvent(const std::string& trace, const std::string& kind,
                                            Clock::time_point after, Monitor& monitor,
                                            std::vector<Frame>& seen, Clock::duration timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        std::ifstream in(trace);
        long long ns = 0;
        std::string event;
        while (in >> ns >> event)
            if (event == kind && FromNanoseconds(ns) > after) return FromNanoseconds(ns);
        const std::vector<Frame> frames = monitor.Take();
        seen.insert(seen.end(), frames.begin(), frames.end());
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

// Gaps the sink filled with silence because the stream ran dry: at least 16 frames of exact zeros in both
// channels with loud music right before and right after, which the music itself does not hold.
int CountDropouts(const std::vector<Frame>& frames) {
    constexpr std::size_t MinGap = 16;
    constexpr std::size_t Margin = 64;
    constexpr int Loud = 300;
    const auto silent = [&](std::size_t f) { return frames[f].left == 0 && frames[f].right == 0; };
    const auto loudWithin = [&](std::size_t from, std::size_t to) {
        return std::any_of(frames.begin() + static_cast<std::ptrdiff_t>(from),
                           frames.begin() + static_cast<std::ptrdiff_t>(to), [](const Frame& f) {
                               return std::abs(f.left) > Loud || std::abs(f.right) > Loud;
                           });
    };
    int gaps = 0;
    for (std::size_t f = Margin; f + Margin < frames.size();) {
        if (!silent(f)) {
            ++f;
            continue;
        }
        std::size_t end = f;
        while (end < frames.size() && silent(end))
            ++end;
        if (end - f >= MinGap && end + Margin < frames.size() && loudWithin(f - Margin, f) &&
            loudWithin(end, end + Margin))
            ++gaps;
        f = end;
    }
    return gaps;
}

void Summary(const char* what, std::vector<double> values) {
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%s: median %.1f, worst %.1f, best %.1f (%zu runs)\n", what, median, values.back(),
                values.front(), n);
}

void WriteTone(const std::string& path) {
    constexpr double Seconds = 0.5;
    const int frames = static_cast<int>(Seconds * Rate);
    std::string bytes = nagisora::WavHeader(Rate, 2, static_cast<std::uint32_t>(frames * 4));
    for (int k = 0; k < frames; ++k) {
        const auto s = static_cast<std::int16_t>(8000 * std::cos(2 * M_PI * 440.0 * k / Rate));
        for (int channel = 0; channel < 2; ++channel)
            bytes.append(reinterpret_cast<const char*>(&s), 2);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

void Floor(int runs, const std::string& wav) {
    Monitor monitor(2);
    std::vector<double> latencies;
    // Run 0 warms the server up (its first stream is set up slowly) and is not counted.
    for (int run = 0; run <= runs; ++run) {
        monitor.WaitForSilence();
        const Clock::time_point started = Run({"paplay", wav}).first;
        std::vector<Frame> seen;
        const std::optional<Clock::time_point> sound = FirstSound(monitor, started, seen);
        if (!sound) throw std::runtime_error("paplay made no sound");
        std::printf("paplay run %d%s: start -> first audible sample %.1f ms\n", run,
                    run == 0 ? " (warm-up)" : "", Ms(*sound - started));
        if (run > 0) latencies.push_back(Ms(*sound - started));
    }
    Summary("paplay start -> first audible sample (ms)", latencies);
}

void Play(int runs, int x, int y, const std::string& trace) {
    Monitor monitor(2);
    Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
    std::vector<double> fromStart, fromExit, fromReceived, toEnabled;
    for (int run = 1; run <= runs; ++run) {
        monitor.WaitForSilence();
        Run({"xdotool", "mousedown", "1"});
        std::this_thread::sleep_for(50ms);
        monitor.Take();
        // A button acts when it is released: the click is the release.
        const auto [started, ended] = Run({"xdotool", "mouseup", "1"});
        std::vector<Frame> seen;
        const std::optional<Clock::time_point> sound = FirstSound(monitor, started, seen);
        if (!sound) throw std::runtime_error("no sound after ▶ (run " + std::to_string(run) + ")");
        const std::optional<Clock::time_point> received =
            TraceEvent(trace, "play-click", started, monitor, seen, 5s);
        const std::optional<Clock::time_point> enabled =
            TraceEvent(trace, "ok-enabled", started, monitor, seen, 60s);
        if (!enabled || !received) throw std::runtime_error("\"MIDI 作成\" was not enabled again");
        // Whatever still sounds after the enabling belongs to this run's music.
        monitor.WaitForSilence(1s);
        for (const Frame& f : monitor.Take())
            seen.push_back(f);
        const auto last =
            std::find_if(seen.rbegin(), seen.rend(), [](const Frame& f) { return Audible(f.left, f.right); });
        fromStart.push_back(Ms(*sound - started));
        fromExit.push_back(Ms(*sound - ended));
        fromReceived.push_back(Ms(*sound - *received));
        toEnabled.push_back(Ms(*enabled - last->at));
        std::printf(
            "▶ run %d%s: xdotool mouseup started -> first audible sample %.1f ms (xdotool exited at %.1f "
            "ms, the program's handler ran at %.1f ms); last audible sample -> \"MIDI 作成\" enabled "
            "%.1f ms\n",
            run, run == 1 ? " (opens the output)" : "", fromStart.back(), Ms(ended - started),
            Ms(*received - started), toEnabled.back());
    }
    Summary("▶: xdotool mouseup started -> first audible sample (ms)", fromStart);
    Summary("▶: xdotool mouseup exited -> first audible sample (ms)", fromExit);
    Summary("▶: the program's handler (mPlayClick) ran -> first audible sample (ms)", fromReceived);
    Summary("last audible sample -> \"MIDI 作成\" enabled (ms)", toEnabled);
}

void Dropouts(int runs, int seconds, int x, int y, int stopX, int stopY) {
    // A recorder that asks for a short latency makes the sink run in steps that short; listening leaves the
    // sink's pace to the player's own stream.
    Monitor monitor(50);
    std::vector<double> counts;
    for (int run = 1; run <= runs; ++run) {
        monitor.WaitForSilence();
        Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const std::vector<Frame> frames = monitor.Take();
        Run({"xdotool", "mousemove", std::to_string(stopX), std::to_string(stopY), "click", "1"});
        const auto loud = std::count_if(frames.begin(), frames.end(),
                                        [](const Frame& f) { return Audible(f.left, f.right); });
        if (loud < Rate) throw std::runtime_error("the music was not heard");
        counts.push_back(CountDropouts(frames));
        std::printf("dropouts run %d: %d in %d s\n", run, static_cast<int>(counts.back()), seconds);
    }
    Summary("dropouts per run", counts);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: sink_watch tone FILE | floor --runs N FILE | play --runs N --at X Y --trace FILE | "
                 "dropouts --runs N --seconds S --at X Y --stop X Y\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    int runs = 10, seconds = 30, x = 0, y = 0, stopX = 0, stopY = 0;
    std::string trace, file;
    for (int k = 2; k < argc; ++k) {
        const std::string arg = argv[k];
        const auto next = [&] {
            if (k + 1 >= argc) throw std::runtime_error("missing value after " + arg);
            return std::string(argv[++k]);
        };
        try {
            if (arg == "--runs")
                runs = std::stoi(next());
            else if (arg == "--seconds")
                seconds = std::stoi(next());
            else if (arg == "--at") {
                x = std::stoi(next());
                y = std::stoi(next());
            } else if (arg == "--stop") {
                stopX = std::stoi(next());
                stopY = std::stoi(next());
            } else if (arg == "--trace")
                trace = next();
            else
                file = arg;
        } catch (const std::exception&) {
            return Usage();
        }
    }
    try {
        if (mode == "tone" && !file.empty())
            WriteTone(file);
        else if (mode == "floor" && !file.empty())
            Floor(runs, file);
        else if (mode == "play" && !trace.empty())
            Play(runs, x, y, trace);
        else if (mode == "dropouts")
            Dropouts(runs, seconds, x, y, stopX, stopY);
        else
            return Usage();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sink_watch: %s\n", error.what());
        return 1;
    }
    return 0;
}
