#include "platform/media_synth.h"

#include "platform/media_errors.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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

// Why the file at path cannot be a SoundFont, empty when it may be one. Only a plain file is opened by a
// loader: a FIFO or a device would keep its open() waiting for ever. A file is a SoundFont 2 (.sf2, .sf3) or
// a DLS collection only when it is a RIFF file of that form; anything else is refused here, before a loader
// tries it and fills standard error with its complaints. The open does not wait for a FIFO's writer.
std::string Unloadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? "ファイルがありません" : "読み込めません";
    struct stat status {};
    std::array<char, 12> head{};
    const bool plain = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    const bool read = plain && ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
    ::close(fd);
    if (!plain) return "通常のファイルではありません";
    const std::string_view riff(head.data(), 4);
    const std::string_view form(head.data() + 8, 4);
    if (!read || riff != "RIFF" || (form != "sfbk" && form != "DLS "))
        return "SoundFont でないか、壊れています";
    return {};
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
    if (const std::string why = Unloadable(path); !why.empty())
        ThrowMediaError(MediaCode::NoSoundFont, path + ": " + why);
    if (fluid_synth_sfload(result.synth.get(), path.c_str(), 1) == FLUID_FAILED)
        ThrowMediaError(MediaCode::NoSoundFont, path + ": SoundFont でないか、壊れています");
    return result;
}

} // namespace nagisora::media
