#pragma once

// Where a user names the SoundFont for the preview and for WAV files, besides the program's own search.

#include <cstdlib>
#include <string>

namespace nagisora {

// The environment variable that names a SoundFont file (an .sf2 or .sf3 path).
inline constexpr char SoundFontVariable[] = "NAGISORA_SOUNDFONT";

// The variable's value; empty when it is not set.
inline std::string SoundFontFromEnvironment() {
    const char* value = std::getenv(SoundFontVariable);
    return value != nullptr ? value : "";
}

} // namespace nagisora
