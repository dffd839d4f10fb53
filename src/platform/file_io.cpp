#include "file_io.h"

#include "failure.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace nagisora {
namespace {

constexpr int MaxSymbolicLinks = 40; // as many as the kernel follows on one path
constexpr int TemporaryNameAttempts = 100;
constexpr std::size_t ReadChunkSize = 64 * 1024;
constexpr mode_t NewFileMode = 0666; // narrowed by the umask
constexpr mode_t NewFolderMode = 0777;

struct CodeMessage {
    int code;
    std::string_view message;
};

constexpr std::array<CodeMessage, 7> OwnMessages{{
    {IoCode::FileNotFound, "ﾌｧｲﾙが見つかりません"},
    {IoCode::InvalidFileName, "不正なﾌｧｲﾙ名です"},
    {IoCode::TooManyOpenFiles, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
    {IoCode::AccessDenied, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
    {IoCode::ReadBeyondEnd, "ﾌｧｲﾙの末尾以降を読み込みました"},
    {IoCode::DiskFull, "ﾃﾞｨｽｸがいっぱいです"},
    {IoCode::NotANumber, "入力値が数値ではありません"},
}};

std::optional<std::string_view> OwnMessage(int code) {
    for (const CodeMessage& entry : OwnMessages)
        if (entry.code == code) return entry.message;
    return std::nullopt;
}

// --- Paths ---

// The folder part of a path with its trailing "/"; empty for a bare name, which lies in the current folder.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ContainingFolderExists(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::string folder = FolderOf(trimmed);
    return IsFolder(folder.empty() ? "." : folder);
}

std::string ReadLink(const std::string& path) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) ThrowIoError(errno, path);
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

// The path with its last component's symbolic links followed, so that a file is replaced where it really
// lies.
std::string FollowSymbolicLinks(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < MaxSymbolicLinks; ++hop) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        const std::string link = ReadLink(current);
        current = link.starts_with('/') ? link : FolderOf(current) + link;
    }
    ThrowIoError(ELOOP, path);
}

// --- Descriptors ---

// An open file descriptor, closed with its owner.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

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

// open(), tried again when a signal interrupts it; -1 with errno set on failure.
int OpenRetrying(const std::string& path, int flags, mode_t mode) {
    int fd = -1;
    do
        fd = ::open(path.c_str(), flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) ThrowIoError(errno, path);
        if (written == 0) ThrowIoError(ENOSPC, path); // nothing stored and no reason given: no room left
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
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

// --- Atomic replacement ---

// The status of the existing target, none when there is none; refuses a target that may not be replaced.
std::optional<struct stat> ReplaceableTarget(const std::string& target) {
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0) {
        if (errno == ENOENT) return std::nullopt;
        ThrowIoError(errno, target);
    }
    if (S_ISDIR(status.st_mode)) ThrowIoError(EISDIR, target);
    if (!S_ISREG(status.st_mode)) ThrowIoError(EACCES, target); // a device or a pipe is never renamed over
    // The owner's write bit marks a write-protected file, also for root, whom access() lets write anything.
    if ((status.st_mode & S_IWUSR) == 0) ThrowIoError(EACCES, target);
    if (::access(target.c_str(), W_OK) != 0) ThrowIoError(errno, target);
    return status;
}

// A new file beside the target that replaces it when complete, and is removed when it does not get that far.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& target) : target_(target), file_(Create()) {}
    ~TemporaryFile() {
        if (renamed_) return;
        file_.Close();
        ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Gives the file the owner and permission bits of the file it replaces. Only root may give a file away
    // and some file systems keep no modes, so this is done as far as the system allows; the content matters
    // more.
    void TakeAttributesOf(const struct stat& replaced) {
        if (::fchown(file_.Get(), replaced.st_uid, replaced.st_gid) != 0) {
            // Not the owner's to give: the replacement stays the writer's.
        }
        ::fchmod(file_.Get(), replaced.st_mode & 07777); // after fchown, which clears the set-ID bits
    }

    void Write(std::string_view bytes) { WriteAll(file_.Get(), bytes, target_); }

    // Flushes the content to the disk, closes the file and renames it over the target.
    void ReplaceTarget(Durability durability) {
        if (durability == Durability::Flushed && ::fsync(file_.Get()) != 0) ThrowIoError(errno, target_);
        if (const int error = file_.Close(); error != 0) ThrowIoError(error, target_);
        if (::rename(path_.c_str(), target_.c_str()) != 0) ThrowIoError(errno, target_);
        renamed_ = true;
    }

  private:
    int Create() {
        const std::string folder = FolderOf(target_);
        for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
            path_ = folder + ".nagisora-" + RandomSuffix() + ".tmp";
            const int fd = OpenRetrying(path_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NewFileMode);
            if (fd >= 0) return fd;
            if (errno != EEXIST) ThrowIoError(errno, target_);
        }
        ThrowIoError(EEXIST, target_);
    }

    std::string target_;
    std::string path_;
    FileDescriptor file_;
    bool renamed_ = false;
};

// Makes the rename itself durable. Some file systems refuse to flush a folder; the file is in place all the
// same, so a failure here is not reported.
void SyncFolder(const std::string& folder) {
    const FileDescriptor handle(
        OpenRetrying(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (handle.Get() >= 0) ::fsync(handle.Get());
}

} // namespace

std::string IoErrorMessage(int code) {
    if (const std::optional<std::string_view> message = OwnMessage(code)) return std::string(*message);
    // An unlisted error shows the system's own number, also where its code had to be moved off a listed one.
    const int shown = code >= IoCode::UnlistedErrorBase ? code - IoCode::UnlistedErrorBase : code;
    return "I/O ｴﾗｰ (" + std::to_string(shown) + ")";
}

int IoErrorCode(int errnoValue, const std::string& path) {
    switch (errnoValue) {
    case ENOENT:
        return path.empty() || !ContainingFolderExists(path) ? IoCode::InvalidFileName : IoCode::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
        return IoCode::InvalidFileName;
    case EMFILE:
    case ENFILE:
        return IoCode::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return IoCode::AccessDenied;
    case ENOSPC:
    case EDQUOT:
        return IoCode::DiskFull;
    case EBUSY:
    case ETXTBSY:
        return IoCode::FileInUse;
    default:
        return OwnMessage(errnoValue) ? IoCode::UnlistedErrorBase + errnoValue : errnoValue;
    }
}

void ThrowIoError(int errnoValue, const std::string& path) {
    const int code = IoErrorCode(errnoValue, path);
    throw Failure(code, IoErrorMessage(code));
}

std::string ReadFileBytes(const std::string& path) {
    const FileDescriptor file(OpenRetrying(path, O_RDONLY | O_CLOEXEC, 0));
    if (file.Get() < 0) ThrowIoError(errno, path);
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) ThrowIoError(errno, path);
    if (S_ISDIR(status.st_mode)) ThrowIoError(EISDIR, path);
    std::string bytes;
    if (S_ISREG(status.st_mode)) bytes.reserve(static_cast<std::size_t>(status.st_size));
    std::vector<char> chunk(ReadChunkSize);
    for (;;) {
        const ssize_t count = ::read(file.Get(), chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) ThrowIoError(errno, path);
        if (count == 0) return bytes;
        bytes.append(chunk.data(), static_cast<std::size_t>(count));
    }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes, Durability durability) {
    const std::string target = FollowSymbolicLinks(path);
    const std::optional<struct stat> replaced = ReplaceableTarget(target);
    TemporaryFile temporary(target);
    if (replaced) temporary.TakeAttributesOf(*replaced);
    temporary.Write(bytes);
    temporary.ReplaceTarget(durability);
    if (durability == Durability::Flushed) SyncFolder(FolderOf(target));
}

void EnsureFolder(const std::string& path) {
    struct stat status {};
    const bool exists = ::stat(path.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) return;
    const auto throwAlreadyExists = [] {
        throw Failure(IoCode::AlreadyExists, IoErrorMessage(IoCode::AlreadyExists));
    };
    if (exists) throwAlreadyExists();
    if (::mkdir(path.c_str(), NewFolderMode) == 0) return;
    const int error = errno;
    if (error != EEXIST) ThrowIoError(error, path);
    if (!IsFolder(path)) throwAlreadyExists(); // a dangling symbolic link, or a file made meanwhile
}

std::string ExecutableDir() {
    return FolderOf(ReadLink("/proc/self/exe"));
}

} // namespace nagisora
