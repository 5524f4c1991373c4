// Curves, bands and cursors of the strip chart.
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "viewer/stripchart/strip_button.h"
#include "viewer/stripchart/strip_chart.h"
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
// The x scale of a cursor's temporary full expansion with regular sample spacing.
constexpr double kFullExpansionXScale = 0.003;
const QColor kScaleButtonFont(0x00, 0x00, 0x80);  // 0x800000

}  // namespace

// ---------------------------------------------------------------- TStripPlot

TStripPlot::TStripPlot(TStripChannel* channel, std::shared_ptr<TKscYAxis> axis, const QPen& pen)
    : m_Channel(channel), m_Axis(std::move(axis)), m_Pen(pen) {}

void TStripPlot::SetPen(const QPen& pen) {
  m_Pen = pen;
  m_Channel->Invalidate();
}

void TStripPlot::SetColour(TColor colour) {
  QPen pen = m_Pen;
  pen.setColor(ColorToQColor(colour));
  SetPen(pen);
}

void TStripPlot::ValuesChanged() {
  m_Pyramid.Build(m_Values.data(), m_Values.size());
  ++m_ValuesGeneration;
  m_Columns.clear();
  m_Channel->m_Chart->Changed(TKelStripChart::kNeedExtent, m_Channel->m_Chart->PlotAndLabels());
}

void TStripPlot::SetValues(std::vector<float> values, double unitsPerSample, double xOffset) {
  m_Values = std::move(values);
  m_Regular = true;
  m_UnitsPerSample = unitsPerSample > 0 && std::isfinite(unitsPerSample) ? unitsPerSample : 1;
  m_XOffset = std::isfinite(xOffset) ? xOffset : 0;
  ValuesChanged();
}

void TStripPlot::SetExplicitValues(std::vector<float> values) {
  m_Values = std::move(values);
  m_Regular = false;
  ValuesChanged();
}

void TStripPlot::ClearValues() {
  m_Values.clear();
  ValuesChanged();
}

void TStripPlot::SetOffset(int samples) {
  if (samples == m_Offset) return;
  m_Offset = samples;
  m_Channel->m_Chart->Changed(TKelStripChart::kNeedExtent, m_Channel->m_Chart->PlotAndLabels());
}

double TStripPlot::PixelsPerSample() const {
  return m_UnitsPerSample * m_Channel->m_Chart->PixelsPerUnit();
}

double TStripPlot::OffsetSamples() const {
  return m_XOffset / m_UnitsPerSample + m_Offset;
}

double TStripPlot::XOfSample(double i) const {
  const TKelStripChart* chart = m_Channel->m_Chart;
  if (!m_Regular) {
    const std::vector<double>& xs = chart->XValues();
    if (xs.empty()) return 0;
    double k = std::clamp(i, 0.0, double(xs.size() - 1));
    return xs[std::size_t(k)];
  }
  return (i - OffsetSamples()) * m_UnitsPerSample;
}

TSampleMapping TStripPlot::Mapping() const {
  const TKelStripChart* chart = m_Channel->m_Chart;
  TSampleMapping m;
  m.Count = m_Values.size();
  m.PixelsPerUnit = chart->PixelsPerUnit();
  if (m_Regular) {
    m.PixelsPerSample = PixelsPerSample();
    m.OffsetSamples = OffsetSamples();
  } else {
    m.X = chart->XValues().data();
    m.Count = std::min(m.Count, chart->XValues().size());
  }
  return m;
}

void TStripPlot::SetRange(double step, double top, double bottom) {
  m_Axis->SetRange(step, top, bottom);
  m_Channel->Invalidate();
}

void TStripPlot::ZoomY(int mode, bool recomputeStep, double factor) {
  m_Axis->ZoomY(mode, recomputeStep, factor);
  m_Channel->Invalidate();
}

const TYPix* TStripPlot::Columns(long long first, int count, int height) {
  const double ppu = m_Channel->m_Chart->PixelsPerUnit();
  const double offset = m_Regular ? OffsetSamples() : 0;
  bool keyMatches = m_ColumnsPixelsPerUnit == ppu && m_ColumnsOffset == offset &&
                    m_ColumnsHeight == height && m_ColumnsAxisGeneration == m_Axis->Generation() &&
                    m_ColumnsValuesGeneration == m_ValuesGeneration;
  if (keyMatches && first >= m_ColumnsFirst &&
      first + count <= m_ColumnsFirst + (long long)m_Columns.size())
    return m_Columns.data() + (first - m_ColumnsFirst);
  ComputeColumns(m_Pyramid, Mapping(), *m_Axis, height, first, count, m_Columns);
  m_ColumnsFirst = first;
  m_ColumnsPixelsPerUnit = ppu;
  m_ColumnsOffset = offset;
  m_ColumnsHeight = height;
  m_ColumnsAxisGeneration = m_Axis->Generation();
  m_ColumnsValuesGeneration = m_ValuesGeneration;
  return m_Columns.data();
}

// ---------------------------------------------------------------- TStripChannel

TStripChannel::TStripChannel(TKelStripChart* chart) : m_Chart(chart) {
  m_Plots.emplace_back(new TStripPlot(this, std::make_shared<TKscYAxis>(), chart->DefaultPen()));
}

TStripChannel::~TStripChannel() {
  for (TStripButton* b : m_Buttons) delete b;
  if (m_CursorButtonsOf >= 0 && m_CursorButtonsOf < m_Chart->CursorCount())
    m_Chart->Cursors(m_CursorButtonsOf)->DeleteButtons();
}

int TStripChannel::Index() const {
  for (int i = 0; i < m_Chart->ChannelCount(); ++i)
    if (m_Chart->Channels(i) == this) return i;
  return -1;
}

void TStripChannel::SetWeight(float weight) {
  if (!(weight > 0) || weight == m_Weight) return;
  m_Weight = weight;
  m_Chart->Changed(TKelStripChart::kNeedLayout, QRegion());
}

TStripPlot* TStripChannel::Plots(int i) const {
  if (i < 0 || i >= PlotCount()) return nullptr;
  return m_Plots[std::size_t(i)].get();
}

TStripPlot* TStripChannel::AddPlot(bool ownAxis) {
  std::shared_ptr<TKscYAxis> axis;
  if (ownAxis) {
    axis = std::make_shared<TKscYAxis>();
    axis->SetHeight(m_Rect.height());
  } else {
    axis = m_Plots.front()->m_Axis;
  }
  m_Plots.emplace_back(new TStripPlot(this, axis, m_Chart->DefaultPen()));
  return m_Plots.back().get();
}

void TStripChannel::DeletePlot(int i) {
  if (i <= 0 || i >= PlotCount()) return;
  m_Plots.erase(m_Plots.begin() + i);
  m_Chart->Changed(TKelStripChart::kNeedExtent, m_Chart->PlotAndLabels());
}

void TStripChannel::SetDefaultScale(double top, double bottom) {
  m_DefaultTop = top;
  m_DefaultBottom = bottom;
}

void TStripChannel::SetHighlights(TChannelHighlights highlights) {
  m_Highlights = std::move(highlights);
  Invalidate();
}

void TStripChannel::SetTitle(const QString& title) {
  if (title == m_Title) return;
  m_Title = title;
  Invalidate();
}

void TStripChannel::SetBookmarkTabs(bool top, bool bottom) {
  m_TopTabs = top;
  m_BottomTabs = bottom;
  Invalidate();
}

void TStripChannel::Invalidate() {
  // The band with its scale labels, which reach a few rows above and below it.
  QRect r(0, m_Rect.top() - 8, m_Chart->PlotRect().right() + 1, m_Rect.height() + 16);
  m_Chart->Changed(0, QRegion(r));
}

void TStripChannel::Autoscale(bool inViewOnly, bool inverted) {
  const std::shared_ptr<TKscYAxis>& axis = m_Plots.front()->m_Axis;
  TMinMax all{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  const TKelStripChart* chart = m_Chart;
  const long long start = chart->XStartPixel();
  const int width = chart->PlotRect().width();
  for (const auto& plot : m_Plots) {
    if (plot->m_Axis != axis || plot->m_Values.empty()) continue;
    long long count = (long long)plot->Mapping().Count;
    long long first = 0, last = count - 1;
    if (inViewOnly) {
      if (plot->m_Regular) {
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
    TMinMax r = plot->m_Pyramid.Range(std::size_t(first), std::size_t(last + 1));
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
  return m_Buttons[std::size_t(i)];
}

void TStripChannel::CreateButtons(QWidget* toolBar) {
  for (int i = 0; i < kScaleButtonCount; ++i) {
    const TScaleButtonInfo& info = kScaleButtons[i];
    auto* b = new TStripButton(toolBar, info.Glyph, QString::fromLatin1(info.Caption),
                               QString::fromLatin1(info.Hint), kScaleButtonFont);
    b->resize(info.Width, kScaleButtonHeight);
    QObject::connect(b, &QAbstractButton::clicked, m_Chart, [this, i] { ButtonClicked(i); });
    if (i >= 8)
      QObject::connect(b, &TStripButton::RightClicked, m_Chart,
                       [this, i] { ButtonRightClicked(i); });
    b->show();
    m_Buttons[std::size_t(i)] = b;
  }
}

void TStripChannel::PlaceButtons(int toolBarTop) {
  // Rows: zoom keeping the top at the band's top edge, zoom keeping the bottom at its bottom
  // edge, and around the middle "Auto all" 20 px above, the centre zoom and "Def." on the
  // middle, "Auto view" 20 px below.
  const int groupLeft = (TKelStripChart::kRightToolBarWidth - 56) / 2;
  const int top = m_Rect.top() - toolBarTop;
  const int bottom = m_Rect.bottom() + 1 - toolBarTop;
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
    TStripButton* b = m_Buttons[std::size_t(i)];
    if (!b) continue;
    bool middleRow = i >= 4 && i <= 8;
    bool fits = middleRow ? height >= 5 * h + 10 : height >= 2 * h + 2;
    if (i >= 6 && i <= 8) fits = height >= 3 * h + 4;
    b->move(groupLeft + kScaleButtons[i].Left, rows[i]);
    b->setVisible(fits);
  }
}

void TStripChannel::ButtonClicked(int button) {
  TKscYAxis& axis = *m_Plots.front()->m_Axis;
  m_Chart->BeginUpdate();
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
        axis.SetRange(0, m_DefaultBottom, m_DefaultTop);
      else
        axis.SetRange(0, m_DefaultTop, m_DefaultBottom);
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
  m_Chart->EndUpdate();
}

void TStripChannel::ButtonRightClicked(int button) {
  TKscYAxis& axis = *m_Plots.front()->m_Axis;
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
  TStripCursor* cursor = m_Chart->Cursors(cursorIndex);
  if (!cursor) return;
  if (!on) {
    if (m_CursorButtonsOf == cursorIndex) {
      cursor->DeleteButtons();
      m_CursorButtonsOf = -1;
    }
    return;
  }
  // Another band that showed them gives them up.
  for (int i = 0; i < m_Chart->ChannelCount(); ++i)
    if (m_Chart->Channels(i)->m_CursorButtonsOf == cursorIndex)
      m_Chart->Channels(i)->m_CursorButtonsOf = -1;
  if (m_CursorButtonsOf >= 0 && m_CursorButtonsOf != cursorIndex)
    m_Chart->Cursors(m_CursorButtonsOf)->DeleteButtons();
  m_CursorButtonsOf = cursorIndex;
  if (!cursor->m_ExpandButton) cursor->CreateButtons(m_Chart->TopToolBarWidget());
  m_Chart->PlaceCursorButtons();
}

// ---------------------------------------------------------------- TStripCursor

TStripCursor::TStripCursor(TKelStripChart* chart) : QObject(chart), m_Chart(chart) {}

long long TStripCursor::WindowX() const {
  if (m_Index < 0) return kParkedButtonLeft - 1000;
  return m_Chart->XToPixel(m_Chart->XValueOf(m_Index)) - m_Chart->XStartPixel() +
         m_Chart->PlotRect().left();
}

void TStripCursor::SetPosition(int index) {
  if (index < -1) index = -1;
  if (index == m_Index) return;
  long long oldX = m_Index >= 0 ? WindowX() : kParkedButtonLeft - 1000;
  m_Index = index;
  m_Chart->CursorMoved(this, oldX);
  emit OnChange(this);
}

void TStripCursor::SetPositionX(double x) {
  if (!m_Chart->ExplicitX()) {
    double i = std::round(x / m_Chart->SampleInterval());
    SetPosition(int(std::clamp(i, -1.0, 2147483647.0)));
    return;
  }
  const std::vector<double>& xs = m_Chart->XValues();
  auto it = std::lower_bound(xs.begin(), xs.end(), x);
  SetPosition(int(it - xs.begin()));
}

void TStripCursor::SetScrollMargins(double leftMargin, double rightMargin) {
  m_LeftMargin = leftMargin;
  m_RightMargin = rightMargin;
}

void TStripCursor::CreateButtons(QWidget* toolBar) {
  if (!toolBar) return;
  const QColor black(0, 0, 0);
  m_ExpandButton = new TStripButton(
      toolBar, TStripGlyph::CursorExpand, QString(),
      QStringLiteral("Expand horizontally around cursor\rPress and hold Ctrl for temporary full "
                     "expansion"),
      black);
  m_ContractButton = new TStripButton(
      toolBar, TStripGlyph::CursorContract, QString(),
      QStringLiteral("Contract horizontally around cursor\rPress and hold Ctrl for temporary "
                     "full contraction"),
      black);
  for (TStripButton* b : {m_ExpandButton.data(), m_ContractButton.data()}) {
    b->resize(kCursorButtonWidth, 15);
    connect(b, &TStripButton::LeftUp, this, &TStripCursor::ButtonReleased);
    b->show();
    b->raise();
  }
  connect(m_ExpandButton, &TStripButton::LeftDown, this, &TStripCursor::ExpandPressed);
  connect(m_ContractButton, &TStripButton::LeftDown, this, &TStripCursor::ContractPressed);
  connect(m_ExpandButton, &QAbstractButton::clicked, this, &TStripCursor::ExpandClicked);
  connect(m_ContractButton, &QAbstractButton::clicked, this, &TStripCursor::ContractClicked);
}

void TStripCursor::DeleteButtons() {
  delete m_ExpandButton.data();
  delete m_ContractButton.data();
}

void TStripCursor::ExpandPressed() {
  m_TemporaryZoom = m_ExpandButton->PressModifiers().testFlag(Qt::ControlModifier);
  if (!m_TemporaryZoom) return;
  m_SavedXScale = m_Chart->XScale();
  m_SavedStart = m_Chart->XStartPixel();
  // Full expansion: 0.003 units per pixel (3 ms in the viewer's seconds); with explicit x values
  // three pixels per sample of their span.
  double u = kFullExpansionXScale;
  if (m_Chart->ExplicitX()) {
    const std::vector<double>& xs = m_Chart->XValues();
    u = xs.size() > 1 ? (xs.back() - xs.front()) / (3.0 * double(xs.size())) : m_SavedXScale;
  }
  m_Chart->ZoomAroundCursor(this, u);
}

void TStripCursor::ContractPressed() {
  m_TemporaryZoom = m_ContractButton->PressModifiers().testFlag(Qt::ControlModifier);
  if (!m_TemporaryZoom) return;
  m_SavedXScale = m_Chart->XScale();
  m_SavedStart = m_Chart->XStartPixel();
  m_Chart->ShowFullExtent();
}

void TStripCursor::ButtonReleased() {
  if (!m_TemporaryZoom) return;
  m_TemporaryZoom = false;
  m_Chart->BeginUpdate();
  m_Chart->SetXScale(m_SavedXScale);
  m_Chart->SetStart(m_SavedStart);
  m_Chart->EndUpdate();
}

void TStripCursor::ExpandClicked() {
  if (m_TemporaryZoom) return;  // the click of a temporary zoom, restored just after
  m_Chart->ZoomAroundCursor(this, m_Chart->XScale() / 1.3);
}

void TStripCursor::ContractClicked() {
  if (m_TemporaryZoom) return;  // the click of a temporary zoom, restored just after
  m_Chart->ZoomAroundCursor(this, m_Chart->XScale() * 1.3);
}

}  // namespace qvl
