#pragma once

// The two fonts the windows are drawn with. The named Japanese fonts are used where they are installed;
// elsewhere each falls back to a font with the same metrics: IPAGothic draws every full-width character
// exactly two half-width columns wide, so timbre numbers stand over the pitch symbols as typed.

#include <QFont>

namespace nagisora {

// The size of the windows' text at 96 dpi, in pixels: the window font, the score area and the lists.
inline constexpr int FontPixels = 12;

// "ＭＳ ゴシック": fixed pitch, for the score area, the instrument list and the diagnostic list.
QFont GothicFont(int pixelSize);

// "ＭＳ Ｐゴシック": proportional, the window font.
QFont PGothicFont(int pixelSize);

} // namespace nagisora
