// The export dialog over a simulated ride: the file it writes equals `qvl export` byte for byte
// for the same choices (whole ride with all strips, the part in view of the selected strip), the
// choices are remembered, Cancel in the save dialog writes nothing, and a file that cannot be
// created is reported and not written.
#include "viewer/forms/export_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "test_paths.h"
#include "viewer/chart_binding.h"
#include "viewer/run_display.h"
#include "viewer/stripchart/strip_chart.h"
#include "window_test_support.h"

namespace qvl {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A folder of the test's own: the save dialog lists the folder it writes into.
std::string Temp(const std::string& name) {
  static const std::string dir = [] {
    auto d =
        std::filesystem::temp_directory_path() / ("qvl-export-form-" + std::to_string(::getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d.string();
  }();
  return dir + "/" + name;
}

// Handles the modal windows that open one after the other, each with its own step.
struct TModalScript {
  std::deque<std::function<void(QWidget*)>> steps;
  int polls = 0;
  void Run() {
    QTimer::singleShot(10, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && !steps.empty() && modal->property("handled").isNull()) {
        modal->setProperty("handled", true);
        // The export dialog is shown again by the next export.
        if (auto* d = qobject_cast<QDialog*>(modal))
          QObject::connect(
              d, &QDialog::finished, d, [d] { d->setProperty("handled", QVariant()); },
              Qt::SingleShotConnection);
        auto step = std::move(steps.front());
        steps.pop_front();
        step(modal);
      }
      if (!steps.empty() && ++polls < 3000) Run();
    });
  }
};

auto ChooseAndOk(int range, int channels) {
  return [=](QWidget* w) {
    auto* d = qobject_cast<TfrmExport*>(w);
    ASSERT_NE(d, nullptr);
    d->findChild<QButtonGroup*>("rgTimeRange")->button(range)->click();
    d->findChild<QButtonGroup*>("rgChannels")->button(channels)->click();
    d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  };
}

// The save dialog's answer.
std::function<QString(const QString&)> SaveAs(const std::string& path) {
  return [=](const QString&) { return QString::fromStdString(path); };
}

struct TShownRide {
  std::string path = Temp("ride.QVLog");
  TRunDisplay display;
  TKelStripChart chart;
  TShownRide() {
    test::Shell(test::BinDir() + "/qvl sim record -o " + path + " --seconds 20");
    OpenLogFile(display.MainSlot(), path);
    TStrip travel, speed;
    travel.main.channel = kParamFrontTravel;
    travel.main.unit = uint8_t(FirstUnit(kParamFrontTravel));
    travel.main.smoothing = 20;
    speed.main.channel = kParamFrontSpeed;
    speed.main.unit = uint8_t(FirstUnit(kParamFrontSpeed));
    display.SetStrips({travel, speed});
    display.DisplaySelection(0);
    chart.resize(900, 500);
    ShowRunDisplay(chart, display);
  }
  std::string Spec(int strip) const {
    const TDisplayEntry& e = display.Strips()[size_t(strip)].main;
    return " --strip '" + ChannelName(e.channel) + ":" +
           EntryUnitText(e, display.MainSlot().controller.get()) + ":" +
           std::to_string(e.smoothing) + "'";
  }
};

TEST(ExportForm, WritesWhatQvlExportWritesForTheSameChoices) {
  test::WindowTestApp();
  TShownRide ride;
  TfrmExport dialog;
  const std::string all = Temp("all.txt"), part = Temp("part.txt");
  TModalScript script;
  dialog.chooseFile = SaveAs(all);
  script.steps = {ChooseAndOk(0, 1)};
  script.Run();
  ASSERT_TRUE(dialog.Execute(ride.display, ride.chart, 1));
  EXPECT_EQ(dialog.windowTitle(), "QVLView - Export");
  EXPECT_EQ(dialog.findChild<QLabel*>("lblChannels")->text(), "2 channels");
  EXPECT_EQ(dialog.findChild<QLabel*>("lblSelected")->text().toStdString(),
            ride.display.Chart().strips[1].title);
  const std::string cliAll = Temp("cli_all.txt");
  test::Shell(test::BinDir() + "/qvl export " + ride.path + " --run 0" + ride.Spec(0) +
              ride.Spec(1) + " -o " + cliAll);
  const std::string text = ReadAll(all);
  EXPECT_TRUE(text == ReadAll(cliAll)) << text.substr(0, 300);
  EXPECT_EQ(text.substr(0, text.find("\r\n")),
            dialog.findChild<QLabel*>("lblWholeRange")->text().toStdString());

  // The part in view of the selected strip; the dialog remembers the choices.
  ride.chart.SetXScale(ride.chart.XScale() / 4);
  ride.chart.SetXStartPixel(300);
  const int first = ride.chart.PixelToIndex(0),
            last = ride.chart.PixelToIndex(ride.chart.PlotRect().width());
  ASSERT_GT(first, 0);
  ASSERT_LT(last, ride.display.SampleCount() - 1);
  dialog.chooseFile = SaveAs(part);
  script.steps = {ChooseAndOk(1, 0)};
  script.Run();
  ASSERT_TRUE(dialog.Execute(ride.display, ride.chart, 1));
  const std::string cliPart = Temp("cli_part.txt");
  test::Shell(test::BinDir() + "/qvl export " + ride.path + " --run 0" + ride.Spec(0) +
              ride.Spec(1) + " --selected 1 --visible " + std::to_string(first) + ":" +
              std::to_string(last) + " -o " + cliPart);
  EXPECT_TRUE(ReadAll(part) == ReadAll(cliPart)) << ReadAll(part).substr(0, 300);
  EXPECT_EQ(dialog.TimeRange(), 1);
  EXPECT_EQ(dialog.Channels(), 0);
}

TEST(ExportForm, CancelWritesNothingAndAFileThatCannotBeCreatedIsReported) {
  test::WindowTestApp();
  TShownRide ride;
  TfrmExport dialog;
  // Cancel in the save dialog.
  TModalScript script;
  dialog.chooseFile = SaveAs("");
  script.steps = {ChooseAndOk(0, 0)};
  script.Run();
  const auto before = std::distance(std::filesystem::directory_iterator(Temp("")),
                                    std::filesystem::directory_iterator());
  EXPECT_FALSE(dialog.Execute(ride.display, ride.chart, 0));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Temp("")),
                          std::filesystem::directory_iterator()),
            before);

  // A folder that cannot hold files: its name is taken by a plain file.
  std::ofstream(Temp("plain")) << "x";
  const std::string bad = Temp("plain") + "/qvl-export-test.txt";
  QString reported;
  dialog.chooseFile = SaveAs(bad);
  script.steps = {ChooseAndOk(0, 0), [&](QWidget* w) {
                    auto* box = qobject_cast<QMessageBox*>(w);
                    ASSERT_NE(box, nullptr);
                    reported = box->text();
                    box->accept();
                  }};
  script.Run();
  EXPECT_FALSE(dialog.Execute(ride.display, ride.chart, 0));
  EXPECT_TRUE(reported.contains("qvl-export-test")) << reported.toStdString();
  EXPECT_FALSE(std::filesystem::exists(bad));
}

}  // namespace
}  // namespace qvl
