// Preloaded into nagisora-convert: standard output and standard error that store nothing and give no reason
// (every write to them returns 0), as some devices and file systems do. What the program tries to write to
// standard error is appended to the file named by NAGISORA_TRIED, so that a test sees what it tried to tell.

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

using WriteFunction = ssize_t (*)(int, const void*, size_t);

extern "C" ssize_t write(int fd, const void* bytes, size_t count) {
    static const auto real = reinterpret_cast<WriteFunction>(::dlsym(RTLD_NEXT, "write"));
    if (fd != STDOUT_FILENO && fd != STDERR_FILENO) return real(fd, bytes, count);
    const char* tried = getenv("NAGISORA_TRIED");
    if (fd == STDERR_FILENO && tried != nullptr) {
        const int log = open(tried, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log >= 0) {
            real(log, bytes, count);
            close(log);
        }
    }
    return 0;
}
