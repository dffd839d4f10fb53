#include "fonts.h"

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

QFont GothicFont(int pixelSize) {
    return FontOf({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                   QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("monospace")},
                  QFont::Monospace, pixelSize);
}

QFont PGothicFont(int pixelSize) {
    return FontOf({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                   QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP"),
                   QStringLiteral("sans-serif")},
                  QFont::SansSerif, pixelSize);
}

} // namespace nagisora
