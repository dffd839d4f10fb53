#include "media_errors.h"

#include <array>
#include <string_view>

namespace nagisora {
namespace {

struct CodeText {
    MediaCode code;
    std::string_view text;
};

// The closing "。" is left off: the message box adds its own full stop. A SoundFont that cannot be loaded is
// named by the one who throws.
constexpr std::array<CodeText, 8> Texts{{
    {MediaCode::NoAudioDevice, "サウンド デバイスが使えません"},
    {MediaCode::FileNotFound,
     "指定されたファイルが見つかりません。パスとファイル名が正しいことを確認してください"},
    {MediaCode::FileUnreadable, "ファイルを読み込めません。ファイルへのアクセス権を確認してください"},
    {MediaCode::NotMidiFile,
     "このファイルは MIDI シーケンサで再生できません。ファイルが壊れているか、形式が正しくありません"},
    {MediaCode::NoSoundFont, "サウンドフォントを読み込めません"},
    {MediaCode::NoSynthesizer, "MIDI シーケンサを準備できません。メモリが不足している可能性があります"},
    {MediaCode::NoDeviceOpen, NoDeviceOpenText},
    {MediaCode::NoRenderModule, "WAV 書き出しのモジュールを読み込めません"},
}};

} // namespace

std::string MediaErrorText(MediaCode code) {
    for (const CodeText& entry : Texts)
        if (entry.code == code) return std::string(entry.text);
    return UnknownMediaErrorText;
}

void ThrowMediaError(MediaCode code) {
    throw Failure(CodeNumber(code), MediaErrorText(code));
}

void ThrowMediaError(MediaCode code, const std::string& reason) {
    throw Failure(CodeNumber(code), MediaErrorText(code) + " (" + reason + ")");
}

} // namespace nagisora
