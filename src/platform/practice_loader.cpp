#include "platform/practice_loader.h"

#include "core/failure.h"
#include "platform/file_io.h"
#include "platform/media_errors.h"
#include "platform/module_loader.h"
#include "platform/practice_module.h"

#include <dlfcn.h>
#include <memory>
#include <vector>

#ifndef NAGISORA_RENDER_MODULE_DIR
#error "NAGISORA_RENDER_MODULE_DIR: the module's install folder relative to the program's folder"
#endif

namespace nagisora {
namespace {

ModuleHandle LoadModule(std::string& errors) {
    return OpenModule(ModuleCandidates(PracticeModuleFileName, NAGISORA_RENDER_MODULE_DIR), errors);
}

} // namespace

TakeAnalysis TrackTakeThroughModule(const std::string& wavPath) {
    std::string errors;
    const ModuleHandle module = LoadModule(errors);
    const auto entry =
        module ? reinterpret_cast<TrackTakeEntry>(::dlsym(module.get(), TrackTakeEntryName)) : nullptr;
    if (!entry)
        throw Failure::Media(MediaCode::NoRenderModule, std::string("録音を解析するモジュール ") +
                                                            PracticeModuleFileName + " を読み込めません" +
                                                            (errors.empty() ? "" : " (" + errors + ")"));
    TakeAnalysis take;
    NagisoraFailure failure{};
    const int status = entry(
        wavPath.c_str(), &take,
        [](void* context, double seconds, double midi) {
            static_cast<TakeAnalysis*>(context)->frames.push_back(PitchFrame{seconds, midi});
        },
        [](void* context, double seconds) { static_cast<TakeAnalysis*>(context)->onsets.push_back(seconds); },
        &failure);
    if (status != 0) throw ReceivedFailure(failure);
    return take;
}

struct LivePitchTracker::Module {
    ModuleHandle handle;
    LivePitchFeedEntry feed = nullptr;
    LivePitchCloseEntry close = nullptr;
    NagisoraLivePitch* tracker = nullptr;
};

LivePitchTracker::LivePitchTracker(unsigned sampleRate) : module_(std::make_unique<Module>()) {
    std::string errors;
    module_->handle = LoadModule(errors);
    void* handle = module_->handle.get();
    const auto open =
        handle ? reinterpret_cast<LivePitchOpenEntry>(::dlsym(handle, LivePitchOpenName)) : nullptr;
    module_->feed =
        handle ? reinterpret_cast<LivePitchFeedEntry>(::dlsym(handle, LivePitchFeedName)) : nullptr;
    module_->close =
        handle ? reinterpret_cast<LivePitchCloseEntry>(::dlsym(handle, LivePitchCloseName)) : nullptr;
    if (!open || !module_->feed || !module_->close)
        throw Failure::Media(MediaCode::NoRenderModule, std::string("音高を聴き取るモジュール ") +
                                                            PracticeModuleFileName + " を読み込めません" +
                                                            (errors.empty() ? "" : " (" + errors + ")"));
    module_->tracker = open(sampleRate);
    if (module_->tracker == nullptr)
        throw Failure::Media(MediaCode::NoRenderModule, "音高の聴き取りを始められません");
}

LivePitchTracker::~LivePitchTracker() {
    if (module_->tracker != nullptr) module_->close(module_->tracker);
}

void LivePitchTracker::Feed(std::span<const float> samples, std::vector<PitchFrame>& frames) {
    module_->feed(module_->tracker, samples.data(), samples.size(), &frames,
                  [](void* context, double seconds, double midi) {
                      static_cast<std::vector<PitchFrame>*>(context)->push_back(PitchFrame{seconds, midi});
                  });
}

} // namespace nagisora
