#include "score_exports.h"

#include "conversion.h"
#include "cp932.h"
#include "fMain.h"
#include "failure.h"
#include "file_io.h"
#include "message_box.h"
#include "musicxml.h"
#include "score_area.h"
#include "score_model.h"
#include "score_recovery.h"
#include "unsaved_edits.h"
#include "wav_export.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace nagisora {
namespace {

constexpr int ProgressPollMs = 100;
constexpr int ProgressShownAfterMs = 400; // a short rendering ends before the dialog appears
constexpr int ProgressSteps = 1000;

QAction* AddExportCommand(TMainF& window, const QString& text, const QKeySequence& shortcut,
                          const char* name) {
    auto* action = new QAction(text, &window);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    action->setToolTip(text + QStringLiteral(" (") + shortcut.toString(QKeySequence::NativeText) + u')');
    window.addAction(action);
    window.ScoreArea().AddCommand(CommandGroup::Files, action);
    return action;
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

ScoreExports::ScoreExports(TMainF& window)
    : QObject(&window), window_(window),
      musicXmlAction_(AddExportCommand(window, QStringLiteral("MusicXML 保存…"),
                                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X), "actMusicXmlSave")),
      wavAction_(AddExportCommand(window, QStringLiteral("WAV 保存…"),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W), "actWavSave")),
      musicXmlDialog_{QStringLiteral("MusicXML (*.musicxml)"), QStringLiteral("musicxml"), {}},
      wavDialog_{QStringLiteral("WAV (*.wav)"), QStringLiteral("wav"), {}}, progressTimer_(new QTimer(this)) {
    setObjectName(QStringLiteral("scoreExports"));
    connect(musicXmlAction_, &QAction::triggered, this, &ScoreExports::SaveMusicXml);
    connect(wavAction_, &QAction::triggered, this, &ScoreExports::SaveWav);
    progressTimer_->setInterval(ProgressPollMs);
    connect(progressTimer_, &QTimer::timeout, this, &ScoreExports::ShowProgress);
}

// Stops a rendering still under way and waits for its thread, which then leaves no file.
ScoreExports::~ScoreExports() = default;

std::optional<QString> ScoreExports::Choose(SaveDialog& dialog) {
    QString folder = QFile::decodeName(QByteArray::fromStdString(window_.AppDir()));
    if (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    if (!dialog.fileName.isEmpty()) folder = QFileInfo(dialog.fileName).absolutePath();
    const std::optional<QString> chosen = window_.ChooseFile(FileDialogRequest{
        FileDialogRequest::Kind::Save, folder, dialog.filter, dialog.suffix, dialog.fileName});
    if (!chosen) return std::nullopt;
    dialog.fileName = *chosen;
    RefuseOpenFile(*chosen);
    if (QFileInfo(*chosen).exists() && !MayReplace(window_, *chosen)) return std::nullopt;
    return chosen;
}

std::optional<QString> ScoreExports::ChooseTarget(const QString& filter, const QString& suffix,
                                                  QString& fileName) {
    SaveDialog dialog{filter, suffix, fileName};
    const std::optional<QString> chosen = Choose(dialog);
    fileName = dialog.fileName;
    return chosen;
}

// The files the window has open, by what they are to the user: an export written over one of them would
// destroy the score, the music playing or the copy kept against a crash.
std::vector<std::pair<std::string, QString>> ScoreExports::OpenFiles() const {
    std::vector<std::pair<std::string, QString>> files;
    if (const auto* edits = window_.findChild<UnsavedEdits*>(); edits && !edits->ScoreFile().isEmpty())
        files.emplace_back(LocalName(edits->ScoreFile()), QStringLiteral("開いている楽譜"));
    files.emplace_back(window_.WorkFilePath(), QStringLiteral("作成した MIDI"));
    if (!window_.SoundFont().empty()) files.emplace_back(window_.SoundFont(), QStringLiteral("SoundFont"));
    if (const auto* recovery = window_.findChild<ScoreRecovery*>())
        files.emplace_back(LocalName(recovery->CopyPath()), QStringLiteral("復元用の写し"));
    if (rendering_) files.emplace_back(rendering_->path, QStringLiteral("書き出し中の WAV"));
    return files;
}

// As the command line refuses an output that is one of its inputs, before anything is written.
void ScoreExports::RefuseOpenFile(const QString& fileName) const {
    const std::optional<FilePlace> target = PlaceOf(LocalName(fileName));
    if (!target) return; // a pipe or a device: written in place, replacing nothing
    for (const auto& [path, what] : OpenFiles())
        if (PlaceOf(path) == target)
            throw Failure::Refused(("出力先が開いているファイルと同じです: " +
                                    QFileInfo(fileName).fileName() + " (" + what + ")")
                                       .toStdString());
}

void ScoreExports::SaveMusicXml() {
    try {
        const std::span<const std::string_view> lines = window_.Model().Lines();
        const MusicXmlExport musicXml =
            ExportMusicXml(lines, window_.Settings(), DecodeCp932(FirstCommentText(lines)));
        if (musicXml.Refused()) throw *musicXml.refusal;
        if (const std::optional<QString> chosen = Choose(musicXmlDialog_))
            WriteFileAtomically(LocalName(*chosen), musicXml.text);
    } catch (const Failure& failure) {
        window_.ReportFailure(failure);
    }
}

void ScoreExports::SaveWav() {
    if (Rendering()) return;
    try {
        Conversion conversion = ConvertScore(window_.Model().Lines(), window_.Settings());
        if (conversion.Refused()) throw *conversion.refusal;
        if (const std::optional<QString> chosen = Choose(wavDialog_))
            StartWav(std::move(conversion.midiData), *chosen);
    } catch (const Failure& failure) {
        window_.ReportFailure(failure);
    }
}

void ScoreExports::StartWav(std::string midiData, const QString& fileName) {
    rendering_ = std::make_unique<WavRender>();
    rendering_->path = LocalName(fileName);
    rendering_->musicFrames = MusicFrames(midiData);
    WavRender& rendering = *rendering_;
    rendering.thread = std::jthread([this, &rendering, midi = std::move(midiData), path = LocalName(fileName),
                                     soundFont = window_.SoundFont()](std::stop_token stop) {
        std::optional<Failure> failure;
        try {
            WriteWav(midi, path, soundFont, stop, rendering.frames);
        } catch (const Failure& f) {
            failure = f;
        } catch (const std::exception& e) {
            failure = Failure::System(0, e.what());
        }
        // Dropped by Qt when the exports are gone by then.
        QMetaObject::invokeMethod(
            this, [this, failure] { EndWav(failure); }, Qt::QueuedConnection);
    });

    wavAction_->setEnabled(false);
    if (progress_ == nullptr) {
        progress_ = new QProgressDialog(&window_);
        progress_->setObjectName(QStringLiteral("wavProgress"));
        progress_->setWindowTitle(QStringLiteral("WAV 保存"));
        progress_->setCancelButtonText(QStringLiteral("中止"));
        progress_->setRange(0, ProgressSteps);
        progress_->setWindowModality(Qt::NonModal);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(ProgressShownAfterMs);
        // "中止" and the dialog's own close button alike.
        connect(progress_, &QProgressDialog::canceled, this, &ScoreExports::StopWav);
    }
    progress_->setLabelText(QStringLiteral("%1 を書き出しています…").arg(QFileInfo(fileName).fileName()));
    progress_->setValue(0);
    progressTimer_->start();
}

// The music's share of the frames rendered; the release tail after it stays just short of the end.
void ScoreExports::ShowProgress() {
    if (!rendering_) return;
    const std::int64_t total = std::max<std::int64_t>(rendering_->musicFrames, 1);
    const std::int64_t done = rendering_->frames.load(std::memory_order_relaxed);
    progress_->setValue(
        static_cast<int>(std::min<std::int64_t>(done * ProgressSteps / total, ProgressSteps - 1)));
}

void ScoreExports::StopWav() {
    if (!rendering_) return;
    rendering_->thread.request_stop();
    progress_->setLabelText(QStringLiteral("中止しています…"));
}

void ScoreExports::EndWav(const std::optional<Failure>& failure) {
    rendering_.reset(); // the thread has done its work: the join returns at once
    progressTimer_->stop();
    progress_->reset(); // also keeps a dialog not shown yet from showing
    progress_->hide();
    wavAction_->setEnabled(true);
    if (failure) window_.ReportFailure(*failure);
    emit WavEnded();
}

} // namespace nagisora
