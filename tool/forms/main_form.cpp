#include "tool/forms/main_form.h"

#include <unistd.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>

#include "core/device/ecu_types.h"
#include "core/device/live_channel.h"
#include "core/util/cp1252.h"
#include "core/util/exceptions.h"
#include "tool/forms/about_box.h"
#include "tool/forms/compass_test_form.h"
#include "tool/forms/config_form.h"
#include "tool/forms/ecu_info_form.h"
#include "tool/forms/flash_form.h"
#include "tool/forms/log_download_form.h"
#include "tool/forms/monitor_form.h"
#include "tool/forms/run_state_panel.h"
#include "tool/forms/select_comm_form.h"
#include "tool/forms/tevra_status_control.h"
#include "tool/tool_settings.h"
#include "transport/serial_port_discovery.h"
#include "transport/tevraw_comm.h"

namespace qvl {
namespace {

constexpr int kPanelWidth = 640;
constexpr int kPanelHeight = 460;
constexpr int kSideWidth = 112;
constexpr int kLinkTimeOut = 500;
constexpr uint8_t kLoggingStateLogging = 2;
const QRect kIndicatorBounds(8, 40, 30, 24);

QString FromModel(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

// A glyph drawn for the controls that show no caption.
QIcon Glyph(const QString& kind) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  if (kind == "chart") {
    p.fillRect(QRect(3, 4, 26, 24), QColor(250, 250, 250));
    p.setPen(QPen(QColor(80, 80, 80), 1.5));
    p.drawRect(QRect(3, 4, 26, 24));
    p.setPen(QPen(QColor(30, 110, 200), 2));
    p.drawPolyline(QPolygon({{5, 22}, {10, 12}, {14, 18}, {19, 8}, {23, 16}, {27, 10}}));
    p.setPen(QPen(QColor(210, 80, 40), 2));
    p.drawPolyline(QPolygon({{5, 25}, {11, 21}, {16, 24}, {21, 19}, {27, 23}}));
  } else if (kind == "config") {
    p.setPen(QPen(QColor(60, 60, 70), 2));
    for (int i = 0; i < 3; ++i) {
      const int y = 8 + i * 8;
      p.drawLine(5, y, 27, y);
      p.setBrush(QColor(30, 110, 200));
      p.drawEllipse(QPoint(8 + ((i * 9) % 18), y), 3, 3);
    }
  } else if (kind == "flash") {
    p.setBrush(QColor(60, 70, 90));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRect(6, 6, 20, 20), 3, 3);
    p.setPen(QPen(QColor(170, 170, 180), 2));
    for (int i = 0; i < 4; ++i) {
      p.drawLine(2, 9 + i * 5, 6, 9 + i * 5);
      p.drawLine(26, 9 + i * 5, 30, 9 + i * 5);
    }
    p.setPen(QPen(QColor(250, 210, 60), 2));
    p.drawLine(12, 20, 20, 12);
  } else if (kind == "record") {
    p.setBrush(QColor(200, 30, 30));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(16, 16), 9, 9);
  }
  return QIcon(pm);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& r, qreal pointSize = 0,
                  bool bold = false, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(r);
  l->setAlignment(align);
  if (pointSize > 0 || bold) {
    QFont f = l->font();
    if (pointSize > 0) f.setPointSizeF(pointSize);
    f.setBold(bold);
    l->setFont(f);
  }
  l->setAccessibleName(text);
  return l;
}

QGroupBox* MakeGroup(QWidget* parent, const QString& title, const QRect& r) {
  auto* g = new QGroupBox(title, parent);
  g->setGeometry(r);
  g->setAccessibleName(title);
  return g;
}

QProgressBar* MakeGauge(QWidget* parent, const QString& name, const QRect& r,
                        Qt::Orientation orientation) {
  auto* b = new QProgressBar(parent);
  b->setOrientation(orientation);
  b->setRange(0, 100);
  b->setValue(0);
  b->setTextVisible(false);
  b->setGeometry(r);
  b->setAccessibleName(name);
  return b;
}

void SetText(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

}  // namespace

// Notifications of the wireless link come on its threads, possibly while it holds its lock:
// they are only posted to the user-interface thread, and dropped once the link is released.
struct TfrmEcu1::TNotifyGate {
  std::mutex mutex;
  TQtSynchronizer* sync = nullptr;
  std::atomic<bool> indicatorPending{false};
  std::function<void()> onIndicator;
  std::function<void(const QString&)> onDiagnostic;

  void Close() {
    std::lock_guard<std::mutex> lock(mutex);
    sync = nullptr;
  }
  void Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    if (sync) sync->Post(std::move(fn));
  }
  bool Open() {
    std::lock_guard<std::mutex> lock(mutex);
    return sync != nullptr;
  }
};

TfrmEcu1::TfrmEcu1(TToolOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
  if (!options_.createLink) options_.createLink = CreateChosenLink;
  if (!options_.listSerialPorts)
    options_.listSerialPorts = [] { return DiscoverSerialPorts().ports; };
  if (options_.viewerProgram.isEmpty()) {
    options_.viewerProgram = QDir(QString::fromStdString(ExecutableFolder()))
                                 .filePath(QString::fromLatin1(kViewerProgramName));
    options_.viewerArguments = {"-ls"};
  }
  setObjectName("frmEcu1");
  setWindowTitle(kCaption);
  setAccessibleName(kCaption);

  // Settings first: an unreadable file is never overwritten with defaults.
  settingsFile_ = options_.settingsFile.empty() ? ToolSettingsFileName() : options_.settingsFile;
  QString settingsWarning;
  try {
    std::error_code ignored;
    if (std::filesystem::exists(settingsFile_, ignored) &&
        !std::filesystem::is_regular_file(settingsFile_, ignored))
      throw Exception(settingsFile_ + " is not a file");
    LoadSettingsFile(settings_, settingsFile_);
  } catch (const std::exception& e) {
    settingsReadable_ = false;
    settingsWarning = QString("The settings could not be read and will not be saved: %1")
                          .arg(QString::fromStdString(e.what()));
  }
  stored_.Read(settings_);
  units_ = stored_.units;

  CreateActions();
  CreateMenus();
  CreatePanels();

  controller_ = std::make_unique<TController>();
  controller_->SetSynchronizer(&sync_);
  controller_->SetErrorHandler(
      [this](const std::string& message) { ShowMessage(FromModel(message), true); });
  controller_->AddListener(this);
  record_.Start();
  recording_ = true;

  const uint32_t id = uint32_t(::getpid());
  try {
    endpoint_ = std::make_unique<TLiveEndpoint>(id);
    block_ = TLiveSharedBlock::CreateForTool(id);
  } catch (const std::exception&) {
    // Without the live channel the viewer cannot be reached; "Cannot open viewer" tells it.
    endpoint_.reset();
  }

  RestoreSettings();

  TCommChannelPtr link = options_.link;
  if (!link) link = options_.createLink(LinkForStoredEntry(stored_.commDevice));
  link_ = link;
  if (link_) {
    link_->SetTimeOut(kLinkTimeOut);
    AttachIndicator();
  }
  controller_->SetChannel(link_);
  controller_->SetActive(true);
  StateRefresh();
  if (!settingsWarning.isEmpty()) ShowMessage(settingsWarning, false);
}

TfrmEcu1::~TfrmEcu1() {
  Shutdown();
}

void TfrmEcu1::CreateActions() {
  auto make = [this](const QString& name, const QString& text, const QString& hint = QString()) {
    auto* a = new QAction(text, this);
    a->setObjectName(name);
    if (!hint.isEmpty()) {
      a->setToolTip(hint);
      a->setStatusTip(hint);
    }
    return a;
  };
  actSelectComm_ = make("actSelectComm", "Select Com port...");
  connect(actSelectComm_, &QAction::triggered, this, &TfrmEcu1::SelectComm);
  // The windows behind these actions are not part of this program yet: they stay disabled.
  actConfig_ = make("actConfig", "&QVL Configuration...");
  actConfig_->setIcon(Glyph("config"));
  IOTests1_ = make("IOTests1", "&I/O Tests");
  actEcuInfo_ = make("actEcuInfo", "Hardware information...");
  actLoggedData_ = make("actLoggedData", "Internal Flash...");
  actLoggedData_->setIcon(Glyph("flash"));
  actFirmwareUpdate_ = make("actFirmwareUpdate", "&Firmware update...");
  for (QAction* a : {actConfig_, IOTests1_, actEcuInfo_, actLoggedData_, actFirmwareUpdate_})
    a->setEnabled(false);
  actConfig_->setEnabled(true);
  connect(actConfig_, &QAction::triggered, this, &TfrmEcu1::OpenConfiguration);
  IOTests1_->setEnabled(true);
  connect(IOTests1_, &QAction::triggered, this, &TfrmEcu1::OpenIOTests);
  connect(actEcuInfo_, &QAction::triggered, this, &TfrmEcu1::ShowEcuInfo);
  connect(actLoggedData_, &QAction::triggered, this, &TfrmEcu1::OpenLogDownload);
  actFirmwareUpdate_->setEnabled(true);
  connect(actFirmwareUpdate_, &QAction::triggered, this, &TfrmEcu1::OpenFirmwareUpdate);

  // The controller starts active, so automatic connection starts checked.
  actAutoConnect_ = make("actAutoConnect", "Auto connect");
  actAutoConnect_->setCheckable(true);
  actAutoConnect_->setChecked(true);
  connect(actAutoConnect_, &QAction::toggled, this, [this](bool on) {
    if (btnOnLine_) btnOnLine_->setVisible(!on);
    controller_->SetActive(on);
  });
  actOnLine_ = make("actOnLine", "Connected", "Try connecting to Ecu on selected port");
  actOnLine_->setCheckable(true);
  connect(actOnLine_, &QAction::triggered, this, [this] {
    // One more round of connection attempts; the check follows the connection.
    controller_->SetActive(true);
    if (!actAutoConnect_->isChecked()) controller_->SetActive(false);
    StateRefresh();
  });
  actIncreaseDecimalsTravel_ = make("actIncreaseDecimalsTravel", "Increase decimals");
  connect(actIncreaseDecimalsTravel_, &QAction::triggered, this,
          [this] { ChangeTravelDecimals(1); });
  actDecreaseDecimalsTravel_ = make("actDecreaseDecimalsTravel", "Decrease decimals");
  connect(actDecreaseDecimalsTravel_, &QAction::triggered, this,
          [this] { ChangeTravelDecimals(-1); });
  actLogView_ =
      make("actLogView", "View recorded data graphically", "View recorded data graphically");
  actLogView_->setIcon(Glyph("chart"));
  connect(actLogView_, &QAction::triggered, this, &TfrmEcu1::ViewLiveRecord);
  actClearLog_ = make("actClearLog", "Clear");
  connect(actClearLog_, &QAction::triggered, this, &TfrmEcu1::ClearLiveRecord);
  actAbout_ = make("actAbout", "About QVL...");
  connect(actAbout_, &QAction::triggered, this, &TfrmEcu1::ShowAbout);
  actExit_ = make("actExit", "Exit");
  connect(actExit_, &QAction::triggered, this, &QWidget::close);
}

void TfrmEcu1::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(actExit_);
  QMenu* options = menuBar()->addMenu("&Options");
  options->addAction(actSelectComm_);
  options->addAction(actAutoConnect_);
  QMenu* travel = options->addMenu("Suspension travel");
  travel->addAction(actIncreaseDecimalsTravel_);
  travel->addAction(actDecreaseDecimalsTravel_);
  QMenu* hardware = menuBar()->addMenu("&Hardware");
  hardware->addAction(actConfig_);
  hardware->addAction(IOTests1_);
  hardware->addAction(actEcuInfo_);
  hardware->addAction(actLoggedData_);
  hardware->addAction(actFirmwareUpdate_);
  hardware->addSeparator();
  hardware->addAction(actLogView_);
  hardware->addAction(actClearLog_);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(actAbout_);
  for (QMenu* m : {file, options, travel, hardware, help}) {
    m->setToolTipsVisible(true);
    m->setAccessibleName(m->title().remove('&'));
  }

  QToolBar* bar = addToolBar("Tools");
  bar->setObjectName("ToolBar1");
  bar->setMovable(false);
  bar->setIconSize(QSize(24, 24));
  bar->addAction(actConfig_);
  bar->addAction(actLoggedData_);
  for (QAction* a : bar->actions())
    if (QWidget* w = bar->widgetForAction(a)) w->setAccessibleName(a->text().remove('&'));
}

QWidget* TfrmEcu1::CreateSidePanel() {
  sidePanel_ = new QWidget(this);
  sidePanel_->setObjectName("pnlSide");
  sidePanel_->setAccessibleName("Side panel");
  sidePanel_->setFixedWidth(kSideWidth);
  sidePanel_->setAutoFillBackground(true);

  shpRunning_ = new QFrame(sidePanel_);
  shpRunning_->setObjectName("shpRunning");
  shpRunning_->setAccessibleName("Run indicator");
  shpRunning_->setGeometry(10, 12, 16, 16);
  shpRunning_->setStyleSheet("background: rgb(30, 170, 60); border-radius: 8px;");
  shpRunning_->setVisible(false);

  // The place of the wireless link's signal indicator.
  shpIndicator_ = new QFrame(sidePanel_);
  shpIndicator_->setObjectName("shpIndicator");
  shpIndicator_->setAccessibleName("Indicator place");
  shpIndicator_->setGeometry(kIndicatorBounds);
  shpIndicator_->setVisible(false);
  indicator_ = new TTevraStatusControl(sidePanel_);
  indicator_->setGeometry(kIndicatorBounds);
  indicator_->setVisible(false);

  auto tool = [this](const QString& name, QAction* action, const QRect& r) {
    auto* b = new QToolButton(sidePanel_);
    b->setObjectName(name);
    b->setDefaultAction(action);
    b->setGeometry(r);
    b->setAccessibleName(action->toolTip().isEmpty() ? action->text() : action->toolTip());
    return b;
  };
  // Recording runs from the start; the button that would switch it stays hidden.
  auto* actRecord = new QAction(Glyph("record"), "Log running data", this);
  actRecord->setToolTip("Log running data");
  btnRecord_ = tool("btnRecord", actRecord, QRect(8, 80, 44, 40));
  btnRecord_->setVisible(false);
  btnLogView_ = tool("btnLogView", actLogView_, QRect(8, 80, 44, 40));
  btnLogView_->setIconSize(QSize(30, 30));
  btnLogView_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  btnClearLog_ = tool("btnClearLog", actClearLog_, QRect(56, 80, 48, 40));
  btnOnLine_ = tool("btnOnLine", actOnLine_, QRect(8, 128, 96, 28));
  btnOnLine_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  btnOnLine_->setVisible(false);
  lblRecorded_ =
      MakeLabel(sidePanel_, "", QRect(8, 124, 100, 34), 0, false, Qt::AlignLeft | Qt::AlignTop);
  lblRecorded_->setObjectName("lblRecorded");
  lblRecorded_->setWordWrap(true);
  lblRecorded_->setAccessibleName("Recorded samples");
  sidePanel_->installEventFilter(this);
  return sidePanel_;
}

void TfrmEcu1::CreateRunStatePanel() {
  panel_ = new TRunStatePanel(kPanelWidth, kPanelHeight, this);
  panel_->setObjectName("pnlDataLog");
  panel_->setAccessibleName("Run state panel");
  panel_->setMinimumSize(kPanelWidth / 2, kPanelHeight / 2);
  const qreal big = font().pointSizeF() * 1.6;

  auto wheel = [&](const QString& title, int x, QLabel*& travel, QLabel*& percent,
                   QProgressBar*& gauge, QLabel*& speed) {
    QGroupBox* g = MakeGroup(panel_, title, QRect(x, 8, 200, 140));
    MakeLabel(g, "Travel", QRect(10, 18, 80, 16));
    travel = MakeLabel(g, "", QRect(10, 34, 146, 28), big, true);
    travel->setAccessibleName(title + " travel");
    percent = MakeLabel(g, "", QRect(10, 62, 146, 18));
    percent->setAccessibleName(title + " travel percent");
    MakeLabel(g, "Speed", QRect(10, 84, 80, 16));
    speed = MakeLabel(g, "", QRect(10, 100, 146, 28), big, true);
    speed->setAccessibleName(title + " speed");
    gauge = MakeGauge(g, title + " travel gauge", QRect(166, 20, 22, 110), Qt::Vertical);
  };
  wheel("Rear", 8, lblRearTravel_, lblRearPercent_, pbRearTravel_, lblRearSpeed_);
  wheel("Front", 432, lblFrontTravel_, lblFrontPercent_, pbFrontTravel_, lblFrontSpeed_);

  QGroupBox* state = MakeGroup(panel_, "Run state", QRect(220, 8, 200, 140));
  auto stateLabel = [&](const QString& name, const QString& text, int y) {
    QLabel* l = MakeLabel(state, text, QRect(38, y, 150, 20));
    l->setObjectName(name);
    l->setContentsMargins(4, 0, 4, 0);
    return l;
  };
  QLabel* stopped = stateLabel("lblLoggerStopped", "Stopped", 20);
  QLabel* prePost = stateLabel("lblLoggerPrePostLogging", "Pre/Post logging", 44);
  QLabel* logging = stateLabel("lblLoggerLogging", "Logging", 68);
  QLabel* full = stateLabel("lblLoggerFull", "Flash full", 92);
  stateLabels_ = {stopped, prePost, logging, prePost, full};
  lblPointer_ = MakeLabel(state, "=>", QRect(10, 20, 26, 20), 0, true);
  lblPointer_->setObjectName("lblPointer");
  lblPointer_->setAccessibleName("Run state pointer");
  lblPointer_->setVisible(false);
  lblRunTime_ = MakeLabel(state, "", QRect(38, 114, 150, 20));
  lblRunTime_->setObjectName("lblRunTime");
  lblRunTime_->setAccessibleName("Run time");
  lblRunTime_->setContentsMargins(4, 0, 4, 0);
  lblRunTime_->setVisible(false);

  auto units = [&](const QString& title, int x, QButtonGroup*& group,
                   const std::vector<std::pair<QString, int>>& buttons, int current) {
    QGroupBox* g = MakeGroup(panel_, title, QRect(x, 154, 200, 46));
    group = new QButtonGroup(this);
    int left = 10;
    for (const auto& [text, unit] : buttons) {
      auto* b = new QRadioButton(text, g);
      b->setAccessibleName(text);
      b->setGeometry(left, 18, 62, 22);
      b->setChecked(unit == current);
      group->addButton(b, unit);
      left += 62;
    }
  };
  units("Travel unit", 8, travelUnits_, {{"mm", kUnitMm}, {"cm", kUnitCm}, {"inches", kUnitInch}},
        units_.travelUnit);
  units("Speed unit", 432, speedUnits_, {{"km/h", kUnitKmh}, {"mi/h", kUnitMph}, {"tps", kUnitTps}},
        units_.speedUnit);
  connect(travelUnits_, &QButtonGroup::idClicked, this, &TfrmEcu1::SetTravelUnit);
  connect(speedUnits_, &QButtonGroup::idClicked, this, &TfrmEcu1::SetSpeedUnit);

  QGroupBox* battery = MakeGroup(panel_, "Battery", QRect(220, 152, 200, 46));
  lblBattery_ = MakeLabel(battery, "", QRect(10, 14, 180, 16));
  lblBattery_->setObjectName("lblBattery");
  lblBattery_->setAccessibleName("Battery");
  pbBattery_ = MakeGauge(battery, "Battery bar", QRect(10, 32, 180, 8), Qt::Horizontal);
  pbBattery_->setObjectName("pbBattery");
  // A plain bar: the style's animated look would repaint all the time.
  pbBattery_->setStyleSheet(
      "QProgressBar { border: 1px solid rgb(120, 120, 120); background: white; }"
      "QProgressBar::chunk { background: rgb(40, 160, 70); }");

  auto rows = [&](const QString& title, int x, const std::vector<std::pair<QString, QLabel**>>& r) {
    QGroupBox* g = MakeGroup(panel_, title, QRect(x, 356, 200, 96));
    int y = 20;
    for (const auto& [caption, label] : r) {
      MakeLabel(g, caption, QRect(10, y, 80, 22));
      *label = MakeLabel(g, "", QRect(90, y, 100, 22), 0, true, Qt::AlignRight | Qt::AlignVCenter);
      (*label)->setAccessibleName(caption);
      y += 24;
    }
  };
  rows("Acceleration", 8,
       {{"Vertical", &lblVertical_}, {"Frontal", &lblFrontal_}, {"Lateral", &lblLateral_}});
  rows("Orientation", 432, {{"Heading", &lblHeading_}, {"Pitch", &lblPitch_}, {"Roll", &lblRoll_}});

  QGroupBox* flash = MakeGroup(panel_, "Internal flash", QRect(214, 356, 212, 96));
  MakeLabel(flash, "Current session:", QRect(10, 18, 150, 16));
  lblSession_ = MakeLabel(flash, "", QRect(6, 34, 200, 18));
  lblSession_->setObjectName("lblSession");
  lblSession_->setAccessibleName("Current session");
  MakeLabel(flash, "Unsaved data:", QRect(10, 54, 150, 16));
  lblUnsaved_ = MakeLabel(flash, "", QRect(6, 70, 200, 18));
  lblUnsaved_->setObjectName("lblUnsaved");
  lblUnsaved_->setAccessibleName("Unsaved data");
  lblSD_ = MakeLabel(flash, "SD", QRect(170, 14, 30, 18), 0, true, Qt::AlignCenter);
  lblSD_->setObjectName("lblSD");
  lblSD_->setStyleSheet("background: rgb(30, 90, 160); color: white; border-radius: 3px;");
  lblSD_->setVisible(false);

  panel_->StoreDesign();
}

void TfrmEcu1::CreatePanels() {
  auto* central = new QWidget(this);
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(CreateSidePanel());
  CreateRunStatePanel();
  layout->addWidget(panel_, 1);
  setCentralWidget(central);

  statusConnection_ = new QLabel(this);
  statusConnection_->setObjectName("StatusBar1Panel0");
  statusInfo_ = new QLabel(this);
  statusInfo_->setObjectName("StatusBar1Panel1");
  for (QLabel* l : {statusConnection_, statusInfo_}) {
    l->setStyleSheet("color: black;");
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    l->setToolTip("Click on this bar for information on currently online Ecu");
    l->installEventFilter(this);
  }
  statusConnection_->setAccessibleName("Connection");
  statusInfo_->setAccessibleName("Information");
  statusBar()->setObjectName("StatusBar1");
  statusBar()->addWidget(statusConnection_, 3);
  statusBar()->addWidget(statusInfo_, 2);
  statusBar()->setSizeGripEnabled(true);
}

void TfrmEcu1::RestoreSettings() {
  const QSize design(kSideWidth + kPanelWidth, kPanelHeight);
  resize(stored_.width > 0 && stored_.height > 0 ? QSize(stored_.width, stored_.height)
                                                 : sizeHint().expandedTo(design));
  if (stored_.hasOrigin && stored_.width > 0) {
    move(stored_.left, stored_.top);
  } else if (QScreen* s = screen()) {
    QRect r = frameGeometry();
    r.moveCenter(s->availableGeometry().center());
    move(r.topLeft());
  }
}

void TfrmEcu1::ShowAsStored() {
  if (stored_.state == 2)
    showMaximized();
  else
    show();
}

// --- link ---

void TfrmEcu1::AttachIndicator() {
  if (!link_) return;
  link_->AttachIndicator(sidePanel_, {kIndicatorBounds.x(), kIndicatorBounds.y(),
                                      kIndicatorBounds.width(), kIndicatorBounds.height()});
  const bool wireless = std::string(link_->GetImplementor().className) == kTevraWChannelClass;
  indicator_->setVisible(wireless);
  if (!wireless) return;
  auto* tevra = static_cast<TTevraWComm*>(link_->GetImplementor().object);
  gate_ = std::make_shared<TNotifyGate>();
  gate_->sync = &sync_;
  gate_->onIndicator = [this] { UpdateIndicator(); };
  gate_->onDiagnostic = [this](const QString& message) {
    diagnostics_.append(message);
    while (diagnostics_.size() > 3) diagnostics_.removeFirst();
    UpdateIndicator();
  };
  std::weak_ptr<TNotifyGate> weak = gate_;
  tevra->SetIndicatorListener([weak] {
    auto gate = weak.lock();
    if (!gate || gate->indicatorPending.exchange(true)) return;
    gate->Post([gate] {
      gate->indicatorPending = false;
      if (gate->Open() && gate->onIndicator) gate->onIndicator();
    });
  });
  tevra->SetDiagnosticHandler([weak](const std::string& message) {
    auto gate = weak.lock();
    if (!gate) return;
    QString text = QString::fromStdString(message);
    gate->Post([gate, text] {
      if (gate->Open() && gate->onDiagnostic) gate->onDiagnostic(text);
    });
  });
  indicator_->OnClick = [this] {
    if (!link_ || std::string(link_->GetImplementor().className) != kTevraWChannelClass) return;
    try {
      static_cast<TTevraWComm*>(link_->GetImplementor().object)->StatusRefresh();
    } catch (const std::exception& e) {
      statusInfo_->setText(QString::fromStdString(e.what()));
    }
  };
  UpdateIndicator();
}

void TfrmEcu1::UpdateIndicator() {
  if (!link_ || std::string(link_->GetImplementor().className) != kTevraWChannelClass) return;
  const TTevraIndicator state =
      static_cast<TTevraWComm*>(link_->GetImplementor().object)->Indicator();
  indicator_->SetLevel(state.level);
  QString hint = QString::fromStdString(state.hint);
  if (!diagnostics_.isEmpty()) hint += "\r" + diagnostics_.join(", ");
  indicator_->SetHint(hint);
}

void TfrmEcu1::ReleaseLink() {
  if (gate_) gate_->Close();
  if (link_ && std::string(link_->GetImplementor().className) == kTevraWChannelClass) {
    auto* tevra = static_cast<TTevraWComm*>(link_->GetImplementor().object);
    tevra->SetIndicatorListener(nullptr);
    tevra->SetDiagnosticHandler(nullptr);
  }
  gate_.reset();
  diagnostics_.clear();
  // Detaching stops the polling thread before the link goes.
  controller_->SetChannel(nullptr);
  link_.reset();
  indicator_->setVisible(false);
}

void TfrmEcu1::AttachLink(TCommChannelPtr link) {
  link_ = std::move(link);
  AttachIndicator();
  const std::string error = link_->GetLastErrorText();
  if (!error.empty()) {
    // The old link is gone already; the tool stays without a link.
    ReleaseLink();
    ShowMessage(FromModel(error), true);
    return;
  }
  link_->SetTimeOut(kLinkTimeOut);
  controller_->SetChannel(link_);
}

void TfrmEcu1::ApplyPortSelection(int index, const std::string& text) {
  if (index < 0) return;
  StoreChosenPort(settings_, text);
  ReleaseLink();
  TCommChannelPtr link = options_.createLink(LinkForEntry(index, text));
  if (link) {
    TryOpenLink(*link);
    AttachLink(std::move(link));
  } else {
    ShowMessage("No communication port defined", true);
  }
  StateRefresh();
}

void TfrmEcu1::SelectComm() {
  const std::vector<std::string> entries = PortSelectionEntries(options_.listSerialPorts());
  TfrmSelectComm dialog(entries, PortSelectionIndex(entries, link_.get()), this);
  if (dialog.exec() == QDialog::Accepted && dialog.SelectedIndex() >= 0)
    ApplyPortSelection(dialog.SelectedIndex(), dialog.SelectedText());
  StateRefresh();
}

// --- refresh ---

void TfrmEcu1::ControllerChanged(TController*, uint8_t flags) {
  if (shutDown_) return;
  if (flags & kChangeValues) {
    // The run indicator blinks at the status rate.
    shpRunning_->setVisible(shpRunning_->isHidden());
    LiveRefresh();
    firstStatusShown_ = true;
    if (recording_) {
      record_.Append(*controller_);
      lblRecorded_->setText(QString("%1 samples recorded").arg(record_.Count()));
    }
  }
  if (flags & kChangeConnection) StateRefresh();
}

void TfrmEcu1::StateRefresh() {
  const bool connected = controller_->Connected();
  actEcuInfo_->setEnabled(connected);
  actLoggedData_->setEnabled(connected);
  shpRunning_->setVisible(connected || (link_ && link_->IsOpen()));
  statusConnection_->setText(
      FromModel(ConnectionText(link_.get(), connected, controller_->IdentificationString())));
  statusConnection_->setCursor(connected ? Qt::PointingHandCursor : Qt::ArrowCursor);
  actOnLine_->setEnabled(link_ != nullptr);
  actOnLine_->setChecked(link_ && connected);
}

void TfrmEcu1::LiveRefresh() {
  const TLivePanel p = ReadLivePanel(*controller_, units_);
  SetText(lblFrontTravel_, FromModel(p.frontTravel));
  SetText(lblRearTravel_, FromModel(p.rearTravel));
  SetText(lblFrontPercent_, FromModel(p.frontTravelPercent));
  SetText(lblRearPercent_, FromModel(p.rearTravelPercent));
  pbFrontTravel_->setValue(p.frontGauge);
  pbRearTravel_->setValue(p.rearGauge);
  SetText(lblFrontSpeed_, FromModel(p.frontSpeed));
  SetText(lblRearSpeed_, FromModel(p.rearSpeed));
  SetText(lblVertical_, FromModel(p.verticalAccel));
  SetText(lblFrontal_, FromModel(p.frontalAccel));
  SetText(lblLateral_, FromModel(p.lateralAccel));
  SetText(lblHeading_, FromModel(p.heading));
  SetText(lblPitch_, FromModel(p.pitch));
  SetText(lblRoll_, FromModel(p.roll));

  batteryBar_ = BatteryBarPosition(p.batteryPercent, batteryBar_);
  pbBattery_->setValue(batteryBar_);
  SetText(lblBattery_, FromModel(BatteryText(batteryBar_)));

  lblSD_->setVisible(p.sdPresent);
  QString sdHint = FromModel(p.sdHint).replace('\r', '\n');
  if (lblSD_->toolTip() != sdHint) {
    lblSD_->setToolTip(sdHint);
    lblSD_->setAccessibleDescription(sdHint);
  }
  SetText(lblSession_, FromModel(p.session));
  SetText(lblUnsaved_, FromModel(p.unsaved));

  QLabel* current = p.runState >= 0 && p.runState < 5 ? stateLabels_[size_t(p.runState)] : nullptr;
  if (current && (lblPointer_->isHidden() || lblPointer_->y() != current->y())) {
    for (QLabel* l : stateLabels_) l->setStyleSheet("background: transparent; color: black;");
    current->setStyleSheet("background: rgb(20, 100, 50); color: white;");
    lblPointer_->move(lblPointer_->x(), current->y());
    lblPointer_->setVisible(true);
  }
  lblRunTime_->setVisible(p.runTimeVisible);
  if (p.runTimeVisible) SetText(lblRunTime_, FromModel(p.runTime));
}

QLabel* TfrmEcu1::PointedStateLabel() const {
  if (lblPointer_->isHidden()) return nullptr;
  for (QLabel* l : stateLabels_)
    if (l->y() == lblPointer_->y()) return l;
  return nullptr;
}

QString TfrmEcu1::StatusText() const {
  return statusConnection_->text();
}

// --- commands ---

void TfrmEcu1::SetTravelUnit(int unit) {
  if (!IsTravelUnit(unit)) return;
  units_.travelUnit = unit;
  if (QAbstractButton* b = travelUnits_->button(unit)) b->setChecked(true);
  if (firstStatusShown_) LiveRefresh();
}

void TfrmEcu1::SetSpeedUnit(int unit) {
  if (!IsSpeedUnit(unit)) return;
  units_.speedUnit = unit;
  if (QAbstractButton* b = speedUnits_->button(unit)) b->setChecked(true);
  if (firstStatusShown_) LiveRefresh();
}

void TfrmEcu1::ChangeTravelDecimals(int delta) {
  const int decimals = std::clamp(units_.travelDecimals + delta, 0, 3);
  if (decimals == units_.travelDecimals) return;
  units_.travelDecimals = decimals;
  StoreTravelDecimals(settings_, decimals);
  if (firstStatusShown_) LiveRefresh();
}

void TfrmEcu1::ViewLiveRecord() {
  try {
    if (!block_) throw Exception("Cannot open viewer");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto start = [this] {
      QProcess viewer;
      viewer.setProgram(options_.viewerProgram);
      viewer.setArguments(options_.viewerArguments);
      if (!options_.viewerOutput.isEmpty()) viewer.setStandardOutputFile(options_.viewerOutput);
      viewer.startDetached();
    };
    SendLiveView(*block_, *controller_, record_.Samples(), start);
    QApplication::restoreOverrideCursor();
  } catch (const std::exception& e) {
    if (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    ShowMessage(FromModel(e.what()), true);
  }
}

void TfrmEcu1::ClearLiveRecord() {
  record_.Start();
  lblRecorded_->setText(QString("%1 samples recorded").arg(record_.Count()));
}

void TfrmEcu1::ShowAbout() {
  const QString product = QFileInfo(QApplication::applicationFilePath()).completeBaseName();
  TAboutBox about(product.isEmpty() ? QString(kToolProgramName) : product, this);
  about.exec();
}

void TfrmEcu1::OpenLogDownload() {
  if (!controller_->Connected()) return;
  if (controller_->LoggingState() == kLoggingStateLogging &&
      QMessageBox::question(this, windowTitle(),
                            "This will stop the current logging run.  Do you wish to continue?",
                            QMessageBox::Yes | QMessageBox::Cancel) == QMessageBox::Cancel)
    return;
  TLogDownloadHooks hooks;
  hooks.showMessage = [this](const QString& text, bool error) { ShowMessage(text, error); };
  TfrmLogDownload download(*controller_, settings_, hooks, this);
  if (download.Open()) download.exec();
}

void TfrmEcu1::OpenFirmwareUpdate() {
  // The link is the window's while it is open; polling comes back whatever happens.
  controller_->PausePolling();
  try {
    TFlashFormHooks hooks;
    hooks.showMessage = [this](const QString& text, bool error) { ShowMessage(text, error); };
    TfrmFlash flash(link_, settings_, hooks, this);
    flash.exec();
  } catch (const std::exception& e) {
    ShowMessage(FromModel(e.what()), true);
  }
  controller_->ResumePolling();
}

void TfrmEcu1::OpenConfiguration() {
  const std::string compassFile =
      std::filesystem::path(settingsFile_).replace_extension(".ref").string();
  TfrmConfig config(
      *controller_, settings_, compassFile,
      [this](const QString& text) { ShowMessage(text, true); }, this);
  if (config.Execute()) controller_->SetModified(true);
}

void TfrmEcu1::OpenIOTests() {
  if (!monitor_)
    monitor_ = new TfrmMonitor1(
        *controller_, settings_, [this](const QString& text) { ShowMessage(text, true); }, this);
  monitor_->show();
  monitor_->raise();
  monitor_->activateWindow();
}

TfrmMonitor1* TfrmEcu1::Monitor() const {
  return monitor_;
}

void TfrmEcu1::ShowEcuInfo() {
  if (!controller_->Connected()) return;
  TfrmEcuInfo info(*controller_, this);
  info.exec();
}

void TfrmEcu1::OpenCompassTest() {
  auto* test =
      new TfrmCompassTest(*controller_, [this](const QString& text) { ShowMessage(text, true); });
  compassTests_.removeAll(nullptr);
  compassTests_.append(test);
  test->show();
}

void TfrmEcu1::CloseToolWindows() {
  delete monitor_;
  for (const QPointer<TfrmCompassTest>& test : compassTests_) delete test;
  compassTests_.clear();
}

void TfrmEcu1::ShowMessage(const QString& text, bool error) {
  if (options_.showMessage) {
    options_.showMessage(text, error);
    return;
  }
  if (error)
    QMessageBox::critical(this, windowTitle(), text);
  else
    QMessageBox::warning(this, windowTitle(), text);
}

bool TfrmEcu1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sidePanel_ && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton && (mouse->modifiers() & Qt::AltModifier)) {
      OpenCompassTest();
      return true;
    }
  }
  if ((watched == statusConnection_ || watched == statusInfo_) &&
      event->type() == QEvent::MouseButtonRelease) {
    if (actEcuInfo_->isEnabled()) actEcuInfo_->trigger();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// --- settings and closing ---

bool TfrmEcu1::SaveSettings() {
  // The normal size of the window and the origin of its frame, as move() takes it.
  const bool normalState = !isMaximized() && !isMinimized();
  const QRect normal = normalState ? geometry() : normalGeometry();
  const QPoint frameOffset = geometry().topLeft() - pos();
  stored_.width = normal.width();
  stored_.height = normal.height();
  stored_.left = normalState ? pos().x() : normal.x() - frameOffset.x();
  stored_.top = normalState ? pos().y() : normal.y() - frameOffset.y();
  stored_.state = isMinimized() ? 1 : isMaximized() ? 2 : 0;
  stored_.units = units_;
  stored_.Write(settings_);
  // A file that could not be read keeps the user's other keys: it is not overwritten.
  if (!settingsReadable_) return false;
  try {
    SaveSettingsFile(settings_, settingsFile_);
    return true;
  } catch (const std::exception& e) {
    ShowMessage(QString("Cannot save the settings: %1").arg(FromModel(e.what())), true);
    return false;
  }
}

void TfrmEcu1::closeEvent(QCloseEvent* event) {
  CloseToolWindows();
  if (!shutDown_) SaveSettings();
  Shutdown();
  event->accept();
}

void TfrmEcu1::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  CloseToolWindows();
  controller_->RemoveListener(this);
  ReleaseLink();
  controller_.reset();
  block_.reset();
  endpoint_.reset();
}

}  // namespace qvl
