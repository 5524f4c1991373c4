// TfrmCompassTest: the service window for the logger's scratch memory, its clock-to-FAT
// conversion and the attitude self-test. The exchanges and the arithmetic live in
// tool/compass_test; this class wires them to widgets.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <random>

#include "tool/compass_test.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace qvl {

class TController;

class TfrmCompassTest : public QWidget {
  Q_OBJECT

 public:
  // showError shows an exchange's failure (the link's error).
  TfrmCompassTest(TController& controller, std::function<void(const QString&)> showError,
                  QWidget* parent = nullptr);
  ~TfrmCompassTest() override;

  // The buttons' work.
  void ReadScratch();
  void WriteScratch();
  void ClearScratch();
  // One FAT time test with the tick spinner's value; false when it failed or came out red.
  bool RunFatTest();
  void SetRandomTest(bool on);
  // The attitude self-test with the three angle spinners.
  void RunSelfTest();

  bool RandomTestRunning() const;
  int FatTestsRun() const { return fatTestsRun_; }
  // Whether the last FAT test's labels are red.
  bool FatTestRed() const { return fatRed_; }

  static constexpr const char kCaption[] = "Compass test";

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* CreateAttitude();
  QWidget* CreateScratch();
  QWidget* CreateFatTest();
  void ShowFatResult(const TFatTestResult& result);
  void StopRandomTest();
  void ShowError(const std::exception& e);

  TController& controller_;
  std::function<void(const QString&)> showError_;
  TCompassTester tester_;
  std::mt19937 random_{std::random_device{}()};
  bool randomPaused_ = false;
  int fatTestsRun_ = 0;
  bool fatRed_ = false;

  std::array<QSpinBox*, 3> angles_{};
  std::array<QLabel*, 3> computed_{};
  std::array<QLabel*, 3> sent_{};
  std::array<QLabel*, 3> fieldComputed_{};
  QTableWidget* grid_ = nullptr;
  QSpinBox* ticks_ = nullptr;
  QPushButton* btnRandom_ = nullptr;
  QLabel* lblExpected_ = nullptr;
  QLabel* lblDecoded_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace qvl
