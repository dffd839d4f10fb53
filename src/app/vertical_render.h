#pragma once

// Draws the vertical score (vertical_layout.h) with QPainter: the one drawing of the 縦譜 window, the printer
// and the PDF file. All lengths are in points on the page; a painter on another device is scaled to it.
//
// A page, right to left: the margin, a strip for the title (written on the first page only), the columns of
// notes, each with the note in its middle, the register marks and accidentals small at its upper left, the
// rhythm lines at its right and the timbre numbers past them; the page number centred in the bottom margin.
// Text is drawn in playing order, so that a PDF's text, extracted, reads as the music goes.

#include "core/vertical_layout.h"

#include <QFont>
#include <QPageLayout>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <string>

class QPainter;

namespace nagisora {

enum class VerticalPaper { A4, B5 };

struct VerticalPageSettings {
    VerticalPaper paper = VerticalPaper::A4;
    double marginMm = 15;
    double fontPoints = 12;

    bool operator==(const VerticalPageSettings&) const = default;
};

// The page of the settings: portrait, with their margins.
QPageLayout PageLayoutOf(const VerticalPageSettings& settings);

// How many beats a column and how many columns a page holds on that page at that font size.
VerticalLayoutSettings LayoutSettingsFor(const VerticalPageSettings& settings);

// The score's font: IPA明朝 (or IPAex明朝), loaded from its file once so that it is embedded in PDF files on
// any platform plugin; the first call needs a QGuiApplication.
QString ScoreFontFamily();

// Where a point of a page (in points from the page's top left) lies in the layout.
struct VerticalHit {
    std::int32_t column = -1; // on the page, from 0 at the right
    std::int32_t tick = 0;    // from the column's top
};

class VerticalRenderer {
  public:
    VerticalRenderer(const VerticalScore& score, const VerticalPageSettings& settings);

    // The whole page in points.
    QSizeF PageSize() const { return page_; }

    // Draws a page onto painter, whose coordinates are points of the page (the caller scales).
    void DrawPage(QPainter& painter, std::int32_t page) const;

    // The rectangle of a cell's glyph on its page, in points: to mark a note in a view.
    QRectF CellRect(const VerticalCell& cell) const;

    VerticalHit HitAt(QPointF point) const;

  private:
    double ColumnRight(std::int32_t column) const;
    double RowY(std::int32_t tick) const;
    double GlyphSize(const VerticalCell& cell) const;
    void DrawGlyph(QPainter& painter, const QString& glyph, QPointF centre, double size) const;
    void DrawCell(QPainter& painter, const VerticalCell& cell) const;
    void DrawTitle(QPainter& painter) const;

    const VerticalScore& score_;
    QSizeF page_;
    QRectF area_; // the columns
    double font_;
    double columnWidth_;
    double beatHeight_;
    QString family_;
    QFont nominal_;
    QString title_;
};

// The whole score as a PDF document: the fonts embedded, the pages in order. Needs a QGuiApplication.
std::string VerticalPdf(const VerticalScore& score, const VerticalPageSettings& settings);

} // namespace nagisora
