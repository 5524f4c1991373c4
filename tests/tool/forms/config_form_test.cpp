// The logging configuration editor on the offscreen platform: every page edited against the
// simulated logger and applied (read back over the link), Save As and Load, the cell editors'
// keys, a close while a cell is edited, the compass samples, the stored page and the refill on
// a connection. Screenshots of the pages go to build/screenshots for a person to look at.
#include "tool/forms/config_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "core/util/byte_stream.h"
#include "core/util/endian.h"
#include "core/util/ini_file.h"
#include "sim/sim_channel.h"
#include "test_paths.h"
#include "tool/forms/main_form.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 15000;

template <typename T>
T* Named(QWidget* root, const QString& name) {
  return root->findChild<T*>(name);
}

// A control by its accessible name.
template <typename T>
T* Called(QWidget* root, const QString& accessibleName) {
  for (T* w : root->findChildren<T*>())
    if (w->accessibleName() == accessibleName) return w;
  return nullptr;
}

// Samples on a sphere around (10, 20, 30): three circles, none through the centre.
TCompassSamples SphereSamples() {
  const double deg = std::numbers::pi / 180, c = std::cos(30 * deg), s = std::sin(30 * deg);
  TCompassSamples samples{};
  for (size_t i = 0; i < 4; ++i) {
    const double t = (10 + 90 * double(i)) * deg;
    const TCompassSample unit[3] = {{c * std::cos(t), c * std::sin(t), s},
                                    {c * std::cos(t), s, c * std::sin(t)},
                                    {s, c * std::cos(t), c * std::sin(t)}};
    for (size_t k = 0; k < 3; ++k)
      samples[k][i] = {10 + 300 * unit[k][0], 20 + 300 * unit[k][1], 30 + 300 * unit[k][2]};
  }
  return samples;
}

std::vector<uint8_t> FileBytes(const std::string& name) {
  TMemoryStream m;
  m.LoadFromFile(name);
  return m.Bytes();
}

// The configuration stream the logger keeps, read over the link.
std::vector<uint8_t> ReadLoggerConfiguration(TController& c) {
  c.PausePolling();
  std::vector<uint8_t> bytes;
  try {
    c.Transact(0x32, nullptr, 0, 0);
    uint8_t length[2];
    c.Channel()->Read(length, 2);
    bytes.resize(GetU16(length));
    c.Channel()->Read(bytes.data(), int(bytes.size()));
  } catch (...) {
    c.ResumePolling();
    throw;
  }
  c.ResumePolling();
  return bytes;
}

void SavePages(TfrmConfig& d, const QString& suffix) {
  auto* pages = Named<QTabWidget>(&d, "pcPages");
  const char* names[5] = {"suspensions", "wheels", "sensors", "channels", "ecompass"};
  for (int i = 0; i < 5; ++i) {
    pages->setCurrentIndex(i);
    QTest::qWait(20);
    EXPECT_TRUE(
        d.grab().save(test::ScreenshotFolder() + "/qvl2pro_config_" + names[i] + suffix + ".png"));
  }
}

// Everything a rider does in the editor before Apply, on a connected simulated logger.
void EditEveryPage(TfrmConfig& d, const std::string& folder, QStringList& errors) {
  EXPECT_EQ(d.windowTitle(), "QV2LPro - Hardware Configuration");
  auto* apply = Named<QPushButton>(&d, "btnApply");
  EXPECT_FALSE(apply->isEnabled());

  // Suspensions: the record buttons come alive with the first live values.
  auto* record = Named<QPushButton>(&d, "btnRecordFront");
  ASSERT_TRUE(QTest::qWaitFor([&] { return record->isEnabled(); }, kWaitMs));
  record->click();
  EXPECT_TRUE(apply->isEnabled());
  EXPECT_EQ(Called<QLabel>(&d, "Front sensor position at full extension")->text().toStdString(),
            PositionText(d.Editor().fullExtension[0]));
  Named<QTabWidget>(&d, "pcPages")->setCurrentIndex(0);
  Called<QSpinBox>(&d, "Front suspension travel (mm)")->setValue(180);

  // Wheels: diameter and circumference follow each other without echo.
  auto* frontDiameter = Called<QSpinBox>(&d, "Front diameter (mm)");
  auto* frontCircumference = Called<QSpinBox>(&d, "Front circumf. (mm)");
  auto* rearDiameter = Called<QSpinBox>(&d, "Rear diameter (mm)");
  auto* rearCircumference = Called<QSpinBox>(&d, "Rear circumf. (mm)");
  ASSERT_TRUE(frontDiameter && frontCircumference && rearDiameter && rearCircumference);
  frontDiameter->setValue(700);
  EXPECT_EQ(frontCircumference->value(), 2199);
  EXPECT_EQ(frontDiameter->value(), 700);
  rearCircumference->setValue(2199);
  EXPECT_EQ(rearDiameter->value(), 700);
  EXPECT_EQ(rearCircumference->value(), 2199);

  // Rates and the estimate.
  Named<QComboBox>(&d, "cbSuspensionRate")->setCurrentIndex(7);
  Named<QComboBox>(&d, "cbGSensorRate")->setCurrentIndex(7);
  Named<QComboBox>(&d, "cbMagRate")->setCurrentIndex(7);
  auto* estimate = Named<QLabel>(&d, "lblMemory");
  EXPECT_EQ(estimate->text(), "29 MB / hour");

  // Custom channels: row 8 is input 12, a 3.3 V input.
  Named<QTabWidget>(&d, "pcPages")->setCurrentIndex(3);
  QTableWidget* grid = d.ChannelGrid();
  ASSERT_EQ(grid->item(8, 0)->text(), "3.3V AN0 ");
  auto cellPoint = [&](int row, int column) {
    return QPoint(grid->columnViewportPosition(column) + 5, grid->rowViewportPosition(row) + 5);
  };
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellPoint(8, 1));
  ASSERT_TRUE(d.CellEditorOpen());
  auto* edit = Named<QLineEdit>(&d, "edCell");
  EXPECT_EQ(d.CellEditor(), edit);
  EXPECT_EQ(edit->geometry(),
            QRect(grid->columnViewportPosition(1) - 2, grid->rowViewportPosition(8) - 2,
                  grid->columnWidth(1) + 4, grid->rowHeight(8) + 4));
  EXPECT_TRUE(edit->hasFocus());
  QTest::keyClicks(edit, "Brake");
  QTest::keyClick(edit, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(grid->item(8, 1)->text(), "Brake");
  QTest::keyClicks(edit, "bar");
  QTest::keyClick(edit, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(grid->item(8, 2)->text(), "bar");
  // A number that cannot be read is shown and the editor stays open.
  QTest::keyClicks(edit, "x1");
  QTest::keyClick(edit, Qt::Key_Return);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors.takeFirst(), "'x1' is not a valid floating point value");
  EXPECT_TRUE(d.CellEditorOpen());
  edit->setText("0.5");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_FALSE(d.CellEditorOpen());
  EXPECT_EQ(grid->item(8, 3)->text(), "0.500");
  // Up moves a row, Ctrl+Left stops at column 1.
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellPoint(8, 1));
  QTest::keyClick(edit, Qt::Key_Up);
  QTest::keyClick(edit, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(edit->geometry().top(), grid->rowViewportPosition(7) - 2);
  EXPECT_EQ(edit->geometry().left(), grid->columnViewportPosition(1) - 2);
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_FALSE(d.CellEditorOpen());
  // The rate list, preselected with the cell's text.
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellPoint(8, 5));
  auto* rate = Named<QComboBox>(&d, "cbCellRate");
  ASSERT_EQ(d.CellEditor(), rate);
  EXPECT_EQ(rate->currentText(), "Not logged");
  rate->setCurrentIndex(CustomRateIndexOfText("100 Hz"));
  QTest::keyClick(rate, Qt::Key_Return);
  EXPECT_EQ(grid->item(8, 5)->text(), "100 Hz");
  EXPECT_EQ(estimate->text().toStdString(), MemoryEstimateText(LoggingDataRate(7, 7, 7, {10000})));

  // Save As and Load give the same block; a file that cannot be parsed changes nothing.
  const TConfigBlock before = d.Editor().BuildBlock();
  const QString file = QString::fromStdString(folder + "/bike.QVLcf");
  ASSERT_TRUE(d.SaveConfiguration(file));
  EXPECT_TRUE(apply->isEnabled());
  ASSERT_TRUE(d.LoadConfiguration(file));
  EXPECT_EQ(d.Editor().BuildBlock(), before);
  EXPECT_EQ(grid->item(8, 1)->text(), "Brake");
  EXPECT_EQ(grid->item(8, 5)->text(), "100 Hz");
  std::ofstream(folder + "/bad.QVLcf") << "QVL1cr0 not a configuration";
  EXPECT_FALSE(d.LoadConfiguration(QString::fromStdString(folder + "/bad.QVLcf")));
  EXPECT_EQ(errors.value(0), "Invalid stream format");
  errors.clear();
  EXPECT_EQ(d.Editor().BuildBlock(), before);
  EXPECT_EQ(frontCircumference->value(), 2199);

  SavePages(d, "");
  const QSize design = d.size();
  d.resize(design * 2);
  SavePages(d, "_2x");
  d.resize(design);
  Named<QTabWidget>(&d, "pcPages")->setCurrentIndex(3);
  apply->click();
}

TEST(ConfigForm, RiderSetsUpABikeAppliesItToTheLoggerAndRoundTripsAFile) {
  test::WindowTestApp();
  const std::string folder = test::TempFolder("apply");
  QStringList errors;
  TToolOptions options;
  options.settingsFile = folder + "/QVL2Pro.ini";
  options.link = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  options.listSerialPorts = [] { return std::vector<std::string>{}; };
  options.showMessage = [&](const QString& text, bool) { errors << text; };
  TfrmEcu1 w(options);
  w.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Controller().Connected(); }, kWaitMs));
  auto* action = w.findChild<QAction*>("actConfig");
  ASSERT_TRUE(action && action->isEnabled());
  w.Controller().SetModified(false);

  bool driven = false;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<TfrmConfig*>(QApplication::activeModalWidget());
    if (!d) return;
    EditEveryPage(*d, folder, errors);
    driven = true;
    // Whatever failed above, the modal loop ends.
    while (d->isVisible()) {
      if (d->CellEditorOpen()) QTest::keyClick(d->CellEditor(), Qt::Key_Escape);
      d->reject();
    }
  });
  action->trigger();
  ASSERT_TRUE(driven);
  EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
  EXPECT_TRUE(w.Controller().Modified());

  // The logger holds the new configuration.
  const std::vector<uint8_t> stream = ReadLoggerConfiguration(w.Controller());
  TController read;
  TByteViewStream s(stream.data(), stream.size());
  read.ReadFromStream(s);
  const TConfigBlock& b = read.ConfigBlock();
  EXPECT_FLOAT_EQ(b.F32(cfg::kFrontTravel), 0.18f);
  EXPECT_FLOAT_EQ(b.F32(cfg::kFrontCircumference), 2.199f);
  EXPECT_EQ(b.I32(cfg::kSuspensionPeriod), 1000);
  EXPECT_EQ(b.I32(cfg::kAccelPeriod), 1000);
  EXPECT_EQ(b.I32(cfg::kMagPeriod), 10000);
  EXPECT_EQ(b.I32(cfg::kDataRate), LoggingDataRate(7, 7, 7, {10000}));
  ASSERT_EQ(read.CustomSensors().size(), 1u);
  EXPECT_EQ(read.CustomSensors()[0]->Name, "Custom\\Brake\\bar");
  EXPECT_EQ(read.CustomSensors()[0]->Channel, 12);
  EXPECT_EQ(read.CustomSensors()[0]->Tag, 10000);
  EXPECT_EQ(read.LogControl().U8(logctl::kMode), 3);

  // The page shown last is the page the editor opens on next time.
  ASSERT_TRUE(w.SaveSettings());
  EXPECT_EQ(TIniFile(options.settingsFile).ReadInteger("Config", "Page", -1), 3);
}

TEST(ConfigForm, CellEditorOnCloseCompassSamplesPagesAndRefill) {
  test::WindowTestApp();
  const std::string folder = test::TempFolder("compass");
  TController controller;
  TIniFile settings;
  settings.WriteInteger("Config", "Page", 9);  // not a page: ignored
  QStringList errors;
  const std::string ref = folder + "/QVL2Pro.ref";
  TfrmConfig d(controller, settings, ref, [&](const QString& text) { errors << text; });
  d.Open();
  d.show();
  auto* pages = Named<QTabWidget>(&d, "pcPages");
  EXPECT_EQ(pages->currentIndex(), 0);
  for (QWidget* c : d.findChildren<QWidget*>()) {
    const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLabel*>(c) ||
                         qobject_cast<QAbstractSpinBox*>(c) || qobject_cast<QComboBox*>(c);
    const bool named = !c->accessibleName().isEmpty() || c->objectName().startsWith("qt_");
    EXPECT_TRUE(named || !control) << c->metaObject()->className();
  }

  // A close while a cell is edited stores the cell and keeps the window open.
  d.OpenCellEditor(0, 1);
  QTest::keyClicks(d.CellEditor(), "Fork");
  d.reject();
  EXPECT_TRUE(d.isVisible());
  EXPECT_FALSE(d.CellEditorOpen());
  EXPECT_EQ(d.ChannelGrid()->item(0, 1)->text(), "Fork");

  // Compass samples: Load sets every count to 4; a fifth sample starts a rotation afresh.
  const TCompassSamples samples = SphereSamples();
  {
    TFileStream f(ref, TFileStream::Create);
    f.WriteBytes(CompassSampleBytes(samples));
    f.Close();
  }
  auto* loadCompass = Named<QPushButton>(&d, "btnLoadCompass");
  loadCompass->click();
  for (const char* kind : {"Horizontal", "Head up/down", "Lateral"})
    EXPECT_EQ(Called<QLabel>(&d, QString(kind) + " rotations count")->text(), "4");
  Named<QPushButton>(&d, "btnRotation0")->click();
  EXPECT_EQ(d.Editor().compassCount[0], 1);
  loadCompass->click();
  EXPECT_EQ(d.Editor().compassCount[0], 4);

  // Apply runs the fit; the samples Save writes afterwards are the ones taken.
  pages->setCurrentIndex(4);
  d.accept();
  EXPECT_FALSE(d.isVisible());
  EXPECT_TRUE(d.Finish());
  EXPECT_EQ(settings.ReadInteger("Config", "Page", -1), 4);
  EXPECT_NEAR(controller.ConfigBlock().F32(cfg::kMagScale), 300, 1e-3);
  EXPECT_NEAR(controller.ConfigBlock().F32(cfg::kMagOffset + 8), 30, 1e-3);
  ASSERT_EQ(controller.CustomSensors().size(), 1u);
  std::filesystem::remove(ref);
  Named<QPushButton>(&d, "btnSaveCompass")->click();
  EXPECT_EQ(FileBytes(ref), CompassSampleBytes(samples));
  EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();

  // Opened again on the stored page; a connection refills the form, live values update it.
  TfrmConfig again(controller, settings, ref, [&](const QString& text) { errors << text; });
  again.Open();
  EXPECT_EQ(Named<QTabWidget>(&again, "pcPages")->currentIndex(), 4);
  TConfigBlock logger = controller.ConfigBlock();
  logger.SetF32(cfg::kFrontTravel, 0.123f);
  controller.SetConfigBlock(logger);
  controller.SetConnected(true);
  controller.Changed(kChangeConnection);
  auto* travel = Called<QSpinBox>(&again, "Front suspension travel (mm)");
  ASSERT_TRUE(travel);
  EXPECT_EQ(travel->value(), 123);
  EXPECT_FALSE(Named<QPushButton>(&again, "btnApply")->isEnabled());
  auto* record = Named<QPushButton>(&again, "btnRecordRear");
  EXPECT_FALSE(record->isEnabled());
  controller.SetRawValue(1, 3830);
  controller.Changed(kChangeValues);
  EXPECT_TRUE(record->isEnabled());
  EXPECT_EQ(Called<QLabel>(&again, "Rear current sensor position")->text(), "6.5%");
  controller.SetConnected(false);
  EXPECT_FALSE(again.Finish());
}

}  // namespace
}  // namespace qvl
