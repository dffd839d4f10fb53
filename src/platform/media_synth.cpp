#include "media_synth.h"

#include "media_errors.h"

#include <filesystem>
#include <system_error>

namespace nagisora::media {
namespace {

constexpr char SoundFontFolder[] = "/usr/share/sounds/sf2/";

// FluidSynth's default of 0.2 leaves room for dozens of voices; the program's music is one melody, which at
// that gain sounds some 30 dB below full scale.
constexpr double Gain = 0.6;

bool IsUsableSoundFont(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    return !error && std::filesystem::is_regular_file(target, error) && target.extension() != ".sf3";
}

std::string CandidateList() {
    std::string list;
    for (const std::string& candidate : SoundFontCandidates())
        list += (list.empty() ? "" : "、") + candidate;
    return list;
}

} // namespace

std::vector<std::string> SoundFontCandidates() {
    return {std::string(SoundFontFolder) + "FluidR3_GM.sf2", std::string(SoundFontFolder) + "default-GM.sf2",
            std::string(SoundFontFolder) + "TimGM6mb.sf2"};
}

std::string FindSoundFont() {
    for (const std::string& candidate : SoundFontCandidates())
        if (IsUsableSoundFont(candidate)) return candidate;
    return {};
}

Synthesizer MakeSynthesizer(const std::string& soundFont) {
    Synthesizer result;
    result.settings.reset(new_fluid_settings());
    if (!result.settings) ThrowMediaError(MediaCode::NoSynthesizer);
    fluid_settings_setnum(result.settings.get(), "synth.sample-rate", SampleRate);
    fluid_settings_setnum(result.settings.get(), "synth.gain", Gain);
    result.synth.reset(new_fluid_synth(result.settings.get()));
    if (!result.synth) ThrowMediaError(MediaCode::NoSynthesizer);
    const std::string path = soundFont.empty() ? FindSoundFont() : soundFont;
    if (path.empty()) ThrowMediaError(MediaCode::NoSoundFont, "見つかりません: " + CandidateList());
    if (fluid_synth_sfload(result.synth.get(), path.c_str(), 1) == FLUID_FAILED) {
        std::error_code error;
        const bool exists = std::filesystem::exists(path, error);
        ThrowMediaError(MediaCode::NoSoundFont,
                        path + (exists ? ": SoundFont でないか、壊れています" : ": ファイルがありません"));
    }
    return result;
}

} // namespace nagisora::media
