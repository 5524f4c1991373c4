// The I/O monitor on the offscreen platform, opened from the main window against the simulated
// logger: live values in both modes, the digital panel, both probes, a probe that times out,
// and the settings it leaves.
#include "tool/forms/monitor_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <filesystem>

#include "core/util/ini_file.h"
#include "sim/sim_channel.h"
#include "tool/forms/main_form.h"
#include "tool/io_monitor.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 15000;

using test::ExpectAccessibleNames;
using test::ScreenshotFolder;

// The simulated logger, deaf to the status register probe when asked.
class TProbeDeafLink : public ICommChannel {
 public:
  std::shared_ptr<sim::TSimChannel> inner = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  std::atomic<bool> deafToProbe{false};

  TCommImplementor GetImplementor() override { return inner->GetImplementor(); }
  bool IsOpen() override { return inner->IsOpen(); }
  void SetActive(bool active) override { inner->SetActive(active); }
  int InCount() override { return inner->InCount(); }
  std::string GetPortName() override { return inner->GetPortName(); }
  void SetPortName(const std::string& name) override { inner->SetPortName(name); }
  int GetSpare() override { return inner->GetSpare(); }
  int GetTimeOut() override { return inner->GetTimeOut(); }
  std::string GetLastErrorText() override { return inner->GetLastErrorText(); }
  void SetSpare(int spare) override { inner->SetSpare(spare); }
  void SetTimeOut(int ms) override { inner->SetTimeOut(ms); }
  void Read(void* buffer, int count) override { inner->Read(buffer, count); }
  std::string ReadString() override { return inner->ReadString(); }
  void Write(const void* buffer, int count, bool flush) override {
    // The probe writes 0x44 and its request byte at once; commands write their byte alone.
    if (deafToProbe && count == 2 && static_cast<const uint8_t*>(buffer)[0] == 0x44) return;
    inner->Write(buffer, count, flush);
  }
  void Open(const std::string& name, const std::string& settings, int bufferSize,
            int parameter) override {
    inner->Open(name, settings, bufferSize, parameter);
  }
};

struct TMonitorFixture {
  std::string folder;
  QStringList errors;
  TToolOptions options;
  std::function<void()> onError;

  TMonitorFixture(const std::string& name, TCommChannelPtr link) {
    test::WindowTestApp();
    auto dir = std::filesystem::temp_directory_path() /
               ("qvl-monitor-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    folder = dir.string();
    options.settingsFile = folder + "/QVL2Pro.ini";
    options.link = std::move(link);
    options.listSerialPorts = [] { return std::vector<std::string>{}; };
    options.showMessage = [this](const QString& text, bool) {
      errors << text;
      if (onError) onError();
    };
  }
};

bool WaitPolls(TfrmEcu1& w, size_t polls) {
  const size_t target = w.LiveRecord().Count() + polls;
  return QTest::qWaitFor([&] { return w.LiveRecord().Count() >= target; }, kWaitMs);
}

TfrmMonitor1* OpenMonitor(TfrmEcu1& w) {
  auto* action = w.findChild<QAction*>("IOTests1");
  if (!action || !action->isEnabled()) return nullptr;
  action->trigger();
  return w.Monitor();
}

// Every value label against the controller's inputs, in the modes the buttons show.
void ExpectValuesShown(TfrmEcu1& w, TfrmMonitor1* m, const std::array<bool, 4>& absolute) {
  for (const TMonitorInput& in : kMonitorInputs) {
    const QString prefix =
        QString(MonitorGroupTitle(in.group)).trimmed().replace(" Analog Inputs", "");
    QLabel* value = test::FindNamed<QLabel>(m, prefix + " " + in.label);
    ASSERT_TRUE(value) << in.label;
    EXPECT_EQ(
        value->text().toStdString(),
        MonitorValueText(in.scale, w.Controller().RawValue(in.input), absolute[size_t(in.group)]))
        << in.label;
  }
}

TEST(MonitorWindow, ShowsTheInputsLiveInBothModesProbesAndKeepsItsSettings) {
  auto link = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  TMonitorFixture f("live", link);
  {
    TfrmEcu1 w(f.options);
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Controller().Connected(); }, kWaitMs));
    TfrmMonitor1* m = OpenMonitor(w);
    ASSERT_TRUE(m);
    EXPECT_EQ(OpenMonitor(w), m);  // one instance
    EXPECT_EQ(m->windowTitle(), "QVL2Pro - I/O Tests");
    ExpectAccessibleNames(m);
    EXPECT_TRUE(test::FindNamed<QLabel>(m, "QVL not connected")->isHidden());
    ASSERT_TRUE(WaitPolls(w, 1));
    ExpectValuesShown(w, m, {false, false, false, false});
    EXPECT_EQ(test::FindNamed<QLabel>(m, "AN0")->toolTip(), "Pin J1-3\nUsed for Front travel");
    // A 3.3 V label describes the input whose value it shows.
    EXPECT_EQ(test::FindNamed<QLabel>(m, "3.3V AN1")->toolTip(), "Pin J3-3\nNot used");

    // Live: the front potentiometer moves with the ride.
    QLabel* an0 = test::FindNamed<QLabel>(m, "5V AN0");
    const QString before = an0->text();
    ASSERT_TRUE(QTest::qWaitFor([&] { return an0->text() != before; }, kWaitMs));

    auto* volts5 = test::FindNamed<QGroupBox>(m, "5V Analog Inputs");
    auto* lsm = test::FindNamed<QGroupBox>(m, "LSM303");
    test::FindNamed<QRadioButton>(volts5, "absolute")->click();
    test::FindNamed<QRadioButton>(lsm, "absolute")->click();
    ExpectValuesShown(w, m, {true, false, false, true});
    ASSERT_TRUE(WaitPolls(w, 1));
    ExpectValuesShown(w, m, {true, false, false, true});

    // A click on a group box shows and hides the digital panel.
    auto* panel = m->findChild<QFrame*>("pnlDigital");
    EXPECT_TRUE(panel->isHidden());
    QTest::mouseClick(test::FindNamed<QGroupBox>(m, "ADXL"), Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(test::FindNamed<QLabel>(m, "Battery (V) value")->text().toStdString(),
              MonitorValueText(kMonitorBattery.scale, w.Controller().RawValue(8), false));

    // The probes.
    QTest::mouseClick(panel, Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(link->Logger().CommandCount(0x7E), 1);
    const QString bits = test::FindNamed<QLabel>(m, "Digital inputs")->text();
    EXPECT_TRUE(QRegularExpression("^[01]{8}$").match(bits).hasMatch()) << bits.toStdString();
    QLabel* fsr = test::FindNamed<QLabel>(m, "FSR value");
    QTest::mouseClick(fsr, Qt::LeftButton);
    EXPECT_EQ(fsr->text(), "A5");
    QTest::mouseClick(fsr, Qt::RightButton);
    EXPECT_EQ(fsr->text(), "5A");
    EXPECT_FALSE(w.Controller().PollingPaused());
    ASSERT_TRUE(WaitPolls(w, 2));
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("; ").toStdString();

    m->grab().save(test::ScreenshotFolder() + "/qvl2pro_io_tests.png");
    QPixmap shot = m->grab();
    shot.scaled(shot.size() * 2).save(test::ScreenshotFolder() + "/qvl2pro_io_tests_2x.png");

    QTest::mouseClick(volts5, Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_TRUE(panel->isHidden());
    m->move(100, 50);
    m->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Monitor() == nullptr; }, kWaitMs));
    w.close();
  }
  TIniFile ini(f.options.settingsFile);
  EXPECT_TRUE(ini.ReadBool("AnInputs", "Absolute5", false));
  EXPECT_TRUE(ini.ReadBool("AnInputs", "AbsoluteLSM", false));
  EXPECT_FALSE(ini.ReadBool("AnInputs", "Absolute3", true));
  EXPECT_EQ(ini.ReadInteger("Monitor1", "Position", 0), 6553650);

  // Opened again, it comes back where it was, in the stored modes.
  TfrmEcu1 again(f.options);
  TfrmMonitor1* m = OpenMonitor(again);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->pos(), QPoint(100, 50));
  EXPECT_TRUE(
      test::FindNamed<QRadioButton>(test::FindNamed<QGroupBox>(m, "5V Analog Inputs"), "absolute")
          ->isChecked());
  EXPECT_FALSE(test::FindNamed<QRadioButton>(test::FindNamed<QGroupBox>(m, "ADXL"), "absolute")
                   ->isChecked());
}

TEST(MonitorWindow, AProbeThatTimesOutShowsTheLinkErrorAfterPollingResumed) {
  auto link = std::make_shared<TProbeDeafLink>();
  TMonitorFixture f("timeout", link);
  TfrmEcu1 w(f.options);
  int pausedAtError = -1;
  f.onError = [&] { pausedAtError = w.Controller().PollingPaused() ? 1 : 0; };
  // Not connected yet: the window says so.
  TfrmMonitor1* m = OpenMonitor(w);
  ASSERT_TRUE(m);
  EXPECT_FALSE(test::FindNamed<QLabel>(m, "QVL not connected")->isHidden());
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Controller().Connected(); }, kWaitMs));
  EXPECT_TRUE(test::FindNamed<QLabel>(m, "QVL not connected")->isHidden());

  link->deafToProbe = true;
  QLabel* fsr = test::FindNamed<QLabel>(m, "FSR value");
  QTest::mouseClick(fsr, Qt::LeftButton);
  ASSERT_EQ(f.errors.size(), 1);
  EXPECT_EQ(f.errors[0].toStdString(), link->GetLastErrorText());
  EXPECT_EQ(f.errors[0], "Time out on sim");
  EXPECT_EQ(pausedAtError, 0);
  EXPECT_TRUE(fsr->text().isEmpty());
  link->deafToProbe = false;
  ASSERT_TRUE(WaitPolls(w, 2));
  QTest::mouseClick(fsr, Qt::LeftButton);
  EXPECT_EQ(fsr->text(), "A5");

  // A logger of another type closes the monitor.
  w.Controller().SetControllerType(3);
  w.Controller().Changed(kChangeConfiguration);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Monitor() == nullptr; }, kWaitMs));
}

}  // namespace
}  // namespace qvl
