#pragma once

// File operations of the program, reporting failures as Failure with the user-facing code and message.

#include <string>
#include <string_view>

namespace nagisora {

namespace IoCode {
inline constexpr int FileNotFound = 2;
inline constexpr int InvalidFileName = 3; // also a folder on the path that is missing
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
inline constexpr int FileInUse = 32;
inline constexpr int ReadBeyondEnd = 100;
inline constexpr int DiskFull = 101;
inline constexpr int NotANumber = 106;
inline constexpr int AlreadyExists = 183;
// An operating-system error number that would otherwise be read as one of the codes above with a message of
// their own (EIO is 5) gets this base plus the number as its code; its message still shows the number itself.
inline constexpr int UnlistedErrorBase = 1000;
} // namespace IoCode

// The message shown for a code, without the closing full stop: its own text, or "I/O ｴﾗｰ (code)".
std::string IoErrorMessage(int code);

// The code reported for an operating-system error number met on the path.
int IoErrorCode(int errnoValue, const std::string& path);

// Throws Failure(IoErrorCode(errnoValue, path), its message).
[[noreturn]] void ThrowIoError(int errnoValue, const std::string& path);

// The whole content of the file.
std::string ReadFileBytes(const std::string& path);

enum class Durability {
    Flushed,   // on the disk before the call returns: for what the user wrote and cannot make again
    Unflushed, // left to the system's own write-back: for files made again from their source at will
};

// Replaces the file with the bytes, or creates it: all is written to a temporary file in the same folder,
// which is flushed to the disk and then renamed over the target. On any failure the temporary file is removed
// and an existing target is left as it was. A target without its owner's write permission is refused (code
// 5), as is anything that is not a plain file. The replacement keeps the target's permission bits; a symbolic
// link is followed and the file it points to is replaced. Unflushed skips the flushes to the disk, which cost
// more than the rest of a conversion; the rename still never leaves a partial file in the target's place.
void WriteFileAtomically(const std::string& path, std::string_view bytes,
                         Durability durability = Durability::Flushed);

// Creates the folder when it is missing. A file of that name that is no folder gives code 183.
void EnsureFolder(const std::string& path);

// The folder of the running program, with a trailing "/".
std::string ExecutableDir();

} // namespace nagisora
