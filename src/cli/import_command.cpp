#include "cli/import_command.h"

#include "core/failure.h"
#include "platform/cp932.h"
#include "platform/file_io.h"
#include "platform/import_module.h"
#include "platform/module_loader.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>

#ifndef NAGISORA_IMPORT_MODULE_DIR
#error "NAGISORA_IMPORT_MODULE_DIR: the module's install folder relative to the program's folder"
#endif

namespace nagisora {
namespace {

constexpr std::string_view StandardStream = "-";

void Report(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "nagisora-convert: %s: %s\n", file.c_str(), message.c_str());
}

struct Freed {
    void operator()(char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, Freed>;

// The module's entry: beside the running program (the build tree), then in the install's library folder.
// The module stays loaded while its handle lives.
ImportEntry LoadImport(ModuleHandle& module, std::string& errors) {
    module = OpenModule(ModuleCandidates(ImportModuleFileName, NAGISORA_IMPORT_MODULE_DIR), errors);
    if (!module) return nullptr;
    if (void* entry = ::dlsym(module.get(), ImportEntryName)) return reinterpret_cast<ImportEntry>(entry);
    if (const char* error = ::dlerror()) errors = error;
    return nullptr;
}

} // namespace

int RunImport(const ConvertOptions& options) {
    const std::string& input = *options.import;
    const std::string output =
        options.output.value_or(std::filesystem::path(input).replace_extension(".txt").string());
    try {
        const std::optional<FilePlace> inputPlace = PlaceOf(input);
        const std::optional<FilePlace> outputPlace =
            output == StandardStream ? PlaceOfDescriptor(STDOUT_FILENO) : PlaceOf(output);
        if (inputPlace && outputPlace && *inputPlace == *outputPlace) {
            Report(input, FailureText(Failure::Refused("出力先が入力ファイルと同じです: " + output)));
            return ExitFailure;
        }
        const std::string bytes = ReadFileBytes(input);
        std::string errors;
        ModuleHandle module;
        const ImportEntry entry = LoadImport(module, errors);
        if (!entry) {
            Report(input,
                   FailureText(Failure::System(0, "読込のモジュール " + std::string(ImportModuleFileName) +
                                                      " を読み込めません: " + errors)));
            return ExitFailure;
        }
        char* scoreBytes = nullptr;
        char* reportBytes = nullptr;
        std::size_t scoreSize = 0;
        const int status =
            entry(bytes.data(), bytes.size(), options.part.value_or(0), options.pipe.value_or(0),
                  output.c_str(), &scoreBytes, &scoreSize, &reportBytes);
        const Buffer scoreBuffer(scoreBytes);
        const Buffer reportBuffer(reportBytes);
        const std::string report = reportBytes ? reportBytes : "";
        if (status != 0) {
            Report(input, FailureText(Failure::Refused(report)));
            return ExitFailure;
        }
        std::string text(scoreBytes, scoreSize);
        if (options.utf8) text = DecodeCp932(text);
        if (output == StandardStream)
            WriteAll(STDOUT_FILENO, text, output);
        else
            try {
                WriteFileAtomically(output, text);
            } catch (const Failure& failure) {
                throw failure.Within(output);
            }
        const std::size_t summary = report.rfind('\n');
        if (summary != std::string::npos) std::fputs(report.substr(0, summary + 1).c_str(), stderr);
        Report(input, summary == std::string::npos ? report : report.substr(summary + 1));
        return ExitSuccess;
    } catch (const Failure& failure) {
        Report(input, FailureText(failure));
    } catch (const std::bad_alloc&) {
        Report(input, FailureText(Failure::File(IoCode::OutOfMemory)));
    }
    return ExitFailure;
}

} // namespace nagisora
