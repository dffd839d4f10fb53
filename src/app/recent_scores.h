#pragma once

// The last scores loaded or saved, newest first, at most ten, kept between runs in the user's settings
// (QSettings: ~/.config/nagisora/nagisora.ini, beside the preview's settings). The score area's context menu
// shows them under "最近の楽譜", beside "楽譜読込" and "楽譜保存" with their shortcuts; choosing one loads it
// as "楽譜読込" would. Files that no longer exist are dropped from the list when the menu opens. The window's
// controls are not kept.

#include <QObject>
#include <QStringList>

class QMenu;

namespace nagisora {

class ScoreSession;

class RecentScores : public QObject {
    Q_OBJECT

  public:
    static constexpr int Kept = 10;

    // Follows the session's loads and saves and adds the menu to its score area.
    explicit RecentScores(ScoreSession& session);

    // The kept names, newest first, without the files that no longer exist.
    QStringList Scores() const;
    // Puts a file first (once) and keeps the newest ten.
    void Add(const QString& fileName);
    void Clear();

    QMenu& Menu() const { return *menu_; }

  private:
    void FillMenu();

    ScoreSession& session_;
    QMenu* menu_;
};

} // namespace nagisora
