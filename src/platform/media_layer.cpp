#include "platform/media_layer.h"

#include "core/failure.h"
#include "platform/media_output.h"
#include "platform/media_playback.h"
#include "platform/media_synth.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <thread>
#include <utility>

namespace nagisora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long after the last tick has been heard the music counts as ended: the release of the last note.
constexpr auto Release = 100ms;

// FluidSynth renders in blocks of 64 frames; events are sent between them.
constexpr int ChunkFrames = 64;

constexpr int SilenceFrames = 256;

// The chunks remembered as they went out, for finding the one being heard: 4096 chunks are 5.9 s, more than
// any output's latency.
constexpr std::size_t HistoryChunks = 4096;

// An output stops asking for audio after this long without music or sound.
constexpr auto IdleBeforeRest = 60s;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file; a missing file or a failed read throws the layer's failure.
std::string ReadWholeFile(const std::string& path) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        ThrowMediaError(errno == ENOENT || errno == ENOTDIR ? MediaCode::FileNotFound
                                                            : MediaCode::FileUnreadable);
    std::string bytes;
    char buffer[8192];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes.append(buffer, count);
    if (std::ferror(file.get())) ThrowMediaError(MediaCode::FileUnreadable);
    return bytes;
}

// A mutex whose holder runs at the priority of the highest thread waiting for it: the audio thread, which
// may run at a real-time priority, never waits long behind a user-interface thread that a busy machine has
// set aside while it held the lock.
class PriorityInheritingMutex {
  public:
    PriorityInheritingMutex() {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
        pthread_mutex_init(&mutex_, &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    ~PriorityInheritingMutex() { pthread_mutex_destroy(&mutex_); }
    PriorityInheritingMutex(const PriorityInheritingMutex&) = delete;
    PriorityInheritingMutex& operator=(const PriorityInheritingMutex&) = delete;

    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }

  private:
    pthread_mutex_t mutex_;
};

// One chunk of audio as it went out: its output frames and the music's frames it held.
struct ChunkRecord {
    std::int64_t outputFrame = 0;
    std::int64_t frames = 0;
    std::int64_t musicFrame = -1; // at the chunk's start; -1 when no music advanced in it
    std::uint64_t generation = 0; // which opening of music it held
    double speed = 1.0;           // music frames per output frame
};

// A metronome click at its frame of the music.
struct ClickFrame {
    std::int64_t frame = 0;
    bool accent = false;
};

// About as loud as a note of the music at the default volume (64), the accent a little louder.
constexpr int AccentVelocity = 72;
constexpr int ClickVelocity = 52;

// The music as the output takes it: plays the open music into the synthesizer chunk by chunk, and keeps what
// went out when, for the position being heard. The user-interface thread changes what plays; the output's
// thread renders. Both hold the lock only briefly.
class Renderer final : public media::AudioSource {
  public:
    explicit Renderer(int sampleRate) : sampleRate_(sampleRate) {}

    // --- user-interface thread

    void SetSynth(fluid_synth_t* synth) {
        std::lock_guard lock(mutex_);
        synth_ = synth;
    }

    // Puts the music in place of the open one, ready where it begins; returns the one it replaces, to be
    // released outside the lock.
    std::unique_ptr<const media::Music> Load(std::unique_ptr<const media::Music> music) {
        std::lock_guard lock(mutex_);
        std::swap(music, music_);
        clicks_.clear();
        if (music_)
            Seek(music_->startFrame);
        else
            cursor_ = media::MusicCursor();
        ++generation_;
        fresh_ = true;
        mode_ = MediaMode::Stopped;
        advancing_ = false;
        endOutputFrame_.reset();
        pendingSilence_ = true;
        return music;
    }

    // Starts the music unless it plays already.
    void Start(Repeat repeat) {
        std::lock_guard lock(mutex_);
        if (!music_ || mode_ == MediaMode::Playing) return;
        if (cursor_.AtEnd()) Seek(PlayStart());
        pendingReset_ = std::exchange(fresh_, false);
        pendingSetUp_ = true;
        repeat_ = repeat;
        pass_ = 0;
        rate_ = RateOfPass();
        mode_ = MediaMode::Playing;
        advancing_ = true;
        endOutputFrame_.reset();
        idleFrames_.store(0);
    }

    void Stop() {
        std::lock_guard lock(mutex_);
        mode_ = MediaMode::Stopped;
        advancing_ = false;
        endOutputFrame_.reset();
        pendingRelease_ = true;
    }

    MediaMode Mode() {
        std::lock_guard lock(mutex_);
        return mode_;
    }

    void SetSpeed(PlaybackSpeed speed) {
        std::lock_guard lock(mutex_);
        speed_ = speed;
        if (mode_ == MediaMode::Playing) rate_ = RateOfPass();
    }

    PlaybackSpeed Speed() {
        std::lock_guard lock(mutex_);
        return speed_;
    }

    // Takes the clicks (sorted by frame) in place of the open music's; returns the old ones, to be released
    // outside the lock. A music that has not started yet starts again from the count-in.
    std::vector<ClickFrame> SetClicks(std::vector<ClickFrame> clicks) {
        std::lock_guard lock(mutex_);
        std::swap(clicks, clicks_);
        if (music_) {
            if (fresh_ && mode_ != MediaMode::Playing)
                Seek(PlayStart());
            else
                Seek(cursor_.Frame());
        }
        return clicks;
    }

    std::int64_t Position() {
        std::lock_guard lock(mutex_);
        if (!music_) return 0;
        return std::clamp<std::int64_t>(music_->clock.TickAt(cursor_.Frame()), 0,
                                        music_->file.facts.totalTicks);
    }

    HeardPosition Heard() {
        std::lock_guard lock(mutex_);
        if (!music_ || chunks_ == 0) return {};
        std::int64_t heard = outputFrames_ - latencyFrames_;
        if (reportedAt_) heard += FramesIn(Clock::now() - *reportedAt_);
        heard = std::min(heard, outputFrames_ - 1);
        const ChunkRecord* record = RecordAt(heard);
        if (record == nullptr || record->musicFrame < 0 || record->generation != generation_) return {};
        const std::int64_t musicFrame =
            record->musicFrame +
            std::llround(static_cast<double>(heard - record->outputFrame) * record->speed);
        if (musicFrame >= music_->endFrame || musicFrame < music_->startFrame) return {};
        return HeardPosition{true, music_->clock.TickAt(musicFrame),
                             static_cast<double>(musicFrame) / sampleRate_, record->speed};
    }

    std::chrono::microseconds Latency() {
        std::lock_guard lock(mutex_);
        return std::chrono::microseconds(latencyFrames_ * 1000000 / sampleRate_);
    }

    void SetEndNotification(MediaLayer::EndNotification notification) {
        std::lock_guard lock(notificationMutex_);
        notification_ = std::move(notification);
    }

    // --- the output's thread

    void Render(float* left, float* right, int increment, int frames) override {
        bool ended = false;
        {
            std::lock_guard lock(mutex_);
            ApplyPending();
            for (int done = 0; done < frames;) {
                const int n = std::min(ChunkFrames, frames - done);
                RenderChunk(left + done * increment, right + done * increment, increment, n);
                done += n;
            }
            ended = EndHeard();
            const bool quiet = mode_ != MediaMode::Playing && fluid_synth_get_active_voice_count(synth_) == 0;
            idleFrames_.store(quiet ? idleFrames_.load() + frames : 0);
        }
        if (ended) Notify();
    }

    void ReportLatency(std::chrono::microseconds latency) override {
        std::lock_guard lock(mutex_);
        latencyFrames_ = latency.count() * sampleRate_ / 1000000;
        reportedAt_ = Clock::now();
    }

    bool LongIdle() const override { return idleFrames_.load() >= FramesIn(IdleBeforeRest); }

    // The chunks that went out last are forgotten, as if they had not been rendered.
    void Discard(std::int64_t frames) override {
        std::lock_guard lock(mutex_);
        outputFrames_ -= frames;
        while (chunks_ > 0 && history_[(chunks_ - 1) % HistoryChunks].outputFrame >= outputFrames_)
            --chunks_;
    }

    void OutputLost() override {
        bool ended = false;
        {
            std::lock_guard lock(mutex_);
            ended = mode_ == MediaMode::Playing;
            mode_ = MediaMode::Stopped;
            advancing_ = false;
            endOutputFrame_.reset();
            latencyFrames_ = 0;
        }
        if (ended) Notify();
    }

  private:
    std::int64_t FramesIn(Clock::duration duration) const {
        return std::chrono::duration_cast<std::chrono::microseconds>(duration).count() * sampleRate_ /
               1000000;
    }

    // What the user-interface thread asked for since the last render, in the order that keeps it right.
    void ApplyPending() {
        if (std::exchange(pendingSilence_, false)) Silence();
        if (std::exchange(pendingReset_, false)) {
            // A new music starts from the channels' defaults, and from silence.
            fluid_synth_system_reset(synth_);
            Silence();
        }
        if (std::exchange(pendingRelease_, false)) fluid_synth_all_notes_off(synth_, -1);
        if (std::exchange(pendingSetUp_, false)) cursor_.SendSetUp(synth_);
    }

    // Cuts off every sound. The voices killed go quiet over a few samples, which one discarded block takes
    // up.
    void Silence() {
        fluid_synth_all_sounds_off(synth_, -1);
        std::array<float, SilenceFrames> discarded{};
        fluid_synth_write_float(synth_, SilenceFrames, discarded.data(), 0, 1, discarded.data(), 0, 1);
    }

    // Where playback starts: where the music begins, or at the count-in before it.
    std::int64_t PlayStart() const {
        return clicks_.empty() ? music_->startFrame : std::min(music_->startFrame, clicks_.front().frame);
    }

    // Puts the music's cursor and the clicks' at the frame.
    void Seek(std::int64_t frame) {
        cursor_ = media::MusicCursor(*music_, frame);
        exactFrame_ = static_cast<double>(frame);
        nextClick_ = static_cast<std::size_t>(
            std::lower_bound(clicks_.begin(), clicks_.end(), frame,
                             [](const ClickFrame& c, std::int64_t f) { return c.frame < f; }) -
            clicks_.begin());
    }

    // Music frames per output frame for the pass playing.
    double RateOfPass() const { return speed_.PercentOfPass(pass_, repeat_) / 100.0; }

    // Moves the music on by the output frames at the speed of the pass, sending the clicks and the events
    // due.
    void Advance(int frames) {
        exactFrame_ += frames * rate_;
        const std::int64_t to = std::llround(exactFrame_);
        for (; nextClick_ < clicks_.size() && clicks_[nextClick_].frame < to; ++nextClick_) {
            const ClickFrame& click = clicks_[nextClick_];
            const int key = click.accent ? AccentClickKey : ClickKey;
            fluid_synth_noteoff(synth_, ClickChannel, key);
            fluid_synth_noteon(synth_, ClickChannel, key, click.accent ? AccentVelocity : ClickVelocity);
        }
        cursor_.SendUntil(synth_, to);
    }

    void RenderChunk(float* left, float* right, int increment, int frames) {
        history_[chunks_++ % HistoryChunks] =
            ChunkRecord{outputFrames_, frames, advancing_ ? cursor_.Frame() : -1, generation_, rate_};
        if (advancing_) Advance(frames);
        fluid_synth_write_float(synth_, frames, left, 0, increment, right, 0, increment);
        outputFrames_ += frames;
        if (advancing_ && cursor_.AtEnd()) ReachEnd();
    }

    // The synthesizer has played the last tick: the music starts over, or waits until the end is heard.
    void ReachEnd() {
        media::ReleaseChannels(synth_, *music_);
        if (repeat_ == Repeat::UntilStop) {
            // The next pass, without the count-in, at its own speed.
            Seek(music_->startFrame);
            cursor_.SendSetUp(synth_);
            ++pass_;
            rate_ = RateOfPass();
            return;
        }
        advancing_ = false;
        endOutputFrame_ =
            outputFrames_ - std::llround(static_cast<double>(cursor_.Frame() - music_->endFrame) / rate_);
    }

    // Whether the end of the music and its release have now been heard: the music is over.
    bool EndHeard() {
        if (!endOutputFrame_ || outputFrames_ - latencyFrames_ < *endOutputFrame_ + FramesIn(Release))
            return false;
        endOutputFrame_.reset();
        mode_ = MediaMode::Stopped;
        return true;
    }

    // The remembered chunk that holds the output frame; none when it is older than the history.
    const ChunkRecord* RecordAt(std::int64_t outputFrame) const {
        const std::uint64_t first = chunks_ > HistoryChunks ? chunks_ - HistoryChunks : 0;
        std::uint64_t low = first;
        std::uint64_t high = chunks_;
        while (high - low > 1) {
            const std::uint64_t middle = low + (high - low) / 2;
            if (history_[middle % HistoryChunks].outputFrame <= outputFrame)
                low = middle;
            else
                high = middle;
        }
        const ChunkRecord& record = history_[low % HistoryChunks];
        return record.outputFrame <= outputFrame ? &record : nullptr;
    }

    void Notify() {
        std::lock_guard lock(notificationMutex_);
        if (notification_) notification_();
    }

    const int sampleRate_;
    PriorityInheritingMutex mutex_;
    fluid_synth_t* synth_ = nullptr;
    std::unique_ptr<const media::Music> music_;
    media::MusicCursor cursor_;
    double exactFrame_ = 0.0; // the cursor's frame before rounding: the speed moves it by fractions
    std::vector<ClickFrame> clicks_;
    std::size_t nextClick_ = 0;
    PlaybackSpeed speed_;
    std::int64_t pass_ = 0; // of a repeating playback, from 0
    double rate_ = 1.0;     // music frames per output frame
    std::uint64_t generation_ = 0;
    bool fresh_ = false; // the music has not played yet: the synthesizer is reset first
    MediaMode mode_ = MediaMode::Stopped;
    bool advancing_ = false;
    Repeat repeat_ = Repeat::Once;
    std::optional<std::int64_t> endOutputFrame_; // where the last tick went out, until it has been heard

    bool pendingSilence_ = false;
    bool pendingReset_ = false;
    bool pendingRelease_ = false;
    bool pendingSetUp_ = false;

    std::int64_t outputFrames_ = 0;
    std::int64_t latencyFrames_ = 0;
    std::optional<Clock::time_point> reportedAt_;
    std::array<ChunkRecord, HistoryChunks> history_{};
    std::uint64_t chunks_ = 0;
    std::atomic<std::int64_t> idleFrames_{0};

    std::mutex notificationMutex_;
    MediaLayer::EndNotification notification_;
};

} // namespace

std::vector<std::string> MediaOptions::DefaultAudioDrivers() {
    return {"pulseaudio", "alsa", "jack", "oss"};
}

MediaOptions MediaOptions::ToWavFile(std::string path) {
    MediaOptions options;
    options.audioDrivers = {"file"};
    options.outputFile = std::move(path);
    return options;
}

// The SoundFont loading on a thread of its own. Shared by the layer and the thread, so that neither a Play
// nor the layer's end has to wait for a load that does not end (a SoundFont on a server that stopped
// answering): whichever goes last releases the synthesizer.
struct SynthesizerLoad {
    std::mutex mutex;
    std::condition_variable loaded;
    bool done = false;
    media::Synthesizer synthesizer;
    std::optional<Failure> failure;
};

// How long a Play waits for a SoundFont still loading, and the layer's end for the loading thread.
constexpr auto LoadWait = 5s;
constexpr auto LoaderWaitAtEnd = 2s;

struct MediaLayer::Impl {
    explicit Impl(MediaOptions opts) : options(std::move(opts)), renderer(media::SampleRate) {
        loader = std::thread([load = load, soundFont = options.soundFont] { Load(*load, soundFont); });
    }

    ~Impl() {
        output.reset(); // the output's thread renders until here
        std::unique_lock lock(load->mutex);
        const bool done = load->loaded.wait_for(lock, LoaderWaitAtEnd, [&] { return load->done; });
        lock.unlock();
        if (done)
            loader.join();
        else
            loader.detach(); // it releases what it loads on its own
    }

    // Runs on the loader thread.
    static void Load(SynthesizerLoad& load, const std::string& soundFont) {
        std::optional<Failure> failure;
        media::Synthesizer synthesizer;
        try {
            synthesizer = media::MakeSynthesizer(soundFont);
        } catch (const Failure& f) {
            failure = f;
        }
        std::lock_guard lock(load.mutex);
        load.synthesizer = std::move(synthesizer);
        load.failure = std::move(failure);
        load.done = true;
        load.loaded.notify_all();
    }

    // The loaded synthesizer; a load that has not ended after LoadWait fails, and a later call waits again.
    const media::Synthesizer& WaitForSynthesizer() {
        std::unique_lock lock(load->mutex);
        if (!load->loaded.wait_for(lock, LoadWait, [&] { return load->done; }))
            ThrowMediaError(MediaCode::NoSoundFont,
                            (options.soundFont.empty() ? std::string("SoundFont") : options.soundFont) +
                                ": 読み込みが終わりません");
        if (load->failure) throw *load->failure;
        return load->synthesizer;
    }

    void OpenMusic(std::string_view bytes) {
        std::unique_ptr<const media::Music> prepared = media::PrepareMusic(bytes, media::SampleRate);
        length = prepared->file.facts.totalTicks;
        music = prepared.get();
        renderer.Load(std::move(prepared));
    }

    void OpenOutput() {
        if (output && !output->Lost()) return;
        output.reset();
        try {
            const media::Synthesizer& synthesizer = WaitForSynthesizer();
            renderer.SetSynth(synthesizer.synth.get());
            output = media::OpenAudioOutput(
                media::OutputRequest{options.audioDrivers, options.outputFile, options.targetLatency,
                                     options.latencyWithoutRealtime, media::SampleRate,
                                     synthesizer.settings.get()},
                renderer);
        } catch (const Failure& failure) {
            throw failure.Within(NoSoundSubject);
        }
    }

    void RequireOpen() const {
        if (!open) ThrowMediaError(MediaCode::NoDeviceOpen);
    }

    MediaOptions options;
    // Declared in this order so that the output goes first, then the renderer, then the synthesizer.
    std::shared_ptr<SynthesizerLoad> load = std::make_shared<SynthesizerLoad>();
    Renderer renderer;
    std::unique_ptr<media::AudioOutput> output;

    bool open = false;
    std::int64_t length = 0;
    const media::Music* music = nullptr; // the open music, owned by the renderer
    MediaCode lastError = MediaCode::None;

    std::thread loader;
};

MediaLayer::MediaLayer(MediaOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

MediaLayer::~MediaLayer() = default;

void MediaLayer::Open(const std::string& path) {
    Close();
    try {
        impl_->OpenMusic(ReadWholeFile(path));
    } catch (const Failure& failure) {
        impl_->lastError = MediaCodeOf(failure);
        throw;
    }
    impl_->open = true;
}

void MediaLayer::OpenImage(std::string_view image) {
    Close();
    try {
        impl_->OpenMusic(image);
    } catch (const Failure& failure) {
        impl_->lastError = MediaCodeOf(failure);
        throw;
    }
    impl_->open = true;
}

void MediaLayer::OpenOutput() {
    try {
        impl_->OpenOutput();
    } catch (const Failure& failure) {
        impl_->lastError = MediaCodeOf(failure);
        throw;
    }
}

void MediaLayer::CloseOutput() {
    impl_->output.reset();
}

bool MediaLayer::IsOutputOpen() const {
    return impl_->output && !impl_->output->Lost();
}

void MediaLayer::Play(Repeat repeat) {
    impl_->RequireOpen();
    OpenOutput();
    impl_->lastError = MediaCode::None;
    // Only this thread starts the music; the audio thread only ends it.
    if (impl_->renderer.Mode() == MediaMode::Playing) return;
    impl_->output->ChangeNow([&] { impl_->renderer.Start(repeat); });
}

void MediaLayer::Stop() {
    impl_->RequireOpen();
    impl_->lastError = MediaCode::None;
    if (impl_->output && !impl_->output->Lost())
        impl_->output->ChangeNow([&] { impl_->renderer.Stop(); });
    else
        impl_->renderer.Stop();
}

void MediaLayer::Close() {
    impl_->lastError = MediaCode::None;
    if (!impl_->open) return;
    impl_->open = false;
    impl_->length = 0;
    impl_->music = nullptr;
    impl_->renderer.Load(nullptr);
}

MediaMode MediaLayer::Mode() const {
    return impl_->renderer.Mode();
}

bool MediaLayer::IsOpen() const {
    return impl_->open;
}

bool MediaLayer::CanPlay() const {
    return IsOpen();
}

MediaCode MediaLayer::LastError() const {
    return impl_->lastError;
}

std::int64_t MediaLayer::Length() const {
    return impl_->length;
}

std::int64_t MediaLayer::Position() const {
    return impl_->renderer.Position();
}

HeardPosition MediaLayer::Heard() const {
    return impl_->renderer.Heard();
}

std::chrono::microseconds MediaLayer::OutputLatency() const {
    return IsOutputOpen() ? impl_->renderer.Latency() : std::chrono::microseconds{};
}

void MediaLayer::SetSpeed(PlaybackSpeed speed) {
    speed.percent = std::clamp(speed.percent, MinSpeedPercent, MaxSpeedPercent);
    speed.ladderFrom = std::clamp(speed.ladderFrom, MinSpeedPercent, MaxSpeedPercent);
    speed.ladderStep = std::clamp(speed.ladderStep, 0, MaxSpeedPercent);
    impl_->renderer.SetSpeed(speed);
}

PlaybackSpeed MediaLayer::Speed() const {
    return impl_->renderer.Speed();
}

void MediaLayer::SetClicks(std::vector<MetronomeClick> clicks) {
    const media::Music* music = impl_->music;
    if (!impl_->open || music == nullptr) return;
    std::vector<ClickFrame> frames;
    frames.reserve(clicks.size());
    for (const MetronomeClick& click : clicks)
        if (const std::int64_t frame = music->clock.FrameOf(click.tick); frame < music->endFrame)
            frames.push_back(ClickFrame{frame, click.accent});
    std::stable_sort(frames.begin(), frames.end(),
                     [](const ClickFrame& a, const ClickFrame& b) { return a.frame < b.frame; });
    impl_->renderer.SetClicks(std::move(frames));
}

int PlaybackSpeed::PercentOfPass(std::int64_t pass, Repeat repeat) const {
    if (repeat != Repeat::UntilStop || ladderStep <= 0 || ladderFrom >= percent) return percent;
    const std::int64_t steps = (percent - ladderFrom + ladderStep - 1) / ladderStep;
    return pass >= steps ? percent : ladderFrom + static_cast<int>(pass) * ladderStep;
}

void MediaLayer::SetEndNotification(EndNotification notification) {
    impl_->renderer.SetEndNotification(std::move(notification));
}

} // namespace nagisora
