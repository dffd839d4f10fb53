#include "pdf_render_loader.h"

#include "failure.h"
#include "file_io.h"
#include "media_errors.h"
#include "pdf_render_module.h"

#include <array>
#include <dlfcn.h>
#include <memory>
#include <vector>

#ifndef NAGISORA_RENDER_MODULE_DIR
#error "NAGISORA_RENDER_MODULE_DIR: the module's install folder relative to the program's folder"
#endif

namespace nagisora {
namespace {

constexpr std::size_t MessageCapacity = 1024;

struct ModuleCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using ModuleHandle = std::unique_ptr<void, ModuleCloser>;

// RTLD_NODELETE: Qt's libraries stay mapped after the close, as its application object outlives the call.
ModuleHandle LoadModule(std::string& errors) {
    const std::string programDir = ExecutableDir();
    for (const std::string& candidate :
         {programDir + PdfModuleFileName, programDir + NAGISORA_RENDER_MODULE_DIR "/" + PdfModuleFileName}) {
        if (ModuleHandle handle{::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)})
            return handle;
        if (const char* error = ::dlerror()) errors += (errors.empty() ? "" : "; ") + std::string(error);
    }
    return nullptr;
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
    if (!module)
        throw Failure(CodeNumber(MediaCode::NoRenderModule), noModule + " を読み込めません: " + errors);
    const auto entry = reinterpret_cast<RenderPdfEntry>(::dlsym(module.get(), RenderPdfEntryName));
    if (!entry)
        throw Failure(CodeNumber(MediaCode::NoRenderModule),
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
    std::array<char, MessageCapacity> message{};
    const int code =
        entry(starts.data(), lengths.data(), lines.size(), title.data(), title.size(), options.paper,
              options.marginMm, options.fontPoints, &Collect, &pdf, message.data(), message.size());
    if (code != 0) throw Failure(code, message.data());
    return pdf;
}

} // namespace nagisora
