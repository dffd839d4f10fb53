#pragma once

// The one failure of the program: what kind it is, the code the user is shown where the kind has one, the
// operating system's error behind it, the places in the score it is about, and the message. It is a value
// (a refused conversion returns one) and the exception that a failed file or media operation throws. Every
// message box and every line of the command line prints it through FailureText.

#include "core/score_place.h"

#include <cstddef>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nagisora {

enum class FailureKind {
    File,     // a file could not be opened, read or written (IoCode)
    Media,    // the media layer could not play or render (MediaCode)
    Refused,  // the program will not do what was asked: a score, an import or an output it cannot make
    Replaced, // what was asked was done, but characters had to be replaced: the user is told where
    System,   // a part of the system outside the files failed: the text conversion, a module that is missing
};

// The codes of file failures, as the user is shown them. An operating-system error without a code of its own
// has none: the user is shown its own number.
enum class IoCode : int {
    FileNotFound = 2,
    InvalidFileName = 3, // also a folder on the path that is missing
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    DescriptorClosed = 6, // a standard stream or another descriptor the program was given is closed
    OutOfMemory = 8,
    FileInUse = 32,
    ReadBeyondEnd = 100,
    DiskFull = 101,
    NotANumber = 106,
    BrokenPipe = 109, // a pipe whose other end is closed, or that nobody writes to
    AlreadyExists = 183,
    FileTooLarge = 223,
    LinkUnresolved = 1921, // a loop of symbolic links, or more than the system follows
};

// The media layer's codes. They start above the file codes, so that the two are never taken for each other
// where a number has to stand for either (a module's answer to its loader).
enum class MediaCode : int {
    None = 0,
    Unknown = -1,         // a failure the layer has no code for
    NoAudioDevice = 301,  // no audio output could be opened
    FileNotFound = 302,   // the file to open does not exist
    FileUnreadable = 303, // the file exists but cannot be read
    NotMidiFile = 304,    // the bytes are no Standard MIDI File the sequencer can play
    NoSoundFont = 305,    // no General MIDI SoundFont could be loaded
    NoSynthesizer = 306,  // the synthesizer could not be made
    NoDeviceOpen = 308,   // play or stop while no file is open
    NoRenderModule = 309, // the WAV rendering module cannot be loaded
};

// The text shown when the layer has no text of its own for a code.
inline constexpr char UnknownMediaErrorText[] = "原因不明のｴﾗｰ";

// The message of play or stop with no file open.
inline constexpr char NoDeviceOpenText[] = "MCI ﾃﾞﾊﾞｲｽがありません";

// The message shown for a file code, without the closing full stop: its own text, or "I/O ｴﾗｰ (code)".
std::string IoErrorMessage(IoCode code);

// The media layer's text for its code, without the closing full stop; UnknownMediaErrorText for a code it has
// no text for.
std::string MediaErrorText(MediaCode code);

class Failure : public std::exception {
  public:
    // A file operation failed. code is what the user is shown; without one the user is shown systemError, the
    // operating system's error number behind the failure (0: none). The message is the code's own unless
    // given.
    static Failure File(std::optional<IoCode> code, int systemError = 0);
    static Failure File(std::optional<IoCode> code, int systemError, std::string message);

    // The media layer failed, with its text for the code unless a message is given.
    static Failure Media(MediaCode code);
    static Failure Media(MediaCode code, std::string message);

    // The program will not do what was asked, and says why. places, when given, are where in the score the
    // characters it is about stand: the first ones of placeCount in all (at least places.size()).
    static Failure Refused(std::string message, std::vector<ScorePlace> places = {},
                           std::size_t placeCount = 0);

    // The text was taken, with the characters at places replaced (placeCount in all, as for Refused).
    static Failure Replaced(std::string message, std::vector<ScorePlace> places, std::size_t placeCount);

    // A part of the system failed, with its error number (0: none).
    static Failure System(int systemError, std::string message);

    FailureKind Kind() const { return kind_; }
    std::optional<IoCode> FileCode() const;
    std::optional<MediaCode> MediaErrorCode() const;
    int SystemError() const { return systemError_; }
    std::span<const ScorePlace> Places() const { return places_; }
    std::size_t PlaceCount() const { return placeCount_; }

    // The message alone, UTF-8: no places, no closing full stop.
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    // The same failure said of something: "subject: message", as a file's name before its failure.
    Failure Within(std::string_view subject) const;

  private:
    using Code = std::variant<std::monostate, IoCode, MediaCode>;
    Failure(FailureKind kind, Code code, int systemError, std::string message);
    Failure& At(std::vector<ScorePlace> places, std::size_t placeCount);

    FailureKind kind_;
    Code code_;
    int systemError_;
    std::string message_;
    std::vector<ScorePlace> places_;
    std::size_t placeCount_ = 0;
};

// What the user reads of a failure, in the message box and on the command line: the message, the places it
// is about ("保存できない文字があります (3 行 5 列、4 行 1 列、9 行 2 列 ほか 2 文字)"), and a full stop.
std::string FailureText(const Failure& failure);

} // namespace nagisora
