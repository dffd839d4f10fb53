// nagisora: the desktop program's executable. It answers --version at once and otherwise loads the program
// itself, the module libnagisora_app.so beside it (a build tree) or in its library folder (an installed
// program), and runs it. Loading Qt and FluidSynth with their libraries takes most of a start; asking for the
// version should not wait for them.

#include <climits>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string_view>
#include <unistd.h>

#ifndef NAGISORA_APP_MODULE_DIR
#error "NAGISORA_APP_MODULE_DIR: the module's install folder relative to the program's folder"
#endif

namespace {

constexpr const char* ModuleName = "libnagisora_app.so";
constexpr const char* EntryName = "NagisoraMain";
using Entry = int (*)(int argc, char** argv);

bool AsksForVersion(int argc, char** argv) {
    for (int k = 1; k < argc; ++k) {
        const std::string_view argument = argv[k];
        if (argument == "--") return false;
        if (argument == "-v" || argument == "--version") return true;
    }
    return false;
}

// The folder of this program, ending in "/"; empty when it cannot be read.
std::string_view ProgramDir(char (&buffer)[PATH_MAX]) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    const std::string_view path(buffer, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

void* LoadModule(std::string_view dir, std::string_view subfolder) {
    char path[PATH_MAX];
    const int length =
        std::snprintf(path, sizeof path, "%.*s%.*s%s", static_cast<int>(dir.size()), dir.data(),
                      static_cast<int>(subfolder.size()), subfolder.data(), ModuleName);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return nullptr;
    return ::dlopen(path, RTLD_LAZY | RTLD_LOCAL);
}

} // namespace

int main(int argc, char* argv[]) {
    if (AsksForVersion(argc, argv)) {
        std::puts("nagisora " NAGISORA_VERSION);
        return 0;
    }
    char buffer[PATH_MAX];
    const std::string_view dir = ProgramDir(buffer);
    void* module = LoadModule(dir, "");
    if (module == nullptr) module = LoadModule(dir, NAGISORA_APP_MODULE_DIR "/");
    const auto entry = module != nullptr ? reinterpret_cast<Entry>(::dlsym(module, EntryName)) : nullptr;
    if (entry == nullptr) {
        std::fprintf(stderr, "nagisora: %s を読み込めません (%s)\n", ModuleName, ::dlerror());
        return 1;
    }
    return entry(argc, argv);
}
