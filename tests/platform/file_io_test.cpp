#include "core/failure.h"
#include "platform/file_io.h"
#include "test_files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TemporaryFolder;
using test::WriteBytes;

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

mode_t PermissionBits(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The Failure that action throws; one of the System kind when it throws none.
Failure FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure;
    }
    return Failure::System(0, "no failure");
}

// The number the user is shown for the file failure that action throws (its code, else the system's error
// number), -1 when it throws none; the message must be the code's own.
int FailureCode(const std::function<void()>& action) {
    const Failure failure = FailureOf(action);
    if (failure.Kind() != FailureKind::File) return -1;
    EXPECT_EQ(failure.Message(), Failure::File(failure.FileCode(), failure.SystemError()).Message());
    return failure.FileCode() ? static_cast<int>(*failure.FileCode()) : failure.SystemError();
}

TEST(IoErrorMessage, OwnTextsAndNumberedOthers) {
    const std::vector<std::pair<int, std::string>> cases{{2, "ﾌｧｲﾙが見つかりません"},
                                                         {3, "不正なﾌｧｲﾙ名です"},
                                                         {4, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
                                                         {5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
                                                         {8, "ﾒﾓﾘが足りません"},
                                                         {100, "ﾌｧｲﾙの末尾以降を読み込みました"},
                                                         {101, "ﾃﾞｨｽｸがいっぱいです"},
                                                         {106, "入力値が数値ではありません"},
                                                         {109, "ﾊﾟｲﾌﾟが閉じられています"},
                                                         {223, "ﾌｧｲﾙが大きすぎます"},
                                                         {1921, "ｼﾝﾎﾞﾘｯｸﾘﾝｸをたどれません"},
                                                         {32, "I/O ｴﾗｰ (32)"},
                                                         {183, "I/O ｴﾗｰ (183)"}};
    for (const auto& [code, message] : cases)
        EXPECT_EQ(IoErrorMessage(static_cast<IoCode>(code)), message) << code;
}

TEST(IoErrorCode, MapsErrorNumbers) {
    const TemporaryFolder folder;
    const std::string inFolder = folder / "x";
    const std::string inMissingFolder = folder / "missing/x";
    const std::vector<std::tuple<int, std::string, int>> cases{
        {ENOENT, inFolder, 2},
        {ENOENT, "bare-name", 2},
        {ENOENT, inMissingFolder, 3},
        {ENOENT, "", 3},
        {ENOENT, "missing/", 3},
        {ENOTDIR, inFolder, 3},
        {ENAMETOOLONG, inFolder, 3},
        {EINVAL, inFolder, 3},
        {EMFILE, inFolder, 4},
        {ENFILE, inFolder, 4},
        {EACCES, inFolder, 5},
        {EPERM, inFolder, 5},
        {EROFS, inFolder, 5},
        {EISDIR, inFolder, 5},
        {ENOMEM, inFolder, 8},
        {ENOSPC, inFolder, 101},
        {EDQUOT, inFolder, 101},
        {EBUSY, inFolder, 32},
        {ETXTBSY, inFolder, 32},
        {EPIPE, inFolder, 109},
        {EFBIG, inFolder, 223},
        {ELOOP, inFolder, 1921},
        {EXDEV, inFolder, 0}, // 0: no code of its own, the user is shown the number itself
        {ENOEXEC, inFolder, 0},
        {EINTR, inFolder, 0},
        {EIO, inFolder, 0}}; // numbers that would read as a listed code
    for (const auto& [errnoValue, path, code] : cases)
        EXPECT_EQ(IoErrorCode(errnoValue, path),
                  code == 0 ? std::nullopt : std::optional(static_cast<IoCode>(code)))
            << "errno " << errnoValue << " on " << path;
}

TEST(ReadFileBytes, ReadsEveryByteOfALargeFile) {
    const TemporaryFolder folder;
    std::string bytes(200'000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    WriteBytes(folder / "large.bin", bytes);
    EXPECT_EQ(ReadFileBytes(folder / "large.bin"), bytes);
    WriteBytes(folder / "empty.txt", "");
    EXPECT_EQ(ReadFileBytes(folder / "empty.txt"), "");
}

TEST(ReadFileBytes, ReportsFailures) {
    const TemporaryFolder folder;
    WriteBytes(folder / "file", "x");
    fs::create_symlink("loop", folder / "loop");
    const std::vector<std::pair<std::string, int>> cases{{folder / "absent.txt", 2},
                                                         {folder / "absent/a.txt", 3},
                                                         {folder / "file/a.txt", 3},
                                                         {folder / ".", 5},
                                                         {folder / "loop", 1921}};
    for (const auto& [path, code] : cases)
        EXPECT_EQ(FailureCode([&, p = path] { ReadFileBytes(p); }), code) << path;
}

TEST(ReadFileBytes, UnreadableFileIsAccessDenied) {
    const TemporaryFolder folder;
    std::string path = folder / "locked.txt";
    if (RunningAsRoot()) {
        // Root reads any file whatever its mode; a write-only sysfs attribute is refused even to root.
        path = "/sys/bus/pci/rescan";
        if (!fs::exists(path)) GTEST_SKIP() << "running as root without " << path;
    } else {
        WriteBytes(path, "x");
        fs::permissions(path, fs::perms::none);
    }
    EXPECT_EQ(FailureCode([&] { ReadFileBytes(path); }), 5);
}

// A file larger than the limit is refused, one of unknown size once the limit is passed; a named pipe is read
// from its writer.
TEST(ReadFileBytes, KeepsToTheLimit) {
    const TemporaryFolder folder;
    WriteBytes(folder / "ten.txt", "0123456789");
    WriteBytes(folder / "eleven.txt", "0123456789a");
    ASSERT_EQ(::mkfifo((folder / "fed").c_str(), 0600), 0);
    std::thread writer([path = folder / "fed"] { WriteBytes(path, "fed through a pipe"); });
    const struct {
        std::string path;
        std::size_t limit;
        std::string read;    // when it is read
        std::string message; // when it is refused
    } cases[] = {
        {folder / "ten.txt", 10, "0123456789", {}},
        {folder / "eleven.txt", 10, {}, "ﾌｧｲﾙが大きすぎます (上限 10 バイト)"},
        {"/dev/zero", 1024 * 1024, {}, "ﾌｧｲﾙが大きすぎます (上限 1 MiB)"},
        {folder / "fed", 100, "fed through a pipe", {}},
    };
    for (const auto& c : cases) {
        if (c.message.empty()) {
            EXPECT_EQ(ReadFileBytes(c.path, c.limit), c.read) << c.path;
        } else {
            EXPECT_EQ(FailureOf([&] { ReadFileBytes(c.path, c.limit); }).Message(), c.message) << c.path;
        }
    }
    writer.join();
}

TEST(WriteFileAtomically, CreatesFileWithUmaskMode) {
    const TemporaryFolder folder;
    const std::string bytes("\x83\x8D\0\r\n", 5);
    WriteFileAtomically(folder / "new.mid", bytes);
    EXPECT_EQ(ReadBytes(folder / "new.mid"), bytes);
    EXPECT_EQ(PermissionBits(folder / "new.mid"), 0666 & ~CurrentUmask());
    WriteFileAtomically(folder / "empty.txt", "");
    EXPECT_TRUE(fs::is_regular_file(folder / "empty.txt"));
    EXPECT_EQ(fs::file_size(folder / "empty.txt"), 0u);
    // The temporary's name is short whatever the target's: a name of the longest length the system allows.
    const std::string longest(254, 'n');
    WriteFileAtomically(folder / longest, bytes);
    EXPECT_EQ(ReadBytes(folder / longest), bytes);
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"empty.txt", "new.mid", longest}));
}

TEST(WriteFileAtomically, ReplacesExistingFileKeepingItsMode) {
    const TemporaryFolder folder;
    const std::string path = folder / "score.txt";
    WriteBytes(path, "a much longer old content");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    WriteFileAtomically(path, "new");
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(PermissionBits(path), 0640u);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"score.txt"});
}

TEST(WriteFileAtomically, ReplacesTheFileASymbolicLinkPointsTo) {
    const TemporaryFolder folder;
    fs::create_directory(folder / "real");
    WriteBytes(folder / "real/work.mid", "old");
    fs::create_symlink("real/work.mid", folder / "link.mid");
    fs::create_symlink("real/fresh.mid", folder / "dangling.mid");
    WriteFileAtomically(folder / "link.mid", "new");
    WriteFileAtomically(folder / "dangling.mid", "fresh");
    EXPECT_TRUE(fs::is_symlink(folder / "link.mid"));
    EXPECT_TRUE(fs::is_symlink(folder / "dangling.mid"));
    EXPECT_EQ(ReadBytes(folder / "real/work.mid"), "new");
    EXPECT_EQ(ReadBytes(folder / "real/fresh.mid"), "fresh");
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"dangling.mid", "link.mid", "real"}));
}

// In a shared folder with the sticky bit, the system follows a link only for its owner
// (fs.protected_symlinks); a write through someone else's link is refused as the system refuses it.
TEST(WriteFileAtomically, FollowsLinksOnlyAsTheSystemDoes) {
    if (!RunningAsRoot() || ReadBytes("/proc/sys/fs/protected_symlinks") != "1\n")
        GTEST_SKIP() << "needs root and fs.protected_symlinks = 1";
    const TemporaryFolder folder;
    fs::create_directory(folder / "shared");
    fs::permissions(folder / "shared", fs::perms::all | fs::perms::sticky_bit);
    WriteBytes(folder / "victim.txt", "keep");
    fs::create_symlink(folder / "victim.txt", folder / "shared/planted.mid");
    ASSERT_EQ(::lchown((folder / "shared/planted.mid").c_str(), 4321, 4321), 0);
    EXPECT_EQ(FailureCode([&] { WriteFileAtomically(folder / "shared/planted.mid", "new"); }), 5);
    EXPECT_EQ(ReadBytes(folder / "victim.txt"), "keep");
}

TEST(WriteFileAtomically, RefusesTargetsLeavingThemAsTheyWere) {
    const TemporaryFolder folder;
    WriteBytes(folder / "protected.txt", "keep");
    fs::permissions(folder / "protected.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(folder / "folder");
    fs::create_symlink("loop", folder / "loop");
    const std::vector<std::pair<std::string, int>> cases{{folder / "protected.txt", 5},
                                                         {folder / "folder", 5},
                                                         {folder / "missing/a.mid", 3},
                                                         {folder / "missing/", 3},
                                                         {folder / "loop", 1921}};
    for (const auto& [path, code] : cases)
        EXPECT_EQ(FailureCode([&, p = path] { WriteFileAtomically(p, "new"); }), code) << path;
    EXPECT_EQ(ReadBytes(folder / "protected.txt"), "keep");
    EXPECT_EQ(PermissionBits(folder / "protected.txt"), 0440u);
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"folder", "loop", "protected.txt"}));
}

// Lowers the largest file size this process may write, so that writes stop part way.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit saved_{};
    void (*previousHandler_)(int);
};

TEST(WriteFileAtomically, FailedWriteIsReportedAndLeavesTheOldFile) {
    const TemporaryFolder folder;
    const std::string path = folder / "work.mid";
    WriteBytes(path, "old");
    int code = -1;
    {
        const FileSizeLimit limit(1000);
        code = FailureCode([&] { WriteFileAtomically(path, std::string(5000, 'x')); });
    }
    EXPECT_EQ(code, 223); // the write stops short at the limit and then fails
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"work.mid"});
}

// A full device and a pipe nobody reads any more (SIGPIPE ignored, as a parent may leave it) end the write.
TEST(WriteAll, ReportsFullDiskAndBrokenPipe) {
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(FailureCode([&] { WriteAll(full, "x", "/dev/full"); }), 101);
    EXPECT_EQ(FailureCode([&] { WriteAll(pipeEnds[1], "x", "-"); }), 109);
    std::signal(SIGPIPE, previous);
    ::close(full);
    ::close(pipeEnds[1]);
}

TEST(EnsureFolder, CreatesMissingAndKeepsExisting) {
    const TemporaryFolder folder;
    EnsureFolder(folder / "config");
    EXPECT_TRUE(fs::is_directory(folder / "config"));
    WriteBytes(folder / "config/work.mid", "kept");
    EnsureFolder(folder / "config");
    EXPECT_EQ(ReadBytes(folder / "config/work.mid"), "kept");
}

TEST(EnsureFolder, ReportsFailures) {
    const TemporaryFolder folder;
    WriteBytes(folder / "config", "a plain file");
    const std::vector<std::pair<std::string, int>> cases{
        {folder / "config", 183}, {folder / "config/", 183}, {folder / "missing/config", 3}};
    for (const auto& [path, code] : cases)
        EXPECT_EQ(FailureCode([&, p = path] { EnsureFolder(p); }), code) << path;
    EXPECT_EQ(ReadBytes(folder / "config"), "a plain file");
}

TEST(ExecutableDir, IsTheFolderOfThisProgram) {
    const std::string folder = ExecutableDir();
    ASSERT_TRUE(folder.ends_with('/'));
    EXPECT_TRUE(fs::is_regular_file(folder + "platform_tests"));
}

} // namespace
} // namespace nagisora
