// stripchart-demo: the strip chart filled with a synthetic ride (front and rear travel,
// vertical acceleration and front wheel speed, 20 minutes at 1 kHz) to try zooming,
// scrolling, cursors, bookmarks and the band buttons.
//
// A click in the chart puts the cursor there; the status line shows its time and values.
//   stripchart-demo [--screenshot FILE.png]   (with the option: save a picture and quit)
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "viewer/stripchart/strip_chart.h"
#include "viewer/stripchart/time_axis.h"

namespace {

using namespace qvl;

constexpr double kSeconds = 1200;
constexpr int kRate = 1000;

struct TRide {
  std::vector<float> Front, Rear;  // travel in %, every 2 ms
  std::vector<float> Vertical;     // g, every ms
  std::vector<float> Speed;        // km/h, every 10 ms
  TChannelHighlights FrontBottoming, RearBottoming, WheelLock;
  std::vector<double> Marks;
};

// Travel of a suspension over rough ground: sag, terrain bumps of varied size, landings that
// sometimes bottom out, and slower pumping in the turns.
TRide MakeRide() {
  TRide r;
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> u(0, 1);
  const int n2 = int(kSeconds * kRate / 2);
  r.Front.resize(std::size_t(n2));
  r.Rear.resize(std::size_t(n2));
  double f = 25, rv = 28, fv = 0, rvv = 0;
  int bottomStart[2] = {-1, -1};
  for (int i = 0; i < n2; ++i) {
    double t = i * 0.002;
    double terrain = 8 * std::sin(t * 0.9) + 4 * std::sin(t * 6.1) + 2 * (u(rng) - 0.5);
    double impulse = u(rng) < 0.0015 ? 40 + 50 * u(rng) : 0;
    // Spring-damper response to the ground; the rear takes its own hits.
    fv += -0.02 * (f - 25 - terrain) - 0.08 * fv + impulse * 0.035;
    rvv += -0.018 * (rv - 28 - terrain * 0.9) - 0.07 * rvv;
    if (impulse == 0 && u(rng) < 0.0015) rvv += 1.4 + 1.8 * u(rng);
    f += fv;
    rv += rvv;
    f = std::clamp(f, 0.0, 100.0);
    rv = std::clamp(rv, 0.0, 100.0);
    r.Front[std::size_t(i)] = float(f);
    r.Rear[std::size_t(i)] = float(rv);
    // Bottoming: above 90 % until back below 80 %.
    double travel[2] = {f, rv};
    for (int k = 0; k < 2; ++k) {
      if (bottomStart[k] < 0 && travel[k] > 90) bottomStart[k] = i;
      if (bottomStart[k] >= 0 && travel[k] < 80) {
        THighlight h{bottomStart[k], i - 1, travel[k] > 97 ? 255u : 4227327u,
                     travel[k] > 97 ? 80u : 16448u};
        (k == 0 ? r.FrontBottoming : r.RearBottoming).push_back(h);
        bottomStart[k] = -1;
      }
    }
  }
  const int n1 = int(kSeconds * kRate);
  r.Vertical.resize(std::size_t(n1));
  for (int i = 0; i < n1; ++i) {
    std::size_t j = std::size_t(std::min(i / 2 + 1, n2 - 1));
    double accel = (double(r.Front[j]) - double(r.Front[j - 1])) * 0.4;
    r.Vertical[std::size_t(i)] = float(1 + accel + 0.15 * (u(rng) - 0.5));
  }
  const int n10 = int(kSeconds * kRate / 10);
  r.Speed.resize(std::size_t(n10));
  double speed = 0;
  int lockStart = -1;
  for (int i = 0; i < n10; ++i) {
    double t = i * 0.01;
    double target = 22 + 12 * std::sin(t * 0.05) + 6 * std::sin(t * 0.31);
    bool braking = std::fmod(t, 47) > 44;
    speed += braking ? -0.35 : 0.02 * (target - speed);
    speed = std::max(0.0, speed);
    bool locked = braking && std::fmod(t, 47) > 45.6;
    r.Speed[std::size_t(i)] = float(locked ? 0.0 : speed);
    if (locked && lockStart < 0) lockStart = i;
    if (!locked && lockStart >= 0) {
      r.WheelLock.push_back({lockStart, i - 1, 255, 80});
      lockStart = -1;
    }
  }
  for (double t = 95; t < kSeconds; t += 233) r.Marks.push_back(t);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Strip chart demo"));
  auto* chart = new TKelStripChart(&window);
  window.setCentralWidget(chart);
  auto* status = new QLabel(&window);
  window.statusBar()->addWidget(status, 1);

  const TRide ride = MakeRide();
  chart->BeginUpdate();
  chart->SetSampleInterval(0.001);
  chart->SetHint(QStringLiteral("Drag to scroll, Ctrl+drag slides the rear curve"));

  struct TBand {
    const char* Title;
    const std::vector<float>* Values;
    double Period;
    double Top, Bottom;
    TColor Colour;
    const TChannelHighlights* Highlights;
  };
  const TBand bands[] = {
      {"Front travel (%)", &ride.Front, 0.002, 100, 0, 0x00FFFF, &ride.FrontBottoming},
      {"Rear travel (%)", &ride.Rear, 0.002, 100, 0, 0x00FF00, &ride.RearBottoming},
      {"Vertical accel. (g)", &ride.Vertical, 0.001, 4, -2, 0xFFFF00, nullptr},
      {"Front speed (km/h)", &ride.Speed, 0.01, 60, 0, 0xFF80FF, &ride.WheelLock},
  };
  for (const TBand& b : bands) {
    TStripChannel* channel = chart->AddChannel();
    channel->SetTitle(QString::fromLatin1(b.Title));
    channel->SetDefaultScale(b.Top, b.Bottom);
    channel->Plots(0)->SetValues(*b.Values, b.Period);
    channel->Plots(0)->SetRange(0, b.Top, b.Bottom);
    channel->Plots(0)->SetColour(b.Colour);
    if (b.Highlights) channel->SetHighlights(*b.Highlights);
  }
  // The rear travel again, movable, to compare against the front.
  TStripPlot* slid = chart->Channels(0)->AddPlot();
  slid->SetValues(ride.Rear, 0.002);
  slid->SetColour(0x808080);
  slid->SetMovable(true);
  chart->Channels(2)->SetWeight(0.7f);

  for (std::size_t i = 0; i < ride.Marks.size(); ++i)
    chart->AddBookmark(0xFF0000,
                       QStringLiteral("Time mark #%1\r%2").arg(i + 1).arg(ride.Marks[i], 0, 'f', 2),
                       ride.Marks[i]);
  const int cursorIndex = chart->AddCursor();
  TStripCursor* cursor = chart->Cursors(cursorIndex);
  cursor->SetScrollMargins(0, 0.2);
  chart->Channels(0)->ShowCursorButtons(true, cursorIndex);
  chart->SetDblClickXUnitsPerPixel(0.005);
  chart->EndUpdate();

  QObject::connect(chart, &TKelStripChart::OnClick, chart, [chart, cursor](QPoint pos) {
    QRect plot = chart->PlotRect();
    if (plot.contains(pos)) cursor->SetPosition(chart->PixelToIndex(pos.x() - plot.left()));
  });
  QObject::connect(cursor, &TStripCursor::OnChange, status, [&ride, status](TStripCursor* c) {
    int i = c->Position();
    double t = i * 0.001;
    auto at = [](const std::vector<float>& v, int k) {
      return k >= 0 && std::size_t(k) < v.size() ? double(v[std::size_t(k)]) : 0.0;
    };
    status->setText(QStringLiteral("%1   front %2 %   rear %3 %   %4 g   %5 km/h")
                        .arg(QString::fromStdString(FormatTimeLabel(t, 3)))
                        .arg(at(ride.Front, i / 2), 0, 'f', 1)
                        .arg(at(ride.Rear, i / 2), 0, 'f', 1)
                        .arg(at(ride.Vertical, i), 0, 'f', 2)
                        .arg(at(ride.Speed, i / 10), 0, 'f', 1));
  });

  window.resize(1400, 850);
  window.show();
  chart->SetXScale(60.0 / std::max(1, chart->PlotRect().width()));  // one minute across
  cursor->SetPosition(20000);
  const QStringList args = app.arguments();
  const int shot = int(args.indexOf(QStringLiteral("--screenshot")));
  if (shot >= 0 && shot + 1 < args.size()) {
    QCoreApplication::processEvents();
    return window.grab().save(args[shot + 1]) ? 0 : 1;
  }
  return app.exec();
}
