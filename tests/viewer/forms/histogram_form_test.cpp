// The histogram window over a simulated ride: the same bins, series and labels as
// `qvl histogram --json` for the strip and the range in view, Finer and Coarser, a bad bin size,
// the count mode, the stored discard choice, mouse zoom, and a screenshot over an hour's ride.
#include "viewer/forms/histogram_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <cstdio>
#include <regex>

#include "core/util/ini_file.h"
#include "test_paths.h"
#include "viewer/chart_binding.h"
#include "viewer/run_display.h"
#include "viewer/stripchart/strip_chart.h"
#include "window_test_support.h"

namespace qvl {
namespace {

std::string Ride(int seconds) {
  const std::string path = ::testing::TempDir() + "/histogram_ride_" + std::to_string(seconds) +
                           "_" + std::to_string(::getpid()) + ".QVLog";
  test::Shell(test::BinDir() + "/qvl sim record -o " + path + " --seconds " +
              std::to_string(seconds));
  return path;
}

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> v;
  static const std::regex number(R"(-?[0-9][0-9.eE+-]*)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), number);
       it != std::sregex_iterator(); ++it)
    v.push_back(std::stod(it->str()));
  return v;
}

// The text between `"key": [` and its closing bracket.
std::string JsonArray(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\": [");
  EXPECT_NE(at, std::string::npos) << key;
  if (at == std::string::npos) return {};
  size_t depth = 0, i = json.find('[', at);
  const size_t start = i;
  for (; i < json.size(); ++i) {
    if (json[i] == '[') ++depth;
    if (json[i] == ']' && --depth == 0) break;
  }
  return json.substr(start + 1, i - start - 1);
}

std::string JsonString(const std::string& json, const std::string& key) {
  std::smatch m;
  std::regex re("\"" + key + "\": \"([^\"]*)\"");
  return std::regex_search(json, m, re) ? m[1].str() : "<" + key + " missing>";
}

// A ride displayed with front travel (20 ms smoothing) in a chart showing all of it.
struct TShownRide {
  TRunDisplay display;
  TKelStripChart chart;
  std::string spec;
  explicit TShownRide(const std::string& path) {
    OpenLogFile(display.MainSlot(), path);
    TStrip strip;
    strip.main.channel = kParamFrontTravel;
    strip.main.unit = uint8_t(FirstUnit(kParamFrontTravel));
    strip.main.smoothing = 20;
    display.SetStrips({strip});
    display.DisplaySelection(0);
    chart.resize(1000, 500);
    ShowRunDisplay(chart, display);
    spec =
        "'Front travel:" + EntryUnitText(strip.main, display.MainSlot().controller.get()) + ":20'";
  }
};

TEST(HistogramForm, ShowsWhatQvlHistogramComputesAndStepsItsBins) {
  test::WindowTestApp();
  const std::string path = Ride(30);
  TShownRide ride(path);
  TIniFile settings;
  bool mainShown = false;
  TfrmHistogram form(&settings, [&] { mainShown = true; });
  form.Fill(ride.display, ride.chart, 0);
  EXPECT_EQ(form.RangeStart(), 0);
  EXPECT_EQ(form.RangeEnd(), ride.display.SampleCount() - 1) << "the whole ride is in view";

  const std::string json = test::Shell(test::BinDir() + "/qvl histogram " + path +
                                       " --run 0 --strip " + ride.spec + " --json");
  const THistogram& h = form.Histogram();
  std::vector<double> counts(h.counts.begin(), h.counts.end());
  EXPECT_EQ(counts, Numbers(JsonArray(json, "counts")));
  std::vector<double> series;
  for (const THistogramPoint& p : h.series) series.insert(series.end(), {p.x, p.y});
  const std::vector<double> expected = Numbers(JsonArray(json, "series"));
  ASSERT_EQ(series.size(), expected.size());
  for (size_t i = 0; i < series.size(); ++i) EXPECT_NEAR(series[i], expected[i], 1e-9) << i;
  // The drawn outline holds each bin's value across its width.
  const QList<QPointF> outline = form.Outline()->points();
  ASSERT_EQ(outline.size(), qsizetype(2 * h.binCount + 1));
  EXPECT_DOUBLE_EQ(outline[3].x(), h.series[2].x);
  EXPECT_DOUBLE_EQ(outline[3].y(), h.series[1].y);

  auto label = [&](const char* name) {
    return form.findChild<QLabel*>(name)->text().toStdString();
  };
  EXPECT_EQ(label("lblAverage"), JsonString(json, "average"));
  EXPECT_EQ(label("lblMedian"), JsonString(json, "median"));
  EXPECT_EQ(label("lblSamples"), JsonString(json, "samples"));
  EXPECT_EQ(label("lblSmoothing"), JsonString(json, "smoothing"));
  EXPECT_EQ(label("lblFrom"), JsonString(json, "from"));
  EXPECT_EQ(label("lblTo"), JsonString(json, "to"));
  EXPECT_EQ(label("lblSession"), "Session\n1/1");
  EXPECT_EQ(label("lblRun"), "Run \n1/1");
  EXPECT_EQ(form.BinSizeAction()->text().toStdString(), JsonString(json, "bin_size"));
  EXPECT_EQ(form.windowTitle().toStdString(),
            "Histogram - " + ride.display.Chart().strips[0].title);
  EXPECT_EQ(form.BottomAxis()->titleText().toStdString(), ride.display.Chart().strips[0].title);
  EXPECT_EQ(form.LeftAxis()->titleText(), "Probability %");

  // Finer and Coarser step the bin count; every value stays counted.
  form.findChild<QAction*>("actSmoother")->trigger();
  EXPECT_EQ(form.Histogram().binCount, 30);
  form.Coarser();
  form.Coarser();
  EXPECT_EQ(form.Histogram().binCount, 15);
  int64_t total = 0;
  for (int32_t c : form.Histogram().counts) total += c;
  EXPECT_EQ(total, form.Histogram().used);

  // A bad bin size is reported and changes nothing; a good one switches to fixed widths.
  const std::vector<int32_t> before = form.Histogram().counts;
  test::TMessageBoxAnswer box;
  box.Arm();
  EXPECT_FALSE(form.SetBinSizeText("2,5x"));
  EXPECT_EQ(box.text, "'2,5x' is not a valid floating point value");
  EXPECT_EQ(form.Histogram().counts, before);
  EXPECT_FALSE(form.FixedWidth());
  EXPECT_TRUE(form.SetBinSizeText("5"));
  EXPECT_TRUE(form.FixedWidth());
  EXPECT_EQ(form.Histogram().width, 5);
  EXPECT_EQ(std::fmod(form.Histogram().start, 5.0), 0.0) << "travel lies on one side of zero";

  // Counts instead of per cent.
  form.findChild<QRadioButton*>("rbCount")->click();
  EXPECT_EQ(form.LeftAxis()->titleText(), "Count");
  EXPECT_EQ(form.Histogram().series[0].y, form.Histogram().counts[0]);

  // The discard choice is stored, and a new window starts with it.
  form.findChild<QCheckBox*>("cbDiscardFirst")->click();
  EXPECT_TRUE(settings.ReadBool("Histograms", "DiscardFirstSlot", false));
  EXPECT_GT(form.Histogram().discarded, 0);
  TfrmHistogram second(&settings, nullptr);
  EXPECT_TRUE(second.findChild<QCheckBox*>("cbDiscardFirst")->isChecked());

  form.findChild<QAction*>("actMainWindow")->trigger();
  EXPECT_TRUE(mainShown);
}

TEST(HistogramForm, MouseZoomsIntoADraggedRectangleAndBackAndClosesTheHints) {
  test::WindowTestApp();
  TShownRide ride(Ride(15));
  TfrmHistogram form(nullptr, nullptr);
  form.Fill(ride.display, ride.chart, 0);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QValueAxis* x = form.BottomAxis();
  const double fullWidth = x->max() - x->min();
  form.findChild<QPushButton*>("btnHints")->click();
  EXPECT_TRUE(form.HintMemo()->isVisible());
  EXPECT_TRUE(form.HintMemo()->toPlainText().startsWith("Mouse actions in graphics area:"));

  QWidget* view = form.ChartView()->viewport();
  const QRect plot = form.HistogramChart()->plotArea().toRect();
  const QPoint a = plot.topLeft() + QPoint(plot.width() / 4, 10);
  const QPoint b = a + QPoint(plot.width() / 4, plot.height() / 2);
  QTest::mousePress(view, Qt::LeftButton, {}, a);
  EXPECT_FALSE(form.HintMemo()->isVisible()) << "a press on the chart closes the hints";
  QTest::mouseMove(view, b);
  QTest::mouseRelease(view, Qt::LeftButton, {}, b);
  EXPECT_LT(x->max() - x->min(), fullWidth * 0.5) << "zoomed into the dragged part";
  QTest::mousePress(view, Qt::LeftButton, {}, b);
  QTest::mouseMove(view, a);
  QTest::mouseRelease(view, Qt::LeftButton, {}, a);
  EXPECT_NEAR(x->max() - x->min(), fullWidth, fullWidth * 1e-9) << "dragged back: all of it";
}

TEST(HistogramForm, ScreenshotOfFrontTravelOverAnHoursRide) {
  test::WindowTestApp();
  TShownRide ride(Ride(3600));
  TfrmHistogram form(nullptr, nullptr);
  form.Fill(ride.display, ride.chart, 0);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.Histogram().used, ride.display.Chart().strips[0].Curve(0, 0).Values().size());
  QDir dir(QString::fromStdString(test::BinDir()) + "/../screenshots");
  dir.mkpath(".");
  EXPECT_TRUE(form.grab().save(dir.filePath("viewer_histogram_front_travel.png")));
}

}  // namespace
}  // namespace qvl
