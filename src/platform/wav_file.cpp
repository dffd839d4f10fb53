#include "wav_file.h"

#include "file_io.h"

#include <bit>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

constexpr int BitsPerSample = 16;
constexpr std::uint64_t MaxDataBytes = 0xFFFFFFFFull - (WavHeaderBytes - 8);
constexpr mode_t NewFileMode = 0666; // narrowed by the umask
constexpr int TemporaryNameAttempts = 100;

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The file that is really replaced: a symbolic link's target, the path itself when it does not exist yet.
std::string ResolvedTarget(const std::string& path) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(path, error);
    return error ? path : canonical.string();
}

// An existing target must be a plain file its owner may write; returns its permission bits, or the bits of a
// new file when there is none.
mode_t CheckTarget(const std::string& target) {
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0) {
        if (errno == ENOENT) return NewFileMode;
        ThrowIoError(errno, target);
    }
    if (!S_ISREG(status.st_mode) || (status.st_mode & S_IWUSR) == 0) ThrowIoError(EACCES, target);
    return status.st_mode & 07777;
}

std::string RandomSuffix() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    constexpr char Digits[] = "0123456789abcdef";
    std::string suffix = ".tmp";
    for (int i = 0; i < 8; ++i)
        suffix.push_back(Digits[generator() % 16]);
    return suffix;
}

} // namespace

std::string WavHeader(int sampleRate, int channels, std::uint32_t dataBytes) {
    const auto blockAlign = static_cast<std::uint32_t>(channels * BitsPerSample / 8);
    std::string header = "RIFF";
    PutLittleEndian(header, dataBytes + static_cast<std::uint32_t>(WavHeaderBytes - 8), 4);
    header += "WAVEfmt ";
    PutLittleEndian(header, 16, 4); // size of the format chunk
    PutLittleEndian(header, 1, 2);  // PCM
    PutLittleEndian(header, static_cast<std::uint32_t>(channels), 2);
    PutLittleEndian(header, static_cast<std::uint32_t>(sampleRate), 4);
    PutLittleEndian(header, static_cast<std::uint32_t>(sampleRate) * blockAlign, 4);
    PutLittleEndian(header, blockAlign, 2);
    PutLittleEndian(header, BitsPerSample, 2);
    header += "data";
    PutLittleEndian(header, dataBytes, 4);
    return header;
}

WavWriter::WavWriter(const std::string& path, int sampleRate, int channels)
    : target_(ResolvedTarget(path)), sampleRate_(sampleRate), channels_(channels) {
    const mode_t mode = CheckTarget(target_);
    for (int attempt = 0; attempt < TemporaryNameAttempts && fd_ < 0; ++attempt) {
        temporary_ = target_ + RandomSuffix();
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd_ < 0 && errno != EEXIST) ThrowIoError(errno, path);
    }
    if (fd_ < 0) ThrowIoError(EEXIST, path);
    try {
        if (mode != NewFileMode && ::fchmod(fd_, mode) != 0) Fail(errno);
        const std::string header = WavHeader(sampleRate_, channels_, 0);
        WriteAll(header.data(), header.size());
    } catch (...) {
        Discard();
        throw;
    }
}

WavWriter::~WavWriter() {
    Discard();
}

void WavWriter::Discard() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(temporary_.c_str());
}

void WavWriter::Append(std::span<const std::int16_t> samples) {
    if (dataBytes_ + samples.size_bytes() > MaxDataBytes) Fail(EFBIG);
    if constexpr (std::endian::native == std::endian::little) {
        WriteAll(samples.data(), samples.size_bytes());
    } else {
        std::vector<std::int16_t> swapped(samples.begin(), samples.end());
        for (std::int16_t& s : swapped)
            s = static_cast<std::int16_t>((static_cast<std::uint16_t>(s) << 8) |
                                          (static_cast<std::uint16_t>(s) >> 8));
        WriteAll(swapped.data(), samples.size_bytes());
    }
    dataBytes_ += samples.size_bytes();
}

void WavWriter::Commit() {
    const std::string header = WavHeader(sampleRate_, channels_, static_cast<std::uint32_t>(dataBytes_));
    if (::lseek(fd_, 0, SEEK_SET) != 0) Fail(errno);
    WriteAll(header.data(), header.size());
    if (::fsync(fd_) != 0) Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        ThrowIoError(error, target_);
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        ThrowIoError(error, target_);
    }
}

void WavWriter::WriteAll(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd_, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) Fail(written < 0 ? errno : ENOSPC); // a write that stores nothing: the disk is full
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

// The temporary file stays until the destructor removes it; the failure names the target.
void WavWriter::Fail(int errnoValue) {
    ThrowIoError(errnoValue, target_);
}

} // namespace nagisora
