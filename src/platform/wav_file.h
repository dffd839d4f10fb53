#pragma once

// 16-bit PCM WAV files, written as the samples come.

#include "platform/file_io.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>

namespace nagisora {

inline constexpr std::size_t WavHeaderBytes = 44;

// The RIFF/WAVE header of a 16-bit PCM file whose sample data is dataBytes long.
std::string WavHeader(int sampleRate, int channels, std::uint32_t dataBytes);

// Writes a WAV file as the samples come, through OutputFile (file_io.h): a file is replaced only when Commit
// succeeds, and is flushed to the disk; without Commit (a failure on the way) an existing file stays as it
// was. A stream (a pipe, /dev/stdout) gets a header that leaves the length open, since it cannot be written
// again once the length is known. Failures throw Failure with the file codes and messages of file_io.h.
class WavWriter {
  public:
    WavWriter(const std::string& path, int sampleRate, int channels);
    // Writes to an open descriptor (standard output) as the samples come, named name in failures. The header
    // is completed at Commit where the descriptor can be written again at the place it started (a plain file
    // not opened for appending); elsewhere it leaves the length open, as for a stream.
    WavWriter(int fd, const std::string& name, int sampleRate, int channels);

    // Appends interleaved samples.
    void Append(std::span<const std::int16_t> samples);

    // Completes the header and puts the file in place.
    void Commit();

  private:
    void Write(std::string_view bytes);

    std::optional<OutputFile> file_; // a named file; none for a descriptor
    int fd_ = -1;
    std::string name_;
    std::optional<off_t> headerAt_; // where the descriptor's header can be written again
    int sampleRate_;
    int channels_;
    std::uint64_t dataBytes_ = 0;
};

} // namespace nagisora
