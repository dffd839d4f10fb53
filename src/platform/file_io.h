#pragma once

// File operations of the program, reporting failures as Failure of the File kind: the code the user is shown
// and the operating system's error number.

#include "core/failure.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace nagisora {

// The largest score file that is read: far above any real score (4096 notes take some 30 KB), low enough that
// reading one never strains the memory.
inline constexpr std::size_t ScoreFileLimit = 64 * 1024 * 1024;

// The code reported for an operating-system error number met on the path; none for a number without a code
// of its own, which the user is shown as it is.
std::optional<IoCode> IoErrorCode(int errnoValue, const std::string& path);

// Throws Failure::File(IoErrorCode(errnoValue, path), errnoValue).
[[noreturn]] void ThrowIoError(int errnoValue, const std::string& path);

// Throws Failure::File(code).
[[noreturn]] void ThrowIoFailure(IoCode code);

// Reads from the descriptor until its end. More than limit bytes is refused (FileTooLarge) as soon as the
// limit is passed; sizeHint, when known, saves growing the buffer. A descriptor without data for the moment
// is waited for.
std::string ReadAll(int fd, std::size_t limit, std::size_t sizeHint = 0);

// Writes all the bytes to the descriptor; a write that stores nothing and gives no reason is taken for a full
// disk instead of being tried again for ever. Failures are reported for name.
void WriteAll(int fd, std::string_view bytes, const std::string& name);

// Writes the text to standard error through WriteAll, so that an error output that takes nothing ends the
// write instead of retrying it for ever; a failure there has nowhere to be told and is dropped.
void WriteError(std::string_view text) noexcept;

// Lets a standard stream that the program was started without (closed: `>&-`) stay closed for good: its
// number is held by a descriptor that reads and writes nothing, so that no file the program opens takes it
// and a write to it reports the closed stream (DescriptorClosed) instead of landing in that file.
void HoldClosedStandardStreams();

// The whole content of the file, at most limit bytes: a larger file is refused before it is read, one of
// unknown size (a pipe, a device) once the limit is passed. A named pipe that nobody writes to is not waited
// for: it is reported as a broken pipe.
std::string ReadFileBytes(const std::string& path, std::size_t limit = ScoreFileLimit);

enum class Durability {
    Flushed,   // on the disk before Commit returns: for what the user wrote and cannot make again
    Unflushed, // left to the system's own write-back: for files made again from their source at will
};

// One output file, written as its bytes come. A file (also one that a symbolic link leads to, as the system
// follows links) is replaced atomically: the bytes go to a temporary file in the same folder, which Commit
// puts in place of the file; until then, and on any failure, the old file stays as it was, and a temporary
// that does not get that far is removed, also when the program is ended by a signal it can catch (SIGINT,
// SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1 and every other); one left by a program that could not remove
// it (SIGKILL) is removed at the next write into its folder, as its name carries the process number. The
// replacement keeps the replaced file's owner (as far as the system lets) and permission bits. A target
// without its owner's write permission is refused (code 5), as is a folder. A pipe, a terminal, a device or a
// descriptor the program was given (/dev/stdout, /dev/fd/N) is written in place as a stream.
class OutputFile {
  public:
    OutputFile(const std::string& path, Durability durability);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Appends the bytes.
    void Write(std::string_view bytes);

    // False for a stream, whose bytes cannot be written again once written.
    bool Rewritable() const;

    // Writes the bytes again at offset, over bytes already written. Only for a Rewritable file.
    void Rewrite(std::uint64_t offset, std::string_view bytes);

    // Puts the file in place (Unflushed skips the flushes to the disk, which cost more than the rest of a
    // conversion; the rename still never leaves a partial file in the target's place).
    void Commit();

  private:
    struct Destination; // the descriptors and names of the file being written
    std::unique_ptr<Destination> destination_;
};

// Replaces the file with the bytes, or creates it, as an OutputFile.
void WriteFileAtomically(const std::string& path, std::string_view bytes,
                         Durability durability = Durability::Flushed);

// Where a path leads, to tell whether two paths name the same file: the file itself, links followed, or for a
// file not made yet its folder and name.
struct FilePlace {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name; // empty for an existing file

    bool operator==(const FilePlace&) const = default;
};

// The place of a plain file or of one still to be made; none for what a write never replaces (a pipe, a
// device, a folder, a path that cannot be written).
std::optional<FilePlace> PlaceOf(const std::string& path);

// The place of the file an open descriptor writes or reads, when it is a plain file.
std::optional<FilePlace> PlaceOfDescriptor(int fd);

// Creates the folder when it is missing. A file of that name that is no folder gives code 183.
void EnsureFolder(const std::string& path);

// When the process of that number started, in clock ticks since the system booted (field 22 of
// /proc/<pid>/stat): with the number it tells a process from a later one that got the same number. None when
// no such process runs, also when it has ended and only waits for its parent to collect it (state Z or X).
std::optional<std::string> ProcessStartTime(pid_t pid);

// Whether the process of that number (and, when given, of that start time) has ended; false when the system
// cannot tell (no /proc), so that nothing of a running process is ever taken for left over.
bool ProcessEnded(pid_t pid, const std::optional<std::string>& startTime = std::nullopt);

// The folder of the running program, with a trailing "/".
std::string ExecutableDir();

} // namespace nagisora
