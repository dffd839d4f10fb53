#include "fMain.h"

#include "cp932.h"
#include "file_io.h"
#include "fonts.h"
#include "instruments.h"
#include "mPlay.h"
#include "score_reader.h"
#include "ui_fMain.h"
#include "window_scale.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <unistd.h>

namespace nagisora {

namespace {

constexpr int FontPixels = 12;
constexpr int GakkiRowPixels = 12;
constexpr int StopPollMs = 100;
constexpr int RefusedByConversion = 0;

// The folder that plays the program's folder: the program's own when it can be written, else the user's
// application data folder (an installed program lives in a folder only the administrator writes).
std::string DefaultAppDir() {
    const std::string programDir = ExecutableDir();
    if (::access(programDir.c_str(), W_OK) == 0) return programDir;
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
    SetUpControls();
    ConnectHandlers();
    FormCreate();
}

TMainF::~TMainF() {
    // The player goes before the layer it plays through, a member that is destroyed before the child widgets.
    delete mPlay;
}

void TMainF::SetUpControls() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    mPlay = new TMediaPlayer(media_, this);
    mPlay->setObjectName(QStringLiteral("mPlay"));
    mPlay->setGeometry(114, 357, 57, 21);

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
    mPlay->SetClickHandler(
        [this](TMediaPlayer& player, int button, bool& doDefault) { mPlayClick(player, button, doDefault); });
    mPlay->SetErrorReporter([this](const Failure& failure) { ReportFailure(failure); });
}

template <class Handler>
void TMainF::Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const Failure& failure) {
        ReportFailure(failure);
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
    // A block is a paragraph; a line separator (Shift+Enter) inside it breaks the line on the screen as well.
    QStringList pieces;
    const QTextDocument* document = ui->mem->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        pieces.append(block.text().split(QChar::LineSeparator));
    if (!pieces.isEmpty() && pieces.back().isEmpty()) pieces.removeLast();
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(pieces.size()));
    for (const QString& piece : pieces)
        lines.push_back(EncodeCp932(piece.toStdString()).bytes);
    return lines;
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
    if (!centred_) CentreOnScreen();
}

// Qt's scroll bars take the arrow keys the other way round when their controls are inverted, as they are for
// scrolling; these scroll bars set values, so the keys work as the read-outs read.
bool TMainF::eventFilter(QObject* watched, QEvent* event) {
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

void TMainF::CentreOnScreen() {
    centred_ = true;
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->geometry();
    const QSize size = frameGeometry().size();
    move(area.x() + std::max(0, (area.width() - size.width()) / 2),
         area.y() + std::max(0, (area.height() - size.height()) / 2));
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
}

void TMainF::scrOnryoChange(int position) {
    ui->pnlOnryo->setText(DecimalText(position));
}

void TMainF::btnDefOnpuClick() {}

void TMainF::btnOkClick() {
    Guarded([&] {
        mPlay->Close();
        const ConversionSettings settings = Settings();
        const std::vector<std::string> lines = ScoreLines();
        const std::vector<std::string_view> views(lines.begin(), lines.end());
        const auto list = std::make_unique<OnpuList>();
        Conversion conversion = ConvertScore(views, settings, *list);
        if (conversion.Refused()) throw Failure(RefusedByConversion, conversion.refusal);
        midiData_ = std::move(conversion.midiData);
        onpuCount_ = conversion.onpuCount;
        WriteFileAtomically(WorkFilePath(), midiData_);
        OpenWorkFileInPlayer();
        ui->btnMidSave->setEnabled(true);
    });
}

void TMainF::OpenWorkFileInPlayer() {
    mPlay->SetFileName(WorkFilePath());
    mPlay->Open();
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
        const std::vector<std::string> lines = ScoreLines();
        const std::vector<std::string_view> views(lines.begin(), lines.end());
        const auto list = std::make_unique<OnpuList>();
        const std::optional<std::int32_t> count = ReadScore(views, onteiOffset_, *list);
        if (!count) throw Failure(RefusedByConversion, std::string(TooManyNotesMessage));
        onpuCount_ = *count;
        QStringList shown;
        for (std::int32_t k = 0; k < onpuCount_; ++k) {
            const TOnpu& onpu = (*list)[static_cast<std::size_t>(k)];
            shown.push_back(QStringLiteral("%1 / %2").arg(onpu.Onko).arg(onpu.Oncho));
        }
        if (!shown.isEmpty()) ui->Memo1->appendPlainText(shown.join(u'\n'));
    });
}

void TMainF::mPlayClick(TMediaPlayer& player, int button, bool& /*doDefault*/) {
    if (button == MPButton::Play) {
        ui->btnOk->setEnabled(false);
        timStop->start();
        player.SetFileName(WorkFilePath());
        player.Open();
    } else if (button == MPButton::Stop) {
        ui->btnOk->setEnabled(true);
        timStop->stop();
    }
}

void TMainF::timStopTimer() {
    if (mPlay->Mode() == MediaMode::Stopped) {
        ui->btnOk->setEnabled(true);
        timStop->stop();
    }
}

} // namespace nagisora
