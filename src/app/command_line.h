#pragma once

// The command line of the desktop program, `nagisora [SCORE]`, and what the program sets up before its
// window: Qt's own Japanese texts, so that dialogs and message boxes read like the window.

#include <QString>

class QCommandLineParser;
class QCoreApplication;

namespace nagisora {

// The options --help and --version and the one optional argument, the score to open.
void DescribeCommandLine(QCommandLineParser& parser);

// Whether the arguments ask only for a text (--help, --version), which the program answers without opening a
// display.
bool AsksForTextOnly(int argc, const char* const* argv);

// The full name of a score named on the command line: a path, relative to the working folder or not, or a
// "file:" URL as a file manager may pass it.
QString ScorePathOf(const QString& argument);

// Loads Qt's Japanese translations (qtbase_ja from Qt's translations folder) into the application, whatever
// the locale, and makes Japanese the default locale for what Qt formats (dates and sizes in the file
// dialogs). Returns false when the translations are not installed; the program then runs with Qt's English
// texts.
bool InstallJapaneseTexts(QCoreApplication& application);

} // namespace nagisora
