#include "failure.h"
#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

namespace fs = std::filesystem;

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

// A fresh folder under the system's temporary folder, removed with all it holds.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "nagisora-platform-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
};

void WriteRaw(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

// The code of the Failure that action throws, -1 when it throws none.
int FailureCode(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Message(), IoErrorMessage(failure.Code()));
        return failure.Code();
    }
    return -1;
}

TEST(IoErrorMessage, OwnTextsAndNumberedOthers) {
    const std::vector<std::pair<int, std::string>> cases{{2, "ﾌｧｲﾙが見つかりません"},
                                                         {3, "不正なﾌｧｲﾙ名です"},
                                                         {4, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
                                                         {5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
                                                         {100, "ﾌｧｲﾙの末尾以降を読み込みました"},
                                                         {101, "ﾃﾞｨｽｸがいっぱいです"},
                                                         {106, "入力値が数値ではありません"},
                                                         {32, "I/O ｴﾗｰ (32)"},
                                                         {183, "I/O ｴﾗｰ (183)"},
                                                         {1005, "I/O ｴﾗｰ (5)"}};
    for (const auto& [code, message] : cases)
        EXPECT_EQ(IoErrorMessage(code), message) << code;
}

TEST(IoErrorCode, MapsErrorNumbers) {
    const ScratchFolder folder;
    const std::string inFolder = folder / "x";
    const std::string inMissingFolder = folder / "missing/x";
    const std::vector<std::tuple<int, std::string, int>> cases{
        {ENOENT, inFolder, 2},          {ENOENT, "bare-name", 2},
        {ENOENT, inMissingFolder, 3},   {ENOENT, "", 3},
        {ENOTDIR, inFolder, 3},         {ENAMETOOLONG, inFolder, 3},
        {EINVAL, inFolder, 3},          {EMFILE, inFolder, 4},
        {ENFILE, inFolder, 4},          {EACCES, inFolder, 5},
        {EPERM, inFolder, 5},           {EROFS, inFolder, 5},
        {EISDIR, inFolder, 5},          {ENOSPC, inFolder, 101},
        {EDQUOT, inFolder, 101},        {EBUSY, inFolder, 32},
        {ETXTBSY, inFolder, 32},        {ELOOP, inFolder, ELOOP},
        {EIO, inFolder, 1000 + EIO}, // would otherwise read as "access denied"
        {EINTR, inFolder, 1000 + EINTR}};
    for (const auto& [errnoValue, path, code] : cases)
        EXPECT_EQ(IoErrorCode(errnoValue, path), code) << "errno " << errnoValue << " on " << path;
}

TEST(ReadFileBytes, ReadsEveryByteOfALargeFile) {
    const ScratchFolder folder;
    std::string bytes(200'000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    WriteRaw(folder / "large.bin", bytes);
    EXPECT_EQ(ReadFileBytes(folder / "large.bin"), bytes);
    WriteRaw(folder / "empty.txt", "");
    EXPECT_EQ(ReadFileBytes(folder / "empty.txt"), "");
}

TEST(ReadFileBytes, ReportsFailures) {
    const ScratchFolder folder;
    WriteRaw(folder / "file", "x");
    const std::vector<std::pair<std::string, int>> cases{{folder / "absent.txt", 2},
                                                         {folder / "absent/a.txt", 3},
                                                         {folder / "file/a.txt", 3},
                                                         {folder / ".", 5}};
    for (const auto& [path, code] : cases)
        EXPECT_EQ(FailureCode([&, p = path] { ReadFileBytes(p); }), code) << path;
}

TEST(ReadFileBytes, UnreadableFileIsAccessDenied) {
    const ScratchFolder folder;
    std::string path = folder / "locked.txt";
    if (RunningAsRoot()) {
        // Root reads any file whatever its mode; a write-only sysfs attribute is refused even to root.
        path = "/sys/bus/pci/rescan";
        if (!fs::exists(path)) GTEST_SKIP() << "running as root without " << path;
    } else {
        WriteRaw(path, "x");
        fs::permissions(path, fs::perms::none);
    }
    EXPECT_EQ(FailureCode([&] { ReadFileBytes(path); }), 5);
}

TEST(WriteFileAtomically, CreatesFileWithUmaskMode) {
    const ScratchFolder folder;
    const std::string bytes("\x83\x8D\0\r\n", 5);
    WriteFileAtomically(folder / "new.mid", bytes);
    EXPECT_EQ(ReadRaw(folder / "new.mid"), bytes);
    EXPECT_EQ(PermissionBits(folder / "new.mid"), 0666 & ~CurrentUmask());
    WriteFileAtomically(folder / "empty.txt", "");
    EXPECT_TRUE(fs::is_regular_file(folder / "empty.txt"));
    EXPECT_EQ(fs::file_size(folder / "empty.txt"), 0u);
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"empty.txt", "new.mid"}));
}

TEST(WriteFileAtomically, ReplacesExistingFileKeepingItsMode) {
    const ScratchFolder folder;
    const std::string path = folder / "score.txt";
    WriteRaw(path, "a much longer old content");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    WriteFileAtomically(path, "new");
    EXPECT_EQ(ReadRaw(path), "new");
    EXPECT_EQ(PermissionBits(path), 0640u);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"score.txt"});
}

TEST(WriteFileAtomically, ReplacesTheFileASymbolicLinkPointsTo) {
    const ScratchFolder folder;
    fs::create_directory(folder / "real");
    WriteRaw(folder / "real/work.mid", "old");
    fs::create_symlink("real/work.mid", folder / "link.mid");
    fs::create_symlink("real/fresh.mid", folder / "dangling.mid");
    WriteFileAtomically(folder / "link.mid", "new");
    WriteFileAtomically(folder / "dangling.mid", "fresh");
    EXPECT_TRUE(fs::is_symlink(folder / "link.mid"));
    EXPECT_TRUE(fs::is_symlink(folder / "dangling.mid"));
    EXPECT_EQ(ReadRaw(folder / "real/work.mid"), "new");
    EXPECT_EQ(ReadRaw(folder / "real/fresh.mid"), "fresh");
}

TEST(WriteFileAtomically, RefusesTargetsLeavingThemAsTheyWere) {
    const ScratchFolder folder;
    WriteRaw(folder / "protected.txt", "keep");
    fs::permissions(folder / "protected.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(folder / "folder");
    const std::vector<std::pair<std::string, int>> cases{{folder / "protected.txt", 5},
                                                         {folder / "folder", 5},
                                                         {"/dev/null", 5},
                                                         {folder / "missing/a.mid", 3}};
    for (const auto& [path, code] : cases)
        EXPECT_EQ(FailureCode([&, p = path] { WriteFileAtomically(p, "new"); }), code) << path;
    EXPECT_EQ(ReadRaw(folder / "protected.txt"), "keep");
    EXPECT_EQ(PermissionBits(folder / "protected.txt"), 0440u);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"folder", "protected.txt"}));
}

TEST(WriteFileAtomically, UnwritableFolderIsAccessDenied) {
    const ScratchFolder folder;
    std::string path = folder / "locked/a.mid";
    if (RunningAsRoot()) {
        // Root writes into any folder whatever its mode; sysfs takes no new files even from root.
        path = "/sys/nagisora-test.mid";
        if (!fs::is_directory("/sys")) GTEST_SKIP() << "running as root without /sys";
    } else {
        fs::create_directory(folder / "locked");
        fs::permissions(folder / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_EQ(FailureCode([&] { WriteFileAtomically(path, "new"); }), 5);
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
    const ScratchFolder folder;
    const std::string path = folder / "work.mid";
    WriteRaw(path, "old");
    int code = -1;
    {
        const FileSizeLimit limit(1000);
        code = FailureCode([&] { WriteFileAtomically(path, std::string(5000, 'x')); });
    }
    EXPECT_EQ(code, EFBIG); // the write stops short at the limit and then fails
    EXPECT_EQ(ReadRaw(path), "old");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"work.mid"});
}

TEST(EnsureFolder, CreatesMissingAndKeepsExisting) {
    const ScratchFolder folder;
    EnsureFolder(folder / "config");
    EXPECT_TRUE(fs::is_directory(folder / "config"));
    WriteRaw(folder / "config/work.mid", "kept");
    EnsureFolder(folder / "config");
    EXPECT_EQ(ReadRaw(folder / "config/work.mid"), "kept");
}

TEST(EnsureFolder, ReportsFailures) {
    const ScratchFolder folder;
    WriteRaw(folder / "config", "a plain file");
    const std::vector<std::pair<std::string, int>> cases{
        {folder / "config", 183}, {folder / "config/", 183}, {folder / "missing/config", 3}};
    for (const auto& [path, code] : cases)
        EXPECT_EQ(FailureCode([&, p = path] { EnsureFolder(p); }), code) << path;
    EXPECT_EQ(ReadRaw(folder / "config"), "a plain file");
}

TEST(ExecutableDir, IsTheFolderOfThisProgram) {
    const std::string folder = ExecutableDir();
    ASSERT_TRUE(folder.ends_with('/'));
    EXPECT_TRUE(fs::is_regular_file(folder + "platform_tests"));
}

} // namespace
} // namespace nagisora
