#include "app/fonts.h"

#include <QStringList>

namespace nagisora {

namespace {

QFont FontOf(const QStringList& families, QFont::StyleHint hint, int pixelSize) {
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

// The score's own face. A monospace Japanese face has nothing to shape in kana, kanji or Latin text: Qt then
// looks the glyphs up directly (the same glyphs) rather than through HarfBuzz, which on a line of thousands
// of characters is most of laying it out again after a keystroke. Scripts that need shaping are still shaped.
QFont GothicFont(int pixelSize) {
    QFont font = FontOf({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                         QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("monospace")},
                        QFont::Monospace, pixelSize);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QFont PGothicFont(int pixelSize) {
    return FontOf({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                   QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP"),
                   QStringLiteral("sans-serif")},
                  QFont::SansSerif, pixelSize);
}

} // namespace nagisora
