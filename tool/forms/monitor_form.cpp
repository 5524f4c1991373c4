#include "tool/forms/monitor_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/util/cp1252.h"
#include "core/util/ini_file.h"

namespace qvl {
namespace {

QString FromModel(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

// A hint as a tooltip shows it: the model's line breaks are carriage returns.
QString HintText(const std::string& hint) {
  return FromModel(hint).replace('\r', '\n');
}

QLabel* ValueLabel(QWidget* parent, const QString& name) {
  auto* l = new QLabel(parent);
  l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  l->setMinimumWidth(64);
  l->setFrameShape(QFrame::StyledPanel);
  l->setAccessibleName(name);
  return l;
}

// The name a group's value labels carry in front of their caption.
QString GroupPrefix(TMonitorGroup group) {
  return QString(MonitorGroupTitle(group)).trimmed().replace(" Analog Inputs", "");
}

void SetText(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

}  // namespace

TfrmMonitor1::TfrmMonitor1(TController& controller, TIniFile& settings,
                           std::function<void(const QString&)> showError, QWidget* parent)
    : QWidget(parent, Qt::Window),
      controller_(controller),
      ini_(settings),
      showError_(std::move(showError)) {
  setObjectName("frmMonitor1");
  setWindowTitle(kCaption);
  setAccessibleName(kCaption);
  setAttribute(Qt::WA_DeleteOnClose);
  settings_.Read(ini_);
  controllerType_ = controller_.ControllerType();

  auto* top = new QHBoxLayout;
  top->addWidget(CreateGroup(TMonitorGroup::Volts5), 0, Qt::AlignTop);
  auto* middle = new QVBoxLayout;
  middle->addWidget(CreateGroup(TMonitorGroup::Volts33));
  middle->addWidget(CreateGroup(TMonitorGroup::Adxl));
  middle->addStretch(1);
  top->addLayout(middle);
  top->addWidget(CreateGroup(TMonitorGroup::Lsm303), 0, Qt::AlignTop);
  top->addWidget(CreateCounters(), 0, Qt::AlignTop);

  lblNotConnected_ = new QLabel("QVL not connected", this);
  lblNotConnected_->setAccessibleName("QVL not connected");
  lblNotConnected_->setStyleSheet("color: rgb(200, 0, 0); font-weight: bold;");
  auto* close = new QPushButton("Close", this);
  close->setAccessibleName("Close");
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lblNotConnected_);
  bottom->addStretch(1);
  bottom->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(CreateDigitalPanel());
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  controller_.AddListener(this);
  listening_ = true;
  ControllerChanged(&controller_, kChangeConnection | kChangeConfiguration);
}

TfrmMonitor1::~TfrmMonitor1() {
  Detach();
}

QGroupBox* TfrmMonitor1::CreateGroup(TMonitorGroup group) {
  const size_t g = size_t(group);
  auto* box = new QGroupBox(MonitorGroupTitle(group), this);
  box->setAccessibleName(QString(MonitorGroupTitle(group)).trimmed());
  box->installEventFilter(this);
  auto* grid = new QGridLayout(box);
  auto* absolute = new QRadioButton("absolute", box);
  absolute->setAccessibleName("absolute");
  auto* converted = new QRadioButton(FromModel(MonitorConvertedCaption(group)), box);
  converted->setAccessibleName(converted->text());
  (settings_.absolute[g] ? absolute : converted)->setChecked(true);
  connect(absolute, &QRadioButton::toggled, this,
          [this, group](bool on) { SetAbsolute(group, on); });
  absoluteButtons_[g] = absolute;
  convertedButtons_[g] = converted;
  grid->addWidget(absolute, 0, 0, 1, 2);
  grid->addWidget(converted, 1, 0, 1, 2);
  int row = 2;
  for (const TMonitorInput& in : kMonitorInputs) {
    if (in.group != group) continue;
    auto* caption = new QLabel(in.label, box);
    caption->setAccessibleName(in.label);
    QLabel* value = ValueLabel(box, GroupPrefix(group) + " " + in.label);
    if (group == TMonitorGroup::Volts5 || group == TMonitorGroup::Volts33) {
      const QString hint = HintText(MonitorInputHint(controller_, in.input));
      caption->setToolTip(hint);
      value->setToolTip(hint);
      value->setAccessibleDescription(hint);
    }
    grid->addWidget(caption, row, 0);
    grid->addWidget(value, row, 1);
    values_.push_back({in, value});
    ++row;
  }
  groups_[g] = box;
  return box;
}

QWidget* TfrmMonitor1::CreateCounters() {
  auto* box = new QGroupBox(" Status ", this);
  box->setAccessibleName("Status");
  auto* grid = new QGridLayout(box);
  int row = 0;
  for (const TMonitorCounter& c : MonitorCounters({}, 0)) {
    auto* caption = new QLabel(c.caption, box);
    caption->setAccessibleName(c.caption);
    QLabel* value = ValueLabel(box, QString(c.caption) + " value");
    value->setMinimumWidth(row == 8 ? 130 : 64);
    grid->addWidget(caption, row, 0);
    grid->addWidget(value, row, 1);
    counters_.push_back(value);
    ++row;
  }
  auto* caption = new QLabel("FSR", box);
  caption->setAccessibleName("FSR");
  lblFSR_ = ValueLabel(box, "FSR value");
  lblFSR_->setToolTip("Click to reset");
  lblFSR_->setAccessibleDescription("Click to reset");
  lblFSR_->setCursor(Qt::PointingHandCursor);
  lblFSR_->installEventFilter(this);
  grid->addWidget(caption, row, 0);
  grid->addWidget(lblFSR_, row, 1);
  return box;
}

QFrame* TfrmMonitor1::CreateDigitalPanel() {
  pnlDigital_ = new QFrame(this);
  pnlDigital_->setObjectName("pnlDigital");
  pnlDigital_->setAccessibleName("Digital panel");
  pnlDigital_->setFrameShape(QFrame::StyledPanel);
  pnlDigital_->setToolTip("Click to read the digital inputs");
  pnlDigital_->setCursor(Qt::PointingHandCursor);
  pnlDigital_->installEventFilter(this);
  auto* row = new QHBoxLayout(pnlDigital_);
  lblDigital_ = new QLabel(pnlDigital_);
  lblDigital_->setAccessibleName("Digital inputs");
  lblDigital_->setMinimumWidth(120);
  QFont mono = lblDigital_->font();
  mono.setFamily("Courier New");
  mono.setStyleHint(QFont::TypeWriter);
  mono.setBold(true);
  lblDigital_->setFont(mono);
  row->addWidget(lblDigital_);
  row->addStretch(1);
  for (auto [caption, label] : {std::pair{kMonitorBattery.label, &lblBattery_},
                                std::pair{kMonitorTemperature.label, &lblTemperature_}}) {
    auto* c = new QLabel(caption, pnlDigital_);
    c->setAccessibleName(caption);
    *label = ValueLabel(pnlDigital_, QString(caption) + " value");
    row->addWidget(c);
    row->addWidget(*label);
  }
  pnlDigital_->setVisible(false);
  return pnlDigital_;
}

void TfrmMonitor1::ControllerChanged(TController*, uint8_t flags) {
  if ((flags & kChangeConfiguration) && controller_.ControllerType() != controllerType_) {
    close();
    return;
  }
  if (flags & kChangeConnection) lblNotConnected_->setVisible(!controller_.Connected());
  if (flags & kChangeValues) RefreshValues();
}

void TfrmMonitor1::RefreshValues() {
  for (const TValueLabel& v : values_)
    SetText(v.value, QString::fromStdString(
                         MonitorValueText(v.input.scale, controller_.RawValue(v.input.input),
                                          settings_.absolute[size_t(v.input.group)])));
  const auto counters =
      MonitorCounters(controller_.RealtimeBlock(), controller_.FlashWriteAddress());
  for (size_t i = 0; i < counters.size() && i < counters_.size(); ++i)
    SetText(counters_[i], QString::fromStdString(counters[i].text));
  SetText(lblBattery_,
          QString::fromStdString(MonitorValueText(
              kMonitorBattery.scale, controller_.RawValue(kMonitorBattery.input), false)));
  SetText(lblTemperature_,
          QString::fromStdString(MonitorValueText(
              kMonitorTemperature.scale, controller_.RawValue(kMonitorTemperature.input), false)));
}

void TfrmMonitor1::SetAbsolute(TMonitorGroup group, bool absolute) {
  const size_t g = size_t(group);
  settings_.absolute[g] = absolute;
  QRadioButton* button = absolute ? absoluteButtons_[g] : convertedButtons_[g];
  if (!button->isChecked()) {
    QSignalBlocker quiet(absoluteButtons_[g]);
    button->setChecked(true);
  }
  RefreshValues();
}

void TfrmMonitor1::ToggleDigitalPanel() {
  pnlDigital_->setVisible(pnlDigital_->isHidden());
}

void TfrmMonitor1::ReadDigitalInputs() {
  try {
    const uint8_t bits = qvl::ReadDigitalInputs(controller_);
    lblDigital_->setText(QString::fromStdString(DigitalInputsText(bits)));
  } catch (const std::exception& e) {
    showError_(FromModel(e.what()));
  }
}

void TfrmMonitor1::ReadStatusRegister(bool rightButton) {
  try {
    lblFSR_->setText(QString::fromStdString(ProbeStatusRegister(controller_, rightButton)));
  } catch (const std::exception& e) {
    showError_(FromModel(e.what()));
  }
}

bool TfrmMonitor1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (watched == lblFSR_) {
      ReadStatusRegister(mouse->button() == Qt::RightButton);
      return true;
    }
    if (watched == pnlDigital_) {
      ReadDigitalInputs();
      return true;
    }
    for (QGroupBox* g : groups_)
      if (watched == g) {
        ToggleDigitalPanel();
        return true;
      }
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMonitor1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (placed_) return;
  placed_ = true;
  int left = 0, top = 0;
  UnpackMonitorPosition(settings_.position, left, top);
  if (settings_.position != 0) {
    move(left, top);
  } else if (QScreen* s = screen()) {
    QRect r = frameGeometry();
    r.moveCenter(s->availableGeometry().center());
    move(r.topLeft());
  }
}

void TfrmMonitor1::StoreSettings() {
  settings_.position = PackMonitorPosition(pos().x(), pos().y());
  settings_.Write(ini_);
}

void TfrmMonitor1::Detach() {
  if (!listening_) return;
  listening_ = false;
  controller_.RemoveListener(this);
  StoreSettings();
}

void TfrmMonitor1::closeEvent(QCloseEvent* event) {
  Detach();
  event->accept();
}

}  // namespace qvl
