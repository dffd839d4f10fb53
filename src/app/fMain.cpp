#include "fMain.h"

#include "bench_trace.h"
#include "command_list.h"
#include "cp932.h"
#include "fHelp.h"
#include "file_io.h"
#include "fonts.h"
#include "instruments.h"
#include "mPlay.h"
#include "main_keys.h"
#include "notation_entry.h"
#include "recent_scores.h"
#include "score_area.h"
#include "score_checker.h"
#include "score_exports.h"
#include "score_file.h"
#include "score_file_lines.h"
#include "score_importer.h"
#include "score_model.h"
#include "score_reader.h"
#include "score_views.h"
#include "score_zoom.h"
#include "ui_fMain.h"
#include "unsaved_edits.h"
#include "window_scale.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <unistd.h>

namespace nagisora {

namespace {

constexpr int FontPixels = 12;
constexpr int GakkiRowPixels = 12;
constexpr int StopPollMs = 100;

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

// A folder without its closing "/", unless it is the root.
QString FolderForDialog(const std::string& dir) {
    QString folder = QFile::decodeName(QByteArray::fromStdString(dir));
    if (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

QString DecimalText(int value) {
    return QString::number(value);
}

// The first local file that a drag brings; none when it brings no file.
std::optional<QString> DraggedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return std::nullopt;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return std::nullopt;
}

// The keys of a scroll bar that has the focus: the arrows move by the small step, Page Up and Page Down by
// the large step (Up and Page Up towards the minimum), Home and End to the ends.
std::optional<QAbstractSlider::SliderAction> ScrollKeyAction(int key) {
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        return QAbstractSlider::SliderSingleStepSub;
    case Qt::Key_Right:
    case Qt::Key_Down:
        return QAbstractSlider::SliderSingleStepAdd;
    case Qt::Key_PageUp:
        return QAbstractSlider::SliderPageStepSub;
    case Qt::Key_PageDown:
        return QAbstractSlider::SliderPageStepAdd;
    case Qt::Key_Home:
        return QAbstractSlider::SliderToMinimum;
    case Qt::Key_End:
        return QAbstractSlider::SliderToMaximum;
    default:
        return std::nullopt;
    }
}

} // namespace

TMainF::TMainF(MainWindowOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), ui(std::make_unique<Ui::TMainF>()),
      media_(options_.media) {
    ui->setupUi(this);
    model_ = new ScoreModel(*ui->mem->document(), this);
    SetUpControls();
    ConnectHandlers();
    InstallMainKeys(*this, *ui);
    new RecentScores(*this);
    new UnsavedEdits(*this); // the edited mark, and the question when the window closes with edits
    FormCreate();
    helpF_ = std::make_unique<THelpF>();
    InstallNotationEntry(*this);
    new TScoreChecker(*this); // underlines of the findings, the problems window, F8
    new ScoreExports(*this);
    new ScoreImporter(*this);  // MIDI/MusicXML から読込, Ctrl+I and dropped files
    InstallScoreViews(*this);  // colours, column guide, playing cursor, play from here, piano roll
    new ScoreZoom(*this);      // the size of the score's text
    InstallCommandList(*this); // the list of every command, from the help window; the first start's hint
}

TMainF::~TMainF() = default;

void TMainF::SetUpControls() {
    setWindowFlags(WindowFrameFlags);

    ui->mPlay->SetLayer(media_);

    timStop = new QTimer(this);
    timStop->setObjectName(QStringLiteral("timStop"));
    timStop->setInterval(StopPollMs);

    for (std::string_view row : GakkiRows)
        ui->lstGakki->addItem(QString::fromUtf8(row.data(), row.size()));

    const double scale = LayoutScale(QGuiApplication::primaryScreen());
    ScaleChildren(*this, scale);
    setFixedSize(Scaled(width(), scale), Scaled(height(), scale));

    setFont(PGothicFont(Scaled(FontPixels, scale)));
    const QFont gothic = GothicFont(Scaled(FontPixels, scale));
    for (QWidget* w : {static_cast<QWidget*>(ui->lstGakki), static_cast<QWidget*>(ui->mem),
                       static_cast<QWidget*>(ui->Memo1)})
        w->setFont(gothic);
    const int rowHeight = Scaled(GakkiRowPixels, scale);
    for (int row = 0; row < ui->lstGakki->count(); ++row) {
        QListWidgetItem* item = ui->lstGakki->item(row);
        item->setSizeHint(QSize(ui->lstGakki->fontMetrics().horizontalAdvance(item->text()), rowHeight));
    }

    ui->mem->SetSizeLimit(EditedScoreLimit, [this](const Failure& failure) { ReportFailure(failure); });

    // A file dropped on the window or on the score area is loaded; the area itself would insert its name.
    setAcceptDrops(true);
    ui->mem->viewport()->installEventFilter(this);

    ui->btnOk->setFocus();
}

void TMainF::ConnectHandlers() {
    connect(ui->btnOk, &QPushButton::clicked, this, &TMainF::btnOkClick);
    connect(ui->btnMidSave, &QPushButton::clicked, this, &TMainF::btnMidSaveClick);
    connect(ui->scrTempo, &QScrollBar::valueChanged, this, &TMainF::scrTempoChange);
    connect(ui->scrOntei, &QScrollBar::valueChanged, this, &TMainF::scrOnteiChange);
    connect(ui->scrOnryo, &QScrollBar::valueChanged, this, &TMainF::scrOnryoChange);
    for (QScrollBar* bar : {ui->scrTempo, ui->scrOntei, ui->scrOnryo})
        bar->installEventFilter(this);
    connect(ui->btnDefOnpu, &QPushButton::clicked, this, &TMainF::btnDefOnpuClick);
    connect(ui->Button1, &QPushButton::clicked, this, &TMainF::Button1Click);
    connect(timStop, &QTimer::timeout, this, &TMainF::timStopTimer);
    connect(ui->btnLoad, &QPushButton::clicked, this, &TMainF::btnLoadClick);
    connect(ui->btnSave, &QPushButton::clicked, this, &TMainF::btnSaveClick);
    connect(ui->btnCleatr, &QPushButton::clicked, this, &TMainF::btnCleatrClick);
    connect(ui->btnHelp, &QPushButton::clicked, this, &TMainF::btnHelpClick);
    ui->mPlay->SetClickHandler([this](TMediaPlayer& player, MPButton button, bool& doDefault) {
        mPlayClick(player, button, doDefault);
    });
    ui->mPlay->SetErrorReporter([this](const Failure& failure) { ReportFailure(failure); });
}

template <class Handler>
void TMainF::Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const Failure& failure) {
        ReportFailure(failure);
    } catch (const std::bad_alloc&) {
        ReportFailure(Failure::File(IoCode::OutOfMemory));
    }
}

void TMainF::ReportFailure(const Failure& failure) {
    if (options_.reportError)
        options_.reportError(failure);
    else
        ShowFailureBox(this, failure);
}

std::optional<QString> TMainF::ChooseFile(const FileDialogRequest& request) {
    if (options_.fileDialog) return options_.fileDialog(request);
    return RunFileDialog(this, request);
}

void TMainF::FormCreate() {
    Guarded([&] {
        appDir_ = options_.appDir ? *options_.appDir : DefaultAppDir();
        EnsureFolder(appDir_ + "config");
    });
}

std::string TMainF::WorkFilePath() const {
    return appDir_ + "config/work.mid";
}

std::vector<std::string> TMainF::ScoreLines() const {
    return ScoreText().lines;
}

ScoreAreaText TMainF::ScoreText() const {
    return ScoreAreaText{model_->LineBytes(), model_->Unmappable()};
}

TScoreArea& TMainF::ScoreArea() const {
    return *ui->mem;
}

std::int32_t TMainF::SelectedGakki() const {
    const QList<QListWidgetItem*> selected = ui->lstGakki->selectedItems();
    return selected.isEmpty() ? 0 : ui->lstGakki->row(selected.front());
}

ConversionSettings TMainF::Settings() const {
    return ConversionSettings{ui->scrTempo->value(), onteiOffset_, ui->scrOnryo->value(), SelectedGakki(),
                              ui->chkOnshoku->isChecked()};
}

void TMainF::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    FormShow();
    if (!centred_) {
        centred_ = true;
        CentreOnScreen(*this);
    }
}

// Qt's scroll bars take the arrow keys the other way round when their controls are inverted, as they are for
// scrolling; these scroll bars set values, so the keys work as the read-outs read.
bool TMainF::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->mem->viewport()) return TakeFileDrag(event) || QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const std::optional<QAbstractSlider::SliderAction> action =
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier ? ScrollKeyAction(key->key())
                                                                       : std::nullopt;
        if (action) {
            static_cast<QAbstractSlider*>(watched)->triggerAction(*action);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainF::dragEnterEvent(QDragEnterEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dragEnterEvent(event);
}

void TMainF::dragMoveEvent(QDragMoveEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dragMoveEvent(event);
}

void TMainF::dropEvent(QDropEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dropEvent(event);
}

// A drag that brings a file is taken as a copy (never a move, which would have its source delete the file),
// and its drop loads the first file like "楽譜読込". Any other drag is left to the widget under it.
bool TMainF::TakeFileDrag(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    auto* drop = static_cast<QDropEvent*>(event); // the drag enter and move events are drop events too
    const std::optional<QString> file = DraggedFile(drop->mimeData());
    if (!file || !(drop->possibleActions() & Qt::CopyAction)) return false;
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        // Loaded once the drop is over, so that a failure's message box does not hold up the program the
        // file came from.
        QMetaObject::invokeMethod(
            this, [this, name = *file] { LoadOrImport(name); }, Qt::QueuedConnection);
    }
    return true;
}

void TMainF::FormShow() {
    if (ui->lstGakki->currentRow() != 0 || ui->lstGakki->selectedItems().isEmpty())
        ui->lstGakki->setCurrentRow(0);
}

void TMainF::scrTempoChange(int position) {
    ui->pnlTempo->setText(DecimalText(position));
}

void TMainF::scrOnteiChange(int position) {
    ui->pnlOntei->setText(DecimalText(position));
    onteiOffset_ = position;
    model_->SetTransposition(onteiOffset_);
}

void TMainF::scrOnryoChange(int position) {
    ui->pnlOnryo->setText(DecimalText(position));
}

void TMainF::btnDefOnpuClick() {}

void TMainF::btnOkClick() {
    Guarded([&] {
        ui->mPlay->Close();
        workFileOpen_ = false;
        Conversion conversion = ConvertScore(model_->Lines(), Settings());
        if (conversion.Refused()) throw *conversion.refusal;
        midiData_ = std::move(conversion.midiData);
        onpuCount_ = conversion.onpuCount;
        WriteFileAtomically(WorkFilePath(), midiData_);
        workEvents_.assign(conversion.Events().begin(), conversion.Events().end());
        OpenWorkFileInPlayer();
        workFileOpen_ = true;
        ui->btnMidSave->setEnabled(true);
        emit Converted();
    });
}

// The player plays the window's own image, the one the work file got at this window's last conversion:
// another window of the program converting meanwhile rewrites the work file, not what this one plays.
void TMainF::OpenWorkFileInPlayer() {
    ui->mPlay->SetFileName(WorkFilePath());
    ui->mPlay->OpenImage(midiData_);
}

void TMainF::btnMidSaveClick() {
    Guarded([&] {
        const std::optional<QString> chosen = ChooseFile(FileDialogRequest{
            FileDialogRequest::Kind::Save, FolderForDialog(appDir_), QStringLiteral("*mid (*.mid)"), {}, {}});
        if (!chosen) return;
        setWindowTitle(QFileInfo(*chosen).fileName());
        WriteFileAtomically(QFile::encodeName(*chosen).toStdString(), midiData_);
    });
}

void TMainF::Button1Click() {
    Guarded([&] {
        const auto list = std::make_unique<OnpuList>();
        const std::optional<std::int32_t> count = ReadScore(model_->Lines(), onteiOffset_, *list);
        if (!count) throw Failure::Refused(std::string(TooManyNotesMessage));
        onpuCount_ = *count;
        QStringList shown;
        for (std::int32_t k = 0; k < onpuCount_; ++k) {
            const TOnpu& onpu = (*list)[static_cast<std::size_t>(k)];
            shown.push_back(QStringLiteral("%1 / %2").arg(onpu.Onko).arg(onpu.Oncho));
        }
        if (!shown.isEmpty()) ui->Memo1->appendPlainText(shown.join(u'\n'));
    });
}

std::optional<QString> TMainF::Execute(ScoreFileDialog& dialog) {
    const std::optional<QString> chosen =
        ChooseFile(FileDialogRequest{dialog.kind, FolderForDialog(appDir_), QStringLiteral("*.txt (*.txt)"),
                                     QStringLiteral("txt"), dialog.fileName});
    if (chosen) dialog.fileName = *chosen;
    return chosen;
}

void TMainF::btnLoadClick() {
    if (const std::optional<QString> chosen = Execute(dlgOpen)) LoadScore(*chosen);
}

void TMainF::OpenScore(const QString& fileName) {
    if (ScoreImporter::Imports(fileName)) return LoadOrImport(fileName);
    dlgOpen.fileName = fileName;
    LoadScore(fileName);
}

void TMainF::LoadOrImport(const QString& fileName) {
    if (auto* importer = findChild<ScoreImporter*>(); importer && ScoreImporter::Imports(fileName))
        importer->Import(fileName);
    else
        LoadScore(fileName);
}

// The file is read whole before the score area changes, so a failure leaves the area as it was; a file too
// large to be a score is named in the message. A UTF-8 file is loaded converted; the characters that became
// "?" are named once.
void TMainF::LoadScore(const QString& fileName) {
    Guarded([&] {
        ScoreFileText text;
        try {
            text = LoadScoreFile(QFile::encodeName(fileName).toStdString(), EditedScoreLimit);
        } catch (const Failure& failure) {
            if (failure.FileCode() != IoCode::FileTooLarge) throw;
            throw failure.Within(QFileInfo(fileName).fileName().toStdString());
        }
        ReplaceScore(SplitScoreFileLines(text.bytes));
        emit ScoreFileUsed(fileName);
        if (text.unmappableCount > 0)
            ReportFailure(Failure::Replaced("コードページ 932 にない文字を ? にしました", text.unmappable,
                                            text.unmappableCount));
    });
}

// Each line's bytes are shown as code page 932 text; bytes that are no such text are kept as characters
// of their own, so that saving writes them back unchanged.
void TMainF::ReplaceScore(std::span<const std::string_view> lines) {
    QString text;
    for (const std::string_view line : lines) {
        text += QString::fromStdString(DecodeCp932(line));
        text += u'\n';
    }
    QTextCursor cursor(ui->mem->document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.insertText(text);
    cursor.endEditBlock();
    ui->mem->moveCursor(QTextCursor::Start);
    emit ScoreReplaced();
}

void TMainF::SetSettings(const ConversionSettings& settings) {
    ui->scrTempo->setValue(settings.tempo);
    ui->scrOntei->setValue(settings.transpose);
    ui->scrOnryo->setValue(settings.volume);
    ui->lstGakki->setCurrentRow(std::clamp(settings.instrument, 0, ui->lstGakki->count() - 1));
}

// A character that code page 932 lacks would be written as "?": the save is refused before any file is chosen
// or touched, naming where the character stands.
void TMainF::btnSaveClick() {
    Guarded([&] {
        const ScoreAreaText score = ScoreText();
        if (!score.unmappable.empty()) throw Failure::Refused("保存できない文字があります", score.unmappable);
        const std::optional<QString> chosen = Execute(dlgSave);
        if (!chosen) return;
        WriteFileAtomically(QFile::encodeName(*chosen).toStdString(), JoinScoreFileLines(score.lines));
        emit ScoreFileUsed(*chosen);
    });
}

void TMainF::btnCleatrClick() {
    ReplaceScore({});
}

void TMainF::btnHelpClick() {
    helpF_->ShowInFront();
}

// Play opens the image of the last conversion anew and, the first time, the audio output, which then stays
// open: a press that finds no sound device reports why, and the timer's next tick makes the window Ready
// again. "MIDI 作成" is shown greyed as soon as the music has started, before anything else is drawn.
void TMainF::mPlayClick(TMediaPlayer& player, MPButton button, bool& /*doDefault*/) {
    if (button == MPButton::Play) {
        Trace("play-click");
        ui->btnOk->setEnabled(false);
        QMetaObject::invokeMethod(ui->btnOk, qOverload<>(&QWidget::repaint), Qt::QueuedConnection);
        timStop->start();
        player.SetFileName(WorkFilePath());
        player.OpenImageForPlay(midiData_);
        playingPart_ = false;
        emit WorkFilePlaying();
    } else if (button == MPButton::Stop) {
        ui->btnOk->setEnabled(true);
        timStop->stop();
        // Once the player has stopped the part.
        if (playingPart_) QMetaObject::invokeMethod(this, &TMainF::EndPart, Qt::QueuedConnection);
    }
}

// A part of the score plays in the player as the work file does: "MIDI 作成" disabled and the timer on, so
// that the same tick or ■ ends it.
void TMainF::PlayPart(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks) {
    Guarded([&] {
        ui->btnOk->setEnabled(false);
        timStop->start();
        playingPart_ = true;
        ui->mPlay->PlayImage(image, repeat, std::move(clicks));
    });
}

// After a part, or a Play that could not sound, the player is left as the last conversion left it: its image
// ready for ▶, or no file.
void TMainF::EndPart() {
    if (ui->mPlay->Mode() == MediaMode::Playing) return;
    playingPart_ = false;
    if (!workFileOpen_)
        ui->mPlay->Close();
    else if (!ui->mPlay->IsOpen())
        Guarded([&] { OpenWorkFileInPlayer(); });
}

void TMainF::timStopTimer() {
    if (ui->mPlay->Mode() == MediaMode::Stopped) {
        ui->btnOk->setEnabled(true);
        timStop->stop();
        Trace("ok-enabled");
        EndPart();
    }
}

} // namespace nagisora
