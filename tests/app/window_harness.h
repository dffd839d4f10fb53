#pragma once

// A main window on a fresh AppDir whose failures and file dialogs are recorded instead of shown, and whose
// preview plays into a WAV file instead of a device.

#include "app/main_window.h"
#include "app/message_box.h"
#include "app/score_area.h"
#include "test_files.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nagisora::test {

class WindowHarness {
  public:
    // beforeCreate runs on the AppDir before the window is made (to leave a "config" file there, say); media
    // replaces the preview's WAV file.
    explicit WindowHarness(std::function<void(const std::string& appDir)> beforeCreate = {},
                           std::optional<MediaOptions> media = {}) {
        // The recent scores and other settings go to a test folder, not the user's.
        QStandardPaths::setTestModeEnabled(true);
        UseOwnSettingsFolder();
        appDir_ = dir_.path().toStdString() + "/";
        if (beforeCreate) beforeCreate(appDir_);
        MainWindowOptions options;
        options.appDir = appDir_;
        options.reportError = [this](const Failure& failure) {
            messages.push_back(QString::fromStdString(FailureText(failure)));
        };
        options.fileDialog = [this](const FileDialogRequest& request) {
            requests.push_back(request);
            return answer;
        };
        options.media = media.value_or(MediaOptions::ToWavFile(PreviewPath()));
        window = std::make_unique<MainWindow>(std::move(options));
    }

    template <class T>
    T* Get(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) qFatal("no control %s", name);
        return found;
    }

    void SetScore(const QString& text) const { Get<QPlainTextEdit>("mem")->setPlainText(text); }
    std::string AppDir() const { return appDir_; }
    std::string Path(const std::string& name) const { return appDir_ + name; }
    // The WAV file the preview plays into.
    std::string PreviewPath() const { return mediaDir_.path().toStdString() + "/preview.wav"; }
    QString AppDirPath() const { return dir_.path(); }

    std::unique_ptr<MainWindow> window;
    std::vector<QString> messages;           // what the message box would have shown
    std::vector<FileDialogRequest> requests; // every dialog asked for
    std::optional<QString> answer;           // what the dialogs answer: a path, or nothing for a cancel

  private:
    // Every test program keeps its settings in a folder of its own for as long as it runs, so that programs
    // run side by side, or a zoom left by an earlier run, never change what another one reads.
    static void UseOwnSettingsFolder() {
        static const QTemporaryDir folder;
        static const bool set = [] {
            QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
            return true;
        }();
        (void)set;
    }

    QTemporaryDir dir_;
    QTemporaryDir mediaDir_;
    std::string appDir_;
};

// Clicks the button of that text in the next modal message box and keeps the box's text and default button;
// both stay empty when no box comes before the events are processed.
struct BoxAnswer {
    explicit BoxAnswer(const QString& button) {
        QTimer::singleShot(0, [this, button] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                defaultButton = box->defaultButton()->text();
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == button) b->click();
            }
        });
    }
    ~BoxAnswer() { QCoreApplication::processEvents(); } // the timer fires before the answer goes
    QString text;
    QString defaultButton;
};

// Puts the score area's caret at the line and column (from 1), selecting the next selectedColumns characters.
inline void PutCaret(const WindowHarness& h, int line, int column, int selectedColumns = 0) {
    ScoreArea& area = h.window->Area();
    QTextCursor cursor(area.document()->findBlockByNumber(line - 1));
    cursor.setPosition(cursor.position() + column - 1);
    cursor.setPosition(cursor.position() + selectedColumns, QTextCursor::KeepAnchor);
    area.setTextCursor(cursor);
}

} // namespace nagisora::test
