#include "platform/sound_input.h"

#include <memory>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/simple.h>

namespace nagisora {
namespace {

constexpr char ClientName[] = "nagisora";

InputProblem ProblemOf(int error) {
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_INVALIDSERVER:
        return InputProblem::NoServer;
    case PA_ERR_NOENTITY:
        return InputProblem::NoSource;
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
        return InputProblem::NoPermission;
    default:
        return InputProblem::Failed;
    }
}

struct MainloopFree {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct ContextFree {
    void operator()(pa_context* c) const {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};

// Runs the loop until done says so or the context fails.
template <class Done>
bool RunUntil(pa_mainloop* loop, pa_context* context, Done done) {
    while (!done()) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) return false;
        if (pa_mainloop_iterate(loop, 1, nullptr) < 0) return false;
    }
    return true;
}

} // namespace

SourceList ListSoundSources() {
    SourceList list;
    const std::unique_ptr<pa_mainloop, MainloopFree> loop{pa_mainloop_new()};
    const std::unique_ptr<pa_context, ContextFree> context{
        pa_context_new(pa_mainloop_get_api(loop.get()), ClientName)};
    const auto fail = [&](int error) {
        list.problem = ProblemOf(error);
        list.message = pa_strerror(error);
        return list;
    };
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(pa_context_errno(context.get()));
    if (!RunUntil(loop.get(), context.get(),
                  [&] { return pa_context_get_state(context.get()) == PA_CONTEXT_READY; }))
        return fail(pa_context_errno(context.get()));

    bool serverDone = false;
    struct ServerAsk {
        SourceList* list;
        bool* done;
    } serverAsk{&list, &serverDone};
    pa_operation_unref(pa_context_get_server_info(
        context.get(),
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* ask = static_cast<ServerAsk*>(data);
            if (info && info->default_source_name) ask->list->defaultSource = info->default_source_name;
            *ask->done = true;
        },
        &serverAsk));
    bool sourcesDone = false;
    struct SourceAsk {
        SourceList* list;
        bool* done;
    } sourceAsk{&list, &sourcesDone};
    pa_operation_unref(pa_context_get_source_info_list(
        context.get(),
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* ask = static_cast<SourceAsk*>(data);
            if (eol != 0) {
                *ask->done = true;
                return;
            }
            ask->list->sources.push_back(SoundSource{info->name ? info->name : "",
                                                     info->description ? info->description : "",
                                                     info->monitor_of_sink != PA_INVALID_INDEX});
        },
        &sourceAsk));
    if (!RunUntil(loop.get(), context.get(), [&] { return serverDone && sourcesDone; }))
        return fail(pa_context_errno(context.get()));
    if (list.sources.empty()) list.problem = InputProblem::NoSource;
    return list;
}

SoundInput::SoundInput(const std::string& source, Block block) : block_(std::move(block)) {
    const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, Rate, 1};
    // Small fragments: each block reaches the pitch tracker a few milliseconds after it was heard.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = BlockFrames * sizeof(float);
    int error = 0;
    stream_ = pa_simple_new(nullptr, ClientName, PA_STREAM_RECORD, source.empty() ? nullptr : source.c_str(),
                            "練習の録音", &sampleFormat, nullptr, &attr, &error);
    if (stream_ == nullptr) {
        problem_ = ProblemOf(error);
        message_ = pa_strerror(error);
        return;
    }
    latency_ = pa_simple_get_latency(stream_, &error);
    reader_ = std::thread([this] { Read(); });
}

SoundInput::~SoundInput() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (stream_ != nullptr) pa_simple_free(stream_);
}

void SoundInput::Read() {
    std::vector<float> samples(BlockFrames);
    std::uint64_t read = 0;
    while (!stop_) {
        int error = 0;
        if (pa_simple_read(stream_, samples.data(), samples.size() * sizeof(float), &error) < 0) {
            broken_ = true;
            return;
        }
        block_(samples, static_cast<double>(read) / Rate);
        read += samples.size();
    }
}

} // namespace nagisora
