#include "platform/module_loader.h"

#include "platform/file_io.h"

#include <dlfcn.h>

namespace nagisora {

void ModuleCloser::operator()(void* handle) const {
    ::dlclose(handle);
}

std::vector<std::string> ModuleCandidates(std::string_view fileName, std::string_view installDir) {
    const std::string programDir = ExecutableDir();
    return {programDir + std::string(fileName),
            programDir + std::string(installDir) + "/" + std::string(fileName)};
}

ModuleHandle OpenModule(std::span<const std::string> candidates, std::string& errors) {
    for (const std::string& candidate : candidates) {
        if (ModuleHandle handle{::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)})
            return handle;
        if (const char* error = ::dlerror()) errors += (errors.empty() ? "" : "; ") + std::string(error);
    }
    return nullptr;
}

} // namespace nagisora
