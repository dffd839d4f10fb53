#include "platform/file_io.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace nagisora {
namespace {

constexpr std::size_t ReadChunkSize = 64 * 1024;
constexpr int TemporaryNameAttempts = 100;
constexpr mode_t NewFileMode = 0666;     // narrowed by the umask
constexpr mode_t ReplacementMode = 0600; // until the replacement takes the replaced file's bits
constexpr mode_t NewFolderMode = 0777;
constexpr int PipeWriterWaitMs = 250; // how long a named pipe's writer may take to come
constexpr std::size_t MiB = 1024 * 1024;

[[noreturn]] void ThrowTooLarge(std::size_t limit) {
    const std::string shown =
        limit % MiB == 0 ? std::to_string(limit / MiB) + " MiB" : std::to_string(limit) + " バイト";
    throw Failure::File(IoCode::FileTooLarge, 0,
                        IoErrorMessage(IoCode::FileTooLarge) + " (上限 " + shown + ")");
}

// A descriptor the program was given (a standard stream, /dev/fd/N) that is closed, named as such.
[[noreturn]] void ThrowClosed(int fd) {
    static constexpr std::array<std::string_view, 3> Standard{"標準入力", "標準出力", "標準エラー出力"};
    const std::string name = fd >= 0 && fd < 3 ? std::string(Standard[static_cast<std::size_t>(fd)])
                                               : "ﾌｧｲﾙ記述子 " + std::to_string(fd);
    throw Failure::File(IoCode::DescriptorClosed, EBADF, name + "が閉じられています");
}

// --- Paths ---

// The folder part of a path with its trailing "/"; empty for a bare name, which lies in the current folder.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    return path.substr(FolderOf(path).size());
}

const char* FolderArgument(const std::string& folder) {
    return folder.empty() ? "." : folder.c_str();
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ContainingFolderExists(const std::string& path) {
    return IsFolder(FolderArgument(FolderOf(path)));
}

// The descriptor a path names that stands for one the program was given: /dev/stdout, /dev/fd/1 and the like.
std::optional<int> DescriptorNamed(const std::string& path) {
    if (path == "/dev/stdin") return STDIN_FILENO;
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    for (const std::string_view prefix : {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/")}) {
        if (!path.starts_with(prefix)) continue;
        const std::string_view digits = std::string_view(path).substr(prefix.size());
        if (digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        return std::stoi(std::string(digits));
    }
    return std::nullopt;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// --- Descriptors ---

// An open file descriptor, closed with its owner.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int Get() const { return fd_; }

    // Closes now; returns the error number of a failed close, 0 on success.
    int Close() {
        const int fd = std::exchange(fd_, -1);
        if (fd < 0 || ::close(fd) == 0 || errno == EINTR) return 0; // after EINTR the descriptor is gone too
        return errno;
    }

  private:
    int fd_;
};

// open() and openat(), tried again when a signal interrupts them; -1 with errno set on failure.
int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
    int fd = -1;
    do
        fd = ::open(path.c_str(), flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int OpenAtRetrying(int folder, const std::string& name, int flags, mode_t mode = 0) {
    int fd = -1;
    do
        fd = ::openat(folder, name.c_str(), flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Waits until the descriptor can be read (events POLLIN) or written (POLLOUT).
void AwaitReady(int fd, short events) {
    pollfd ready{fd, events, 0};
    while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
    }
}

// Appends what the descriptor gives until its end, keeping to the limit.
void ReadInto(std::string& bytes, int fd, std::size_t limit) {
    for (;;) {
        if (bytes.size() > limit) ThrowTooLarge(limit);
        // The room there is, so that a file read into a buffer of its own size needs no other.
        if (bytes.size() == bytes.capacity())
            bytes.reserve(std::min(std::max(bytes.capacity() * 2, bytes.size() + ReadChunkSize), limit + 1));
        const std::size_t room =
            std::min({ReadChunkSize, bytes.capacity() - bytes.size(), limit + 1 - bytes.size()});
        const std::size_t before = bytes.size();
        bytes.resize(before + room);
        const ssize_t count = ::read(fd, bytes.data() + before, room);
        bytes.resize(before + static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        if (count == 0) return;
        if (count > 0 || errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            AwaitReady(fd, POLLIN);
        else if (errno == EBADF)
            ThrowClosed(fd);
        else
            ThrowIoError(errno, {});
    }
}

// A named pipe opened without waiting for a writer: gives the writer a moment to come (one that was waiting
// for a reader comes at once). Returns what it has already sent; a pipe that nobody writes to is a broken
// pipe.
std::string AwaitPipeWriter(int fd) {
    pollfd ready{fd, POLLIN, 0};
    while (::poll(&ready, 1, PipeWriterWaitMs) < 0 && errno == EINTR) {
    }
    if (ready.revents != 0) return {}; // data, or a writer that came and went
    char first = 0;
    const ssize_t count = ::read(fd, &first, 1);
    if (count == 1) return std::string(1, first);
    if (count == 0) ThrowIoFailure(IoCode::BrokenPipe); // no writer
    return {};                                          // a writer that has sent nothing yet
}

void MakeBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

std::string RandomSuffix() {
    thread_local std::mt19937 generator{std::random_device{}()};
    constexpr std::string_view Digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::uniform_int_distribution<std::size_t> pick(0, Digits.size() - 1);
    std::string suffix(8, '0');
    for (char& c : suffix)
        c = Digits[pick(generator)];
    return suffix;
}

// --- Temporary files and the signals that end the program ---

// The temporary files being written, for the handler of the signals that end the program to remove before the
// program ends. The handler touches only atomics and fixed buffers, and calls only unlinkat.
class PendingTemporaries {
  public:
    static constexpr std::size_t NameCapacity = 32;

    // The slot that holds the file, -1 when every slot is taken (the file is then removed on failures only).
    int Add(int folder, const std::string& name) {
        if (name.size() >= NameCapacity) return -1;
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            Slot& slot = slots_[i];
            bool expected = false;
            if (!slot.taken.compare_exchange_strong(expected, true)) continue;
            std::memcpy(slot.name, name.c_str(), name.size() + 1);
            slot.folder.store(folder, std::memory_order_release);
            return static_cast<int>(i);
        }
        return -1;
    }

    void Remove(int slot) {
        if (slot < 0) return;
        slots_[static_cast<std::size_t>(slot)].folder.store(-1, std::memory_order_release);
        slots_[static_cast<std::size_t>(slot)].taken.store(false, std::memory_order_release);
    }

    void UnlinkAll() noexcept {
        for (Slot& slot : slots_) {
            const int folder = slot.folder.load(std::memory_order_acquire);
            if (folder >= 0) ::unlinkat(folder, slot.name, 0);
        }
    }

  private:
    struct Slot {
        std::atomic<int> folder{-1};
        std::atomic<bool> taken{false};
        char name[NameCapacity]{};
    };
    std::array<Slot, 8> slots_{};
};

constinit PendingTemporaries pending;

// Every signal whose default action ends the program and that a handler can catch: those sent to end it,
// those of faults (the handler returns and the fault ends the program as before), and the real-time signals.
constexpr std::array<int, 22> FixedEndingSignals{
    SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGPOLL, SIGPROF,   SIGVTALRM,
    SIGXCPU, SIGXFSZ, SIGSYS, SIGTRAP, SIGABRT, SIGSEGV, SIGBUS,  SIGFPE,  SIGILL,  SIGSTKFLT, SIGPWR};
constexpr int SignalCount = 65; // signal numbers are below this (SIGRTMAX is 64)
std::array<struct sigaction, SignalCount> previousActions{};

bool IsEndingSignal(int signal) {
    return std::find(FixedEndingSignals.begin(), FixedEndingSignals.end(), signal) !=
               FixedEndingSignals.end() ||
           (signal >= SIGRTMIN && signal <= SIGRTMAX && signal < SignalCount);
}

// Removes the temporaries, then does what was to be done before: ends the program, or calls the handler that
// was there (another part of the program with temporaries of its own).
void OnEndingSignal(int signal, siginfo_t* info, void* context) {
    pending.UnlinkAll();
    const struct sigaction& previous = previousActions[static_cast<std::size_t>(signal)];
    if (previous.sa_flags & SA_SIGINFO) {
        previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL) {
        previous.sa_handler(signal);
    } else {
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        ::sigaction(signal, &byDefault, nullptr);
        ::raise(signal); // delivered when this handler returns
    }
}

// Installed at the first temporary file; a signal the program ignores (nohup) stays ignored.
void WatchEndingSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = &OnEndingSignal;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (int signal = 1; signal < SignalCount; ++signal)
            if (IsEndingSignal(signal)) sigaddset(&action.sa_mask, signal);
        for (int signal = 1; signal < SignalCount; ++signal) {
            if (!IsEndingSignal(signal)) continue;
            struct sigaction& previous = previousActions[static_cast<std::size_t>(signal)];
            if (::sigaction(signal, nullptr, &previous) != 0) continue;
            if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

// --- Temporary files left by a program that could not remove them (SIGKILL, a power cut) ---

constexpr std::string_view TemporaryPrefix = ".nagisora-";
constexpr std::string_view TemporarySuffix = ".tmp";

// The process that made a temporary file, from its name ".nagisora-<pid>-<random>.tmp"; none for any other
// name, such as one made by an earlier version that did not name its process.
std::optional<pid_t> MakerOf(std::string_view name) {
    if (!name.starts_with(TemporaryPrefix) || !name.ends_with(TemporarySuffix)) return std::nullopt;
    name.remove_prefix(TemporaryPrefix.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9) return std::nullopt;
    pid_t pid = 0;
    for (const char c : name.substr(0, dash)) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// Removes the temporary files of ended processes of this user from the folder, once per folder and run: a
// program killed while writing leaves its temporary behind, and nothing else would ever remove it.
void RemoveStaleTemporaries(int folder) {
    struct stat status {};
    if (::fstat(folder, &status) != 0) return;
    static std::mutex mutex;
    static std::vector<std::pair<dev_t, ino_t>> swept;
    {
        const std::lock_guard lock(mutex);
        const std::pair place{status.st_dev, status.st_ino};
        if (std::find(swept.begin(), swept.end(), place) != swept.end()) return;
        swept.push_back(place);
    }
    const int readable = OpenAtRetrying(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable < 0) return;
    DIR* entries = ::fdopendir(readable);
    if (entries == nullptr) {
        ::close(readable);
        return;
    }
    const uid_t user = ::geteuid();
    while (const dirent* entry = ::readdir(entries)) {
        const std::optional<pid_t> maker = MakerOf(entry->d_name);
        if (!maker || !ProcessEnded(*maker)) continue;
        struct stat file {};
        if (::fstatat(readable, entry->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(file.st_mode) &&
            file.st_uid == user)
            ::unlinkat(readable, entry->d_name, 0);
    }
    ::closedir(entries); // closes readable too
}

// Makes a rename in the folder durable. Some file systems refuse to flush a folder; the file is in place all
// the same, so a failure here is not reported.
void SyncFolder(int folder) {
    const FileDescriptor readable(OpenAtRetrying(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.Get() >= 0) ::fsync(readable.Get());
}

// Where the kernel found an open file: the path it records for the descriptor, links already followed.
std::string KernelPathOf(int fd) {
    const std::string record = "/proc/self/fd/" + std::to_string(fd);
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink(record.c_str(), path.data(), path.size());
    if (length < 0) ThrowIoError(errno, record);
    if (static_cast<std::size_t>(length) == path.size()) ThrowIoError(ENAMETOOLONG, record);
    path.resize(static_cast<std::size_t>(length));
    return path;
}

} // namespace

// --- Error codes ---

std::optional<IoCode> IoErrorCode(int errnoValue, const std::string& path) {
    switch (errnoValue) {
    case ENOENT:
        // A path ending in "/" names a folder, and one that is missing.
        return path.empty() || path.ends_with('/') || !ContainingFolderExists(path) ? IoCode::InvalidFileName
                                                                                    : IoCode::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
        return IoCode::InvalidFileName;
    case EBADF:
        return IoCode::DescriptorClosed;
    case EMFILE:
    case ENFILE:
        return IoCode::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return IoCode::AccessDenied;
    case ENOMEM:
        return IoCode::OutOfMemory;
    case EBUSY:
    case ETXTBSY:
        return IoCode::FileInUse;
    case ENOSPC:
    case EDQUOT:
        return IoCode::DiskFull;
    case EPIPE:
        return IoCode::BrokenPipe;
    case EFBIG:
        return IoCode::FileTooLarge;
    case ELOOP:
        return IoCode::LinkUnresolved;
    default:
        return std::nullopt;
    }
}

void ThrowIoError(int errnoValue, const std::string& path) {
    throw Failure::File(IoErrorCode(errnoValue, path), errnoValue);
}

void ThrowIoFailure(IoCode code) {
    throw Failure::File(code);
}

// --- Reading and writing descriptors ---

std::string ReadAll(int fd, std::size_t limit, std::size_t sizeHint) {
    std::string bytes;
    bytes.reserve(std::min(sizeHint, limit) + 1); // one more: the end is seen without growing
    ReadInto(bytes, fd, limit);
    return bytes;
}

void WriteAll(int fd, std::string_view bytes, const std::string& name) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0) {
            ThrowIoError(ENOSPC, name); // nothing stored and no reason given: no room left
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            AwaitReady(fd, POLLOUT);
        } else if (errno == EBADF) {
            ThrowClosed(fd);
        } else if (errno != EINTR) {
            ThrowIoError(errno, name);
        }
    }
}

void WriteError(std::string_view text) noexcept {
    try {
        WriteAll(STDERR_FILENO, text, "/dev/stderr");
    } catch (...) {
        // Standard error is where failures are told; there is nowhere left to tell this one.
    }
}

void HoldClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_PATH); // takes the lowest free
}

std::string ReadFileBytes(const std::string& path, std::size_t limit) {
    // Not waiting in open() for a named pipe's writer, which may never come.
    const FileDescriptor file(OpenRetrying(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) ThrowIoError(errno, path);
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) ThrowIoError(errno, path);
    if (S_ISDIR(status.st_mode)) ThrowIoError(EISDIR, path);
    const bool plainFile = S_ISREG(status.st_mode);
    if (plainFile && static_cast<std::uintmax_t>(status.st_size) > limit) ThrowTooLarge(limit);
    std::string bytes;
    if (S_ISFIFO(status.st_mode)) bytes = AwaitPipeWriter(file.Get());
    MakeBlocking(file.Get());
    bytes.reserve(plainFile ? static_cast<std::size_t>(status.st_size) + 1 : ReadChunkSize);
    ReadInto(bytes, file.Get(), limit);
    return bytes;
}

// --- Output files ---

struct OutputFile::Destination {
    std::string path; // as the user gave it, for the codes that depend on it
    Durability durability;
    FileDescriptor file;                    // the temporary file, or the stream
    bool stream = false;                    // written in place
    FileDescriptor folder;                  // the folder of the file that is replaced
    std::string name;                       // that file's name in the folder
    std::string temporary;                  // the temporary file's name in the folder
    std::optional<struct stat> replaced;    // the file that is replaced, none for a new one
    std::optional<struct stat> placeholder; // an empty file made where a dangling link leads
    int pendingSlot = -1;
    bool done = false;

    [[noreturn]] void Fail(int errnoValue) const { ThrowIoError(errnoValue, path); }

    void OpenStream(int fd) {
        file = FileDescriptor(fd);
        stream = true;
    }

    // The folder holding the file at the kernel's path for it, checked to hold that very file by that name.
    void FindInFolder(const std::string& filePath, const struct stat& fileStatus) {
        folder = FileDescriptor(
            OpenRetrying(FolderArgument(FolderOf(filePath)), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (folder.Get() < 0) Fail(errno);
        name = NameOf(filePath);
        struct stat entry {};
        if (::fstatat(folder.Get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SameFile(entry, fileStatus))
            Fail(EBUSY); // moved or replaced meanwhile
    }

    // What the path leads to, as the kernel follows it: a stream, a file to replace, or the place of a new
    // one.
    void Resolve() {
        if (const std::optional<int> given = DescriptorNamed(path)) {
            const int fd = ::fcntl(*given, F_DUPFD_CLOEXEC, 0);
            if (fd < 0 && errno == EBADF) ThrowClosed(*given);
            if (fd < 0) Fail(errno);
            return OpenStream(fd);
        }
        if (path.empty() || path.ends_with('/')) Fail(IsFolder(path) ? EISDIR : ENOENT);
        const FileDescriptor found(OpenRetrying(path, O_PATH | O_CLOEXEC));
        if (found.Get() < 0) {
            if (errno != ENOENT) Fail(errno);
            return ResolveMissing();
        }
        struct stat status {};
        if (::fstat(found.Get(), &status) != 0) Fail(errno);
        if (S_ISDIR(status.st_mode)) Fail(EISDIR);
        if (!S_ISREG(status.st_mode)) return OpenStreamAt(status);
        struct stat own {};
        const bool link = ::lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
        FindInFolder(link ? KernelPathOf(found.Get()) : path, status);
        // The owner's write bit marks a write-protected file, also for root, whom access() lets write
        // anything.
        if ((status.st_mode & S_IWUSR) == 0) Fail(EACCES);
        if (::faccessat(folder.Get(), name.c_str(), W_OK, 0) != 0) Fail(errno);
        replaced = status;
    }

    // A pipe, a terminal or a device: opened for writing where it is.
    void OpenStreamAt(const struct stat& status) {
        const int fd = OpenRetrying(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) Fail(errno);
        OpenStream(fd);
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !SameFile(opened, status)) Fail(EBUSY);
    }

    // Nothing at the path: a new file in its folder, or where a dangling link leads.
    void ResolveMissing() {
        struct stat own {};
        if (::lstat(path.c_str(), &own) != 0 || !S_ISLNK(own.st_mode)) {
            folder = FileDescriptor(
                OpenRetrying(FolderArgument(FolderOf(path)), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (folder.Get() < 0) Fail(errno);
            name = NameOf(path);
            return;
        }
        // Written through the link: the kernel makes the file it leads to, with its protections of links in
        // shared folders. The empty file is replaced like any other, and removed again on a failure.
        const FileDescriptor made(OpenRetrying(path, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, NewFileMode));
        if (made.Get() < 0) {
            if (errno == ENOENT)
                ThrowIoFailure(IoCode::InvalidFileName); // the link leads into a missing folder
            Fail(errno);
        }
        struct stat status {};
        if (::fstat(made.Get(), &status) != 0) Fail(errno);
        placeholder = status;
        FindInFolder(KernelPathOf(made.Get()), status);
    }

    void CreateTemporary() {
        for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
            temporary = std::string(TemporaryPrefix) + std::to_string(::getpid()) + '-' + RandomSuffix() +
                        std::string(TemporarySuffix);
            const int fd =
                OpenAtRetrying(folder.Get(), temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               replaced ? ReplacementMode : NewFileMode);
            if (fd >= 0) {
                file = FileDescriptor(fd);
                WatchEndingSignals();
                pendingSlot = pending.Add(folder.Get(), temporary);
                RemoveStaleTemporaries(folder.Get());
                return;
            }
            if (errno != EEXIST) {
                temporary.clear();
                Fail(errno);
            }
        }
        temporary.clear();
        Fail(EEXIST);
    }

    // The owner and permission bits of the file replaced. Only root may give a file away and some file
    // systems keep no modes, so this is done as far as the system allows; the content matters more.
    void TakeAttributesOfReplaced() {
        if (!replaced) return;
        if (::fchown(file.Get(), replaced->st_uid, replaced->st_gid) != 0) {
            // Not the owner's to give: the replacement stays the writer's.
        }
        ::fchmod(file.Get(), replaced->st_mode & 07777); // after fchown, which clears the set-ID bits
    }

    void Commit() {
        if (stream) {
            if (const int error = file.Close(); error != 0) Fail(error);
            done = true;
            return;
        }
        if (durability == Durability::Flushed && ::fsync(file.Get()) != 0) Fail(errno);
        if (const int error = file.Close(); error != 0) Fail(error);
        if (::renameat(folder.Get(), temporary.c_str(), folder.Get(), name.c_str()) != 0) Fail(errno);
        pending.Remove(pendingSlot);
        done = true;
        if (durability == Durability::Flushed) SyncFolder(folder.Get());
    }

    // Removes what a write that did not get to its end has made.
    void Discard() {
        file.Close();
        if (!temporary.empty()) ::unlinkat(folder.Get(), temporary.c_str(), 0);
        pending.Remove(pendingSlot);
        struct stat entry {};
        if (placeholder && ::fstatat(folder.Get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(entry, *placeholder) && entry.st_size == 0)
            ::unlinkat(folder.Get(), name.c_str(), 0);
    }
};

OutputFile::OutputFile(const std::string& path, Durability durability)
    : destination_(std::make_unique<Destination>()) {
    Destination& d = *destination_;
    d.path = path;
    d.durability = durability;
    try {
        d.Resolve();
        if (d.stream) return;
        d.CreateTemporary();
        d.TakeAttributesOfReplaced();
    } catch (...) {
        d.Discard();
        throw;
    }
}

OutputFile::~OutputFile() {
    if (!destination_->done) destination_->Discard();
}

void OutputFile::Write(std::string_view bytes) {
    WriteAll(destination_->file.Get(), bytes, destination_->path);
}

bool OutputFile::Rewritable() const {
    return !destination_->stream;
}

void OutputFile::Rewrite(std::uint64_t offset, std::string_view bytes) {
    const Destination& d = *destination_;
    if (d.stream) d.Fail(ESPIPE);
    while (!bytes.empty()) {
        const ssize_t written =
            ::pwrite(d.file.Get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            offset += static_cast<std::uint64_t>(written);
        } else if (written == 0) {
            d.Fail(ENOSPC);
        } else if (errno != EINTR) {
            d.Fail(errno);
        }
    }
}

void OutputFile::Commit() {
    destination_->Commit();
}

void WriteFileAtomically(const std::string& path, std::string_view bytes, Durability durability) {
    OutputFile file(path, durability);
    file.Write(bytes);
    file.Commit();
}

// --- Places ---

std::optional<FilePlace> PlaceOf(const std::string& path) {
    if (const std::optional<int> given = DescriptorNamed(path)) return PlaceOfDescriptor(*given);
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0)
        return S_ISREG(status.st_mode) ? std::optional(FilePlace{status.st_dev, status.st_ino, {}})
                                       : std::nullopt;
    if (errno != ENOENT || path.empty() || path.ends_with('/')) return std::nullopt;
    const std::string folder = FolderOf(path);
    if (::stat(FolderArgument(folder), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    return FilePlace{status.st_dev, status.st_ino, NameOf(path)};
}

std::optional<FilePlace> PlaceOfDescriptor(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return FilePlace{status.st_dev, status.st_ino, {}};
}

// --- Folders ---

void EnsureFolder(const std::string& path) {
    struct stat status {};
    const bool exists = ::stat(path.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) return;
    if (exists) ThrowIoFailure(IoCode::AlreadyExists);
    if (::mkdir(path.c_str(), NewFolderMode) == 0) return;
    const int error = errno;
    if (error != EEXIST) ThrowIoError(error, path);
    if (!IsFolder(path)) ThrowIoFailure(IoCode::AlreadyExists); // a dangling link, or a file made meanwhile
}

std::optional<std::string> ProcessStartTime(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    const std::size_t name = line.rfind(')'); // the program's name may hold spaces and parentheses
    if (name == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(name + 1));
    std::string field;
    for (int k = 3; k <= 22; ++k) {
        if (!(fields >> field)) return std::nullopt;
        if (k == 3 && (field == "Z" || field == "X")) return std::nullopt;
    }
    return field;
}

bool ProcessEnded(pid_t pid, const std::optional<std::string>& startTime) {
    static const bool told = ProcessStartTime(::getpid()).has_value();
    if (!told || pid <= 0) return false;
    const std::optional<std::string> now = ProcessStartTime(pid);
    return !now || (startTime && *now != *startTime);
}

std::string ExecutableDir() {
    std::string program(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", program.data(), program.size());
    if (length < 0) ThrowIoError(errno, "/proc/self/exe");
    program.resize(static_cast<std::size_t>(length));
    return FolderOf(program);
}

} // namespace nagisora
