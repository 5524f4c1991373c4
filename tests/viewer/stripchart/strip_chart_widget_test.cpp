// The strip chart as a window: built with three bands, driven by synthetic mouse events and
// button presses, drawn on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWindow>
#include <cmath>
#include <limits>
#include <memory>

#include "viewer/stripchart/strip_button.h"
#include "viewer/stripchart/strip_chart.h"

namespace qvl {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "qvl_viewer_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

void Mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
  if (type == QEvent::MouseMove && button == Qt::NoButton) buttons = Qt::NoButton;
  QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)),
                    type == QEvent::MouseMove ? Qt::NoButton : button, buttons, modifiers);
  QCoreApplication::sendEvent(w, &event);
}

void Press(QWidget* w, QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier,
           Qt::MouseButton b = Qt::LeftButton) {
  Mouse(w, QEvent::MouseButtonPress, p, b, m);
}
void Release(QWidget* w, QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier,
             Qt::MouseButton b = Qt::LeftButton) {
  Mouse(w, QEvent::MouseButtonRelease, p, b, m);
}
void DragTo(QWidget* w, QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier) {
  Mouse(w, QEvent::MouseMove, p, Qt::LeftButton, m);
}
void Click(QWidget* button, Qt::KeyboardModifiers m = Qt::NoModifier,
           Qt::MouseButton b = Qt::LeftButton) {
  QPoint centre = button->rect().center();
  Press(button, centre, m, b);
  Release(button, centre, m, b);
}

// A ride of 60 s at 1 kHz: travel of both wheels (one value per 2 ms) and vertical
// acceleration (one per ms), with bumps, a bottom-out and a drop.
std::vector<float> Travel(int n, double phase) {
  std::vector<float> v(std::size_t(n), 0.0f);
  for (int i = 0; i < n; ++i) {
    double t = i * 0.002;
    double x = 30 + 12 * std::sin(t * 2.1 + phase) + 6 * std::sin(t * 13.0 + phase);
    if (t > 21 && t < 21.4) x += 60 * std::sin((t - 21) / 0.4 * M_PI);  // bottom-out
    v[std::size_t(i)] = float(std::clamp(x, 0.0, 100.0));
  }
  return v;
}

class StripChartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    chart = std::make_unique<TKelStripChart>();
    chart->resize(1200, 700);
    chart->BeginUpdate();
    chart->SetSampleInterval(0.001);
    front = chart->AddChannel();
    front->SetTitle("Front travel (%)");
    front->SetDefaultScale(100, 0);
    front->Plots(0)->SetValues(Travel(30000, 0), 0.002);
    front->Plots(0)->SetRange(0, 100, 0);
    front->Plots(0)->SetColour(0x00FFFF);  // yellow
    front->SetHighlights({{10490, 10710, 255, 80}, {20000, 20500, 4227327, 16448}});
    rear = chart->AddChannel();
    rear->SetTitle("Rear travel (%)");
    rear->SetDefaultScale(100, 0);
    rear->Plots(0)->SetValues(Travel(30000, 1.3), 0.002);
    rear->Plots(0)->SetRange(0, 100, 0);
    rear->Plots(0)->SetColour(0x00FF00);  // green
    accel = chart->AddChannel();
    accel->SetTitle("Vertical accel. (g)");
    accel->SetDefaultScale(3, -3);
    std::vector<float> g(60000);
    for (int i = 0; i < 60000; ++i)
      g[std::size_t(i)] = float(1 + 0.8 * std::sin(i * 0.05) * std::sin(i * 0.0007));
    g[42000] = 2.9f;
    accel->Plots(0)->SetValues(std::move(g), 0.001);
    accel->Plots(0)->SetRange(0, 3, -1);
    accel->Plots(0)->SetColour(0xFFFF00);  // cyan
    chart->AddBookmark(0xFF0000, "Time mark #1\r12.00", 12.0);
    chart->AddBookmark(0x0080FF, "Time mark #2\r33.50", 33.5);
    chart->AddCursor();
    chart->AddCursor();
    front->ShowCursorButtons(true, 0);
    chart->SetXScale(30.0 / chart->PlotRect().width());  // 30 s across
    chart->EndUpdate();
    chart->Cursors(0)->SetPosition(8000);
    chart->Cursors(1)->SetPosition(25000);
    chart->show();
    // Painting needs the window exposed, which the platform reports through the event loop.
    for (int i = 0; i < 200 && !(chart->windowHandle() && chart->windowHandle()->isExposed()); ++i)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(chart->windowHandle() && chart->windowHandle()->isExposed());
    const int before = chart->CacheRenderCount();
    chart->InvalidateAll();
    chart->repaint();
    ASSERT_GT(chart->CacheRenderCount(), before);  // repaint() really draws
  }

  QRect Plot() const { return chart->PlotRect(); }
  // Global x value at window column x.
  double XAt(int x) const {
    return double(chart->XStartPixel() + x - Plot().left()) / chart->PixelsPerUnit();
  }
  QImage Grab() {
    chart->repaint();
    return chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }

  std::unique_ptr<TKelStripChart> chart;
  TStripChannel* front = nullptr;
  TStripChannel* rear = nullptr;
  TStripChannel* accel = nullptr;
};

bool HasColour(const QImage& image, const QRect& area, QRgb colour) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return true;
  return false;
}

TEST_F(StripChartTest, ScreenshotShowsBandsTitlesScalesLabelsBookmarksHighlightsAndCursors) {
  QImage shot = Grab();
  QString dir = qEnvironmentVariable("QVL_BIN_DIR", QDir::currentPath());
  QString file = QDir(dir).filePath("../stripchart-screenshot.png");
  ASSERT_TRUE(shot.save(file)) << file.toStdString();

  // Three stacked bands of equal weight share the plot height.
  const QRect p = Plot();
  EXPECT_EQ(front->Rect().top(), p.top());
  EXPECT_EQ(accel->Rect().bottom(), p.bottom());
  EXPECT_NEAR(front->Rect().height(), rear->Rect().height(), 1);
  // Frames are white.
  EXPECT_EQ(shot.pixel(p.left(), front->Rect().center().y()) & 0xFFFFFF, 0xFFFFFFu);
  // Curves in their colours inside their bands.
  EXPECT_TRUE(HasColour(shot, front->Rect().adjusted(1, 1, -1, -1), qRgb(255, 255, 0)));
  EXPECT_TRUE(HasColour(shot, rear->Rect().adjusted(1, 1, -1, -1), qRgb(0, 255, 0)));
  EXPECT_TRUE(HasColour(shot, accel->Rect().adjusted(1, 1, -1, -1), qRgb(0, 255, 255)));
  // The bookmark at 12 s: a blue line through the plot.
  int bx = int(chart->XToPixel(12.0) - chart->XStartPixel() + p.left());
  EXPECT_EQ(shot.pixel(bx, rear->Rect().center().y()) & 0xFFFFFF, 0x0000FFu);
  // The highlight from sample 10490 (20.98 s) tints the background dark red (80, 0, 0).
  int hx = int(chart->XToPixel(21.2) - chart->XStartPixel() + p.left());
  EXPECT_TRUE(HasColour(shot, QRect(hx - 2, front->Rect().top() + 2, 4, 10), qRgb(80, 0, 0)));
  // Scale labels and titles: white text in the margin of every band.
  for (TStripChannel* c : {front, rear, accel})
    EXPECT_TRUE(HasColour(shot, QRect(0, c->Rect().top(), p.left() - 1, c->Rect().height()),
                          qRgb(255, 255, 255)));
  // Time labels under the plot.
  EXPECT_TRUE(
      HasColour(shot, QRect(p.left() + 1, p.bottom() + 4, p.width() - 2, 14), qRgb(255, 255, 255)));
  // Cursor 0 is drawn by exclusive-or over the black background: white below the plot.
  long long cx = chart->Cursors(0)->WindowX();
  EXPECT_EQ(shot.pixel(int(cx), p.bottom() + 5) & 0xFFFFFF, 0xFFFFFFu);
  // Its buttons are centred on it in the top toolbar.
  EXPECT_EQ(chart->Cursors(0)->ExpandButton()->x(), cx - 12);
  EXPECT_EQ(chart->Cursors(0)->ContractButton()->y(), 15);
}

TEST_F(StripChartTest, ZoomingInThenOutWithTheTopButtonsGivesNinetyEightPercent) {
  const double u0 = chart->XScale();
  chart->ScrollTo(500, true);
  const double leftX = XAt(Plot().left());
  Click(chart->ZoomButton(0));
  EXPECT_NEAR(chart->XScale(), u0 * 0.7, u0 * 1e-12);
  EXPECT_NEAR(XAt(Plot().left()), leftX, 2 * chart->XScale());  // left edge kept
  Click(chart->ZoomButton(1));
  EXPECT_NEAR(chart->XScale(), u0 * 0.98, u0 * 1e-12);
  EXPECT_NEAR(XAt(Plot().left()), leftX, 2 * chart->XScale());

  const double rightX = XAt(Plot().right());
  Click(chart->ZoomButton(2));
  EXPECT_NEAR(chart->XScale(), u0 * 0.98 * 0.7, u0 * 1e-12);
  EXPECT_NEAR(XAt(Plot().right()), rightX, 2 * chart->XScale());  // right edge kept
  Click(chart->ZoomButton(3));
  EXPECT_NEAR(XAt(Plot().right()), rightX, 2 * chart->XScale());
}

TEST_F(StripChartTest, ToolbarHintsAreTheChartsOwnTexts) {
  EXPECT_EQ(chart->ZoomButton(0)->Hint(), "Expand horizontally");
  EXPECT_EQ(chart->ZoomButton(1)->Hint(), "Contract horizontally");
  EXPECT_EQ(chart->ZoomButton(2)->Hint(), "Expand horizontally");
  EXPECT_EQ(chart->ZoomButton(3)->Hint(), "Contract horizontally");
  EXPECT_EQ(chart->TopToolBarWidget()->Hint(),
            "Double click this band to show full extent of curves");
  const char* hints[] = {
      "Expand axis down",
      "Contract axis up",
      "Expand axis up",
      "Contract axis down",
      "Autoscale axis from all data",
      "Autoscale axis from data in view",
      "Expand axis from center",
      "Contract axis from center",
      "Apply default scaling\rRight click for placing y origin at center of chart",
      "Shift axis up\rRight click for placing origin at top of chart",
      "Shift axis down\rRight click for placing origin at bottom of chart",
  };
  for (int i = 0; i < TStripChannel::kScaleButtonCount; ++i)
    EXPECT_EQ(front->ScaleButton(i)->Hint(), QString::fromLatin1(hints[i])) << i;
  EXPECT_EQ(front->ScaleButton(4)->Caption(), "Auto all");
  EXPECT_EQ(front->ScaleButton(5)->Caption(), "Auto view");
  EXPECT_EQ(front->ScaleButton(8)->Caption(), "Def.");
  EXPECT_EQ(chart->Cursors(0)->ExpandButton()->Hint(),
            "Expand horizontally around cursor\rPress and hold Ctrl for temporary full expansion");
  EXPECT_EQ(
      chart->Cursors(0)->ContractButton()->Hint(),
      "Contract horizontally around cursor\rPress and hold Ctrl for temporary full contraction");
  EXPECT_EQ(front->ScaleButton(8)->toolTip(),
            "Apply default scaling\nRight click for placing y origin at center of chart");
  // Band buttons sit in the right toolbar beside their band, and stay inside it.
  for (TStripChannel* c : {front, rear, accel})
    for (int i = 0; i < TStripChannel::kScaleButtonCount; ++i) {
      QRect r = c->ScaleButton(i)->geometry().translated(chart->RightToolBarWidget()->pos());
      if (!c->ScaleButton(i)->isVisible()) continue;
      EXPECT_GE(r.top(), c->Rect().top()) << i;
      EXPECT_LE(r.bottom(), c->Rect().bottom()) << i;
    }
}

TEST_F(StripChartTest, ScaleButtonsZoomShiftAndRestoreTheAxis) {
  TKscYAxis& axis = accel->Plots(0)->Axis();  // 3 .. -1
  Click(accel->ScaleButton(0));               // keep top, 0.625
  EXPECT_DOUBLE_EQ(axis.Top(), 3);
  EXPECT_DOUBLE_EQ(axis.Bottom(), 3 - 0.625 * 4);
  Click(accel->ScaleButton(1));  // keep top, 1.6
  EXPECT_NEAR(axis.Bottom(), -1, 1e-12);
  Click(accel->ScaleButton(2));  // keep bottom, 0.625
  EXPECT_NEAR(axis.Top(), -1 + 0.625 * 4, 1e-12);
  Click(accel->ScaleButton(3));
  EXPECT_NEAR(axis.Top(), 3, 1e-12);
  Click(accel->ScaleButton(6));  // middle, 0.625
  EXPECT_NEAR(axis.Top(), 1 + 0.625 * 2, 1e-12);
  EXPECT_NEAR(axis.Bottom(), 1 - 0.625 * 2, 1e-12);
  Click(accel->ScaleButton(7));
  EXPECT_NEAR(axis.Top(), 3, 1e-12);

  const double step = axis.Step();
  Click(accel->ScaleButton(9));  // up by an eighth of the span, step kept
  EXPECT_NEAR(axis.Top(), 3.5, 1e-12);
  EXPECT_NEAR(axis.Bottom(), -0.5, 1e-12);
  EXPECT_DOUBLE_EQ(axis.Step(), step);
  Click(accel->ScaleButton(10));
  EXPECT_NEAR(axis.Top(), 3, 1e-12);

  Click(accel->ScaleButton(8));  // default scale
  EXPECT_DOUBLE_EQ(axis.Top(), 3);
  EXPECT_DOUBLE_EQ(axis.Bottom(), -3);
  Click(accel->ScaleButton(8), Qt::NoModifier, Qt::RightButton);  // origin at the centre
  EXPECT_DOUBLE_EQ(axis.Top(), 3);
  EXPECT_DOUBLE_EQ(axis.Bottom(), -3);
  Click(accel->ScaleButton(9), Qt::NoModifier, Qt::RightButton);  // origin at the top
  EXPECT_DOUBLE_EQ(axis.Top(), 0);
  EXPECT_DOUBLE_EQ(axis.Bottom(), -6);
  Click(accel->ScaleButton(10), Qt::NoModifier, Qt::RightButton);  // origin at the bottom
  EXPECT_DOUBLE_EQ(axis.Top(), 6);
  EXPECT_DOUBLE_EQ(axis.Bottom(), 0);

  // On an inverted axis the default scale comes upside down.
  front->Plots(0)->SetRange(0, 0, 100);
  Click(front->ScaleButton(8));
  EXPECT_DOUBLE_EQ(front->Plots(0)->Axis().Top(), 0);
  EXPECT_DOUBLE_EQ(front->Plots(0)->Axis().Bottom(), 100);
}

TEST_F(StripChartTest, AutoAllLeavesAConstantBandUnchangedAndScalesOthersWithMargins) {
  TStripChannel* flat = chart->AddChannel();
  flat->Plots(0)->SetValues(std::vector<float>(5000, 5.0f), 0.001);
  flat->Plots(0)->SetRange(0, 10, 0);
  Click(flat->ScaleButton(4));
  EXPECT_DOUBLE_EQ(flat->Plots(0)->Axis().Top(), 10);
  EXPECT_DOUBLE_EQ(flat->Plots(0)->Axis().Bottom(), 0);

  Click(accel->ScaleButton(4));
  const TKscYAxis& axis = accel->Plots(0)->Axis();
  TMinMax r = accel->Plots(0)->Pyramid().Range(0, 60000);
  double span = double(r.Max) - double(r.Min);
  EXPECT_NEAR(axis.Top(), r.Max + 0.1 * span, 1e-6);
  EXPECT_NEAR(axis.Bottom(), r.Min - 0.1 * span, 1e-6);
  EXPECT_GE(axis.Top(), 2.9);  // the spike at sample 42000 counts

  // An inverted axis stays inverted.
  front->Plots(0)->SetRange(0, 0, 100);
  Click(front->ScaleButton(4));
  EXPECT_TRUE(front->Plots(0)->Axis().Inverted());
}

TEST_F(StripChartTest, AutoViewOnlyLooksAtTheSamplesInView) {
  chart->ScrollTo(0, true);  // 0 .. 30 s in view; the spike at 42 s is not
  Click(accel->ScaleButton(5));
  EXPECT_LT(accel->Plots(0)->Axis().Top(), 2.9);
  chart->ScrollTo(chart->XToPixel(30.0), true);
  Click(accel->ScaleButton(5));
  EXPECT_GE(accel->Plots(0)->Axis().Top(), 2.9);
}

TEST_F(StripChartTest, CursorOutsideThePlotParksItsButtonsAndDrawsNothing) {
  TStripCursor* cursor = chart->Cursors(0);
  const QRect p = Plot();
  QRect plotArea(p.left(), p.top(), p.width(), p.height() + 10);

  QImage with = Grab();
  const int x = int(cursor->WindowX());
  ASSERT_GT(x, p.left());
  // Inside: the line differs from the cached picture exactly in its column.
  EXPECT_NE(with.copy(QRect(x, p.top(), 1, p.height())),
            chart->CacheImage().copy(QRect(x, p.top(), 1, p.height())));

  cursor->SetPosition(59000);  // far right of the 30 s view
  chart->Cursors(1)->SetPosition(-1);
  EXPECT_EQ(cursor->ExpandButton()->x(), -32);
  EXPECT_EQ(cursor->ContractButton()->x(), -32);
  QImage without = Grab();
  EXPECT_EQ(without.copy(plotArea), chart->CacheImage().copy(plotArea));

  // Back in view: the buttons follow, centred on the line.
  cursor->SetPosition(1000);
  EXPECT_EQ(cursor->ExpandButton()->x(), cursor->WindowX() - 12);
}

TEST_F(StripChartTest, MovingACursorNeverRedrawsTheCurves) {
  Grab();
  const int renders = chart->CacheRenderCount();
  int changes = 0;
  QObject::connect(chart->Cursors(0), &TStripCursor::OnChange, [&](TStripCursor*) { ++changes; });
  for (int i = 0; i < 20; ++i) {
    chart->Cursors(0)->SetPosition(8000 + 37 * i);
    chart->repaint();
  }
  EXPECT_EQ(chart->CacheRenderCount(), renders);
  EXPECT_EQ(changes, 19);  // the first position was the current one
  // A drawn cursor is erased where it was.
  QImage shot = Grab();
  const QRect p = Plot();
  long long oldX = chart->XToPixel(8.0) - chart->XStartPixel() + p.left();
  EXPECT_EQ(shot.copy(QRect(int(oldX), p.top(), 1, p.height())),
            chart->CacheImage().copy(QRect(int(oldX), p.top(), 1, p.height())));
}

TEST_F(StripChartTest, CursorButtonsZoomAroundTheCursor) {
  TStripCursor* cursor = chart->Cursors(0);
  const long long x0 = cursor->WindowX();
  const double u0 = chart->XScale();
  Click(cursor->ExpandButton());
  EXPECT_NEAR(chart->XScale(), u0 / 1.3, u0 * 1e-12);
  EXPECT_NEAR(double(cursor->WindowX()), double(x0), 1);
  Click(cursor->ContractButton());
  EXPECT_NEAR(chart->XScale(), u0, u0 * 1e-12);
  EXPECT_NEAR(double(cursor->WindowX()), double(x0), 1);
}

TEST_F(StripChartTest, CtrlOnACursorButtonZoomsOnlyWhileHeld) {
  TStripCursor* cursor = chart->Cursors(0);
  chart->ScrollTo(200, true);
  const double u0 = chart->XScale();
  const long long start0 = chart->XStartPixel();
  const long long x0 = cursor->WindowX();
  QPoint centre = cursor->ExpandButton()->rect().center();

  Press(cursor->ExpandButton(), centre, Qt::ControlModifier);
  EXPECT_NEAR(chart->XScale(), 0.003, 1e-15);  // 3 ms per pixel
  EXPECT_NEAR(double(cursor->WindowX()), double(x0), 1);
  Release(cursor->ExpandButton(), centre, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(chart->XScale(), u0);
  EXPECT_EQ(chart->XStartPixel(), start0);

  centre = cursor->ContractButton()->rect().center();
  Press(cursor->ContractButton(), centre, Qt::ControlModifier);
  EXPECT_NEAR(chart->XScale(), 60.0 / Plot().width(), 1e-12);  // full extent
  EXPECT_EQ(chart->XStartPixel(), 0);
  // Released away from the button: restored all the same.
  Release(cursor->ContractButton(), centre + QPoint(300, 200), Qt::NoModifier);
  EXPECT_DOUBLE_EQ(chart->XScale(), u0);
  EXPECT_EQ(chart->XStartPixel(), start0);
}

TEST_F(StripChartTest, DraggingScrollsAndAClickAfterADragIsNoClick) {
  int clicks = 0;
  QObject::connect(chart.get(), &TKelStripChart::OnClick, [&](QPoint) { ++clicks; });
  const QRect p = Plot();
  QPoint at(p.center().x(), rear->Rect().center().y());
  chart->ScrollTo(1000, true);
  Press(chart.get(), at);
  DragTo(chart.get(), at + QPoint(-3, 0));  // within the 4 px dead zone
  EXPECT_EQ(chart->XStartPixel(), 1000);
  DragTo(chart.get(), at + QPoint(-100, 0));
  EXPECT_EQ(chart->XStartPixel(), 1100);
  DragTo(chart.get(), at + QPoint(250, 0));
  EXPECT_EQ(chart->XStartPixel(), 750);
  Release(chart.get(), at + QPoint(250, 0));
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(chart->ScrollBar()->value(), 750 / chart->ScrollDivisor());

  Press(chart.get(), at);
  Release(chart.get(), at);
  EXPECT_EQ(clicks, 1);

  // Without mouse scrolling the drag moves nothing and the click still counts.
  chart->SetScrollWithMouse(false);
  Press(chart.get(), at);
  DragTo(chart.get(), at + QPoint(-100, 0));
  Release(chart.get(), at + QPoint(-100, 0));
  EXPECT_EQ(chart->XStartPixel(), 750);
  EXPECT_EQ(clicks, 2);
}

TEST_F(StripChartTest, CtrlDragSlidesOnlyMovableCurves) {
  TStripPlot* overlay = rear->AddPlot();
  overlay->SetValues(Travel(30000, 2.0), 0.002);
  overlay->SetMovable(true);
  const QRect p = Plot();
  QPoint at(p.center().x(), rear->Rect().center().y());
  const long long start = chart->XStartPixel();
  Press(chart.get(), at, Qt::ControlModifier);
  DragTo(chart.get(), at + QPoint(71, 0), Qt::ControlModifier);
  Release(chart.get(), at + QPoint(71, 0), Qt::ControlModifier);
  // 71 px to the right: the curve moves by round(71 / pixels per sample) samples.
  int expected = -int(std::lround(71.0 / (chart->PixelsPerUnit() * 0.002)));
  EXPECT_EQ(overlay->Offset(), expected);
  EXPECT_EQ(rear->Plots(0)->Offset(), 0);
  EXPECT_EQ(chart->XStartPixel(), start);
  // The slid curve's sample 1000 is now drawn where sample 1000 - offset was.
  EXPECT_NEAR(overlay->XOfSample(1000), (1000 - expected) * 0.002, 1e-9);
}

TEST_F(StripChartTest, DraggingABandEdgeResizesTheBands) {
  int resized = 0;
  QObject::connect(chart.get(), &TKelStripChart::OnResizeChannels, [&] { ++resized; });
  const int edge = front->Rect().bottom();
  const int oldRearHeight = rear->Rect().height();
  const int bottom = accel->Rect().bottom();
  QPoint at(Plot().center().x(), edge);
  EXPECT_EQ(chart->BandEdgeAt(at), 0);
  EXPECT_EQ(chart->BandEdgeAt(at + QPoint(0, 1)), 0);
  EXPECT_EQ(chart->BandEdgeAt(at + QPoint(0, 3)), -1);
  EXPECT_EQ(chart->BandEdgeAt(QPoint(40, edge)), -1);                     // in the scale margin
  EXPECT_EQ(chart->BandEdgeAt(QPoint(Plot().center().x(), bottom)), -1);  // last band
  Mouse(chart.get(), QEvent::MouseMove, at, Qt::NoButton);
  EXPECT_EQ(chart->cursor().shape(), Qt::SplitVCursor);

  Press(chart.get(), at);
  DragTo(chart.get(), at + QPoint(0, 40));
  Release(chart.get(), at + QPoint(0, 40));
  EXPECT_EQ(resized, 1);
  EXPECT_NEAR(front->Rect().bottom(), edge + 40, 1);
  EXPECT_LT(rear->Rect().height(), oldRearHeight);
  EXPECT_NEAR(rear->Rect().height(), accel->Rect().height(), 1);
  EXPECT_EQ(accel->Rect().bottom(), bottom);
  EXPECT_GT(front->Weight(), rear->Weight());
  // The axis ticks follow the new height.
  EXPECT_EQ(front->Plots(0)->Axis().Height(), front->Rect().height());
}

TEST_F(StripChartTest, ScrollBarStepsAndTheDivisorForLongCurves) {
  QScrollBar* bar = chart->ScrollBar();
  const int client = chart->ClientRect().width();
  chart->ScrollTo(0, true);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(chart->XStartPixel(), client / 20 + 1);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(chart->XStartPixel(), client / 20 + 1 + client - client / 20);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(chart->XStartPixel(), 0);

  // An hour at 10 px per second: the extent needs a divisor; the end is still reachable.
  rear->Plots(0)->SetValues(std::vector<float>(1800000, 50.0f), 0.002);
  chart->SetXScale(0.1);
  EXPECT_EQ(chart->Extent(), 36000);
  EXPECT_EQ(chart->ScrollDivisor(), 2);
  EXPECT_LE(bar->maximum(), 32767);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_GE(chart->XStartPixel() + Plot().width(), chart->Extent());
  EXPECT_EQ(chart->TimeStep().Step, 10);
}

TEST_F(StripChartTest, ScrollingTheCachedImageMatchesDrawingItAnew) {
  // Steps of every size, so that labels, grid dots, bookmark tabs, highlights and curve
  // strokes cross both plot edges; after each step the shifted picture must equal a fresh one.
  const long long steps[] = {137, -59, 3, 800, -1, 41, 95, -230, 17, 60, 61, 62, -7, 33, 1, 2};
  for (double unitsPerPixel : {30.0 / Plot().width(), 0.0005}) {  // columns, then samples
    chart->SetXScale(unitsPerPixel);
    chart->ScrollTo(unitsPerPixel > 0.001 ? 200 : 40000, true);
    Grab();
    for (long long d : steps) {
      chart->ScrollTo(chart->XStartPixel() + d, true);
      chart->repaint();
      QImage scrolled = chart->CacheImage().copy();
      chart->InvalidateAll();
      chart->repaint();
      const QImage& fresh = chart->CacheImage();
      int differing = 0;
      QPoint firstDiffering;
      for (int y = 0; y < fresh.height(); ++y)
        for (int x = 0; x < fresh.width(); ++x)
          if (scrolled.pixel(x, y) != fresh.pixel(x, y) && differing++ == 0)
            firstDiffering = QPoint(x, y);
      ASSERT_EQ(differing, 0) << "units per pixel " << unitsPerPixel << ", step " << d << ", start "
                              << chart->XStartPixel();
    }
  }
}

TEST_F(StripChartTest, ColumnsComputedOnTwoThreadsDrawTheSamePicture) {
  auto draw = [&](double parallelFrom) {
    chart->SetParallelColumnsFrom(parallelFrom);
    // Setting the ranges again makes every curve compute its pixel columns anew.
    front->Plots(0)->SetRange(0, 100, 0);
    rear->Plots(0)->SetRange(0, 100, 0);
    accel->Plots(0)->SetRange(0, 3, -1);
    chart->InvalidateAll();
    chart->repaint();
    return chart->CacheImage().copy();
  };
  // At the full extent and at 30 s across, every curve has many samples per pixel column.
  for (bool full : {true, false}) {
    if (full)
      chart->ShowFullExtent();
    else
      chart->ScrollTo(1234, true);
    for (int round = 0; round < 5; ++round) {
      const QImage serial = draw(std::numeric_limits<double>::infinity());
      const QImage parallel = draw(0);
      ASSERT_TRUE(serial == parallel)
          << (full ? "full extent" : "30 s across") << ", round " << round;
    }
  }
}

TEST_F(StripChartTest, DoubleClicksShowTheFullExtentOrTheChosenScale) {
  chart->ScrollTo(700, true);
  QPoint bar(300, 10);
  Mouse(chart->TopToolBarWidget(), QEvent::MouseButtonDblClick, bar, Qt::LeftButton);
  EXPECT_NEAR(chart->XScale(), 60.0 / Plot().width(), 1e-12);
  EXPECT_EQ(chart->XStartPixel(), 0);

  chart->SetDblClickXUnitsPerPixel(0.002);
  QPoint at(Plot().left() + 400, rear->Rect().center().y());
  const double x = XAt(at.x());
  Mouse(chart.get(), QEvent::MouseButtonDblClick, at, Qt::LeftButton);
  EXPECT_DOUBLE_EQ(chart->XScale(), 0.002);
  EXPECT_NEAR(XAt(at.x()), x, 0.002);
}

TEST_F(StripChartTest, BookmarkHintsNearTheirTabs) {
  chart->SetHint("Chart");
  const QRect p = Plot();
  int bx = int(chart->XToPixel(12.0) - chart->XStartPixel() + p.left());
  EXPECT_EQ(chart->HintAt(QPoint(bx + 3, p.top() + 5)), "Time mark #1\r12.00");
  EXPECT_EQ(chart->HintAt(QPoint(bx - 6, p.bottom() - 5)), "Time mark #1\r12.00");
  EXPECT_EQ(chart->HintAt(QPoint(bx, p.center().y())), "Chart");
  EXPECT_EQ(chart->HintAt(QPoint(bx + 20, p.top() + 5)), "Chart");
  chart->ClearBookmarks();
  EXPECT_EQ(chart->HintAt(QPoint(bx, p.top() + 5)), "Chart");
}

TEST_F(StripChartTest, CursorMovingOutOfViewScrollsBackWithItsMargin) {
  TStripCursor* cursor = chart->Cursors(1);
  cursor->SetScrollMargins(0, 0.2);
  chart->ScrollTo(0, true);
  cursor->SetPosition(45000);  // 45 s, beyond the 30 s in view
  const QRect p = Plot();
  EXPECT_NEAR(double(cursor->WindowX() - p.left()), p.width() - 1 - 0.2 * p.width(), 1);
  cursor->SetPosition(100);
  EXPECT_EQ(cursor->WindowX(), p.left());
}

TEST_F(StripChartTest, IndicesScalesAndGuards) {
  EXPECT_EQ(chart->Channels(-1), nullptr);
  EXPECT_EQ(chart->Channels(3), nullptr);
  EXPECT_EQ(chart->Cursors(5), nullptr);
  EXPECT_EQ(front->Plots(1), nullptr);
  EXPECT_EQ(chart->SampleCount(), 60000);
  EXPECT_DOUBLE_EQ(chart->XValueOf(1500), 1.5);
  chart->ScrollTo(0, true);
  EXPECT_EQ(chart->PixelToIndex(-500), 0);
  EXPECT_EQ(chart->PixelToIndex(100000000), 59999);
  EXPECT_EQ(chart->PixelToIndex(Plot().width()),
            int(std::lround(30000.0 * Plot().width() / Plot().width())));
  chart->Cursors(0)->SetPositionX(12.3456);
  EXPECT_EQ(chart->Cursors(0)->Position(), 12346);

  chart->SetXScale(0.1);
  EXPECT_EQ(chart->TimeStep().Step, 10);
  chart->SetXScale(1);
  EXPECT_EQ(chart->TimeStep().Step, 120);
  chart->SetXScale(100);
  EXPECT_EQ(chart->TimeStep().Step, 18000);
  chart->SetXScale(0);  // below 1e-20: one pixel per unit
  EXPECT_DOUBLE_EQ(chart->PixelsPerUnit(), 1);

  chart->MoveChannel(2, 0);
  EXPECT_EQ(chart->Channels(0), accel);
  EXPECT_EQ(accel->Rect().top(), Plot().top());
  chart->MoveChannel(0, 7);  // out of range: nothing
  EXPECT_EQ(chart->Channels(0), accel);
  chart->DeleteChannel(0);
  EXPECT_EQ(chart->ChannelCount(), 2);
  EXPECT_EQ(chart->SampleCount(), 60000);  // the travel curves still span 60 s

  TKelStripChart empty;
  empty.resize(400, 300);
  empty.ScrollTo(500, true);
  EXPECT_EQ(empty.XStartPixel(), 0);
  EXPECT_EQ(empty.PixelToIndex(10), 0);
  empty.ShowFullExtent();
}

TEST_F(StripChartTest, ExplicitXValuesResetTheViewAndDrawUnevenSamples) {
  chart->ScrollTo(900, true);
  std::vector<double> xs(20000);
  for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = double(i) * 0.003 + (i % 2) * 0.001;
  std::vector<float> v(xs.size());
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = float(50 + 40 * std::sin(double(i) * 0.01));
  chart->BeginUpdate();
  chart->SetXValues(xs);
  rear->Plots(0)->SetExplicitValues(v);
  chart->EndUpdate();
  EXPECT_EQ(chart->XStartPixel(), 0);
  EXPECT_EQ(chart->Cursors(0)->Position(), -1);
  EXPECT_EQ(chart->Cursors(1)->Position(), -1);
  EXPECT_EQ(chart->SampleCount(), 20000);
  QImage shot = Grab();  // fewer than one sample per pixel: drawn as columns, no failure
  EXPECT_TRUE(HasColour(shot, rear->Rect().adjusted(1, 1, -1, -1), qRgb(0, 255, 0)));
  chart->Cursors(0)->SetPositionX(0.0035);
  EXPECT_EQ(chart->Cursors(0)->Position(), 1);  // x[1] = 0.004 is the first at or beyond
  chart->ScrollTo(0, true);
  EXPECT_EQ(chart->PixelToIndex(0), 0);
  EXPECT_EQ(chart->PixelToIndex(100000000), 19999);
  // Ctrl on the expand button: three pixels per sample of the explicit x span.
  chart->Cursors(0)->SetPosition(1000);
  Press(chart->Cursors(0)->ExpandButton(), {5, 5}, Qt::ControlModifier);
  EXPECT_NEAR(chart->XScale(), (xs.back() - xs.front()) / (3.0 * 20000), 1e-12);
  Release(chart->Cursors(0)->ExpandButton(), {5, 5}, Qt::ControlModifier);
}

}  // namespace
}  // namespace qvl
