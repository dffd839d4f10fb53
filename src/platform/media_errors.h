#pragma once

// The media layer's own error codes and the texts it gives for them. The codes start above the operating
// system's file error codes, so that a Failure of the layer is never read as a file error.

#include "failure.h"

#include <string>

namespace nagisora {

namespace MediaCode {
inline constexpr int None = 0;
inline constexpr int NoAudioDevice = 301;  // no audio output could be opened
inline constexpr int FileNotFound = 302;   // the file to open does not exist
inline constexpr int FileUnreadable = 303; // the file exists but cannot be read
inline constexpr int NotMidiFile = 304;    // the bytes are no Standard MIDI File the synthesizer can play
inline constexpr int NoSoundFont = 305;    // no General MIDI SoundFont could be loaded
inline constexpr int NoSynthesizer = 306;  // the synthesizer or its sequencer could not be made
inline constexpr int DeviceRefused = 307;  // the sequencer refused a play or stop command
inline constexpr int NoDeviceOpen = 308;   // play or stop while no file is open
inline constexpr int NoRenderModule = 309; // the WAV rendering module cannot be loaded
} // namespace MediaCode

// The text shown when the layer has no text of its own for a code.
inline constexpr char UnknownMediaErrorText[] = "原因不明のｴﾗｰ";

// The message of play or stop with no file open.
inline constexpr char NoDeviceOpenText[] = "MCI ﾃﾞﾊﾞｲｽがありません";

// The layer's text for its code, without the closing full stop; UnknownMediaErrorText for a code it does not
// know.
std::string MediaErrorText(int code);

// Failure(code, MediaErrorText(code)).
[[noreturn]] void ThrowMediaError(int code);

} // namespace nagisora
