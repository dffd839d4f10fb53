#include "app/recent_scores.h"

#include "app/score_area.h"
#include "app/score_session.h"
#include "app/user_settings.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace nagisora {
namespace {

const QString ScoresKey = QStringLiteral("recentScores");

// Read and written at each use, so that several windows of the program share one list. A list written by
// hand may be of any length: the newest ten are kept.
QStringList Read() {
    return UserSettings()->value(ScoresKey).toStringList();
}

void Store(const QStringList& scores) {
    UserSettings()->setValue(ScoresKey, scores);
}

// "&3 /home/user/kyoku.txt": the number is the menu's key; an "&" of the name is shown as itself.
QString MenuText(int number, const QString& fileName) {
    QString shown = QDir::toNativeSeparators(fileName);
    shown.replace(u'&', QStringLiteral("&&"));
    return QStringLiteral("&%1 %2").arg(number % 10).arg(shown);
}

} // namespace

RecentScores::RecentScores(ScoreSession& session)
    : QObject(&session.Window()), session_(session),
      menu_(new QMenu(QStringLiteral("最近の楽譜(&R)"), &session.Window())) {
    connect(&session_, &ScoreSession::ScoreFileUsed, this, &RecentScores::Add);
    connect(menu_, &QMenu::aboutToShow, this, &RecentScores::FillMenu);
    session_.Area().AddMenu(CommandGroup::Files, menu_);
}

QStringList RecentScores::Scores() const {
    QStringList scores = Read();
    const qsizetype before = scores.size();
    if (scores.size() > Kept) scores.resize(Kept);
    scores.removeIf([](const QString& name) { return !QFileInfo(name).isFile(); });
    if (scores.size() != before) Store(scores);
    return scores;
}

void RecentScores::Add(const QString& fileName) {
    const QString name = QFileInfo(fileName).absoluteFilePath();
    QStringList scores = Read();
    scores.removeAll(name);
    scores.prepend(name);
    while (scores.size() > Kept)
        scores.removeLast();
    Store(scores);
}

void RecentScores::Clear() {
    Store({});
}

void RecentScores::FillMenu() {
    menu_->clear();
    const QStringList scores = Scores();
    for (int k = 0; k < scores.size(); ++k) {
        const QString name = scores[k];
        menu_->addAction(MenuText(k + 1, name), &session_, [this, name] { session_.OpenScore(name); });
    }
    if (scores.isEmpty()) {
        menu_->addAction(QStringLiteral("(なし)"))->setEnabled(false);
        return;
    }
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("一覧を消去"), this, &RecentScores::Clear);
}

} // namespace nagisora
