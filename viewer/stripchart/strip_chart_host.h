// What the bands, curves and cursors of a strip chart tell their chart beyond its public
// operations: which of its derived state went stale and which of its view changes they start.
// The chart implements it and hands it to each part it creates; nothing else calls it.
#pragma once

#include <QRegion>

namespace qvl {

class TStripCursor;

class IStripChartHost {
 public:
  // Samples, spacing or offsets of a curve changed, or a curve went: the extent of the curves
  // and the scroll bar are recomputed, and the plot with its time labels is repainted.
  virtual void CurvesChanged() = 0;
  // The weights of the bands changed: they are laid out anew.
  virtual void BandsChanged() = 0;
  // Marks `region` (chart coordinates) for repainting from the chart's data.
  virtual void Repaint(const QRegion& region) = 0;
  // Moves every cursor's zoom buttons to their cursor's line (or parks them).
  virtual void PlaceCursorButtons() = 0;
  // A cursor moved from window column `oldX`: scroll it back into view when its margins ask
  // for it, and repaint both lines.
  virtual void CursorMoved(TStripCursor* cursor, long long oldX) = 0;
  // Sets the horizontal scale, keeping the cursor's line (the middle of the plot for a hidden
  // cursor) at its column.
  virtual void ZoomAroundCursor(TStripCursor* cursor, double unitsPerPixel) = 0;
  // Returns to a scale and scroll position saved before a temporary zoom.
  virtual void RestoreView(double unitsPerPixel, long long start) = 0;

 protected:
  ~IStripChartHost() = default;
};

}  // namespace qvl
