#pragma once

// 16-bit PCM WAV files, written as the samples come.

#include <cstdint>
#include <span>
#include <string>

namespace nagisora {

inline constexpr std::size_t WavHeaderBytes = 44;

// The RIFF/WAVE header of a 16-bit PCM file whose sample data is dataBytes long.
std::string WavHeader(int sampleRate, int channels, std::uint32_t dataBytes);

// Writes a WAV file through a temporary file in the target's folder, which replaces the target only when
// Commit succeeds; without Commit (a failure on the way) the temporary file is removed and an existing target
// stays as it was. A target without its owner's write permission, or one that is no plain file, is refused
// (code 5); a replaced file keeps its permission bits, and a symbolic link is followed. Failures throw
// Failure with the file codes and messages of file_io.h.
class WavWriter {
  public:
    WavWriter(const std::string& path, int sampleRate, int channels);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Appends interleaved samples.
    void Append(std::span<const std::int16_t> samples);

    // Completes the header, flushes the file to the disk and puts it in place of the target.
    void Commit();

  private:
    void WriteAll(const void* data, std::size_t size);
    [[noreturn]] void Fail(int errnoValue);
    // Closes and removes the temporary file, unless committed.
    void Discard();

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    int sampleRate_;
    int channels_;
    std::uint64_t dataBytes_ = 0;
};

} // namespace nagisora
