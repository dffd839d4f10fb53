#include "app/score_session.h"

#include "app/media_player.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "app/unsaved_edits.h"
#include "platform/cp932.h"
#include "platform/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextCursor>
#include <unistd.h>

namespace nagisora {
namespace {

// The folder that plays the program's folder: the program's own when it can be written and is not the folder
// the program is installed to, else the user's application data folder.
std::string DefaultAppDir() {
    const std::string programDir = ExecutableDir();
    // An installed program shares its folder with every other program; root could write there, but the
    // work folder does not belong in it.
    const bool installed = programDir == NAGISORA_INSTALL_BINDIR "/";
    if (!installed && ::access(programDir.c_str(), W_OK) == 0) return programDir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data)) return programDir;
    return QFile::encodeName(data).toStdString() + '/';
}

std::string LocalName(const QString& fileName) {
    return QFile::encodeName(fileName).toStdString();
}

// Asks before an existing file is replaced; キャンセル, the default, keeps it.
bool MayReplace(QWidget& window, const QString& fileName) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf16(ApplicationTitle),
                    QStringLiteral("%1 は既にあります。置き換えますか?").arg(QFileInfo(fileName).fileName()),
                    QMessageBox::NoButton, &window);
    box.setObjectName(QStringLiteral("replaceBox"));
    QPushButton* replace = box.addButton(QStringLiteral("置き換える"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == replace;
}

} // namespace

ScoreSession::ScoreSession(QWidget& window, ScoreArea& area, MediaPlayer& player, MediaLayer& media,
                           SessionOptions options, WindowHooks hooks)
    : QObject(&window), window_(window), area_(area), player_(player), media_(media),
      options_(std::move(options)), hooks_(std::move(hooks)), model_(new ScoreModel(*area.document(), this)) {
    setObjectName(QStringLiteral("ScoreSession"));
    edits_ = new UnsavedEdits(*this); // the edited mark, and the question when the window closes with edits
    try {
        appDir_ = options_.appDir ? *options_.appDir : DefaultAppDir();
        EnsureFolder(appDir_ + "config");
    } catch (const Failure& failure) {
        ReportFailure(failure);
    }
}

ScoreSession::~ScoreSession() = default;

ConversionSettings ScoreSession::Settings() const {
    return hooks_.settings();
}

void ScoreSession::SetSettings(const ConversionSettings& settings) {
    hooks_.setSettings(settings);
}

void ScoreSession::ReportFailure(const Failure& failure) {
    if (options_.reportError)
        options_.reportError(failure);
    else
        ShowFailureBox(&window_, failure);
}

std::optional<QString> ScoreSession::ChooseFile(const FileDialogRequest& request) {
    if (options_.fileDialog) return options_.fileDialog(request);
    return RunFileDialog(&window_, request);
}

std::optional<QString> ScoreSession::ChooseTarget(const QString& filter, const QString& suffix,
                                                  QString& fileName) {
    QString folder = QFile::decodeName(QByteArray::fromStdString(appDir_));
    if (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    if (!fileName.isEmpty()) folder = QFileInfo(fileName).absolutePath();
    const std::optional<QString> chosen =
        ChooseFile(FileDialogRequest{FileDialogRequest::Kind::Save, folder, filter, suffix, fileName});
    if (!chosen) return std::nullopt;
    fileName = *chosen;
    RefuseOpenFile(*chosen);
    if (QFileInfo(*chosen).exists() && !MayReplace(window_, *chosen)) return std::nullopt;
    return chosen;
}

void ScoreSession::SetFileInUse(FileInUse use, std::string path) {
    filesInUse_[static_cast<std::size_t>(use)] = std::move(path);
}

// The files the window has open, by what they are to the user: an export written over one of them would
// destroy the score, the music playing or the copy kept against a crash.
std::vector<std::pair<std::string, QString>> ScoreSession::OpenFiles() const {
    std::vector<std::pair<std::string, QString>> files;
    if (!edits_->ScoreFile().isEmpty())
        files.emplace_back(LocalName(edits_->ScoreFile()), QStringLiteral("開いている楽譜"));
    files.emplace_back(WorkFilePath(), QStringLiteral("作成した MIDI"));
    if (!SoundFont().empty()) files.emplace_back(SoundFont(), QStringLiteral("SoundFont"));
    const auto& [copy, wav] = filesInUse_;
    if (!copy.empty()) files.emplace_back(copy, QStringLiteral("復元用の写し"));
    if (!wav.empty()) files.emplace_back(wav, QStringLiteral("書き出し中の WAV"));
    return files;
}

// As the command line refuses an output that is one of its inputs, before anything is written.
void ScoreSession::RefuseOpenFile(const QString& fileName) const {
    const std::optional<FilePlace> target = PlaceOf(LocalName(fileName));
    if (!target) return; // a pipe or a device: written in place, replacing nothing
    for (const auto& [path, what] : OpenFiles())
        if (PlaceOf(path) == target)
            throw Failure::Refused(("出力先が開いているファイルと同じです: " +
                                    QFileInfo(fileName).fileName() + " (" + what + ")")
                                       .toStdString());
}

void ScoreSession::OpenScore(const QString& fileName) {
    hooks_.openScore(fileName);
}

// Each line's bytes are shown as code page 932 text; bytes that are no such text are kept as characters
// of their own, so that saving writes them back unchanged.
void ScoreSession::ReplaceScore(std::span<const std::string_view> lines) {
    QString text;
    for (const std::string_view line : lines) {
        text += QString::fromStdString(DecodeCp932(line));
        text += u'\n';
    }
    QTextCursor cursor(area_.document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.insertText(text);
    cursor.endEditBlock();
    area_.moveCursor(QTextCursor::Start);
    emit ScoreReplaced();
}

void ScoreSession::Convert() {
    hooks_.convert();
}

void ScoreSession::SaveScore() {
    hooks_.saveScore();
}

std::string ScoreSession::WorkFilePath() const {
    return appDir_ + "config/work.mid";
}

std::span<const NoteEvent> ScoreSession::WorkEvents() const {
    return hooks_.workEvents();
}

void ScoreSession::PlayPart(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks) {
    hooks_.playPart(image, repeat, std::move(clicks));
}

void ScoreSession::PlayWork() {
    if (!player_.IsAvailable(PlayerButton::Play)) Convert();
    if (player_.IsAvailable(PlayerButton::Play)) player_.Click(PlayerButton::Play);
}

void ScoreSession::Stop() {
    if (player_.IsAvailable(PlayerButton::Stop)) player_.Click(PlayerButton::Stop);
}

HeardPosition ScoreSession::Heard() const {
    return media_.Heard();
}

MediaMode ScoreSession::Mode() const {
    return media_.Mode();
}

} // namespace nagisora
