#include "tool/forms/compass_test_form.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <climits>

#include "core/device/controller.h"
#include "core/util/cp1252.h"
#include "tool/ecu_info.h"

namespace qvl {
namespace {

constexpr int kRandomPeriodMs = 200;
constexpr const char* kAngleNames[3] = {"Heading", "Elevation", "Bank"};
constexpr const char* kAxes[3] = {"X", "Y", "Z"};

QString FromModel(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

QLabel* ValueLabel(QWidget* parent, const QString& name, int width = 80) {
  auto* l = new QLabel(parent);
  l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  l->setMinimumWidth(width);
  l->setFrameShape(QFrame::StyledPanel);
  l->setAccessibleName(name);
  return l;
}

QPushButton* Button(QWidget* parent, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setAccessibleName(caption);
  return b;
}

}  // namespace

TfrmCompassTest::TfrmCompassTest(TController& controller,
                                 std::function<void(const QString&)> showError, QWidget* parent)
    : QWidget(parent, Qt::Window),
      controller_(controller),
      showError_(std::move(showError)),
      tester_(controller) {
  setObjectName("frmCompassTest");
  setWindowTitle(kCaption);
  setAccessibleName(kCaption);
  setAttribute(Qt::WA_DeleteOnClose);

  timer_ = new QTimer(this);
  timer_->setInterval(kRandomPeriodMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    ticks_->setValue(int(random_() & 0x7FFFFFFF));
    if (!RunFatTest()) StopRandomTest();
  });

  auto* left = new QVBoxLayout;
  left->addWidget(CreateAttitude());
  left->addWidget(CreateFatTest());
  left->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left);
  layout->addWidget(CreateScratch(), 0, Qt::AlignTop);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  RunSelfTest();
}

TfrmCompassTest::~TfrmCompassTest() {
  StopRandomTest();
}

QWidget* TfrmCompassTest::CreateAttitude() {
  auto* box = new QGroupBox("Attitude", this);
  box->setAccessibleName("Attitude");
  auto* grid = new QGridLayout(box);
  for (int i = 0; i < 3; ++i) {
    auto* header = new QLabel(kAngleNames[i], box);
    header->setAlignment(Qt::AlignCenter);
    header->setAccessibleName(kAngleNames[i]);
    grid->addWidget(header, 0, i + 1);
  }
  auto rowCaption = [&](const QString& caption, int row) {
    auto* l = new QLabel(caption, box);
    l->setAccessibleName(caption);
    grid->addWidget(l, row, 0);
  };
  rowCaption("Set", 1);
  rowCaption("Computed", 2);
  rowCaption("Bx sent", 3);
  rowCaption("Bx computed", 4);
  for (int i = 0; i < 3; ++i) {
    auto* spin = new QSpinBox(box);
    spin->setRange(-240, 240);
    spin->setSingleStep(1);
    spin->setAccessibleName(kAngleNames[i]);
    connect(spin, &QSpinBox::valueChanged, this, &TfrmCompassTest::RunSelfTest);
    angles_[size_t(i)] = spin;
    grid->addWidget(spin, 1, i + 1);
    computed_[size_t(i)] = ValueLabel(box, QString("Computed ") + kAngleNames[i]);
    grid->addWidget(computed_[size_t(i)], 2, i + 1);
    sent_[size_t(i)] = ValueLabel(box, QString("Bx sent ") + kAxes[i]);
    grid->addWidget(sent_[size_t(i)], 3, i + 1);
    fieldComputed_[size_t(i)] = ValueLabel(box, QString("Bx computed ") + kAxes[i]);
    grid->addWidget(fieldComputed_[size_t(i)], 4, i + 1);
  }
  return box;
}

QWidget* TfrmCompassTest::CreateScratch() {
  auto* box = new QGroupBox("Scratch memory", this);
  box->setAccessibleName("Scratch memory");
  grid_ = new QTableWidget(kScratchGridSide, kScratchGridSide, box);
  grid_->setObjectName("sgScratch");
  grid_->setAccessibleName("Scratch grid");
  grid_->horizontalHeader()->setVisible(false);
  grid_->verticalHeader()->setVisible(false);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QFont mono("Courier New");
  mono.setStyleHint(QFont::TypeWriter);
  grid_->setFont(mono);
  grid_->horizontalHeader()->setDefaultSectionSize(44);
  grid_->verticalHeader()->setDefaultSectionSize(20);
  grid_->setFixedSize(44 * kScratchGridSide + 4, 20 * kScratchGridSide + 4);
  grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (int r = 0; r < kScratchGridSide; ++r)
    for (int c = 0; c < kScratchGridSide; ++c) grid_->setItem(r, c, new QTableWidgetItem());

  auto* clear = Button(box, "Clear");
  auto* read = Button(box, "Read");
  auto* write = Button(box, "Write");
  connect(clear, &QPushButton::clicked, this, &TfrmCompassTest::ClearScratch);
  connect(read, &QPushButton::clicked, this, &TfrmCompassTest::ReadScratch);
  connect(write, &QPushButton::clicked, this, &TfrmCompassTest::WriteScratch);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(clear);
  buttons->addWidget(read);
  buttons->addWidget(write);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(grid_);
  layout->addLayout(buttons);
  return box;
}

QWidget* TfrmCompassTest::CreateFatTest() {
  auto* box = new QGroupBox("FAT Time Test", this);
  box->setAccessibleName("FAT Time Test");
  ticks_ = new QSpinBox(box);
  ticks_->setRange(0, INT_MAX);
  ticks_->setAccessibleName("Ticks");
  ticks_->setMinimumWidth(120);
  auto* test = Button(box, "Test");
  connect(test, &QPushButton::clicked, this, [this] { RunFatTest(); });
  btnRandom_ = Button(box, "Random test");
  btnRandom_->setCheckable(true);
  connect(btnRandom_, &QPushButton::toggled, this, &TfrmCompassTest::SetRandomTest);
  lblExpected_ = ValueLabel(box, "Expected time", 160);
  lblDecoded_ = ValueLabel(box, "Decoded time", 160);
  for (QLabel* l : {lblExpected_, lblDecoded_}) l->setAutoFillBackground(true);
  auto* grid = new QGridLayout(box);
  grid->addWidget(ticks_, 0, 0);
  grid->addWidget(test, 0, 1);
  grid->addWidget(btnRandom_, 0, 2);
  grid->addWidget(lblExpected_, 1, 0, 1, 3);
  grid->addWidget(lblDecoded_, 2, 0, 1, 3);
  return box;
}

void TfrmCompassTest::ShowError(const std::exception& e) {
  showError_(FromModel(e.what()));
}

void TfrmCompassTest::ReadScratch() {
  try {
    const auto words = tester_.ReadScratch();
    for (int block = 0; block < kScratchBlocks; ++block)
      for (int k = 0; k < kScratchBlockWords; ++k) {
        const TScratchCell cell = ScratchCell(block, k);
        grid_->item(cell.row, cell.column)
            ->setText(QString::fromStdString(
                ScratchWordText(words[size_t(block * kScratchBlockWords + k)])));
      }
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TfrmCompassTest::WriteScratch() {
  try {
    tester_.WriteScratch();
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TfrmCompassTest::ClearScratch() {
  try {
    tester_.ClearScratch();
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

bool TfrmCompassTest::RunFatTest() {
  try {
    const TFatTestResult r = tester_.FatTest(uint32_t(ticks_->value()));
    ++fatTestsRun_;
    ShowFatResult(r);
    return r.passed;
  } catch (const std::exception& e) {
    ++fatTestsRun_;
    // A failure ends the random test before it is shown.
    StopRandomTest();
    ShowError(e);
    return false;
  }
}

void TfrmCompassTest::ShowFatResult(const TFatTestResult& r) {
  lblExpected_->setText(QString::fromStdString(ToolDateTimeText(r.expected)));
  lblDecoded_->setText(r.decodedValid ? QString::fromStdString(ToolDateTimeText(r.decoded))
                                      : QString("%1 %2")
                                            .arg(r.fatDate, 4, 16, QChar('0'))
                                            .arg(r.fatTime, 4, 16, QChar('0'))
                                            .toUpper());
  fatRed_ = !r.passed;
  for (QLabel* l : {lblExpected_, lblDecoded_}) {
    QPalette p = palette();
    if (fatRed_) p.setColor(QPalette::Window, Qt::red);
    l->setPalette(p);
  }
}

void TfrmCompassTest::SetRandomTest(bool on) {
  if (on == randomPaused_) return;
  if (on) {
    // The logger stays with this window while the random test runs.
    controller_.PausePolling();
    randomPaused_ = true;
    timer_->start();
    if (!btnRandom_->isChecked()) btnRandom_->setChecked(true);
  } else {
    StopRandomTest();
  }
}

void TfrmCompassTest::StopRandomTest() {
  if (timer_) timer_->stop();
  if (btnRandom_ && btnRandom_->isChecked()) {
    QSignalBlocker quiet(btnRandom_);
    btnRandom_->setChecked(false);
  }
  if (randomPaused_) {
    randomPaused_ = false;
    controller_.ResumePolling();
  }
}

bool TfrmCompassTest::RandomTestRunning() const {
  return randomPaused_;
}

void TfrmCompassTest::RunSelfTest() {
  const TAttitude set{double(angles_[0]->value()), double(angles_[1]->value()),
                      double(angles_[2]->value())};
  const TSimulatedAttitude s = SimulateAttitude(controller_, set);
  TAttitude computed;
  const bool valid = ComputeAttitude(controller_, computed);
  TVec3 r{};
  const bool field = ReferenceField(ReadCompassCalibration(controller_.ConfigBlock()), r);
  const TVec3 back = Apply(AttitudeMatrix(computed), r);
  const double angles[3] = {computed.heading, computed.elevation, computed.bank};
  for (size_t i = 0; i < 3; ++i) {
    sent_[i]->setText(s.fieldValid ? QString::fromStdString(FieldText(s.sent[i])) : QString());
    computed_[i]->setText(valid ? FromModel(AngleText(angles[i])) : QString());
    fieldComputed_[i]->setText(valid && field ? QString::fromStdString(FieldText(back[i]))
                                              : QString());
  }
}

void TfrmCompassTest::mousePressEvent(QMouseEvent* event) {
  RunSelfTest();
  QWidget::mousePressEvent(event);
}

void TfrmCompassTest::closeEvent(QCloseEvent* event) {
  StopRandomTest();
  event->accept();
}

}  // namespace qvl
