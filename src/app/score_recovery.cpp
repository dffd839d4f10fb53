#include "app/score_recovery.h"

#include "app/message_box.h"
#include "app/score_area.h"
#include "app/score_session.h"
#include "app/unsaved_edits.h"
#include "core/failure.h"
#include "platform/file_io.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdio>
#include <unistd.h>

namespace nagisora {
namespace {

constexpr char CopyPrefix[] = "score-";
constexpr char CopySuffix[] = ".txt";
// Far above the window's own limit, so that no copy the window wrote is refused.
constexpr std::size_t CopyLimit = 64 * 1024 * 1024;

std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The name of a program's copy.
QString CopyName(pid_t pid, const std::string& start) {
    return QStringLiteral("%1%2-%3%4")
        .arg(QLatin1String(CopyPrefix))
        .arg(pid)
        .arg(QString::fromStdString(start), QLatin1String(CopySuffix));
}

// Whether a copy belongs to a program that no longer runs.
bool Left(const QString& name) {
    if (!name.startsWith(QLatin1String(CopyPrefix)) || !name.endsWith(QLatin1String(CopySuffix)))
        return false;
    const qsizetype prefix = QLatin1String(CopyPrefix).size();
    const qsizetype suffix = QLatin1String(CopySuffix).size();
    const QStringList parts = name.mid(prefix, name.size() - prefix - suffix).split(u'-');
    bool number = false;
    const pid_t pid = parts.size() == 2 ? parts[0].toInt(&number) : 0;
    if (!number || pid <= 0) return false;
    return ProcessEnded(pid, parts[1].toStdString());
}

enum class Answer { Restore, Discard, Later };

Answer Ask(QWidget& window, const QFileInfo& copy) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf16(ApplicationTitle),
                    QStringLiteral("保存されずに終わった楽譜があります (%1)。復元しますか?")
                        .arg(copy.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
                    QMessageBox::NoButton, &window);
    box.setObjectName(QStringLiteral("recoveryBox"));
    QPushButton* restore = box.addButton(QStringLiteral("復元"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("破棄"), QMessageBox::DestructiveRole);
    box.setDefaultButton(restore);
    box.exec();
    if (box.clickedButton() == restore) return Answer::Restore;
    return box.clickedButton() == discard ? Answer::Discard : Answer::Later;
}

} // namespace

QString ScoreRecovery::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/nagisora/recovery");
}

ScoreRecovery::ScoreRecovery(ScoreSession& session, QString folder)
    : QObject(&session.Window()), session_(session),
      folder_(folder.isEmpty() ? DefaultFolder() : std::move(folder)) {
    setObjectName(QStringLiteral("scoreRecovery"));
    const pid_t self = ::getpid();
    copyPath_ = folder_ + u'/' + CopyName(self, ProcessStartTime(self).value_or("0"));
    session_.SetFileInUse(FileInUse::RecoveryCopy, Local(copyPath_));
    // Not once the copy goes; the connection goes with the session when the session goes first.
    connect(this, &QObject::destroyed, &session_,
            [&session = session_] { session.SetFileInUse(FileInUse::RecoveryCopy, {}); });
    UnsavedEdits* edits = &session_.Edits();
    connect(edits, &UnsavedEdits::Settled, this, &ScoreRecovery::Keep);
    connect(edits, &UnsavedEdits::EditedChanged, this, [this](bool edited) {
        if (!edited) Post(std::nullopt);
    });
    writer_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

ScoreRecovery::~ScoreRecovery() {
    writer_.request_stop();
    writer_.join();
    ::unlink(Local(copyPath_).c_str());
}

void ScoreRecovery::Keep(bool edited, const QString& text) {
    if (edited)
        Post(text.toStdString());
    else
        Post(std::nullopt);
}

void ScoreRecovery::Post(std::optional<std::string> bytes) {
    {
        const std::lock_guard lock(mutex_);
        next_ = std::move(bytes);
    }
    wake_.notify_one();
}

// Writes the latest text posted, or removes the copy; a text posted while one is written waits for it, and
// only the newest is written.
void ScoreRecovery::Run(std::stop_token stop) {
    const std::string path = Local(copyPath_);
    bool reported = false;
    for (;;) {
        std::optional<std::string> bytes;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return next_.has_value(); })) return;
            bytes = std::move(*next_);
            next_.reset();
        }
        try {
            if (bytes) {
                // The scores are the user's own: the folder is for no one else to read.
                if (!QDir(folder_).exists() && QDir().mkpath(folder_))
                    QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                WriteFileAtomically(path, *bytes);
            } else {
                ::unlink(path.c_str());
            }
        } catch (const Failure& failure) {
            // The copy is a safety net: the window goes on without it, and says so once where it can.
            if (!reported)
                WriteError("nagisora: " + path + ": " + failure.Message() + " (復元用の写しを書けません)\n");
            reported = true;
        }
    }
}

bool ScoreRecovery::OfferLeftCopies() {
    QFileInfoList copies = QDir(folder_).entryInfoList({QLatin1String(CopyPrefix) + u'*' + CopySuffix},
                                                       QDir::Files | QDir::Hidden, QDir::Time);
    for (const QFileInfo& copy : copies) {
        if (!Left(copy.fileName())) continue;
        // Taken over under this program's name first, so that two programs started together do not both offer
        // it, and so that a restored text stays safe from the start.
        if (::rename(Local(copy.filePath()).c_str(), Local(copyPath_).c_str()) != 0) continue;
        std::string bytes;
        try {
            bytes = ReadFileBytes(Local(copyPath_), CopyLimit);
        } catch (const Failure&) {
            ::rename(Local(copyPath_).c_str(), Local(copy.filePath()).c_str());
            continue;
        }
        switch (Ask(session_.Window(), QFileInfo(copyPath_))) {
        case Answer::Restore: {
            ScoreArea& area = session_.Area();
            QTextCursor cursor(area.document());
            cursor.beginEditBlock();
            cursor.select(QTextCursor::Document);
            cursor.removeSelectedText();
            cursor.insertText(QString::fromStdString(bytes));
            cursor.endEditBlock();
            area.moveCursor(QTextCursor::Start);
            return true;
        }
        case Answer::Discard:
            ::unlink(Local(copyPath_).c_str());
            break;
        case Answer::Later:
            ::rename(Local(copyPath_).c_str(), Local(copy.filePath()).c_str());
            return false;
        }
    }
    return false;
}

} // namespace nagisora
