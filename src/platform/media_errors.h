#pragma once

// How the media layer fails: Failure of the Media kind, with the layer's code (failure.h) and its text.

#include "core/failure.h"

#include <string>

namespace nagisora {

// What the preview says its failure is about when it cannot make a sound at all ("音を出せません: reason").
inline constexpr char NoSoundSubject[] = "音を出せません";

// Failure::Media(code): the layer's text for the code.
[[noreturn]] void ThrowMediaError(MediaCode code);

// The layer's text for the code with what the system said: "text (reason)".
[[noreturn]] void ThrowMediaError(MediaCode code, const std::string& reason);

// The layer's code of a failure; MediaCode::Unknown for one of another kind, which the layer does not throw
// itself.
MediaCode MediaCodeOf(const Failure& failure);

} // namespace nagisora
