#pragma once

// The colours of the score area: each line in the colour of the role the reader gives it (timbre, pitch,
// duration line, comment, other text), and within pitch lines the register marks, accidentals, rests and
// holds, bar lines and the units that are no symbol to the reader. The colours come from the area's palette
// (dark text on a light base, light text on a dark one) and keep a readable contrast with its base.
//
// After a change of the text only the lines whose look changed are coloured again: the lines the edit
// touched, and those whose role or unit boundaries it changed (a new pitch line makes its neighbours timbre
// and duration lines; a pitch line of odd length moves the units of every later set).

#include "core/score_map.h"

#include <QColor>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <array>
#include <cstdint>
#include <utility>

class QPalette;

namespace nagisora {

class ScoreModel;
class ScoreArea;

// A colour of the hue and saturation that stands out from the base as well as text should: lightness is
// moved away from the base until the contrast ratio reaches ratio.
QColor ReadableOn(const QColor& base, int hue, int saturation, double ratio = 4.5);
// a mixed into b by share (0: b alone, 1: a alone).
QColor Mixed(const QColor& a, const QColor& b, double share);

class ScoreColours : public QSyntaxHighlighter {
    Q_OBJECT

  public:
    // Colours the score area whose text the model reads; owned by the area's document.
    ScoreColours(ScoreModel& model, ScoreArea& area);

    // What a line's role and a pitch line's units look like (no foreground: the text's own colour).
    const QTextCharFormat& FormatOf(LineRole role) const;
    const QTextCharFormat& FormatOf(UnitKind kind) const;

    // How many lines were coloured since the last call: what a keystroke cost.
    int TakeLinesColoured();

  protected:
    void highlightBlock(const QString& text) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void MakeFormats(const QPalette& palette);
    void Recolour(int first, int last);
    void CatchUp();
    int LookOf(int line) const;

    ScoreModel& model_;
    ScoreArea& area_;
    int stopAt_ = -1; // the line where the pass after an edit stops, until it is coloured
    std::array<QTextCharFormat, 6> roleFormats_;
    std::array<QTextCharFormat, 9> unitFormats_;
    int linesColoured_ = 0;
    std::pair<QColor, QColor> madeFor_; // the base and text colours the formats were made for
};

} // namespace nagisora
