#pragma once

// The media layer's own error codes and the texts it gives for them. The codes start above the operating
// system's file error codes, so that a Failure of the layer is never read as a file error; Failure carries
// them as their numbers (CodeNumber).

#include "failure.h"

#include <string>

namespace nagisora {

enum class MediaCode : int {
    None = 0,
    NoAudioDevice = 301,  // no audio output could be opened
    FileNotFound = 302,   // the file to open does not exist
    FileUnreadable = 303, // the file exists but cannot be read
    NotMidiFile = 304,    // the bytes are no Standard MIDI File the sequencer can play
    NoSoundFont = 305,    // no General MIDI SoundFont could be loaded
    NoSynthesizer = 306,  // the synthesizer could not be made
    NoDeviceOpen = 308,   // play or stop while no file is open
    NoRenderModule = 309, // the WAV rendering module cannot be loaded
};

// The number a Failure carries for the code.
constexpr int CodeNumber(MediaCode code) {
    return static_cast<int>(code);
}

// The text shown when the layer has no text of its own for a code.
inline constexpr char UnknownMediaErrorText[] = "原因不明のｴﾗｰ";

// The message of play or stop with no file open.
inline constexpr char NoDeviceOpenText[] = "MCI ﾃﾞﾊﾞｲｽがありません";

// What the preview says before the reason when it cannot make a sound at all.
inline constexpr char NoSoundPrefix[] = "音を出せません: ";

// The layer's text for its code, without the closing full stop; UnknownMediaErrorText for a code it does not
// know.
std::string MediaErrorText(MediaCode code);

// Failure(code, MediaErrorText(code)).
[[noreturn]] void ThrowMediaError(MediaCode code);

// Failure(code, MediaErrorText(code) + " (" + reason + ")"): the text with what the system said.
[[noreturn]] void ThrowMediaError(MediaCode code, const std::string& reason);

} // namespace nagisora
