#include "app/help_window.h"

#include "app/fonts.h"
#include "app/modeless_window.h"
#include "app/window_scale.h"

#include <QFile>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

// The help text is a resource of the static UI library; naming its initialiser keeps the linker from dropping
// it from the program. Q_INIT_RESOURCE declares the initialiser, so it stands outside any namespace.
static bool InitHelpResource() {
    Q_INIT_RESOURCE(help_window);
    return true;
}

namespace nagisora {
namespace {

constexpr int ContentWidth = 472;
constexpr int ContentHeight = 570;

} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent), memo1_(new QPlainTextEdit(this)) {
    const double scale =
        SetUpModelessWindow(*this, "HelpF", QStringLiteral("HelpF"), WindowSize::Fixed, FontPixels);
    setFixedSize(Scaled(ContentWidth, scale), Scaled(ContentHeight, scale));

    memo1_->setObjectName(QStringLiteral("Memo1"));
    memo1_->setReadOnly(true);
    memo1_->setFocusPolicy(Qt::ClickFocus); // selectable and copyable, but not a tab stop
    memo1_->setFont(GothicFont(Scaled(FontPixels, scale)));
    memo1_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo1_->setPlainText(HelpText());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memo1_);
}

QString HelpWindow::HelpText() {
    [[maybe_unused]] static const bool registered = InitHelpResource();
    QFile file(QStringLiteral(":/nagisora/help.txt"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

void HelpWindow::ShowInFront() {
    nagisora::ShowInFront(*this, placed_);
}

} // namespace nagisora
