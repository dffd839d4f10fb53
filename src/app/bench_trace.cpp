#include "app/bench_trace.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace nagisora {
namespace {

constexpr char TraceVariable[] = "NAGISORA_TRACE";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

void Trace(std::string_view event) {
    static const std::unique_ptr<std::FILE, FileCloser> file = [] {
        const char* path = std::getenv(TraceVariable);
        return std::unique_ptr<std::FILE, FileCloser>(path != nullptr ? std::fopen(path, "a") : nullptr);
    }();
    if (!file) return;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(file.get(), "%lld %.*s\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                 static_cast<int>(event.size()), event.data());
    std::fflush(file.get());
}

} // namespace nagisora
