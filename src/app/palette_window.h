#pragma once

// The notation palette: a small modeless window with one button per symbol of the notation, in groups, each
// inserting its symbol at the score area's caret, and a page that lists the keys of the typing mode. It never
// takes the focus, so the caret stays where the user is typing.

#include "core/notation_keys.h"

#include <QString>
#include <QWidget>
#include <span>

class QToolButton;

namespace nagisora {

class NotationEntry;

// A group of symbols as the palette and the menu show it: its title, and where its box stands on the palette.
struct PaletteGroup {
    SymbolGroup group;
    QString title;
    int row;
    int column;
    int columns;
};

std::span<const PaletteGroup> PaletteGroups();

// A symbol's text or name as Qt text; a key as the key list names it ("Space" for the space bar).
QString SymbolText(std::string_view utf8);
QString KeyName(char key);

class PaletteWindow : public QWidget {
    Q_OBJECT

  public:
    PaletteWindow(NotationEntry& entry, QWidget* mainWindow);

    // The button of a symbol (its text, UTF-8); nullptr when the palette has none.
    QToolButton* Button(std::string_view symbol) const;

    // The text of the key page.
    static QString KeyPageText();

  public slots:
    // Shows the palette, beside the main window the first time and where the user left it afterwards.
    void ShowBeside();

  private:
    QWidget* MakeSymbolPage(NotationEntry& entry);

    bool placed_ = false;
};

} // namespace nagisora
