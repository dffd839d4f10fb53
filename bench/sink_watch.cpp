// sink_watch: the preview as heard at a PulseAudio sink, beside paplay on the same sink in the same run. Run
// by bench/preview-latency.sh, which sets up the sound server, the display and two windows of the program;
// see there for the method.
//
//   sink_watch tone FILE SECONDS    writes a WAV tone, loud from its first sample to its last
//   sink_watch bench --trace FILE --tone FILE --long-tone FILE --long-wav FILE
//                    --play X Y --stop X Y --ok X Y --long-play X Y --long-stop X Y --note-seconds S
//                    [--runs N] [--dropout-runs N] [--dropout-seconds S]
//
// One recording of the sink's monitor runs from the start to the end (libpulse, a fragment of 2 ms): every
// frame is kept with the moment it was played at the sink, so nothing heard between two measurements is lost.
// A frame's moment is the moment its fragment arrived less the record stream's own latency (how long the
// oldest unread frame has waited since the sink played it, which the server reports), plus its place in the
// fragment: the recording's delay is aligned out. Holes in the recording (frames the server dropped because
// this reader was late) are counted and reported.
//
// Clicks go through the X server with XTest from this process (a pointer motion, a press, and the release
// that makes a button act, timed just before it is sent), so no program starts per click. The program writes
// the moments of its own events to the trace (NAGISORA_TRACE): "ok-enabled" when the end of the music enabled
// "MIDI 作成" again, "mark N" when the playing mark moved to note N. Everything shares CLOCK_MONOTONIC.
//
// Before the first measurement one paplay of the tone, not counted, wakes the null sink: an idle null sink
// renders ahead in long blocks, which the first stream would otherwise pay for. Audible: a sample beyond the
// program's silence threshold (InaudiblePeak). Each run starts after 300 ms of silence.

#include "platform/media_render.h"
#include "platform/wav_file.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <pulse/pulseaudio.h>
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

Clock::duration FramesTime(std::int64_t frames) {
    return std::chrono::nanoseconds(frames * 1000000000LL / Rate);
}

bool Audible(std::int16_t left, std::int16_t right) {
    return std::abs(left) > nagisora::InaudiblePeak || std::abs(right) > nagisora::InaudiblePeak;
}

// ---------------------------------------------------------------------------------------------------------
// The recording of the monitor.

class Recording {
  public:
    Recording() {
        loop_ = pa_threaded_mainloop_new();
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "sink_watch");
        pa_context_set_state_callback(context_, &Recording::Signal, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            throw std::runtime_error("no sound server");
        pa_threaded_mainloop_start(loop_);
        pa_threaded_mainloop_lock(loop_);
        while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) Fail("no sound server");
            pa_threaded_mainloop_wait(loop_);
        }
        const pa_sample_spec format{PA_SAMPLE_S16LE, Rate, 2};
        stream_ = pa_stream_new(context_, "sink_watch", &format, nullptr);
        pa_stream_set_state_callback(stream_, &Recording::Signal, this);
        pa_stream_set_read_callback(stream_, &Recording::OnRead, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(2000, &format));
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_record(stream_, "@DEFAULT_MONITOR@", &attributes, flags) < 0)
            Fail("cannot record the monitor");
        while (pa_stream_get_state(stream_) != PA_STREAM_READY) {
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) Fail("cannot record the monitor");
            pa_threaded_mainloop_wait(loop_);
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    ~Recording() {
        pa_threaded_mainloop_stop(loop_);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
    }

    std::int64_t Frames() const {
        std::lock_guard lock(mutex_);
        return static_cast<std::int64_t>(samples_.size() / 2);
    }

    Clock::time_point TimeOf(std::int64_t frame) const {
        std::lock_guard lock(mutex_);
        return TimeOfLocked(frame);
    }

    // The first frame played at or after the moment; Frames() when none has been recorded yet.
    std::int64_t FrameAt(Clock::time_point moment) const {
        std::lock_guard lock(mutex_);
        const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), moment,
                                            [](Clock::time_point m, const Piece& p) { return m < p.at; });
        if (after == pieces_.begin()) return pieces_.empty() ? 0 : pieces_.front().first;
        const Piece& piece = *std::prev(after);
        const std::int64_t end =
            after == pieces_.end() ? static_cast<std::int64_t>(samples_.size() / 2) : after->first;
        const auto offset = (moment - piece.at).count() * Rate / 1000000000LL;
        return std::min<std::int64_t>(end, piece.first + offset + 1);
    }

    bool AudibleAt(std::int64_t frame) const {
        std::lock_guard lock(mutex_);
        return Audible(samples_[2 * frame], samples_[2 * frame + 1]);
    }

    int PeakOf(std::int64_t from, std::int64_t to) const {
        std::lock_guard lock(mutex_);
        int peak = 0;
        for (std::int64_t f = std::max<std::int64_t>(from, 0); f < to && 2 * f + 1 < std::ssize(samples_);
             ++f)
            peak = std::max({peak, std::abs(int{samples_[2 * f]}), std::abs(int{samples_[2 * f + 1]})});
        return peak;
    }

    std::vector<std::int16_t> Samples(std::int64_t from, std::int64_t to) const {
        std::lock_guard lock(mutex_);
        to = std::min<std::int64_t>(to, std::ssize(samples_) / 2);
        return {samples_.begin() + 2 * from, samples_.begin() + 2 * std::max(from, to)};
    }

    std::int64_t HoleFrames() const { return holeFrames_.load(); }
    double MedianLatencyMs() const {
        std::lock_guard lock(mutex_);
        if (latencies_.empty()) return 0;
        std::vector<double> sorted = latencies_;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }

  private:
    struct Piece {
        std::int64_t first;   // its first frame
        Clock::time_point at; // when that frame was played at the sink
    };

    [[noreturn]] void Fail(const char* what) {
        pa_threaded_mainloop_unlock(loop_);
        throw std::runtime_error(what);
    }

    Clock::time_point TimeOfLocked(std::int64_t frame) const {
        const auto piece = std::upper_bound(pieces_.begin(), pieces_.end(), frame,
                                            [](std::int64_t f, const Piece& p) { return f < p.first; });
        if (piece == pieces_.begin()) return Clock::time_point{};
        const Piece& p = *std::prev(piece);
        return p.at + FramesTime(frame - p.first);
    }

    static void Signal(pa_context*, void* data) { Wake(data); }
    static void Signal(pa_stream*, void* data) { Wake(data); }
    static void Wake(void* data) { pa_threaded_mainloop_signal(static_cast<Recording*>(data)->loop_, 0); }

    static void OnRead(pa_stream* stream, std::size_t /*bytes*/, void* data) {
        auto& self = *static_cast<Recording*>(data);
        const Clock::time_point arrived = Clock::now();
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &latency, &negative) != 0) latency = 0;
        const auto waited =
            std::chrono::microseconds(static_cast<std::int64_t>(latency)) * (negative ? -1 : 1);
        Clock::time_point at = arrived - waited; // the oldest unread frame's moment
        std::lock_guard lock(self.mutex_);
        self.latencies_.push_back(std::chrono::duration<double, std::milli>(waited).count());
        while (pa_stream_readable_size(stream) > 0) {
            const void* bytes = nullptr;
            std::size_t size = 0;
            if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) break;
            const std::int64_t frames = static_cast<std::int64_t>(size / 4);
            if (bytes == nullptr) {
                self.holeFrames_ += frames; // dropped before this reader got it
            } else {
                self.pieces_.push_back(Piece{static_cast<std::int64_t>(self.samples_.size() / 2), at});
                const auto* samples = static_cast<const std::int16_t*>(bytes);
                self.samples_.insert(self.samples_.end(), samples, samples + 2 * frames);
            }
            at += FramesTime(frames);
            pa_stream_drop(stream);
        }
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::int16_t> samples_;
    std::vector<Piece> pieces_;
    std::vector<double> latencies_;
    std::atomic<std::int64_t> holeFrames_{0};
};

// The first audible frame played at or after the moment, waiting for it up to the timeout.
std::optional<std::int64_t> FirstSound(const Recording& recording, Clock::time_point after,
                                       Clock::duration timeout = 3s) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::int64_t frame = recording.FrameAt(after);
    while (Clock::now() < deadline) {
        for (const std::int64_t end = recording.Frames(); frame < end; ++frame)
            if (recording.AudibleAt(frame)) return frame;
        std::this_thread::sleep_for(1ms);
    }
    return std::nullopt;
}

// Waits until the last quiet time of the recording holds nothing audible; returns the last audible frame
// before that (or the frame from which it looked).
std::int64_t WaitForSilence(const Recording& recording, std::int64_t from, Clock::duration quiet = 300ms) {
    const Clock::time_point deadline = Clock::now() + 20s;
    std::int64_t lastSound = from - 1;
    std::int64_t frame = from;
    while (Clock::now() < deadline) {
        const std::int64_t end = recording.Frames();
        for (; frame < end; ++frame)
            if (recording.AudibleAt(frame)) lastSound = frame;
        if (end - std::max(lastSound + 1, from) >= Rate * quiet / 1s) return lastSound;
        std::this_thread::sleep_for(5ms);
    }
    throw std::runtime_error("the sink does not go quiet");
}

// The first moment after the frame at which the sound has dropped by the factor (0.71: 3 dB, the sound
// changes; 0.1: 20 dB, it has died away) from its level in the 50 ms before the frame, judged over windows of
// 2 ms.
std::optional<std::int64_t> FirstDrop(const Recording& recording, std::int64_t frame, double factor,
                                      Clock::duration timeout = 2s) {
    constexpr std::int64_t Window = Rate / 500;
    const int before = recording.PeakOf(frame - Rate / 20, frame);
    if (before <= 4 * nagisora::InaudiblePeak) return std::nullopt;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (std::int64_t at = frame; Clock::now() < deadline;) {
        if (at + Window > recording.Frames()) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        if (recording.PeakOf(at, at + Window) < factor * before) return at;
        at += Window;
    }
    return std::nullopt;
}

// The last frame from from on and before to whose level exceeds the peak; from - 1 when none.
std::int64_t LastAbove(const Recording& recording, std::int64_t from, std::int64_t to, int peak) {
    for (std::int64_t f = to - 1; f >= from; --f)
        if (recording.PeakOf(f, f + 1) > peak) return f;
    return from - 1;
}

// Samples beyond this (-40 dB below full scale) are the notes themselves; below it the reverberation fades.
constexpr int FadeLevel = 328;

// Gaps the sink filled with silence because a stream ran dry: at least 16 frames of exact zeros in both
// channels with loud sound right before and right after, which music does not hold.
int CountDropouts(const std::vector<std::int16_t>& samples) {
    constexpr std::size_t MinGap = 16;
    constexpr std::size_t Margin = 64;
    constexpr int Loud = 300;
    const std::size_t frames = samples.size() / 2;
    const auto silent = [&](std::size_t f) { return samples[2 * f] == 0 && samples[2 * f + 1] == 0; };
    const auto loudWithin = [&](std::size_t from, std::size_t to) {
        for (std::size_t f = from; f < to; ++f)
            if (std::abs(samples[2 * f]) > Loud || std::abs(samples[2 * f + 1]) > Loud) return true;
        return false;
    };
    int gaps = 0;
    for (std::size_t f = Margin; f + Margin < frames;) {
        if (!silent(f)) {
            ++f;
            continue;
        }
        std::size_t end = f;
        while (end < frames && silent(end))
            ++end;
        if (end - f >= MinGap && end + Margin < frames && loudWithin(f - Margin, f) &&
            loudWithin(end, end + Margin))
            ++gaps;
        f = end;
    }
    return gaps;
}

// ---------------------------------------------------------------------------------------------------------
// Clicks, programs, the trace.

class Pointer {
  public:
    Pointer() : display_(XOpenDisplay(nullptr)) {
        if (display_ == nullptr) throw std::runtime_error("no X display");
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(display_, &event, &error, &major, &minor))
            throw std::runtime_error("the X server has no XTest");
    }
    ~Pointer() { XCloseDisplay(display_); }

    // Moves to the point and presses the button; the release, which makes the button act, is timed.
    void PressAt(int x, int y) {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XSync(display_, False);
    }
    Clock::time_point Release() {
        const Clock::time_point at = Clock::now();
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XFlush(display_);
        XSync(display_, False);
        return at;
    }
    Clock::time_point Click(int x, int y) {
        PressAt(x, y);
        std::this_thread::sleep_for(30ms);
        return Release();
    }
    // Presses and releases the key (a keysym name such as "F6") in the window under the pointer; the press,
    // which makes a shortcut act, is timed.
    Clock::time_point Key(const char* name) {
        const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(name));
        const Clock::time_point at = Clock::now();
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XFlush(display_);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XSync(display_, False);
        return at;
    }
    // The pixels of a rectangle of the screen around the point.
    std::vector<unsigned long> Pixels(int x, int y) {
        constexpr int Half = 16;
        XImage* image = XGetImage(display_, DefaultRootWindow(display_), x - Half, y - 6, 2 * Half, 12,
                                  AllPlanes, ZPixmap);
        std::vector<unsigned long> pixels;
        if (image == nullptr) return pixels;
        for (int row = 0; row < 12; ++row)
            for (int column = 0; column < 2 * Half; ++column)
                pixels.push_back(XGetPixel(image, column, row));
        XDestroyImage(image);
        return pixels;
    }
    // The moment the rectangle around the point first differs from the pixels, polled every half millisecond.
    std::optional<Clock::time_point> Changed(int x, int y, const std::vector<unsigned long>& before,
                                             Clock::duration timeout = 1s) {
        const Clock::time_point deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            const Clock::time_point at = Clock::now();
            if (Pixels(x, y) != before) return at;
            std::this_thread::sleep_for(500us);
        }
        return std::nullopt;
    }

  private:
    Display* display_;
};

// A program started in the background; the moment just before it started.
struct Started {
    pid_t pid = -1;
    Clock::time_point at;
};

Started Start(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Started started;
    started.at = Clock::now();
    if (posix_spawnp(&started.pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + arguments[0]);
    return started;
}

// Waits for the program; the moment it was seen to end.
Clock::time_point Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return Clock::now();
}

// Busy programs, one per core: they run until destroyed.
class Hogs {
  public:
    explicit Hogs(int count) {
        for (int k = 0; k < count; ++k) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                for (volatile unsigned long n = 0;; n = n + 1) {
                }
            }
            pids_.push_back(pid);
        }
    }
    ~Hogs() {
        for (const pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

  private:
    std::vector<pid_t> pids_;
};

// The trace's events of the kind after the moment, waiting up to the timeout for the first.
std::vector<std::pair<Clock::time_point, std::string>>
TraceEvents(const std::string& trace, const std::string& kind, Clock::time_point after) {
    std::vector<std::pair<Clock::time_point, std::string>> events;
    std::ifstream in(trace);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const Clock::time_point at{std::chrono::nanoseconds(std::stoll(line.substr(0, space)))};
        const std::string event = line.substr(space + 1);
        if (at > after && event.starts_with(kind)) events.emplace_back(at, event);
    }
    return events;
}

std::optional<Clock::time_point> WaitForTrace(const std::string& trace, const std::string& kind,
                                              Clock::time_point after, Clock::duration timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (const auto events = TraceEvents(trace, kind, after); !events.empty()) return events.front().first;
        std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------------------
// The figures.

struct Figures {
    std::map<std::string, std::vector<double>> values;
    std::vector<std::string> order;

    void Add(const std::string& what, double value) {
        if (!values.contains(what)) order.push_back(what);
        values[what].push_back(value);
    }

    void Print() const {
        for (const std::string& what : order) {
            std::vector<double> v = values.at(what);
            std::sort(v.begin(), v.end());
            const std::size_t n = v.size();
            const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
            const double p90 = v[std::min(n - 1, n * 9 / 10)];
            std::printf("%-62s median %7.1f  p90 %7.1f  worst %7.1f  best %7.1f  n %zu\n", what.c_str(),
                        median, p90, v.back(), v.front(), n);
        }
    }
};

void WriteTone(const std::string& path, double seconds) {
    const int frames = static_cast<int>(seconds * Rate);
    std::string bytes = nagisora::WavHeader(Rate, 2, static_cast<std::uint32_t>(frames * 4));
    for (int k = 0; k < frames; ++k) {
        const auto s = static_cast<std::int16_t>(8000 * std::cos(2 * M_PI * 440.0 * k / Rate));
        for (int channel = 0; channel < 2; ++channel)
            bytes.append(reinterpret_cast<const char*>(&s), 2);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Point {
    int x = 0;
    int y = 0;
};

struct Options {
    std::string trace, tone, longTone, longWav;
    Point play, stop, longPlay, longStop, ok;
    double noteSeconds = 0;
    int runs = 15, dropoutRuns = 3, dropoutSeconds = 30;
};

class Bench {
  public:
    explicit Bench(Options options) : o_(std::move(options)) {}

    void Run() {
        std::printf("monitor recording: fragments of 2 ms; its own latency, aligned out: median %.1f ms\n",
                    recording_.MedianLatencyMs());
        Warm();
        for (int run = 1; run <= o_.runs; ++run)
            Paplay(run);
        for (int run = 1; run <= o_.runs; ++run)
            PlayToTheEnd(run);
        for (int run = 1; run <= o_.runs; ++run)
            StopInTheMiddle(run);
        for (int run = 1; run <= o_.runs; ++run)
            Greying(run);
        for (int run = 1; run <= o_.dropoutRuns; ++run)
            Dropouts(run);
        std::printf("\n== figures (ms; dropouts: gaps per run)\n");
        figures_.Print();
        std::printf(
            "monitor: %lld frames recorded, %lld lost by the recording; its own latency median %.1f ms\n",
            static_cast<long long>(recording_.Frames()), static_cast<long long>(recording_.HoleFrames()),
            recording_.MedianLatencyMs());
    }

  private:
    std::int64_t Quiet() { return WaitForSilence(recording_, recording_.Frames()); }

    void Warm() {
        Quiet();
        const Started paplay = Start({"paplay", o_.tone});
        Wait(paplay.pid);
        const std::optional<std::int64_t> sound = FirstSound(recording_, paplay.at);
        std::printf("warm-up paplay (not counted): start -> first audible %.1f ms\n",
                    sound ? Ms(recording_.TimeOf(*sound) - paplay.at) : -1.0);
    }

    // paplay beside each figure of the program: its start to its first audible sample, the end of its sound
    // to its exit, and a SIGTERM in the middle of a long tone to the drop of the sound.
    void Paplay(int run) {
        Quiet();
        const Started paplay = Start({"paplay", o_.tone});
        const Clock::time_point ended = Wait(paplay.pid);
        const std::optional<std::int64_t> sound = FirstSound(recording_, paplay.at);
        if (!sound) throw std::runtime_error("paplay made no sound");
        const std::int64_t last = WaitForSilence(recording_, *sound);
        const double toSound = Ms(recording_.TimeOf(*sound) - paplay.at);
        const double toExit = Ms(ended - recording_.TimeOf(last));
        figures_.Add("paplay: start -> first audible", toSound);
        figures_.Add("paplay: end of sound -> paplay exited", toExit);

        const Started longer = Start({"paplay", o_.longTone});
        const std::optional<std::int64_t> longSound = FirstSound(recording_, longer.at);
        if (!longSound) throw std::runtime_error("paplay made no sound");
        std::this_thread::sleep_until(recording_.TimeOf(*longSound) + 500ms);
        const Clock::time_point killed = Clock::now();
        ::kill(longer.pid, SIGTERM);
        const std::int64_t at = recording_.FrameAt(killed);
        const std::optional<std::int64_t> change = FirstDrop(recording_, at, 0.71);
        const std::optional<std::int64_t> gone = FirstDrop(recording_, at, 0.1);
        Wait(longer.pid);
        if (!change || !gone) throw std::runtime_error("SIGTERM did not stop paplay's sound");
        figures_.Add("paplay: SIGTERM -> the sound drops 3 dB", Ms(recording_.TimeOf(*change) - killed));
        figures_.Add("paplay: SIGTERM -> the sound drops 20 dB", Ms(recording_.TimeOf(*gone) - killed));
        std::printf(
            "paplay run %d: start -> audible %.1f, end of sound -> exit %.1f, SIGTERM -> -3 dB %.1f\n", run,
            toSound, toExit, Ms(recording_.TimeOf(*change) - killed));
    }

    // ▶ on the short score: the first audible sample, the playing mark's moments against the notes' heard
    // onsets, and the end of the sound to "MIDI 作成" enabled again.
    void PlayToTheEnd(int run) {
        Quiet();
        pointer_.PressAt(o_.play.x, o_.play.y);
        std::this_thread::sleep_for(30ms);
        const Clock::time_point click = pointer_.Release();
        const std::optional<std::int64_t> sound = FirstSound(recording_, click);
        if (!sound) throw std::runtime_error("no sound after ▶ (run " + std::to_string(run) + ")");
        const std::optional<Clock::time_point> enabled = WaitForTrace(o_.trace, "ok-enabled", click, 30s);
        if (!enabled) throw std::runtime_error("\"MIDI 作成\" was not enabled again");
        const std::int64_t last = WaitForSilence(recording_, *sound);
        const std::int64_t fade = LastAbove(recording_, *sound, last + 1, FadeLevel);
        const Clock::time_point heard = recording_.TimeOf(*sound);
        const double toSound = Ms(heard - click);
        const double toEnabled = Ms(*enabled - recording_.TimeOf(fade));
        figures_.Add(run == 1 ? "▶ (first, opens the output): click -> first audible"
                              : "▶ (later): click -> first audible",
                     toSound);
        figures_.Add("end of sound (-40 dB) -> \"MIDI 作成\" enabled", toEnabled);
        figures_.Add("last sample above the silence threshold -> \"MIDI 作成\" enabled",
                     Ms(*enabled - recording_.TimeOf(last)));
        double worstLag = 0;
        for (const auto& [at, event] : TraceEvents(o_.trace, "mark ", click)) {
            if (at > *enabled) break;
            const int note = std::stoi(event.substr(5));
            const auto onset = heard + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(note * o_.noteSeconds));
            const double lag = Ms(at - onset);
            figures_.Add("playing mark: heard onset of the note -> mark moved", lag);
            worstLag = std::max(worstLag, std::abs(lag));
        }
        std::printf("▶ run %d: click -> audible %.1f, end of sound -> enabled %.1f, mark lag worst %.1f\n",
                    run, toSound, toEnabled, worstLag);
    }

    // ▶, a second of the (organ) music, ■: the click on ■ to the sound's drop.
    void StopInTheMiddle(int run) {
        Quiet();
        const Clock::time_point click = pointer_.Click(o_.play.x, o_.play.y);
        const std::optional<std::int64_t> sound = FirstSound(recording_, click);
        if (!sound) throw std::runtime_error("no sound after ▶");
        std::this_thread::sleep_until(recording_.TimeOf(*sound) + 1s);
        pointer_.PressAt(o_.stop.x, o_.stop.y);
        std::this_thread::sleep_for(30ms);
        const Clock::time_point stop = pointer_.Release();
        const std::int64_t at = recording_.FrameAt(stop);
        const std::optional<std::int64_t> change = FirstDrop(recording_, at, 0.71);
        const std::optional<std::int64_t> gone = FirstDrop(recording_, at, 0.1);
        if (!change || !gone) throw std::runtime_error("■ changed nothing (run " + std::to_string(run) + ")");
        figures_.Add("■: click -> the sound drops 3 dB", Ms(recording_.TimeOf(*change) - stop));
        figures_.Add("■: click -> the sound drops 20 dB (the notes' release)",
                     Ms(recording_.TimeOf(*gone) - stop));
        std::printf("■ run %d: click -> -3 dB %.1f, -20 dB %.1f\n", run,
                    Ms(recording_.TimeOf(*change) - stop), Ms(recording_.TimeOf(*gone) - stop));
    }

    // ▶ by the mouse and by F6: the click's release or the key's press to "MIDI 作成" drawn greyed on the
    // screen.
    void Greying(int run) {
        for (const bool key : {false, true}) {
            Quiet();
            const std::vector<unsigned long> before = pointer_.Pixels(o_.ok.x, o_.ok.y);
            Clock::time_point pressed;
            if (key) {
                pressed = pointer_.Key("F6");
            } else {
                pointer_.PressAt(o_.play.x, o_.play.y);
                std::this_thread::sleep_for(30ms);
                pressed = pointer_.Release();
            }
            const std::optional<Clock::time_point> greyed = pointer_.Changed(o_.ok.x, o_.ok.y, before);
            if (!greyed)
                throw std::runtime_error("\"MIDI 作成\" was not greyed (run " + std::to_string(run) + ")");
            figures_.Add(key ? "F6 -> \"MIDI 作成\" drawn greyed" : "▶ click -> \"MIDI 作成\" drawn greyed",
                         Ms(*greyed - pressed));
            if (!WaitForTrace(o_.trace, "ok-enabled", pressed, 30s))
                throw std::runtime_error("\"MIDI 作成\" was not enabled again");
        }
    }

    // The long score with two busy programs, then paplay of its WAV file with them: gaps in seconds of music.
    void Dropouts(int run) {
        Quiet();
        {
            const Hogs hogs(2);
            const Clock::time_point click = pointer_.Click(o_.longPlay.x, o_.longPlay.y);
            const std::optional<std::int64_t> sound = FirstSound(recording_, click);
            if (!sound) throw std::runtime_error("no sound after ▶ of the long score");
            std::this_thread::sleep_for(std::chrono::seconds(o_.dropoutSeconds));
            const std::int64_t end = recording_.Frames();
            pointer_.Click(o_.longStop.x, o_.longStop.y);
            const int gaps = CountDropouts(recording_.Samples(*sound, end));
            figures_.Add("dropouts: the program, two busy programs", gaps);
            std::printf("dropouts run %d: the program %d in %.1f s\n", run, gaps,
                        static_cast<double>(end - *sound) / Rate);
        }
        Quiet();
        {
            const Hogs hogs(2);
            const Started paplay = Start({"paplay", o_.longWav});
            const std::optional<std::int64_t> sound = FirstSound(recording_, paplay.at);
            if (!sound) throw std::runtime_error("paplay made no sound");
            std::this_thread::sleep_for(std::chrono::seconds(o_.dropoutSeconds));
            const std::int64_t end = recording_.Frames();
            ::kill(paplay.pid, SIGTERM);
            Wait(paplay.pid);
            const int gaps = CountDropouts(recording_.Samples(*sound, end));
            figures_.Add("dropouts: paplay of the same music, two busy programs", gaps);
            std::printf("dropouts run %d: paplay %d in %.1f s\n", run, gaps,
                        static_cast<double>(end - *sound) / Rate);
        }
    }

    Options o_;
    Recording recording_;
    Pointer pointer_;
    Figures figures_;
};

int Usage() {
    std::fprintf(
        stderr,
        "usage: sink_watch tone FILE SECONDS | bench --trace FILE --tone FILE --long-tone FILE "
        "--long-wav FILE --play X Y --stop X Y --ok X Y --long-play X Y --long-stop X Y --note-seconds S "
        "[--runs N] [--dropout-runs N] [--dropout-seconds S]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    try {
        if (mode == "tone") {
            if (argc != 4) return Usage();
            WriteTone(argv[2], std::stod(argv[3]));
            return 0;
        }
        if (mode != "bench") return Usage();
        Options o;
        for (int k = 2; k < argc; ++k) {
            const std::string arg = argv[k];
            const auto next = [&] {
                if (k + 1 >= argc) throw std::invalid_argument("missing value after " + arg);
                return std::string(argv[++k]);
            };
            const auto point = [&] { return Point{std::stoi(next()), std::stoi(next())}; };
            if (arg == "--trace")
                o.trace = next();
            else if (arg == "--tone")
                o.tone = next();
            else if (arg == "--long-tone")
                o.longTone = next();
            else if (arg == "--long-wav")
                o.longWav = next();
            else if (arg == "--play")
                o.play = point();
            else if (arg == "--stop")
                o.stop = point();
            else if (arg == "--long-play")
                o.longPlay = point();
            else if (arg == "--long-stop")
                o.longStop = point();
            else if (arg == "--ok")
                o.ok = point();
            else if (arg == "--note-seconds")
                o.noteSeconds = std::stod(next());
            else if (arg == "--runs")
                o.runs = std::stoi(next());
            else if (arg == "--dropout-runs")
                o.dropoutRuns = std::stoi(next());
            else if (arg == "--dropout-seconds")
                o.dropoutSeconds = std::stoi(next());
            else
                return Usage();
        }
        if (o.trace.empty() || o.tone.empty() || o.longTone.empty() || o.longWav.empty()) return Usage();
        Bench(std::move(o)).Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sink_watch: %s\n", error.what());
        return 1;
    }
    return 0;
}
