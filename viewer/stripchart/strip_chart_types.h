// Small value types shared by the strip chart and the windows that fill it: colours in the
// logger's Windows colour format, highlighted stretches of a band and bookmarks.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <vector>

namespace qvl {

// A Windows colour value, 0x00BBGGRR (0xFF0000 is blue).
using TColor = std::uint32_t;
inline QColor ColorToQColor(TColor colour) {
  return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

// A highlighted stretch of a band, from sample First to sample Last of its first curve.
struct THighlight {
  int First = 0;
  int Last = 0;
  TColor Pen = 0;
  TColor Brush = 0;
};
using TChannelHighlights = std::vector<THighlight>;

struct TBookmark {
  double X = 0;
  long long Pixel = 0;  // X * pixels per unit, recomputed when the scale changes
  TColor Colour = 0;
  QString Hint;
};

}  // namespace qvl
