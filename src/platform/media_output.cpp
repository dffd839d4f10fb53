#include "platform/media_output.h"

#include "platform/media_errors.h"
#include "platform/media_realtime.h"
#include "platform/wav_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace nagisora::media {
namespace {

using namespace std::chrono_literals;

// One driver did not open, for the reason given: collected with the others' into the layer's NoAudioDevice.
[[noreturn]] void Refuse(std::string reason) {
    throw Failure::Media(MediaCode::NoAudioDevice, std::move(reason));
}

// A reason as one item of a list joined with "; ": without the full stops and line ends that drivers' own
// messages end with ("... server.; oss: ...").
std::string ListItem(std::string reason) {
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

// The audio threads run before anything else on a busy machine, where the system allows it (FluidSynth asks
// the same for its own drivers); below PulseAudio's own threads, which get 5 through RealtimeKit.
constexpr int RealtimePriority = 4;

// ---------------------------------------------------------------------------------------------------------
// PulseAudio: a playback stream that asks the server for a total latency of the target, so that the server
// wakes the stream in steps of a fraction of it instead of waiting for one long period. The target holds
// enough audio for the server's own main thread, which passes every request and every piece of audio and
// runs at no real-time priority, to be late now and then on a busy machine. A change of what plays is heard
// at once all the same: the audio queued in the server is replaced, from the sink's read position on.

constexpr auto PulseTimeout = 3s;

class PulseOutput final : public AudioOutput {
  public:
    PulseOutput(const OutputRequest& request, AudioSource& source) : source_(source) {
        try {
            Connect(request);
        } catch (...) {
            Disconnect();
            throw;
        }
    }

    ~PulseOutput() override { Disconnect(); }

    void ChangeNow(const std::function<void()>& change) override {
        pa_threaded_mainloop_lock(loop_);
        const std::int64_t queued = QueuedFrames();
        source_.Discard(queued);
        change();
        const std::int64_t frames = std::max(queued, minimumFrames_);
        buffer_.resize(static_cast<std::size_t>(frames) * 2);
        source_.Render(buffer_.data(), buffer_.data() + 1, 2, static_cast<int>(frames));
        pa_stream_write(stream_, buffer_.data(), buffer_.size() * sizeof(float), nullptr, 0,
                        PA_SEEK_RELATIVE_ON_READ);
        written_ += frames - queued;
        ReportLatency();
        if (corked_) {
            corked_ = false;
            if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr)) pa_operation_unref(op);
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    bool Lost() const override { return lost_.load(); }

  private:
    void Connect(const OutputRequest& request) {
        loop_ = pa_threaded_mainloop_new();
        if (loop_ == nullptr) Refuse("pa_threaded_mainloop_new");
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "ナギソラ");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "nagisora");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "nagisora");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "ナギソラ", properties);
        pa_proplist_free(properties);
        if (context_ == nullptr) Refuse("pa_context_new");
        pa_context_set_state_callback(context_, &PulseOutput::OnContextState, this);
        // A program that previews music starts no sound server of its own.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            Refuse(pa_strerror(pa_context_errno(context_)));
        if (pa_threaded_mainloop_start(loop_) < 0) Refuse("pa_threaded_mainloop_start");

        pa_threaded_mainloop_lock(loop_);
        try {
            StartTimeout();
            WaitUntil([&] { return ContextReady(); });
            OpenStream(request);
            WaitUntil([&] { return StreamReady(); });
            StopTimeout();
            ready_ = true;
        } catch (...) {
            StopTimeout();
            pa_threaded_mainloop_unlock(loop_);
            throw;
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    void OpenStream(const OutputRequest& request) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(request.sampleRate),
                                          2};
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
        stream_ = pa_stream_new_with_proplist(context_, "プレビュー", &sampleFormat, nullptr, properties);
        pa_proplist_free(properties);
        if (stream_ == nullptr) Refuse(pa_strerror(pa_context_errno(context_)));
        pa_stream_set_state_callback(stream_, &PulseOutput::OnStreamState, this);
        pa_stream_set_write_callback(stream_, &PulseOutput::OnWrite, this);
        const auto target = std::chrono::duration_cast<std::chrono::microseconds>(request.targetLatency);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(target.count(), &sampleFormat));
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0)
            Refuse(pa_strerror(pa_context_errno(context_)));
        sampleRate_ = request.sampleRate;
        target_ = target;
        unprivilegedTarget_ =
            std::chrono::duration_cast<std::chrono::microseconds>(request.latencyWithoutRealtime);
        minimumFrames_ = static_cast<std::int64_t>(target.count()) * sampleRate_ / 1000000 / 4;
    }

    // The frames written that the sink has not taken yet: the stream's latency less the sink's own. All that
    // was written when the stream has not played yet.
    std::int64_t QueuedFrames() const {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
        pa_usec_t latency = 0;
        int negative = 0;
        if (timing == nullptr || pa_stream_get_latency(stream_, &latency, &negative) != 0) return written_;
        const pa_usec_t queued = negative || latency < timing->sink_usec ? 0 : latency - timing->sink_usec;
        return std::min<std::int64_t>(written_, static_cast<std::int64_t>(queued) * sampleRate_ / 1000000);
    }

    void ReportLatency() {
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &latency, &negative) == 0)
            source_.ReportLatency(std::chrono::microseconds(negative ? 0 : latency));
    }

    bool ContextReady() {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (!PA_CONTEXT_IS_GOOD(state)) Refuse(pa_strerror(pa_context_errno(context_)));
        return state == PA_CONTEXT_READY;
    }

    bool StreamReady() {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (!PA_STREAM_IS_GOOD(state)) Refuse(pa_strerror(pa_context_errno(context_)));
        return state == PA_STREAM_READY;
    }

    // Waits, with the loop locked, until ready() holds; a server that does not answer in time refuses.
    template <class Ready>
    void WaitUntil(Ready&& ready) {
        while (!ready()) {
            if (timedOut_) Refuse("応答がありません");
            pa_threaded_mainloop_wait(loop_);
        }
    }

    void StartTimeout() {
        const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(PulseTimeout).count();
        timeout_ = pa_context_rttime_new(context_, pa_rtclock_now() + static_cast<pa_usec_t>(usec),
                                         &PulseOutput::OnTimeout, this);
    }

    void StopTimeout() {
        if (timeout_ != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(timeout_);
        timeout_ = nullptr;
    }

    void Disconnect() {
        if (loop_ == nullptr) return;
        pa_threaded_mainloop_lock(loop_);
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    // The callbacks run on the loop's thread with the loop locked.
    static void OnContextState(pa_context* context, void* data) {
        auto& self = *static_cast<PulseOutput*>(data);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) self.Lose();
        pa_threaded_mainloop_signal(self.loop_, 0);
    }

    static void OnStreamState(pa_stream* stream, void* data) {
        auto& self = *static_cast<PulseOutput*>(data);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) self.Lose();
        pa_threaded_mainloop_signal(self.loop_, 0);
    }

    static void OnTimeout(pa_mainloop_api* /*api*/, pa_time_event* /*event*/, const timeval* /*when*/,
                          void* data) {
        auto& self = *static_cast<PulseOutput*>(data);
        self.timedOut_ = true;
        pa_threaded_mainloop_signal(self.loop_, 0);
    }

    static void OnWrite(pa_stream* stream, std::size_t bytes, void* data) {
        auto& self = *static_cast<PulseOutput*>(data);
        self.realtime_.ForThisThread();
        self.QueueMoreWithoutRealtime();
        constexpr std::size_t FrameBytes = 2 * sizeof(float);
        while (bytes >= FrameBytes) {
            void* buffer = nullptr;
            std::size_t size = bytes;
            if (pa_stream_begin_write(stream, &buffer, &size) < 0 || buffer == nullptr) return;
            const std::size_t frames = std::min(size, bytes) / FrameBytes;
            if (frames == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            auto* samples = static_cast<float*>(buffer);
            self.source_.Render(samples, samples + 1, 2, static_cast<int>(frames));
            pa_stream_write(stream, buffer, frames * FrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
            self.written_ += static_cast<std::int64_t>(frames);
            bytes -= frames * FrameBytes;
        }
        self.ReportLatency();
        if (!self.corked_ && self.source_.LongIdle()) {
            self.corked_ = true;
            if (pa_operation* op = pa_stream_cork(stream, 1, nullptr, nullptr)) pa_operation_unref(op);
        }
    }

    void Lose() {
        if (ready_ && !lost_.exchange(true)) source_.OutputLost();
    }

    // A thread that nothing made real-time is late now and then on a busy machine: the server is asked to
    // keep more audio queued, enough to bridge that. A start or a stop replaces the queue all the same.
    void QueueMoreWithoutRealtime() {
        if (queueGrown_ || realtime_.Grant() != RealtimeGrant::None) return;
        queueGrown_ = true;
        if (unprivilegedTarget_ <= target_) return;
        const pa_sample_spec* format = pa_stream_get_sample_spec(stream_);
        pa_buffer_attr attributes = *pa_stream_get_buffer_attr(stream_);
        attributes.tlength =
            static_cast<std::uint32_t>(pa_usec_to_bytes(unprivilegedTarget_.count(), format));
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        if (pa_operation* op = pa_stream_set_buffer_attr(stream_, &attributes, nullptr, nullptr))
            pa_operation_unref(op);
    }

    AudioSource& source_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* timeout_ = nullptr;
    bool timedOut_ = false;
    bool ready_ = false;
    bool corked_ = false;
    bool queueGrown_ = false;
    std::chrono::microseconds target_{};             // the latency asked for at first
    std::chrono::microseconds unprivilegedTarget_{}; // asked for once the thread is known not real-time
    RealtimeRequest realtime_{RealtimePriority};
    std::atomic<bool> lost_{false};
    int sampleRate_ = 0;
    std::int64_t written_ = 0;       // frames written since the stream opened
    std::int64_t minimumFrames_ = 0; // what a change writes at least: a quarter of the target
    std::vector<float> buffer_;      // the audio of a change
};

// ---------------------------------------------------------------------------------------------------------
// FluidSynth's drivers, with the source in place of the synthesizer. Their errors go to FluidSynth's log,
// which is read while a driver opens.

class FluidLogCapture {
  public:
    explicit FluidLogCapture(std::string& into) : lock_(Mutex()) {
        Target() = &into;
        fluid_set_log_function(FLUID_ERR, &FluidLogCapture::Collect, nullptr);
    }
    ~FluidLogCapture() {
        fluid_set_log_function(FLUID_ERR, fluid_default_log_function, nullptr);
        Target() = nullptr;
    }
    FluidLogCapture(const FluidLogCapture&) = delete;
    FluidLogCapture& operator=(const FluidLogCapture&) = delete;

  private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::string*& Target() {
        static std::string* target = nullptr;
        return target;
    }
    static void Collect(int /*level*/, const char* message, void* /*data*/) {
        if (Target() == nullptr || message == nullptr) return;
        *Target() += (Target()->empty() ? "" : "; ") + ListItem(message);
    }

    std::lock_guard<std::mutex> lock_;
};

class FluidOutput final : public AudioOutput {
  public:
    FluidOutput(const OutputRequest& request, const std::string& name, AudioSource& source)
        : source_(source) {
        fluid_settings_t* settings = request.settings;
        fluid_settings_setstr(settings, "audio.driver", name.c_str());
        int periodFrames = 0;
        int periods = 0;
        fluid_settings_getint(settings, "audio.period-size", &periodFrames);
        fluid_settings_getint(settings, "audio.periods", &periods);
        latency_ = std::chrono::microseconds(static_cast<std::int64_t>(periodFrames) * periods * 1000000 /
                                             request.sampleRate);
        std::string log;
        {
            const FluidLogCapture capture(log);
            driver_ = new_fluid_audio_driver2(settings, &FluidOutput::Callback, this);
        }
        if (driver_ == nullptr) Refuse(log.empty() ? "開けません" : log);
    }

    ~FluidOutput() override { delete_fluid_audio_driver(driver_); }

  private:
    static int Callback(void* data, int frames, int /*nfx*/, float* /*fx*/[], int nout, float* out[]) {
        auto& self = *static_cast<FluidOutput*>(data);
        if (nout < 2) return FLUID_FAILED;
        self.realtime_.ForThisThread();
        self.source_.Render(out[0], out[1], 1, frames);
        self.source_.ReportLatency(self.latency_);
        return FLUID_OK;
    }

    AudioSource& source_;
    fluid_audio_driver_t* driver_ = nullptr;
    std::chrono::microseconds latency_{};
    RealtimeRequest realtime_{RealtimePriority};
};

// ---------------------------------------------------------------------------------------------------------
// A WAV file written in real time, one period of 10 ms after the other, as a device would take the audio.
// The header is completed when the output closes.

constexpr auto FilePeriod = 10ms;

class WavFileOutput final : public AudioOutput {
  public:
    WavFileOutput(const OutputRequest& request, AudioSource& source)
        : source_(source), sampleRate_(request.sampleRate),
          fd_(::open(request.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
        if (fd_ < 0) Refuse(request.outputFile + ": " + std::strerror(errno));
        const std::string header = WavHeader(sampleRate_, 2, 0);
        if (::write(fd_, header.data(), header.size()) != static_cast<ssize_t>(header.size())) {
            const int error = errno;
            ::close(fd_);
            Refuse(request.outputFile + ": " + std::strerror(error));
        }
        thread_ = std::thread([this] { Run(); });
    }

    ~WavFileOutput() override {
        stop_.store(true);
        thread_.join();
        const std::string header = WavHeader(sampleRate_, 2, dataBytes_);
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_, header.data(), header.size(), 0);
        ::close(fd_);
    }

  private:
    void Run() {
        const int frames = static_cast<int>(sampleRate_ * FilePeriod / 1s);
        std::vector<float> block(static_cast<std::size_t>(frames) * 2);
        std::vector<std::int16_t> samples(block.size());
        auto next = std::chrono::steady_clock::now();
        while (!stop_.load()) {
            source_.Render(block.data(), block.data() + 1, 2, frames);
            source_.ReportLatency({});
            std::transform(block.begin(), block.end(), samples.begin(), [](float x) {
                return static_cast<std::int16_t>(std::lround(std::clamp(x, -1.0f, 1.0f) * 32767.0f));
            });
            const std::size_t bytes = samples.size() * sizeof(std::int16_t);
            if (::write(fd_, samples.data(), bytes) == static_cast<ssize_t>(bytes))
                dataBytes_ += static_cast<std::uint32_t>(bytes);
            next += FilePeriod;
            std::this_thread::sleep_until(next);
        }
    }

    AudioSource& source_;
    int sampleRate_;
    int fd_;
    std::uint32_t dataBytes_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_; // last: started when everything it touches exists
};

std::unique_ptr<AudioOutput> OpenDriver(const OutputRequest& request, const std::string& name,
                                        AudioSource& source) {
    if (name == "pulseaudio") return std::make_unique<PulseOutput>(request, source);
    if (name == "file") return std::make_unique<WavFileOutput>(request, source);
    return std::make_unique<FluidOutput>(request, name, source);
}

} // namespace

std::unique_ptr<AudioOutput> OpenAudioOutput(const OutputRequest& request, AudioSource& source) {
    std::string reasons;
    for (const std::string& name : request.drivers) {
        try {
            return OpenDriver(request, name, source);
        } catch (const Failure& refusal) {
            reasons += (reasons.empty() ? "" : "; ") + name + ": " + ListItem(refusal.Message());
        }
    }
    ThrowMediaError(MediaCode::NoAudioDevice, reasons.empty() ? "出力先の指定がありません" : reasons);
}

} // namespace nagisora::media
