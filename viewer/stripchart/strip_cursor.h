// A cursor of the strip chart: a vertical line at one sample, with its two zoom buttons in the
// top toolbar (shown by the band that owns them).
#pragma once

#include <QObject>
#include <QPointer>

#include "viewer/stripchart/strip_button.h"

namespace qvl {

class IStripChartHost;
class TKelStripChart;

class TStripCursor : public QObject {
  Q_OBJECT
 public:
  // Cursors are made by their chart (TKelStripChart::AddCursor), which is `host` as well.
  TStripCursor(TKelStripChart* chart, IStripChartHost* host);

  TKelStripChart* Chart() const { return chart_; }
  // Sample index; -1 hides the cursor.
  int Position() const { return index_; }
  void SetPosition(int index);
  // Moves to the first sample whose x is at or beyond `x`.
  void SetPositionX(double x);
  // Hides the cursor without OnChange: the chart does this when its x values are replaced.
  void Park();
  // When the cursor moves out of view, scroll so that it comes back `leftMargin` (or
  // `rightMargin`) plot widths inside the edge it crossed. Negative margins switch this off.
  void SetScrollMargins(double leftMargin, double rightMargin);
  double LeftScrollMargin() const { return leftMargin_; }
  double RightScrollMargin() const { return rightMargin_; }
  // Column of the cursor line in chart coordinates.
  long long WindowX() const;
  TStripButton* ExpandButton() const { return expandButton_; }
  TStripButton* ContractButton() const { return contractButton_; }
  // The band that shows the zoom buttons (TStripChannel::ShowCursorButtons) creates them in
  // the chart's top toolbar and deletes them again.
  void CreateButtons();
  void DeleteButtons();

 signals:
  void OnChange(qvl::TStripCursor* cursor);

 private:
  void ExpandPressed();
  void ContractPressed();
  void ButtonReleased();
  void ExpandClicked();
  void ContractClicked();

  TKelStripChart* chart_;
  IStripChartHost* host_;
  int index_ = -1;
  double leftMargin_ = -1;
  double rightMargin_ = -1;
  QPointer<TStripButton> expandButton_;
  QPointer<TStripButton> contractButton_;
  // The temporary (Ctrl) zoom: scale and scroll position to restore on release.
  bool temporaryZoom_ = false;
  double savedXScale_ = 0;
  long long savedStart_ = 0;
};

}  // namespace qvl
