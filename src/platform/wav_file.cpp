#include "platform/wav_file.h"

#include <bit>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

constexpr int BitsPerSample = 16;
constexpr std::uint64_t MaxDataBytes = 0xFFFFFFFFull - (WavHeaderBytes - 8);

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
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

// A file gets a header for no samples, completed at Commit; a stream gets the largest length there is, which
// players take for "until the end".
WavWriter::WavWriter(const std::string& path, int sampleRate, int channels)
    : file_(std::in_place, path, Durability::Flushed), sampleRate_(sampleRate), channels_(channels) {
    const auto declared = static_cast<std::uint32_t>(file_->Rewritable() ? 0 : MaxDataBytes);
    file_->Write(WavHeader(sampleRate_, channels_, declared));
}

WavWriter::WavWriter(int fd, const std::string& name, int sampleRate, int channels)
    : fd_(fd), name_(name), sampleRate_(sampleRate), channels_(channels) {
    struct stat status {};
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (at >= 0 && flags >= 0 && (flags & O_APPEND) == 0 && ::fstat(fd_, &status) == 0 &&
        S_ISREG(status.st_mode))
        headerAt_ = at;
    Write(WavHeader(sampleRate_, channels_, static_cast<std::uint32_t>(headerAt_ ? 0 : MaxDataBytes)));
}

void WavWriter::Write(std::string_view bytes) {
    if (file_)
        file_->Write(bytes);
    else
        WriteAll(fd_, bytes, name_);
}

void WavWriter::Append(std::span<const std::int16_t> samples) {
    if (dataBytes_ + samples.size_bytes() > MaxDataBytes) ThrowIoError(EFBIG, {});
    if constexpr (std::endian::native == std::endian::little) {
        Write(std::string_view(reinterpret_cast<const char*>(samples.data()), samples.size_bytes()));
    } else {
        std::vector<std::int16_t> swapped(samples.begin(), samples.end());
        for (std::int16_t& s : swapped)
            s = static_cast<std::int16_t>((static_cast<std::uint16_t>(s) << 8) |
                                          (static_cast<std::uint16_t>(s) >> 8));
        Write(std::string_view(reinterpret_cast<const char*>(swapped.data()), samples.size_bytes()));
    }
    dataBytes_ += samples.size_bytes();
}

void WavWriter::Commit() {
    const std::string header = WavHeader(sampleRate_, channels_, static_cast<std::uint32_t>(dataBytes_));
    if (!file_) {
        if (headerAt_ &&
            ::pwrite(fd_, header.data(), header.size(), *headerAt_) != static_cast<ssize_t>(header.size()))
            ThrowIoError(errno, name_);
        return;
    }
    if (file_->Rewritable()) file_->Rewrite(0, header);
    file_->Commit();
}

} // namespace nagisora
