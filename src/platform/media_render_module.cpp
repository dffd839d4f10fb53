// The loadable module that renders WAV files for the command-line converter, which loads it only when asked
// for a WAV file: plain conversion never pays for loading FluidSynth.

#include "platform/media_errors.h"
#include "platform/media_render.h"
#include "platform/wav_render_module.h"

#include <exception>
#include <string>

extern "C" int nagisora_render_wav_v3(const char* midiData, std::size_t midiSize, const char* wavPath,
                                      const char* soundFont, NagisoraFailure* failure) {
    try {
        nagisora::RenderWav(std::string_view(midiData, midiSize), wavPath, soundFont);
        return 0;
    } catch (const nagisora::Failure& f) {
        nagisora::PassFailure(f, *failure);
    } catch (const std::exception&) {
        nagisora::PassFailure(
            nagisora::Failure::Media(nagisora::MediaCode::NoSynthesizer, nagisora::UnknownMediaErrorText),
            *failure);
    }
    return 1;
}
