#include "platform/import_loader.h"

#include "core/failure.h"
#include "platform/file_io.h"
#include "platform/import_module.h"
#include "platform/module_loader.h"

#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

#ifndef NAGISORA_IMPORT_MODULE_DIR
#error "NAGISORA_IMPORT_MODULE_DIR: the module's install folder relative to the program's folder"
#endif
#ifndef NAGISORA_BUILD_DIR
#error "NAGISORA_BUILD_DIR: the build tree, whose programs find the module where the build put it"
#endif

namespace nagisora {
namespace {

struct Freed {
    void operator()(char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, Freed>;

// The module beside the program, in the install's library folder, or, for a program of the build tree (the
// window or a test), where the build writes it. Loaded once and kept for the rest of the run.
void* Module() {
    static const ModuleHandle handle = [] {
        std::vector<std::string> candidates =
            ModuleCandidates(ImportModuleFileName, NAGISORA_IMPORT_MODULE_DIR);
        const std::string buildDir = NAGISORA_BUILD_DIR "/";
        if (ExecutableDir().starts_with(buildDir))
            candidates.push_back(buildDir + "src/cli/" + ImportModuleFileName);
        std::string errors;
        ModuleHandle loaded = OpenModule(candidates, errors);
        if (!loaded)
            throw Failure::System(0, "読込のモジュール " + std::string(ImportModuleFileName) +
                                         " を読み込めません (" + errors + ")");
        return loaded;
    }();
    return handle.get();
}

template <class Entry>
Entry EntryOf(const char* name) {
    if (void* entry = ::dlsym(Module(), name)) return reinterpret_cast<Entry>(entry);
    throw Failure::System(0, "読込のモジュール " + std::string(ImportModuleFileName) + " に " + name +
                                 " がありません");
}

} // namespace

std::vector<ImportedPart> ImportedParts(std::string_view bytes) {
    const auto entry = EntryOf<ImportPartsEntry>(ImportPartsEntryName);
    std::vector<ImportedPart> parts;
    char* report = nullptr;
    const int status = entry(
        bytes.data(), bytes.size(), &parts,
        [](void* context, const char* name, int drums, int playable) {
            static_cast<std::vector<ImportedPart>*>(context)->push_back(
                ImportedPart{name, drums != 0, playable != 0});
        },
        &report);
    const Buffer reportBuffer(report);
    if (status != 0) throw Failure::Refused(report ? report : "");
    return parts;
}

ImportedScore ImportThroughModule(std::string_view bytes, std::int32_t part, std::int32_t pipeTenths) {
    const auto entry = EntryOf<ImportEachEntry>(ImportEachEntryName);
    ImportedScore imported;
    NagisoraImportOutcome outcome{};
    char* score = nullptr;
    std::size_t scoreSize = 0;
    char* report = nullptr;
    const int status = entry(
        bytes.data(), bytes.size(), part, pipeTenths, &imported.findings,
        [](void* context, int line, int column, const char* text, const char* code) {
            static_cast<std::vector<ImportedFinding>*>(context)->push_back(
                ImportedFinding{line, column, text, code});
        },
        &outcome, &score, &scoreSize, &report);
    const Buffer scoreBuffer(score);
    const Buffer reportBuffer(report);
    if (status != 0) throw Failure::Refused(report ? report : "");
    imported.text.assign(score, scoreSize);
    imported.settings.tempo = outcome.tempo;
    imported.settings.transpose = outcome.transpose;
    imported.settings.volume = outcome.volume;
    imported.settings.instrument = outcome.instrument;
    imported.part = outcome.part;
    imported.pipeTenths = outcome.pipeTenths;
    imported.summary = report ? report : "";
    return imported;
}

} // namespace nagisora
