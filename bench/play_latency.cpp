// play_latency: the time from a click on ▶ to the first audio of the music.
//
//   play_latency [--runs N] [--score FILE] [--output wav|pulse] [--path window|layer] [--listen S]
//                [--target-latency MS] [--metronome]
//
// --path window (the default) builds the main window on Qt's offscreen platform, loads the score through
// "楽譜読込" (its file dialog answered with FILE, default examples/start-score.txt), converts it with "MIDI
// 作成", and then times the click on the player's ▶ the way the mouse makes it: a press and a release sent to
// the player, which run the program's whole click path (PlayerButtonPressed, the player's open, play). --path
// layer times the media layer alone: Open of the converted file, then Play, each on its own, and the moment
// the layer's position leaves tick 0 (the audio thread has rendered the music's first blocks).
//
// --output wav (the default) plays through the layer's "file" output into a WAV file, in real time as a
// device would take it; the audio arrives as the output writes each period (watched with inotify). --output
// pulse plays through the layer's own PulseAudio stream and the audio arrives as the default sink plays it,
// read from the sink's monitor with parec. Needs a running PulseAudio; a null sink will do. The first click
// opens the output, which every later click reuses.
//
// Playback starts at the music's first note event, after the image's lead-in. Two moments are reported:
// "music starts", when the block holding that start arrived (found from the first note's onset less the time
// between the start and the first sounding note, none in the program's images), and "first note", when the
// first note arrived. --listen S plays S seconds once more after the timed runs and counts the gaps the
// device filled with silence because the stream ran dry. --target-latency asks PulseAudio for another
// latency than the layer's default. This measures inside one process; the whole path
// from a real click to the speaker is bench/preview-latency.sh.
//
// --metronome plays with the metronome's click on every beat (the first at the music's start), turned on in
// the window's menu or, for the layer, as its clicks. The window's settings are those of a fresh user (a
// folder of the run's own), so that no practice tempo of the user's changes the timing.
//
// Prints one line per run, the medians, and the process's peak resident memory (VmHWM).

#include "app/main_window.h"
#include "app/media_player.h"
#include "core/score_file_lines.h"
#include "platform/file_io.h"
#include "platform/media_layer.h"
#include "platform/media_midi_file.h"
#include "platform/media_render.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using nagisora::InaudiblePeak;

constexpr auto SoundTimeout = 3s;
// Time between runs, so that the last run's release has died away and the driver runs steadily.
constexpr auto Pause = 400ms;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HoldsSound(const std::int16_t* samples, std::size_t count) {
    return std::any_of(samples, samples + count,
                       [](std::int16_t s) { return s > InaudiblePeak || s < -InaudiblePeak; });
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// What a run saw: when the first block of the music (its tick 0) and the block with its first note arrived.
struct Arrivals {
    Clock::time_point musicStart;
    Clock::time_point firstNote;
};

// A stream of stereo 16-bit audio read as it arrives, each piece with the moment it was seen. The first
// note's onset is found in the samples; the music started lead-in frames before it, and that frame's piece
// tells when the music's first block arrived. (Every file starts with a lead-in of silence before its first
// note.)
class AudioWatch {
  public:
    virtual ~AudioWatch() = default;

    // Forgets what came before the click.
    virtual void Arm() = 0;

    // Gets ready for a longer listening run (see Record).
    virtual void PrepareToListen() {}

    // Reads until the first note shows; none within the timeout.
    std::optional<Arrivals> WaitForSound(std::int64_t leadInFrames) {
        Start();
        std::vector<std::pair<std::int64_t, Clock::time_point>> pieces; // frames up to here, seen then
        std::int64_t frames = 0;
        const Clock::time_point deadline = Clock::now() + SoundTimeout;
        while (Clock::now() < deadline) {
            std::vector<std::int16_t> samples = ReadAvailable();
            const Clock::time_point seen = Clock::now();
            if (samples.empty()) continue;
            const auto onset = std::find_if(samples.begin(), samples.end(), [](std::int16_t s) {
                return s > InaudiblePeak || s < -InaudiblePeak;
            });
            const std::int64_t before = frames;
            frames += static_cast<std::int64_t>(samples.size() / 2);
            pieces.emplace_back(frames, seen);
            if (onset == samples.end()) continue;
            const std::int64_t musicStart = before + (onset - samples.begin()) / 2 - leadInFrames;
            const auto piece = std::find_if(pieces.begin(), pieces.end(),
                                            [musicStart](const auto& p) { return p.first > musicStart; });
            if (musicStart < 0 || piece == pieces.end())
                throw std::runtime_error("the sound began before the music could have");
            return Arrivals{piece->second, seen};
        }
        return std::nullopt;
    }

    // Everything that arrives within the duration after the click.
    std::vector<std::int16_t> Record(Clock::duration duration) {
        Start();
        std::vector<std::int16_t> all;
        const Clock::time_point end = Clock::now() + duration;
        while (Clock::now() < end) {
            const std::vector<std::int16_t> samples = ReadAvailable();
            all.insert(all.end(), samples.begin(), samples.end());
        }
        return all;
    }

  protected:
    // Called once the click is done, before the first read.
    virtual void Start() {}
    // The whole stereo frames that have arrived, waiting a little when none have.
    virtual std::vector<std::int16_t> ReadAvailable() = 0;

    // Appends what the descriptor holds now to pending and returns the whole frames of it.
    static std::vector<std::int16_t> TakeFrames(int fd, std::string& pending) {
        std::array<char, 65536> buffer{};
        ssize_t got = 0;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0)
            pending.append(buffer.data(), static_cast<std::size_t>(got));
        constexpr std::size_t FrameBytes = 2 * sizeof(std::int16_t);
        const std::size_t whole = pending.size() / FrameBytes * FrameBytes;
        std::vector<std::int16_t> samples(whole / sizeof(std::int16_t));
        std::memcpy(samples.data(), pending.data(), whole);
        pending.erase(0, whole);
        return samples;
    }
};

// The WAV file that the layer's "file" output writes, one period at a time as a device would take it; the
// output opens it at the first click and writes it from then on. Its folder is watched for writes, and each
// write is read as soon as it is reported.
class WavWatch : public AudioWatch {
  public:
    WavWatch(const std::string& folder, const std::string& name)
        : path_(folder + "/" + name), inotify_(inotify_init1(IN_NONBLOCK)) {
        if (inotify_.get() < 0 || inotify_add_watch(inotify_.get(), folder.c_str(), IN_MODIFY) < 0)
            throw std::runtime_error("inotify: " + std::string(std::strerror(errno)));
    }

    // What the file holds so far came before the click.
    void Arm() override {
        if (file_.get() >= 0) TakeFrames(file_.get(), pending_);
        Drain();
    }

  protected:
    void Start() override {
        if (file_.get() >= 0) return;
        file_ = FileDescriptor(::open(path_.c_str(), O_RDONLY));
        if (file_.get() < 0) throw std::runtime_error("cannot open " + path_);
    }

    std::vector<std::int16_t> ReadAvailable() override {
        if (!inData_) {
            SkipHeader();
            if (!inData_) {
                Wait();
                return {};
            }
        }
        std::vector<std::int16_t> samples = TakeFrames(file_.get(), pending_);
        if (samples.empty()) Wait();
        return samples;
    }

  private:
    void Wait() {
        pollfd watched{inotify_.get(), POLLIN, 0};
        ::poll(&watched, 1, 100);
        Drain();
    }

    void Drain() {
        std::array<char, 4096> events{};
        while (::read(inotify_.get(), events.data(), events.size()) > 0) {
        }
    }

    // Reads the RIFF header and the chunks up to "data"; what follows it are the samples.
    void SkipHeader() {
        std::array<char, 4096> buffer{};
        const ssize_t got = ::read(file_.get(), buffer.data(), buffer.size());
        if (got > 0) header_.append(buffer.data(), static_cast<std::size_t>(got));
        std::size_t at = 12;
        while (at + 8 <= header_.size()) {
            if (header_.compare(at, 4, "data") == 0) {
                pending_ = header_.substr(at + 8);
                inData_ = true;
                return;
            }
            std::uint32_t size = 0;
            std::memcpy(&size, header_.data() + at + 4, 4);
            at += 8 + size + (size & 1);
        }
    }

    std::string path_;
    FileDescriptor inotify_;
    FileDescriptor file_;
    std::string header_;
    std::string pending_;
    bool inData_ = false;
};

// The default PulseAudio sink's monitor, recorded by parec as raw 16-bit stereo with a short latency: the
// audio as the device plays it.
class PulseWatch : public AudioWatch {
  public:
    PulseWatch() {
        try {
            StartRecorder(TimingLatency);
        } catch (...) {
            StopRecorder(); // no destructor runs for a constructor that throws
            throw;
        }
    }

    ~PulseWatch() override { StopRecorder(); }

    // A recorder that asks for a short latency makes the sink run in steps that short, much shorter than the
    // player's own stream asks for, and the stream then runs dry more often than it would on its own.
    // Listening for dropouts therefore takes a recorder that leaves the sink's pace to the player.
    void PrepareToListen() override {
        StopRecorder();
        StartRecorder(ListeningLatency);
    }

    // Reads until the monitor has been silent for a while: the last run's release must not count as this
    // run's sound.
    void Arm() override {
        const Clock::time_point deadline = Clock::now() + 5s;
        Clock::time_point quietSince = Clock::now();
        while (Clock::now() < deadline) {
            const std::vector<std::int16_t> samples = ReadAvailable();
            if (HoldsSound(samples.data(), samples.size())) quietSince = Clock::now();
            if (Clock::now() - quietSince > 300ms) return;
        }
        throw std::runtime_error("the sink's monitor does not go quiet");
    }

  protected:
    // 2 ms for timing the arrival of the music; 50 ms for listening to it.
    static constexpr int TimingLatency = 2;
    static constexpr int ListeningLatency = 50;

    void StartRecorder(int latencyMs) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        FileDescriptor readEnd(ends[0]);
        FileDescriptor writeEnd(ends[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
        const std::string latency = "--latency-msec=" + std::to_string(latencyMs);
        const char* argv[] = {"parec",         "--raw", "--format=s16le",    "--rate=44100", "--channels=2",
                              latency.c_str(), "-d",    "@DEFAULT_MONITOR@", nullptr};
        const int spawned =
            posix_spawnp(&parec_, "parec", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) throw std::runtime_error("cannot start parec");
        pipe_ = std::move(readEnd);
        pending_.clear();
        ::fcntl(pipe_.get(), F_SETFL, O_NONBLOCK);
        WarmUp(std::max(20ms, std::chrono::milliseconds(2 * latencyMs)));
    }

    void StopRecorder() {
        if (parec_ > 0) {
            ::kill(parec_, SIGTERM);
            ::waitpid(parec_, nullptr, 0);
        }
        parec_ = -1;
        pipe_ = FileDescriptor();
    }

    // Waits until the monitor delivers in steps no longer than step. A sink without a client that asks for a
    // short latency (a null sink) runs in blocks of up to two seconds, and takes parec's request only at its
    // next block.
    void WarmUp(Clock::duration step) {
        const Clock::time_point deadline = Clock::now() + 5s;
        Clock::time_point last = Clock::now();
        Clock::time_point steadySince = last;
        while (Clock::now() < deadline) {
            if (ReadAvailable().empty()) continue;
            const Clock::time_point now = Clock::now();
            if (now - last > step) steadySince = now;
            last = now;
            if (now - steadySince > 300ms) return;
        }
        throw std::runtime_error("the sink's monitor does not deliver in short steps");
    }

    std::vector<std::int16_t> ReadAvailable() override {
        pollfd watched{pipe_.get(), POLLIN, 0};
        ::poll(&watched, 1, 100);
        return TakeFrames(pipe_.get(), pending_);
    }

  private:
    pid_t parec_ = -1;
    FileDescriptor pipe_;
    std::string pending_;
};

// The frames from where playback starts (the first note event) to the first note that sounds, read with the
// program's own MIDI reader.
std::int64_t LeadInFrames(const std::string& midi) {
    const std::optional<nagisora::MidiFile> file = nagisora::ReadMidiFile(midi);
    if (!file) throw std::runtime_error("no MIDI file");
    const std::optional<std::int64_t> firstSound = nagisora::FirstSoundingTick(*file);
    if (!firstSound) throw std::runtime_error("the MIDI file has no note");
    const nagisora::MidiClock clock(*file, nagisora::RenderSampleRate);
    return clock.FrameOf(*firstSound) - clock.FrameOf(nagisora::FirstNoteEventTick(*file));
}

// Gaps the device filled with silence because the player's stream ran dry: at least 16 frames of exact zeros
// in both channels, with loud music right before and right after, which the music itself does not hold.
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

struct RunTimes {
    double clickMs = 0;    // the click's own handling, or the layer's Open
    double playMs = 0;     // the layer's Play (layer path only)
    double renderedMs = 0; // the layer's position past tick 0: the music's first blocks rendered (layer path)
    double musicMs = 0;    // from the click to the arrival of the music's first block
    double noteMs = 0;     // from the click to the arrival of its first note
};

struct Results {
    std::vector<RunTimes> runs;
    std::optional<int> dropouts; // in the listening run
};

struct Options {
    int runs = 15;
    int listenSeconds = 0;
    std::string score = std::string(NAGISORA_EXAMPLES_DIR) + "/start-score.txt";
    bool pulse = false;
    bool layerOnly = false;
    int targetLatencyMs = 0; // 0: the layer's default
    bool metronome = false;
};

// A click on every beat of the image, from its first note event on.
std::vector<nagisora::MetronomeClick> BeatClicks(std::string_view image) {
    const std::optional<nagisora::MidiFile> file = nagisora::ReadMidiFile(image);
    std::vector<nagisora::MetronomeClick> clicks;
    if (!file) return clicks;
    for (std::int64_t tick = nagisora::FirstNoteEventTick(*file); tick < file->facts.totalTicks; tick += 120)
        clicks.push_back(nagisora::MetronomeClick{tick, clicks.empty()});
    return clicks;
}

void SendClick(QWidget& widget, QPoint at) {
    const QPointF local(at);
    const QPointF global(widget.mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &release);
}

// Keeps the event loop turning for a while, with a random part so that clicks fall at any phase of the
// driver's period.
void Idle(std::mt19937& random) {
    const auto until = Clock::now() + Pause + std::chrono::microseconds(random() % 20000);
    while (Clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(1ms);
    }
}

RunTimes Timed(Clock::time_point start, Clock::time_point clicked, const std::optional<Arrivals>& arrivals) {
    if (!arrivals) throw std::runtime_error("no sound within the timeout");
    return RunTimes{.clickMs = Ms(clicked - start),
                    .musicMs = Ms(arrivals->musicStart - start),
                    .noteMs = Ms(arrivals->firstNote - start)};
}

Results ThroughWindow(const Options& options, const std::string& folder, const nagisora::MediaOptions& media,
                      AudioWatch& watch) {
    // A failure the program reports ends the measurement after the click that met it.
    std::optional<std::string> reported;
    const auto check = [&reported] {
        if (reported) throw std::runtime_error("the program reported: " + *reported);
    };
    nagisora::MainWindowOptions windowOptions;
    windowOptions.appDir = folder + "/";
    windowOptions.media = media;
    windowOptions.reportError = [&reported](const nagisora::Failure& failure) {
        reported = failure.Message();
    };
    windowOptions.fileDialog = [&](const nagisora::FileDialogRequest&) -> std::optional<QString> {
        return QString::fromStdString(options.score);
    };
    nagisora::MainWindow window(std::move(windowOptions));
    window.show();
    window.findChild<QPushButton*>(QStringLiteral("btnLoad"))->click();
    check();
    window.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
    check();
    if (options.metronome) window.findChild<QAction*>(QStringLiteral("actMetronome"))->setChecked(true);
    auto* player = window.findChild<nagisora::MediaPlayer*>(QStringLiteral("mPlay"));
    if (!player->IsAvailable(nagisora::PlayerButton::Play)) throw std::runtime_error("▶ is not available");
    const QPoint playButton(player->width() / 4, player->height() / 2);
    const QPoint stopButton(player->width() * 3 / 4, player->height() / 2);
    const std::int64_t leadIn = LeadInFrames(window.MidiData());

    std::mt19937 random(1);
    Results results;
    for (int run = 0; run < options.runs; ++run) {
        Idle(random);
        watch.Arm();
        const Clock::time_point start = Clock::now();
        SendClick(*player, playButton);
        const Clock::time_point clicked = Clock::now();
        check();
        results.runs.push_back(Timed(start, clicked, watch.WaitForSound(leadIn)));
        SendClick(*player, stopButton);
        check();
    }
    if (options.listenSeconds > 0) {
        watch.PrepareToListen();
        Idle(random);
        watch.Arm();
        SendClick(*player, playButton);
        check();
        results.dropouts = CountDropouts(watch.Record(std::chrono::seconds(options.listenSeconds)));
        SendClick(*player, stopButton);
        check();
    }
    return results;
}

Results ThroughLayer(const Options& options, const std::string& folder, const nagisora::MediaOptions& media,
                     AudioWatch& watch) {
    const std::string score = ReadWhole(options.score);
    const std::vector<std::string_view> lines = nagisora::SplitScoreFileLines(score);
    const nagisora::Conversion conversion = nagisora::ConvertScore(lines, nagisora::ConversionSettings{});
    const std::string midiPath = folder + "/work.mid";
    nagisora::WriteFileAtomically(midiPath, conversion.midiData);
    const std::int64_t leadIn = LeadInFrames(conversion.midiData);

    nagisora::MediaLayer layer(media);
    layer.Open(midiPath);
    layer.OpenOutput(); // waits for the SoundFont and opens the output, as the first ▶ does in the program
    std::mt19937 random(1);
    Results results;
    for (int run = 0; run < options.runs; ++run) {
        Idle(random);
        watch.Arm();
        const Clock::time_point start = Clock::now();
        layer.Open(midiPath);
        if (options.metronome) layer.SetClicks(BeatClicks(conversion.midiData));
        const Clock::time_point opened = Clock::now();
        const std::int64_t startTick = layer.Position();
        layer.Play();
        const Clock::time_point played = Clock::now();
        // The position moves when the audio thread renders the music: the tick after the start is rendered
        // at most one tick (5.6 ms at tempo 90) after the music's first block. Only Position is called while
        // the watch waits; nothing else touches the layer meanwhile.
        std::atomic<bool> watching{true};
        std::optional<Clock::time_point> rendered;
        std::thread poller([&] {
            while (watching.load() && !rendered) {
                if (layer.Position() > startTick) rendered = Clock::now();
                std::this_thread::sleep_for(50us);
            }
        });
        const std::optional<Arrivals> arrivals = watch.WaitForSound(leadIn);
        watching.store(false);
        poller.join();
        RunTimes times = Timed(start, played, arrivals);
        times.clickMs = Ms(opened - start);
        times.playMs = Ms(played - opened);
        times.renderedMs = rendered ? Ms(*rendered - start) : -1;
        results.runs.push_back(times);
        layer.Stop();
    }
    if (options.listenSeconds > 0) {
        watch.PrepareToListen();
        Idle(random);
        watch.Arm();
        layer.Open(midiPath);
        layer.Play();
        results.dropouts = CountDropouts(watch.Record(std::chrono::seconds(options.listenSeconds)));
        layer.Stop();
    }
    return results;
}

std::string PeakResident() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return line.substr(6);
    return "?";
}

int Usage() {
    std::fprintf(stderr, "usage: play_latency [--runs N] [--score FILE] [--output wav|pulse] [--path "
                         "window|layer] [--listen S] [--target-latency MS] [--metronome]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const bool hasValue = k + 1 < argc;
        if (arg == "--runs" && hasValue)
            options.runs = std::max(1, std::atoi(argv[++k]));
        else if (arg == "--listen" && hasValue)
            options.listenSeconds = std::max(0, std::atoi(argv[++k]));
        else if (arg == "--target-latency" && hasValue)
            options.targetLatencyMs = std::max(1, std::atoi(argv[++k]));
        else if (arg == "--metronome")
            options.metronome = true;
        else if (arg == "--score" && hasValue)
            options.score = argv[++k];
        else if (arg == "--output" && hasValue) {
            const std::string output = argv[++k];
            if (output != "wav" && output != "pulse") return Usage();
            options.pulse = output == "pulse";
        } else if (arg == "--path" && hasValue) {
            const std::string path = argv[++k];
            if (path != "window" && path != "layer") return Usage();
            options.layerOnly = path == "layer";
        } else
            return Usage();
    }

    // A window without a display: the click path is the same.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    char folderTemplate[] = "/tmp/play_latency.XXXXXX";
    if (!::mkdtemp(folderTemplate)) return 2;
    const std::string folder = folderTemplate;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(folder));
    try {
        std::unique_ptr<AudioWatch> watch;
        nagisora::MediaOptions media;
        if (options.pulse) {
            media.audioDrivers = {"pulseaudio"};
            if (options.targetLatencyMs > 0)
                media.targetLatency = std::chrono::milliseconds(options.targetLatencyMs);
            watch = std::make_unique<PulseWatch>();
        } else {
            media = nagisora::MediaOptions::ToWavFile(folder + "/out.wav");
            watch = std::make_unique<WavWatch>(folder, "out.wav");
        }
        const Results results = options.layerOnly ? ThroughLayer(options, folder, media, *watch)
                                                  : ThroughWindow(options, folder, media, *watch);
        const std::vector<RunTimes>& runs = results.runs;
        std::vector<double> click, play, rendered, music, note;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            const RunTimes& r = runs[k];
            if (options.layerOnly)
                std::printf("run %zu: open %.2f ms, play %.3f ms, rendered %.2f ms", k + 1, r.clickMs,
                            r.playMs, r.renderedMs);
            else
                std::printf("run %zu: click handled %.2f ms", k + 1, r.clickMs);
            std::printf(", music starts %.2f ms, first note %.2f ms\n", r.musicMs, r.noteMs);
            click.push_back(r.clickMs);
            play.push_back(r.playMs);
            rendered.push_back(r.renderedMs);
            music.push_back(r.musicMs);
            note.push_back(r.noteMs);
        }
        std::printf("median of %zu runs (%s, %s): ", runs.size(), options.layerOnly ? "layer" : "window",
                    options.pulse ? "pulse" : "wav");
        if (options.layerOnly)
            std::printf("open %.2f ms, play %.3f ms, rendered %.2f ms, ", Median(click), Median(play),
                        Median(rendered));
        else
            std::printf("click handled %.2f ms, ", Median(click));
        std::printf("music starts %.2f ms (min %.2f, max %.2f), first note %.2f ms\n", Median(music),
                    *std::min_element(music.begin(), music.end()),
                    *std::max_element(music.begin(), music.end()), Median(note));
        if (results.dropouts)
            std::printf("dropouts in %d s of playback: %d\n", options.listenSeconds, *results.dropouts);
        std::printf("peak resident memory (VmHWM):%s\n", PeakResident().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "play_latency: %s\n", error.what());
        std::filesystem::remove_all(folder);
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}
