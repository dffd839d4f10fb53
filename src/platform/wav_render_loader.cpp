#include "platform/wav_render_loader.h"

#include "core/failure.h"
#include "platform/file_io.h"
#include "platform/media_errors.h"
#include "platform/module_loader.h"
#include "platform/wav_render_module.h"

#include <dlfcn.h>
#include <memory>

#ifndef NAGISORA_RENDER_MODULE_DIR
#error "NAGISORA_RENDER_MODULE_DIR: the module's install folder relative to the program's folder"
#endif

namespace nagisora {
namespace {

ModuleHandle LoadModule(std::string& errors) {
    return OpenModule(RenderModuleCandidates(), errors);
}

} // namespace

std::vector<std::string> RenderModuleCandidates() {
    return ModuleCandidates(RenderModuleFileName, NAGISORA_RENDER_MODULE_DIR);
}

void RenderWavFile(std::string_view midiData, const std::string& wavPath, const std::string& soundFont) {
    std::string errors;
    const ModuleHandle module = LoadModule(errors);
    if (!module) ThrowMediaError(MediaCode::NoRenderModule, errors);
    const auto entry = reinterpret_cast<RenderWavEntry>(::dlsym(module.get(), RenderWavEntryName));
    if (!entry)
        throw Failure::Media(MediaCode::NoRenderModule, std::string("WAV 書き出しのモジュール ") +
                                                            RenderModuleFileName + " に " +
                                                            RenderWavEntryName + " がありません");
    NagisoraFailure failure{};
    if (entry(midiData.data(), midiData.size(), wavPath.c_str(), soundFont.c_str(), &failure) != 0)
        throw ReceivedFailure(failure);
}

} // namespace nagisora
