#include "wav_file.h"

#include <bit>
#include <cerrno>
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
    : file_(path, Durability::Flushed), sampleRate_(sampleRate), channels_(channels) {
    const auto declared = static_cast<std::uint32_t>(file_.Rewritable() ? 0 : MaxDataBytes);
    file_.Write(WavHeader(sampleRate_, channels_, declared));
}

void WavWriter::Append(std::span<const std::int16_t> samples) {
    if (dataBytes_ + samples.size_bytes() > MaxDataBytes) ThrowIoError(EFBIG, {});
    if constexpr (std::endian::native == std::endian::little) {
        file_.Write(std::string_view(reinterpret_cast<const char*>(samples.data()), samples.size_bytes()));
    } else {
        std::vector<std::int16_t> swapped(samples.begin(), samples.end());
        for (std::int16_t& s : swapped)
            s = static_cast<std::int16_t>((static_cast<std::uint16_t>(s) << 8) |
                                          (static_cast<std::uint16_t>(s) >> 8));
        file_.Write(std::string_view(reinterpret_cast<const char*>(swapped.data()), samples.size_bytes()));
    }
    dataBytes_ += samples.size_bytes();
}

void WavWriter::Commit() {
    if (file_.Rewritable())
        file_.Rewrite(0, WavHeader(sampleRate_, channels_, static_cast<std::uint32_t>(dataBytes_)));
    file_.Commit();
}

} // namespace nagisora
