#include "media_errors.h"

#include <array>
#include <string_view>

namespace nagisora {
namespace {

struct CodeText {
    int code;
    std::string_view text;
};

// Worded like the device messages of the desktop the program comes from. The closing "。" is left off: the
// message box adds its own full stop.
constexpr std::array<CodeText, 9> Texts{{
    {MediaCode::NoAudioDevice,
     "オーディオ デバイスを開けません。サウンド デバイスが接続されていて、ほかのアプリケーションが"
     "使用していないことを確認してください"},
    {MediaCode::FileNotFound,
     "指定されたファイルが見つかりません。パスとファイル名が正しいことを確認してください"},
    {MediaCode::FileUnreadable, "ファイルを読み込めません。ファイルへのアクセス権を確認してください"},
    {MediaCode::NotMidiFile,
     "このファイルは MIDI シーケンサで再生できません。ファイルが壊れているか、形式が正しくありません"},
    {MediaCode::NoSoundFont, "MIDI 音源のサウンドフォントを読み込めません。General MIDI のサウンドフォントが"
                             "インストールされていることを確認してください"},
    {MediaCode::NoSynthesizer, "MIDI シーケンサを準備できません。メモリが不足している可能性があります"},
    {MediaCode::DeviceRefused, "MIDI シーケンサがコマンドを実行できませんでした"},
    {MediaCode::NoDeviceOpen, NoDeviceOpenText},
    {MediaCode::NoRenderModule, "WAV 書き出しのモジュールを読み込めません"},
}};

} // namespace

std::string MediaErrorText(int code) {
    for (const CodeText& entry : Texts)
        if (entry.code == code) return std::string(entry.text);
    return UnknownMediaErrorText;
}

void ThrowMediaError(int code) {
    throw Failure(code, MediaErrorText(code));
}

} // namespace nagisora
