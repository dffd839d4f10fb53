#include "app/vertical_render.h"

#include "platform/cp932.h"

#include <QBuffer>
#include <QFile>
#include <QFontDatabase>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

constexpr double PointsPerMm = 72.0 / 25.4;

// Proportions of a column and a beat to the font size.
constexpr double ColumnWidthInFonts = 3.0;
constexpr double BeatHeightInFonts = 3.0;
constexpr double TitleStripInFonts = 2.0;
constexpr double MarkScale = 0.5;
constexpr double SmallNoteScale = 0.55;

QPageSize PageSizeOf(VerticalPaper paper) {
    return QPageSize(paper == VerticalPaper::B5 ? QPageSize::JisB5 : QPageSize::A4);
}

// Characters that vertical writing turns a quarter: long vowel marks, dashes, bars and brackets.
bool TurnsInVerticalWriting(char32_t c) {
    static constexpr std::u32string_view turned =
        U"ー－｜|―‐-—～〜…‥（）()「」『』【】〔〕［］[]｛｝{}〈〉《》＜＞<>＝=";
    return turned.find(c) != std::u32string_view::npos;
}

// IPA明朝 first: unlike IPAex明朝 it has no Kangxi radicals (⾳ ⼄ ⼤) sharing the glyphs of 音 乙 大, so the
// text that Qt's PDF writer gives each glyph (the lowest character the font maps to it) is the ideograph,
// and the PDF's text, extracted, compares as it reads.
QString FontFromFiles() {
    static const char* const files[] = {
        "/usr/share/fonts/opentype/ipafont-mincho/ipam.ttf",
        "/usr/share/fonts/opentype/ipaexfont-mincho/ipaexm.ttf",
        "/usr/share/fonts/truetype/ipaexfont-mincho/ipaexm.ttf",
        "/usr/share/fonts/truetype/fonts-japanese-mincho.ttf",
        "/usr/share/fonts/opentype/ipaexfont-gothic/ipaexg.ttf",
    };
    for (const char* file : files) {
        if (!QFile::exists(QString::fromUtf8(file))) continue;
        const int id = QFontDatabase::addApplicationFont(QString::fromUtf8(file));
        if (id < 0) continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty()) return families.front();
    }
    return QStringLiteral("IPAMincho");
}

// Text is drawn with one font of a fixed pixel size that the painter scales to the size wanted: the same on
// every device (screen, printer, its preview, PDF) whatever resolution each reports.
constexpr int NominalPixels = 100;

QFont NominalFont(const QString& family) {
    QFont font(family);
    font.setPixelSize(NominalPixels);
    font.setStyleStrategy(QFont::PreferOutline);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Text size points high, placed in rect by flags, turned by degrees about the rect's centre.
void DrawTextIn(QPainter& painter, const QFont& nominal, const QRectF& rect, int flags, const QString& text,
                double size, double degrees = 0) {
    const double scale = std::max(size, 0.5) / NominalPixels;
    const QSizeF box = rect.size() / scale;
    painter.save();
    painter.translate(rect.center());
    if (degrees != 0) painter.rotate(degrees);
    painter.scale(scale, scale);
    painter.setFont(nominal);
    painter.drawText(QRectF(QPointF(-box.width() / 2, -box.height() / 2), box), flags, text);
    painter.restore();
}

QString Text(const InlineText<4>& text) {
    return QString::fromStdString(DecodeCp932(text.View()));
}

} // namespace

QPageLayout PageLayoutOf(const VerticalPageSettings& settings) {
    const double margin = std::clamp(settings.marginMm, 0.0, 60.0);
    return QPageLayout(PageSizeOf(settings.paper), QPageLayout::Portrait,
                       QMarginsF(margin, margin, margin, margin), QPageLayout::Millimeter);
}

VerticalLayoutSettings LayoutSettingsFor(const VerticalPageSettings& settings) {
    const QRectF paint = PageLayoutOf(settings).paintRect(QPageLayout::Point);
    const double font = std::clamp(settings.fontPoints, 4.0, 48.0);
    VerticalLayoutSettings layout;
    layout.beatsPerColumn = std::max(1, int(std::floor(paint.height() / (BeatHeightInFonts * font))));
    layout.columnsPerPage = std::max(
        1, int(std::floor((paint.width() - TitleStripInFonts * font) / (ColumnWidthInFonts * font))));
    return layout;
}

QString ScoreFontFamily() {
    static const QString family = FontFromFiles();
    return family;
}

VerticalRenderer::VerticalRenderer(const VerticalScore& score, const VerticalPageSettings& settings)
    : score_(score), font_(std::clamp(settings.fontPoints, 4.0, 48.0)), family_(ScoreFontFamily()),
      nominal_(NominalFont(family_)), title_(QString::fromStdString(DecodeCp932(score.title))) {
    const QPageLayout layout = PageLayoutOf(settings);
    page_ = layout.fullRect(QPageLayout::Point).size();
    const QRectF paint = layout.paintRect(QPageLayout::Point);
    columnWidth_ = ColumnWidthInFonts * font_;
    beatHeight_ = BeatHeightInFonts * font_;
    area_ = QRectF(paint.left(), paint.top(), paint.width() - TitleStripInFonts * font_,
                   beatHeight_ * score.settings.beatsPerColumn);
}

double VerticalRenderer::ColumnRight(std::int32_t column) const {
    return area_.right() - column * columnWidth_;
}

double VerticalRenderer::RowY(std::int32_t tick) const {
    return area_.top() + double(tick) / VerticalTicksPerBeat * beatHeight_;
}

// A note as large as the font, smaller where its rows are fewer than the font is high.
double VerticalRenderer::GlyphSize(const VerticalCell& cell) const {
    if (cell.small) return font_ * SmallNoteScale;
    const double height = double(cell.ticks) / VerticalTicksPerBeat * beatHeight_;
    return std::clamp(height * 0.9, font_ * 0.45, font_);
}

QRectF VerticalRenderer::CellRect(const VerticalCell& cell) const {
    const double size = GlyphSize(cell);
    const double centreX = ColumnRight(cell.column) - columnWidth_ * 0.55;
    const double top = RowY(cell.tick) + (cell.small ? -size * 0.6 : 0.0);
    return QRectF(centreX - size / 2, top, size, size);
}

VerticalHit VerticalRenderer::HitAt(QPointF point) const {
    if (point.x() > area_.right() ||
        point.x() < area_.right() - columnWidth_ * score_.settings.columnsPerPage ||
        point.y() < area_.top() || point.y() > area_.bottom())
        return {};
    return VerticalHit{std::int32_t((area_.right() - point.x()) / columnWidth_),
                       std::int32_t((point.y() - area_.top()) / beatHeight_ * VerticalTicksPerBeat)};
}

// One character centred on centre; the characters that vertical writing turns are turned a quarter clockwise.
void VerticalRenderer::DrawGlyph(QPainter& painter, const QString& glyph, QPointF centre, double size) const {
    if (glyph.isEmpty()) return;
    const std::u32string code = glyph.toStdU32String();
    const bool turned = code.size() == 1 && TurnsInVerticalWriting(code.front());
    DrawTextIn(painter, nominal_, QRectF(centre - QPointF(size, size), QSizeF(2 * size, 2 * size)),
               Qt::AlignCenter, glyph, size, turned ? 90 : 0);
}

void VerticalRenderer::DrawCell(QPainter& painter, const VerticalCell& cell) const {
    const QRectF rect = CellRect(cell);
    const double right = ColumnRight(cell.column);
    switch (cell.kind) {
    case VerticalCellKind::Bar: {
        const double y = RowY(cell.tick);
        painter.setPen(QPen(Qt::black, font_ * 0.06));
        painter.drawLine(QPointF(right - columnWidth_ * 0.92, y), QPointF(right - columnWidth_ * 0.08, y));
        return;
    }
    case VerticalCellKind::Tuplet:
        DrawGlyph(painter, QString::fromLatin1(cell.glyph.View().data(), qsizetype(cell.glyph.View().size())),
                  QPointF(right - columnWidth_ * 0.9, RowY(cell.tick) + font_ * 0.3), font_ * MarkScale);
        return;
    case VerticalCellKind::Timbre:
        painter.save();
        painter.setPen(Qt::darkGray);
        DrawTextIn(painter, nominal_,
                   QRectF(right - columnWidth_ * 0.2, RowY(cell.tick), columnWidth_ * 0.2, font_ * 0.5),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, Text(cell.glyph), font_ * 0.4);
        painter.restore();
        return;
    default:
        break;
    }
    painter.setPen(Qt::black);
    // The marks, small, one under the other at the note's upper left.
    const QString marks = QString::fromStdString(DecodeCp932(cell.marks.View()));
    const double markSize = font_ * MarkScale;
    double markY = rect.top() + markSize * 0.5;
    for (const QChar mark : marks) {
        DrawGlyph(painter, QString(mark), QPointF(rect.left() - markSize * 0.6, markY), markSize);
        markY += markSize;
    }
    DrawGlyph(painter, Text(cell.glyph), rect.center(), rect.width());
    if (cell.tickMark) {
        // The tick of a lone half beat, off the line beside the note: the two together read as ト.
        const double x = right - columnWidth_ * 0.55 + font_ * 0.62;
        const double y = rect.center().y();
        painter.setPen(QPen(Qt::black, font_ * 0.07, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(x, y), QPointF(x + font_ * 0.3, y + font_ * 0.16));
    }
}

void VerticalRenderer::DrawTitle(QPainter& painter) const {
    // Vertically, one character under the other, in the strip at the right of the columns.
    const double size = font_ * 1.1;
    const QPointF start(area_.right() + TitleStripInFonts * font_ * 0.5, area_.top() + size * 0.6);
    const std::u32string code = title_.toStdU32String();
    const std::size_t fits = std::size_t(std::max(0.0, (area_.height() - size) / size));
    for (std::size_t i = 0; i < code.size() && i < fits; ++i) {
        const char32_t c = code[i];
        DrawGlyph(painter, QString::fromUcs4(&c, 1), start + QPointF(0, double(i) * size), size);
    }
}

void VerticalRenderer::DrawPage(QPainter& painter, std::int32_t page) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);
    if (page == 0 && !title_.isEmpty()) DrawTitle(painter);
    const auto [first, last] = score_.PageCells(page);
    for (std::size_t i = first; i < last; ++i)
        DrawCell(painter, score_.cells[i]);
    // The rhythm lines: level 1 next to the notes, the others beside it.
    const auto lineOnPage = [](const VerticalLine& line, std::int32_t p) { return line.page < p; };
    const auto lines = std::lower_bound(score_.lines.begin(), score_.lines.end(), page, lineOnPage);
    painter.setPen(QPen(Qt::black, font_ * 0.07, Qt::SolidLine, Qt::FlatCap));
    for (auto line = lines; line != score_.lines.end() && line->page == page; ++line) {
        const double x =
            ColumnRight(line->column) - columnWidth_ * 0.55 + font_ * 0.62 + (line->level - 1) * font_ * 0.2;
        const double gap = font_ * 0.22;
        painter.drawLine(QPointF(x, RowY(line->from) + gap), QPointF(x, RowY(line->to) - gap));
    }
    DrawTextIn(painter, nominal_,
               QRectF(0, page_.height() - area_.top() * 0.9, page_.width(), area_.top() * 0.8),
               Qt::AlignCenter, QString::number(page + 1), font_ * 0.8);
    painter.restore();
}

std::string VerticalPdf(const VerticalScore& score, const VerticalPageSettings& settings) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        // The whole page is drawn on: the renderer keeps the margins itself and writes the page numbers in
        // one.
        QPageLayout layout = PageLayoutOf(settings);
        layout.setMinimumMargins(QMarginsF());
        layout.setMargins(QMarginsF());
        writer.setPageLayout(layout);
        writer.setResolution(72 * 10); // points times ten: lines and glyphs placed to a tenth of a point
        writer.setCreator(QStringLiteral("nagisora"));
        writer.setTitle(QString::fromStdString(DecodeCp932(score.title)));
        const VerticalRenderer renderer(score, settings);
        QPainter painter(&writer);
        painter.scale(10, 10);
        for (std::int32_t page = 0; page < score.pages; ++page) {
            if (page > 0) writer.newPage();
            renderer.DrawPage(painter, page);
        }
    }
    return buffer.data().toStdString();
}

} // namespace nagisora
