#include "core/failure.h"

#include <algorithm>
#include <array>
#include <utility>

namespace nagisora {
namespace {

struct IoCodeMessage {
    IoCode code;
    std::string_view message; // empty: "I/O ｴﾗｰ (code)"
};

constexpr std::array<IoCodeMessage, 14> IoMessages{{
    {IoCode::FileNotFound, "ﾌｧｲﾙが見つかりません"},
    {IoCode::InvalidFileName, "不正なﾌｧｲﾙ名です"},
    {IoCode::TooManyOpenFiles, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
    {IoCode::AccessDenied, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
    {IoCode::DescriptorClosed, "ﾌｧｲﾙ記述子が閉じられています"},
    {IoCode::OutOfMemory, "ﾒﾓﾘが足りません"},
    {IoCode::FileInUse, {}},
    {IoCode::ReadBeyondEnd, "ﾌｧｲﾙの末尾以降を読み込みました"},
    {IoCode::DiskFull, "ﾃﾞｨｽｸがいっぱいです"},
    {IoCode::NotANumber, "入力値が数値ではありません"},
    {IoCode::BrokenPipe, "ﾊﾟｲﾌﾟが閉じられています"},
    {IoCode::AlreadyExists, {}},
    {IoCode::FileTooLarge, "ﾌｧｲﾙが大きすぎます"},
    {IoCode::LinkUnresolved, "ｼﾝﾎﾞﾘｯｸﾘﾝｸをたどれません"},
}};

struct MediaCodeText {
    MediaCode code;
    std::string_view text;
};

// The closing "。" is left off: the printed form adds its own full stop. A SoundFont that cannot be loaded is
// named by the one who fails.
constexpr std::array<MediaCodeText, 8> MediaTexts{{
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

std::string NumberedIoError(int number) {
    return "I/O ｴﾗｰ (" + std::to_string(number) + ")";
}

// How many places a message names before it counts the rest.
constexpr std::size_t NamedPlaces = 3;

// "3 行 5 列"; of many places the first few and how many more: "3 行 5 列、4 行 1 列、9 行 2 列 ほか 2 文字".
std::string PlacesText(std::span<const ScorePlace> places, std::size_t count) {
    const std::size_t named = std::min(NamedPlaces, places.size());
    std::string text;
    for (std::size_t k = 0; k < named; ++k) {
        if (k > 0) text += "、";
        text += std::to_string(places[k].line) + " 行 " + std::to_string(places[k].column) + " 列";
    }
    if (count > named) text += " ほか " + std::to_string(count - named) + " 文字";
    return text;
}

} // namespace

std::string IoErrorMessage(IoCode code) {
    for (const IoCodeMessage& entry : IoMessages)
        if (entry.code == code && !entry.message.empty()) return std::string(entry.message);
    return NumberedIoError(static_cast<int>(code));
}

std::string MediaErrorText(MediaCode code) {
    for (const MediaCodeText& entry : MediaTexts)
        if (entry.code == code) return std::string(entry.text);
    return UnknownMediaErrorText;
}

Failure::Failure(FailureKind kind, Code code, int systemError, std::string message)
    : kind_(kind), code_(code), systemError_(systemError), message_(std::move(message)) {}

Failure Failure::File(std::optional<IoCode> code, int systemError) {
    return File(code, systemError, code ? IoErrorMessage(*code) : NumberedIoError(systemError));
}

Failure Failure::File(std::optional<IoCode> code, int systemError, std::string message) {
    return Failure(FailureKind::File, code ? Code(*code) : Code(), systemError, std::move(message));
}

Failure Failure::Media(MediaCode code) {
    return Media(code, MediaErrorText(code));
}

Failure Failure::Media(MediaCode code, std::string message) {
    return Failure(FailureKind::Media, code, 0, std::move(message));
}

Failure& Failure::At(std::vector<ScorePlace> places, std::size_t placeCount) {
    placeCount_ = std::max(placeCount, places.size());
    places_ = std::move(places);
    return *this;
}

Failure Failure::Refused(std::string message, std::vector<ScorePlace> places, std::size_t placeCount) {
    return Failure(FailureKind::Refused, {}, 0, std::move(message)).At(std::move(places), placeCount);
}

Failure Failure::Replaced(std::string message, std::vector<ScorePlace> places, std::size_t placeCount) {
    return Failure(FailureKind::Replaced, {}, 0, std::move(message)).At(std::move(places), placeCount);
}

Failure Failure::System(int systemError, std::string message) {
    return Failure(FailureKind::System, {}, systemError, std::move(message));
}

std::optional<IoCode> Failure::FileCode() const {
    if (const IoCode* code = std::get_if<IoCode>(&code_)) return *code;
    return std::nullopt;
}

std::optional<MediaCode> Failure::MediaErrorCode() const {
    if (const MediaCode* code = std::get_if<MediaCode>(&code_)) return *code;
    return std::nullopt;
}

Failure Failure::Within(std::string_view subject) const {
    Failure said = *this;
    said.message_ = std::string(subject) + ": " + message_;
    return said;
}

std::string FailureText(const Failure& failure) {
    std::string text = failure.Message();
    if (failure.PlaceCount() > 0) text += " (" + PlacesText(failure.Places(), failure.PlaceCount()) + ")";
    return text + ".";
}

} // namespace nagisora
