// The firmware update window on the offscreen platform against the simulated logger and its
// bootloader: programming a HEX file with the log as the window writes it, a verify failure
// that leaves the logger in its bootloader, programming again, closing refused while
// programming, and the main window pausing polling around the window.
#include "tool/forms/flash_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "../hex_line.h"
#include "core/device/ecu_comm_thread.h"
#include "core/util/ini_file.h"
#include "sim/sim_channel.h"
#include "tool/forms/main_form.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 30000;

// A firmware image touching 11 rows (0 to 9, and 256 behind an extended address).
std::string FirmwareFile() {
  const std::string path = ::testing::TempDir() + "/firmware_window.hex";
  std::ofstream f(path);
  for (int k = 0; k < 80; ++k)
    f << test::HexLine(0, uint16_t(k * 32),
                       {uint8_t(k), uint8_t(k * 7), uint8_t(k * 13), 0, uint8_t(~k), 0x12, 0x34, 0})
      << "\n";
  f << test::HexLine(4, 0, {0x00, 0x01}) << "\n"
    << test::HexLine(0, 0x0100, {0xEF, 0xBE, 0xAD, 0x00}) << "\n"
    << test::HexLine(1, 0, {}) << "\n";
  return path;
}

struct THost {
  std::shared_ptr<sim::TSimChannel> sim;
  TIniFile settings;
  QStringList messages;
  std::unique_ptr<TfrmFlash> window;

  explicit THost(sim::TSimOptions options) {
    test::WindowTestApp();
    sim = std::make_shared<sim::TSimChannel>(options);
    sim->SetTimeOut(500);
    TFlashFormHooks hooks;
    hooks.askFileName = [](const QString&) { return QString::fromStdString(FirmwareFile()); };
    hooks.showMessage = [this](const QString& text, bool) { messages << text; };
    window = std::make_unique<TfrmFlash>(sim, settings, hooks);
    window->show();
  }
  template <typename T>
  T* Find(const char* name) {
    return window->findChild<T*>(name);
  }
  template <typename F>
  auto WithLogger(F f) {
    return test::WithLogger(*sim, f);
  }
  QStringList Log() { return Find<QPlainTextEdit>("memoLog")->toPlainText().split('\n'); }
  // Connect, choose the file, wait until Program may be pressed.
  bool Ready() {
    Find<QPushButton>("btnConnect")->click();
    Find<QPushButton>("btnSelectFile")->click();
    return QTest::qWaitFor([&] { return Find<QPushButton>("btnProgram")->isEnabled(); }, kWaitMs);
  }
  bool Programmed() {
    return QTest::qWaitFor([&] { return !window->Programming(); }, kWaitMs);
  }
};

QStringList Succeeded(const std::string& file, bool fromApplication) {
  QStringList lines;
  if (fromApplication) lines << "Connecting to VRK BootLoader... Done";
  lines << "Programming... Done"
        << "Verifying... Done"
        << "" << QString("Successfully programmed unit with file \"%1\"").arg(file.c_str())
        << "Switching to user application... Done"
        << "";
  return lines;
}

TEST(FirmwareWindow, ProgramsBothBootloaderFamiliesWithTheLogInSequence) {
  for (int family : {1, 2}) {
    SCOPED_TRACE(family);
    sim::TSimOptions options;
    options.bootloaderFamily = family;
    options.bytesPerSecond = 20000;  // programming slow enough to be seen
    THost h(options);
    EXPECT_EQ(h.window->windowTitle(), "QVLPro - Firmware Update");
    ASSERT_TRUE(h.Ready());
    EXPECT_EQ(h.Find<QLabel>("lblStatus")->text(), "QVL R2.11 on sim");
    EXPECT_FALSE(h.Find<QLabel>("lblDeviceId")->isVisible());

    h.Find<QPushButton>("btnProgram")->click();
    EXPECT_TRUE(h.window->Programming());
    EXPECT_FALSE(h.Find<QPushButton>("btnProgram")->isEnabled());
    EXPECT_FALSE(h.Find<QPushButton>("btnConnect")->isEnabled());
    // The window repaints while rows are written; closing waits for the pass.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return h.Find<QProgressBar>("pbProgress")->value() > 0 || !h.window->Programming(); },
        kWaitMs));
    if (h.window->Programming()) {
      EXPECT_TRUE(h.Find<QLabel>("lblProgress")->text().endsWith("..."));
      if (family == 2) {
        EXPECT_TRUE(h.window->grab().save(test::ScreenshotFolder() + "/firmware_programming.png"));
        h.window->resize(h.window->size() * 2);
        EXPECT_TRUE(
            h.window->grab().save(test::ScreenshotFolder() + "/firmware_programming_2x.png"));
        for (QWidget* c : h.window->findChildren<QWidget*>())
          if (!c->objectName().isEmpty() && !c->objectName().startsWith("qt_")) {
            EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
          }
      }
      h.window->close();
      EXPECT_TRUE(h.window->isVisible());
      EXPECT_EQ(h.messages.size(), 1);
    }
    ASSERT_TRUE(h.Programmed());
    EXPECT_EQ(h.Log(), Succeeded(FirmwareFile(), true));
    EXPECT_FALSE(h.WithLogger([](auto& l) { return l.InBootloader(); }));
    // Family 1 erases blocks of eight rows: rows 0-7, 8-9 and 256.
    EXPECT_EQ(h.WithLogger([](auto& l) { return l.Bootloader().EraseCount(); }),
              family == 1 ? 3 : 11);
    // Everything back, the progress gone.
    EXPECT_TRUE(h.Find<QPushButton>("btnProgram")->isEnabled());
    EXPECT_TRUE(h.Find<QPushButton>("btnClose")->isEnabled());
    EXPECT_FALSE(h.Find<QProgressBar>("pbProgress")->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    h.window->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.window->isVisible(); }, kWaitMs));
    h.window.reset();
    EXPECT_EQ(h.settings.ReadString("Flash", "File", ""), FirmwareFile());
  }
}

TEST(FirmwareWindow, AVerifyFailureStaysInTheBootloaderAndProgramsAgain) {
  sim::TSimOptions options;
  options.corruptBootRow = 3;
  THost h(options);
  ASSERT_TRUE(h.Ready());
  h.Find<QPushButton>("btnProgram")->click();
  ASSERT_TRUE(h.Programmed());
  EXPECT_EQ(h.Log(), (QStringList{"Connecting to VRK BootLoader... Done", "Programming... Done",
                                  "Verifying...", "Error: Error at 0182: write 0038 read 0039"}));
  EXPECT_TRUE(h.WithLogger([](auto& l) { return l.InBootloader(); }));
  EXPECT_TRUE(h.Find<QPushButton>("btnProgram")->isEnabled());

  // In the bootloader the identifier shows; a click reads it.
  QLabel* id = h.Find<QLabel>("lblDeviceId");
  ASSERT_TRUE(QTest::qWaitFor([&] { return id->isVisible(); }, kWaitMs));
  QTest::mouseClick(id, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return id->text() == "0123456789ABCDEF"; }, kWaitMs))
      << id->text().toStdString();

  h.Find<QPushButton>("btnProgram")->click();
  ASSERT_TRUE(h.Programmed());
  EXPECT_EQ(h.Log(), Succeeded(FirmwareFile(), false));
  EXPECT_FALSE(h.WithLogger([](auto& l) { return l.InBootloader(); }));
  EXPECT_TRUE(h.messages.isEmpty()) << h.messages.join("; ").toStdString();
}

TEST(FirmwareWindow, TheMainWindowPausesPollingAroundIt) {
  test::WindowTestApp();
  const std::string folder = ::testing::TempDir() + "/firmware_menu";
  std::filesystem::create_directories(folder);
  TToolOptions o;
  o.settingsFile = folder + "/QVL2Pro.ini";
  o.link = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  o.listSerialPorts = [] { return std::vector<std::string>{}; };
  TfrmEcu1 w(o);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Controller().Connected(); }, kWaitMs));
  auto* action = w.findChild<QAction*>("actFirmwareUpdate");
  ASSERT_TRUE(action && action->isEnabled());
  int pausedInside = -1;
  QTimer::singleShot(0, [&] {
    (void)QTest::qWaitFor(
        [] { return qobject_cast<TfrmFlash*>(QApplication::activeModalWidget()); }, kWaitMs);
    if (auto* f = qobject_cast<TfrmFlash*>(QApplication::activeModalWidget())) {
      pausedInside = w.Controller().CommThread()->PauseCount();
      f->close();
    }
  });
  action->trigger();
  EXPECT_EQ(pausedInside, 1);
  EXPECT_EQ(w.Controller().CommThread()->PauseCount(), 0);
}

}  // namespace
}  // namespace qvl
