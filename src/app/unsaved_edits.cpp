#include "app/unsaved_edits.h"

#include "app/message_box.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "app/score_session.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace nagisora {
namespace {

constexpr char16_t EditedMark[] = u"*";

} // namespace

UnsavedEdits::UnsavedEdits(ScoreSession& session)
    : QObject(&session), session_(session), window_(session.Window()), document_(*session.Area().document()),
      pause_(new QTimer(this)) {
    setObjectName(QStringLiteral("unsavedEdits"));
    pause_->setSingleShot(true);
    pause_->setInterval(PauseMs);
    kept_ = document_.toPlainText();
    document_.setModified(false);
    // Remapped comes only when the text itself changed (or the transposition), not when lines are coloured.
    connect(&session_.Model(), &ScoreModel::Remapped, pause_, qOverload<>(&QTimer::start));
    connect(pause_, &QTimer::timeout, this, &UnsavedEdits::Settle);
    connect(&document_, &QTextDocument::modificationChanged, this, [this](bool edited) {
        ShowMark();
        emit EditedChanged(edited);
    });
    connect(&session_, &ScoreSession::ScoreFileUsed, this, [this](const QString& fileName) {
        scoreFile_ = fileName;
        KeepText();
    });
    window_.installEventFilter(this);
}

bool UnsavedEdits::Edited() const {
    return document_.isModified();
}

// The text now has a file: it is the text kept, and an undo back to it will count as unchanged.
void UnsavedEdits::KeepText() {
    pause_->stop();
    kept_ = document_.toPlainText();
    document_.setModified(false);
    emit Settled(false, kept_);
}

bool UnsavedEdits::Settle() {
    pause_->stop();
    const QString text = document_.toPlainText();
    const bool edited = text != kept_;
    // Only when the flag is wrong: setting it keeps the document from telling an undo back to the kept text.
    if (edited != document_.isModified()) document_.setModified(edited); // a text set whole clears it
    emit Settled(edited, text);
    return edited;
}

QString UnsavedEdits::ShownCaption() const {
    // A note of the window's other state (the practice tempo) follows the caption.
    const QString caption = window_.windowTitle() + window_.property("captionNote").toString();
    return Edited() ? QString::fromUtf16(EditedMark) + caption : caption;
}

// The window keeps its caption (others set it, and read it back); only the title on the screen gets the mark.
void UnsavedEdits::ShowMark() {
    if (QWindow* shown = window_.windowHandle()) shown->setTitle(ShownCaption());
}

bool UnsavedEdits::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_) {
        switch (event->type()) {
        case QEvent::WindowTitleChange:
        case QEvent::DynamicPropertyChange:
        case QEvent::Show:
            ShowMark(); // after Qt has set the caption on the screen
            break;
        case QEvent::Close:
            if (!MayClose()) {
                event->ignore();
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

// With edits, asks whether to save them: 保存 runs 楽譜保存 and lets the window close only once it has saved,
// 保存しない closes, キャンセル (also Esc, and the default) keeps the window open.
bool UnsavedEdits::MayClose() {
    if (!Edited() || !Settle()) return true;
    QMessageBox box(QMessageBox::Warning, QString::fromUtf16(ApplicationTitle),
                    QStringLiteral("楽譜が変更されています。保存しますか?"), QMessageBox::NoButton, &window_);
    box.setObjectName(QStringLiteral("unsavedEditsBox"));
    QPushButton* save = box.addButton(QStringLiteral("保存"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("保存しない"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == discard) return true;
    if (box.clickedButton() != save) return false;
    session_.SaveScore();
    return !Edited();
}

} // namespace nagisora
