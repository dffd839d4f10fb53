#include "platform/pdf_render_loader.h"

#include "core/failure.h"
#include "platform/file_io.h"
#include "platform/media_errors.h"
#include "platform/module_loader.h"
#include "platform/pdf_render_module.h"

#include <dlfcn.h>
#include <memory>
#include <vector>

#ifndef NAGISORA_RENDER_MODULE_DIR
#error "NAGISORA_RENDER_MODULE_DIR: the module's install folder relative to the program's folder"
#endif

namespace nagisora {
namespace {

ModuleHandle LoadModule(std::string& errors) {
    return OpenModule(ModuleCandidates(PdfModuleFileName, NAGISORA_RENDER_MODULE_DIR), errors);
}

void Collect(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
}

} // namespace

std::string RenderPdf(std::span<const std::string_view> lines, std::string_view title,
                      const PdfPageOptions& options) {
    std::string errors;
    const ModuleHandle module = LoadModule(errors);
    const std::string noModule = std::string("PDF 書き出しのモジュール ") + PdfModuleFileName;
    if (!module) throw Failure::Media(MediaCode::NoRenderModule, noModule + " を読み込めません: " + errors);
    const auto entry = reinterpret_cast<RenderPdfEntry>(::dlsym(module.get(), RenderPdfEntryName));
    if (!entry)
        throw Failure::Media(MediaCode::NoRenderModule,
                             noModule + " に " + RenderPdfEntryName + " がありません");
    std::vector<const char*> starts;
    std::vector<std::size_t> lengths;
    starts.reserve(lines.size());
    lengths.reserve(lines.size());
    for (const std::string_view line : lines) {
        starts.push_back(line.data());
        lengths.push_back(line.size());
    }
    std::string pdf;
    NagisoraFailure failure{};
    if (entry(starts.data(), lengths.data(), lines.size(), title.data(), title.size(), options.paper,
              options.marginMm, options.fontPoints, &Collect, &pdf, &failure) != 0)
        throw ReceivedFailure(failure);
    return pdf;
}

} // namespace nagisora
