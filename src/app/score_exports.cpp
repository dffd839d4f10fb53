#include "app/score_exports.h"

#include "app/command_action.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/wav_export.h"
#include "core/conversion.h"
#include "core/failure.h"
#include "core/musicxml.h"
#include "platform/cp932.h"
#include "platform/file_io.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>

namespace nagisora {
namespace {

constexpr int ProgressPollMs = 100;
constexpr int ProgressShownAfterMs = 400; // a short rendering ends before the dialog appears
constexpr int ProgressSteps = 1000;

std::string LocalName(const QString& fileName) {
    return QFile::encodeName(fileName).toStdString();
}

} // namespace

ScoreExports::ScoreExports(ScoreSession& session)
    : QObject(&session.Window()), session_(session),
      musicXmlAction_(AddCommand(session, CommandGroup::Files,
                                 {"actMusicXmlSave",
                                  QStringLiteral("MusicXML 保存…"),
                                  {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X)}},
                                 this, &ScoreExports::SaveMusicXml)),
      wavAction_(AddCommand(
          session, CommandGroup::Files,
          {"actWavSave", QStringLiteral("WAV 保存…"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W)}}, this,
          &ScoreExports::SaveWav)),
      musicXmlDialog_{QStringLiteral("MusicXML (*.musicxml)"), QStringLiteral("musicxml"), {}},
      wavDialog_{QStringLiteral("WAV (*.wav)"), QStringLiteral("wav"), {}}, progressTimer_(new QTimer(this)) {
    setObjectName(QStringLiteral("scoreExports"));
    progressTimer_->setInterval(ProgressPollMs);
    connect(progressTimer_, &QTimer::timeout, this, &ScoreExports::ShowProgress);
}

// Stops a rendering still under way and waits for its thread, which then leaves no file.
ScoreExports::~ScoreExports() = default;

std::optional<QString> ScoreExports::Choose(SaveDialog& dialog) {
    return session_.ChooseTarget(dialog.filter, dialog.suffix, dialog.fileName);
}

void ScoreExports::SaveMusicXml() {
    try {
        const std::span<const std::string_view> lines = session_.Model().Lines();
        const MusicXmlExport musicXml =
            ExportMusicXml(lines, session_.Settings(), DecodeCp932(FirstCommentText(lines)));
        if (musicXml.Refused()) throw *musicXml.refusal;
        if (const std::optional<QString> chosen = Choose(musicXmlDialog_))
            WriteFileAtomically(LocalName(*chosen), musicXml.text);
    } catch (const Failure& failure) {
        session_.ReportFailure(failure);
    }
}

void ScoreExports::SaveWav() {
    if (Rendering()) return;
    try {
        Conversion conversion = ConvertScore(session_.Model().Lines(), session_.Settings());
        if (conversion.Refused()) throw *conversion.refusal;
        if (const std::optional<QString> chosen = Choose(wavDialog_))
            StartWav(std::move(conversion.midiData), *chosen);
    } catch (const Failure& failure) {
        session_.ReportFailure(failure);
    }
}

void ScoreExports::StartWav(std::string midiData, const QString& fileName) {
    rendering_ = std::make_unique<WavRender>();
    rendering_->path = LocalName(fileName);
    rendering_->musicFrames = MusicFrames(midiData);
    session_.SetFileInUse(FileInUse::WavBeingWritten, rendering_->path);
    WavRender& rendering = *rendering_;
    rendering.thread = std::jthread([this, &rendering, midi = std::move(midiData), path = LocalName(fileName),
                                     soundFont = session_.SoundFont()](std::stop_token stop) {
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
        progress_ = new QProgressDialog(&session_.Window());
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
    session_.SetFileInUse(FileInUse::WavBeingWritten, {});
    progressTimer_->stop();
    progress_->reset(); // also keeps a dialog not shown yet from showing
    progress_->hide();
    wavAction_->setEnabled(true);
    if (failure) session_.ReportFailure(*failure);
    emit WavEnded();
}

} // namespace nagisora
