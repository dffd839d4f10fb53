// The loadable module that renders WAV files for the command-line converter, which loads it only when asked
// for a WAV file: plain conversion never pays for loading FluidSynth.

#include "media_errors.h"
#include "media_render.h"
#include "wav_render_module.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

namespace {

void CopyMessage(const std::string& message, char* out, std::size_t capacity) {
    if (capacity == 0) return;
    std::size_t length = std::min(message.size(), capacity - 1);
    // A cut never splits a UTF-8 sequence: step back over continuation bytes.
    while (length > 0 && length < message.size() &&
           (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(out, message.data(), length);
    out[length] = '\0';
}

} // namespace

extern "C" int nagisora_render_wav_v2(const char* midiData, std::size_t midiSize, const char* wavPath,
                                      const char* soundFont, char* message, std::size_t messageCapacity) {
    try {
        nagisora::RenderWav(std::string_view(midiData, midiSize), wavPath, soundFont);
        CopyMessage({}, message, messageCapacity);
        return 0;
    } catch (const nagisora::Failure& failure) {
        CopyMessage(failure.Message(), message, messageCapacity);
        return failure.Code() != 0 ? failure.Code()
                                   : nagisora::CodeNumber(nagisora::MediaCode::NoSynthesizer);
    } catch (const std::exception&) {
        CopyMessage(nagisora::UnknownMediaErrorText, message, messageCapacity);
        return nagisora::CodeNumber(nagisora::MediaCode::NoSynthesizer);
    }
}
