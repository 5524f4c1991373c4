// A cursor of the strip chart and its zoom buttons.
#include "viewer/stripchart/strip_cursor.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "viewer/stripchart/strip_chart.h"
#include "viewer/stripchart/strip_chart_host.h"
#include "viewer/stripchart/strip_geometry.h"

namespace qvl {
namespace {

// The x scale of a cursor's temporary full expansion with regular sample spacing.
constexpr double kFullExpansionXScale = 0.003;

}  // namespace

TStripCursor::TStripCursor(TKelStripChart* chart, IStripChartHost* host)
    : QObject(chart), chart_(chart), host_(host) {}

long long TStripCursor::WindowX() const {
  if (index_ < 0) return kParkedButtonLeft - 1000;
  return chart_->XToPixel(chart_->XValueOf(index_)) - chart_->XStartPixel() +
         chart_->PlotRect().left();
}

void TStripCursor::SetPosition(int index) {
  if (index < -1) index = -1;
  if (index == index_) return;
  long long oldX = index_ >= 0 ? WindowX() : kParkedButtonLeft - 1000;
  index_ = index;
  host_->CursorMoved(this, oldX);
  emit OnChange(this);
}

void TStripCursor::SetPositionX(double x) {
  if (!chart_->ExplicitX()) {
    double i = std::round(x / chart_->SampleInterval());
    SetPosition(int(std::clamp(i, -1.0, 2147483647.0)));
    return;
  }
  const std::vector<double>& xs = chart_->XValues();
  auto it = std::lower_bound(xs.begin(), xs.end(), x);
  SetPosition(int(it - xs.begin()));
}

void TStripCursor::Park() {
  long long oldX = WindowX();
  index_ = -1;
  host_->CursorMoved(this, oldX);
}

void TStripCursor::SetScrollMargins(double leftMargin, double rightMargin) {
  leftMargin_ = leftMargin;
  rightMargin_ = rightMargin;
}

void TStripCursor::CreateButtons() {
  QWidget* toolBar = chart_->TopToolBarWidget();
  if (!toolBar) return;
  const QColor black(0, 0, 0);
  expandButton_ = new TStripButton(
      toolBar, TStripGlyph::CursorExpand, QString(),
      QStringLiteral("Expand horizontally around cursor\rPress and hold Ctrl for temporary full "
                     "expansion"),
      black);
  contractButton_ = new TStripButton(
      toolBar, TStripGlyph::CursorContract, QString(),
      QStringLiteral("Contract horizontally around cursor\rPress and hold Ctrl for temporary "
                     "full contraction"),
      black);
  for (TStripButton* b : {expandButton_.data(), contractButton_.data()}) {
    b->resize(kCursorButtonWidth, 15);
    connect(b, &TStripButton::LeftUp, this, &TStripCursor::ButtonReleased);
    b->show();
    b->raise();
  }
  connect(expandButton_, &TStripButton::LeftDown, this, &TStripCursor::ExpandPressed);
  connect(contractButton_, &TStripButton::LeftDown, this, &TStripCursor::ContractPressed);
  connect(expandButton_, &QAbstractButton::clicked, this, &TStripCursor::ExpandClicked);
  connect(contractButton_, &QAbstractButton::clicked, this, &TStripCursor::ContractClicked);
}

void TStripCursor::DeleteButtons() {
  delete expandButton_.data();
  delete contractButton_.data();
}

void TStripCursor::ExpandPressed() {
  temporaryZoom_ = expandButton_->PressModifiers().testFlag(Qt::ControlModifier);
  if (!temporaryZoom_) return;
  savedXScale_ = chart_->XScale();
  savedStart_ = chart_->XStartPixel();
  // Full expansion: 0.003 units per pixel (3 ms in the viewer's seconds); with explicit x values
  // three pixels per sample of their span.
  double u = kFullExpansionXScale;
  if (chart_->ExplicitX()) {
    const std::vector<double>& xs = chart_->XValues();
    u = xs.size() > 1 ? (xs.back() - xs.front()) / (3.0 * double(xs.size())) : savedXScale_;
  }
  host_->ZoomAroundCursor(this, u);
}

void TStripCursor::ContractPressed() {
  temporaryZoom_ = contractButton_->PressModifiers().testFlag(Qt::ControlModifier);
  if (!temporaryZoom_) return;
  savedXScale_ = chart_->XScale();
  savedStart_ = chart_->XStartPixel();
  chart_->ShowFullExtent();
}

void TStripCursor::ButtonReleased() {
  if (!temporaryZoom_) return;
  temporaryZoom_ = false;
  host_->RestoreView(savedXScale_, savedStart_);
}

void TStripCursor::ExpandClicked() {
  if (temporaryZoom_) return;  // the click of a temporary zoom, restored just after
  host_->ZoomAroundCursor(this, chart_->XScale() / 1.3);
}

void TStripCursor::ContractClicked() {
  if (temporaryZoom_) return;  // the click of a temporary zoom, restored just after
  host_->ZoomAroundCursor(this, chart_->XScale() * 1.3);
}

}  // namespace qvl
