// A band of the strip chart and its scale buttons.
#include "viewer/stripchart/strip_channel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "viewer/stripchart/strip_button.h"
#include "viewer/stripchart/strip_chart.h"
#include "viewer/stripchart/strip_chart_host.h"
#include "viewer/stripchart/strip_geometry.h"

namespace qvl {
namespace {

// The band buttons: glyph, caption, hint, left and width inside the toolbar group.
struct TScaleButtonInfo {
  TStripGlyph Glyph;
  const char* Caption;
  const char* Hint;
  int Left;
  int Width;
};

const TScaleButtonInfo kScaleButtons[TStripChannel::kScaleButtonCount] = {
    {TStripGlyph::ExpandDown, "", "Expand axis down", 0, 17},
    {TStripGlyph::ContractUp, "", "Contract axis up", 16, 17},
    {TStripGlyph::ExpandUp, "", "Expand axis up", 0, 17},
    {TStripGlyph::ContractDown, "", "Contract axis down", 16, 17},
    {TStripGlyph::None, "Auto all", "Autoscale axis from all data", 0, 56},
    {TStripGlyph::None, "Auto view", "Autoscale axis from data in view", 0, 56},
    {TStripGlyph::ExpandCenter, "", "Expand axis from center", 0, 17},
    {TStripGlyph::ContractCenter, "", "Contract axis from center", 16, 17},
    {TStripGlyph::None, "Def.",
     "Apply default scaling\rRight click for placing y origin at center of chart", 32, 24},
    {TStripGlyph::TranslateUp, "", "Shift axis up\rRight click for placing origin at top of chart",
     32, 24},
    {TStripGlyph::TranslateDown, "",
     "Shift axis down\rRight click for placing origin at bottom of chart", 32, 24},
};

constexpr int kScaleButtonHeight = 18;
const QColor kScaleButtonFont(0x00, 0x00, 0x80);  // 0x800000

}  // namespace

TStripChannel::TStripChannel(TKelStripChart* chart, IStripChartHost* host)
    : chart_(chart), host_(host) {
  plots_.emplace_back(
      new TStripPlot(this, host, std::make_shared<TKscYAxis>(), chart->DefaultPen()));
  CreateButtons(chart->RightToolBarWidget());
}

TStripChannel::~TStripChannel() {
  for (TStripButton* b : buttons_) delete b;
  if (cursorButtonsOf_ >= 0 && cursorButtonsOf_ < chart_->CursorCount())
    chart_->Cursors(cursorButtonsOf_)->DeleteButtons();
}

int TStripChannel::Index() const {
  for (int i = 0; i < chart_->ChannelCount(); ++i)
    if (chart_->Channels(i) == this) return i;
  return -1;
}

void TStripChannel::Place(const QRect& rect, int toolBarTop) {
  rect_ = rect;
  for (const auto& plot : plots_) plot->Axis().SetHeight(rect_.height());
  PlaceButtons(toolBarTop);
}

void TStripChannel::SetWeight(float weight) {
  if (!(weight > 0) || weight == weight_) return;
  weight_ = weight;
  host_->BandsChanged();
}

TStripPlot* TStripChannel::Plots(int i) const {
  if (i < 0 || i >= PlotCount()) return nullptr;
  return plots_[std::size_t(i)].get();
}

TStripPlot* TStripChannel::AddPlot(bool ownAxis) {
  std::shared_ptr<TKscYAxis> axis;
  if (ownAxis) {
    axis = std::make_shared<TKscYAxis>();
    axis->SetHeight(rect_.height());
  } else {
    axis = plots_.front()->SharedAxis();
  }
  plots_.emplace_back(new TStripPlot(this, host_, axis, chart_->DefaultPen()));
  return plots_.back().get();
}

void TStripChannel::DeletePlot(int i) {
  if (i <= 0 || i >= PlotCount()) return;
  plots_.erase(plots_.begin() + i);
  host_->CurvesChanged();
}

void TStripChannel::SetDefaultScale(double top, double bottom) {
  defaultTop_ = top;
  defaultBottom_ = bottom;
}

void TStripChannel::SetHighlights(TChannelHighlights highlights) {
  highlights_ = std::move(highlights);
  Invalidate();
}

void TStripChannel::SetTitle(const QString& title) {
  if (title == title_) return;
  title_ = title;
  Invalidate();
}

void TStripChannel::SetBookmarkTabs(bool top, bool bottom) {
  topTabs_ = top;
  bottomTabs_ = bottom;
  Invalidate();
}

void TStripChannel::Invalidate() {
  // The band with its scale labels, which reach a few rows above and below it.
  QRect r(0, rect_.top() - 8, chart_->PlotRect().right() + 1, rect_.height() + 16);
  host_->Repaint(QRegion(r));
}

void TStripChannel::Autoscale(bool inViewOnly, bool inverted) {
  const std::shared_ptr<TKscYAxis>& axis = plots_.front()->SharedAxis();
  TMinMax all{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  const TKelStripChart* chart = chart_;
  const long long start = chart->XStartPixel();
  const int width = chart->PlotRect().width();
  for (const auto& plot : plots_) {
    if (plot->SharedAxis() != axis || plot->Values().empty()) continue;
    long long count = (long long)plot->Mapping().Count;
    long long first = 0, last = count - 1;
    if (inViewOnly) {
      if (plot->RegularSpacing()) {
        auto range =
            ViewIndexRange(start, width, plot->PixelsPerSample(), plot->OffsetSamples(), count);
        first = range.first;
        last = range.second;
      } else {
        // One sample beyond each edge of the view.
        TSampleMapping m = plot->Mapping();
        first = (long long)m.FirstAtOrAfter(start) - 1;
        last = (long long)m.FirstAtOrAfter(start + width);
        first = std::clamp(first, 0LL, count - 1);
        last = std::clamp(last, 0LL, count - 1);
      }
    }
    if (first > last) continue;
    TMinMax r = plot->Pyramid().Range(std::size_t(first), std::size_t(last + 1));
    if (r.Empty()) continue;
    all.Min = std::min(all.Min, r.Min);
    all.Max = std::max(all.Max, r.Max);
  }
  if (all.Empty()) return;
  double mn = all.Min, mx = all.Max;
  if (std::fabs(mx + mn) * 1e-9 >= mx - mn) return;  // flat data
  double margin = (mx - mn) * 0.1;
  if (inverted)
    axis->SetRange(0, mn - margin, mx + margin);
  else
    axis->SetRange(0, mx + margin, mn - margin);
  Invalidate();
}

TStripButton* TStripChannel::ScaleButton(int i) const {
  if (i < 0 || i >= kScaleButtonCount) return nullptr;
  return buttons_[std::size_t(i)];
}

void TStripChannel::CreateButtons(QWidget* toolBar) {
  for (int i = 0; i < kScaleButtonCount; ++i) {
    const TScaleButtonInfo& info = kScaleButtons[i];
    auto* b = new TStripButton(toolBar, info.Glyph, QString::fromLatin1(info.Caption),
                               QString::fromLatin1(info.Hint), kScaleButtonFont);
    b->resize(info.Width, kScaleButtonHeight);
    QObject::connect(b, &QAbstractButton::clicked, chart_, [this, i] { ButtonClicked(i); });
    if (i >= 8)
      QObject::connect(b, &TStripButton::RightClicked, chart_,
                       [this, i] { ButtonRightClicked(i); });
    b->show();
    buttons_[std::size_t(i)] = b;
  }
}

void TStripChannel::PlaceButtons(int toolBarTop) {
  // Rows: zoom keeping the top at the band's top edge, zoom keeping the bottom at its bottom
  // edge, and around the middle "Auto all" 20 px above, the centre zoom and "Def." on the
  // middle, "Auto view" 20 px below.
  const int groupLeft = (TKelStripChart::kRightToolBarWidth - 56) / 2;
  const int top = rect_.top() - toolBarTop;
  const int bottom = rect_.bottom() + 1 - toolBarTop;
  const int middle = (top + bottom) / 2;
  const int h = kScaleButtonHeight;
  const int rows[kScaleButtonCount] = {top + 1,
                                       top + 1,
                                       bottom - h - 1,
                                       bottom - h - 1,
                                       middle - 20 - h / 2,
                                       middle + 20 - h / 2,
                                       middle - h / 2,
                                       middle - h / 2,
                                       middle - h / 2,
                                       top + 1,
                                       bottom - h - 1};
  // A band too low for the middle rows shows only its edge rows (and those only when they
  // do not run into each other).
  const int height = bottom - top;
  for (int i = 0; i < kScaleButtonCount; ++i) {
    TStripButton* b = buttons_[std::size_t(i)];
    if (!b) continue;
    bool middleRow = i >= 4 && i <= 8;
    bool fits = middleRow ? height >= 5 * h + 10 : height >= 2 * h + 2;
    if (i >= 6 && i <= 8) fits = height >= 3 * h + 4;
    b->move(groupLeft + kScaleButtons[i].Left, rows[i]);
    b->setVisible(fits);
  }
}

void TStripChannel::ButtonClicked(int button) {
  TKscYAxis& axis = plots_.front()->Axis();
  chart_->BeginUpdate();
  switch (button) {
    case 0:
      axis.ZoomY(1, true, 0.625);
      break;
    case 1:
      axis.ZoomY(1, true, 1.6);
      break;
    case 2:
      axis.ZoomY(0, true, 0.625);
      break;
    case 3:
      axis.ZoomY(0, true, 1.6);
      break;
    case 4:
      Autoscale(false, axis.Inverted());
      break;
    case 5:
      Autoscale(true, axis.Inverted());
      break;
    case 6:
      axis.ZoomY(2, true, 0.625);
      break;
    case 7:
      axis.ZoomY(2, true, 1.6);
      break;
    case 8:
      if (axis.Inverted())
        axis.SetRange(0, defaultBottom_, defaultTop_);
      else
        axis.SetRange(0, defaultTop_, defaultBottom_);
      break;
    case 9: {
      double span = axis.Top() - axis.Bottom();
      axis.MoveRange(axis.Top() + span / 8, axis.Bottom() + span / 8);
      break;
    }
    case 10: {
      double span = axis.Top() - axis.Bottom();
      axis.MoveRange(axis.Top() - span / 8, axis.Bottom() - span / 8);
      break;
    }
  }
  Invalidate();
  chart_->EndUpdate();
}

void TStripChannel::ButtonRightClicked(int button) {
  TKscYAxis& axis = plots_.front()->Axis();
  double span = axis.Top() - axis.Bottom();
  switch (button) {
    case 8:
      axis.MoveRange(span / 2, -span / 2);
      break;
    case 9:
      axis.MoveRange(0, -span);
      break;
    case 10:
      axis.MoveRange(span, 0);
      break;
    default:
      return;
  }
  Invalidate();
}

void TStripChannel::ShowCursorButtons(bool on, int cursorIndex) {
  TStripCursor* cursor = chart_->Cursors(cursorIndex);
  if (!cursor) return;
  if (!on) {
    if (cursorButtonsOf_ == cursorIndex) {
      cursor->DeleteButtons();
      cursorButtonsOf_ = -1;
    }
    return;
  }
  // Another band that showed them gives them up.
  for (int i = 0; i < chart_->ChannelCount(); ++i)
    if (chart_->Channels(i)->cursorButtonsOf_ == cursorIndex)
      chart_->Channels(i)->cursorButtonsOf_ = -1;
  if (cursorButtonsOf_ >= 0 && cursorButtonsOf_ != cursorIndex)
    chart_->Cursors(cursorButtonsOf_)->DeleteButtons();
  cursorButtonsOf_ = cursorIndex;
  if (!cursor->ExpandButton()) cursor->CreateButtons();
  host_->PlaceCursorButtons();
}

}  // namespace qvl
