#include "viewer/forms/view_log_form.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "core/device/ecu_types.h"
#include "core/device/live_channel.h"
#include "core/logdata/data_log_store.h"
#include "core/util/number_format.h"
#include "viewer/chart_binding.h"
#include "viewer/forms/configure_form.h"
#include "viewer/forms/export_form.h"
#include "viewer/forms/histogram_form.h"
#include "viewer/forms/notes_form.h"
#include "viewer/forms/open_waiter.h"
#include "viewer/forms/overlay_manager_form.h"
#include "viewer/forms/save_layout_form.h"
#include "viewer/overlay_slots.h"
#include "viewer/qt_text.h"
#include "viewer/stripchart/strip_chart.h"
#include "viewer/video/video_panel.h"
#include "viewer/video/video_windows.h"
#include "viewer/viewer_navigation.h"

namespace qvl {
namespace {

constexpr int kPanelWidth = 230;
constexpr int kPanelEdge = 6;
constexpr int kSlideMs = 500;
// Height of the docked video area when the settings keep none.
constexpr int kVideoHeight = 300;

QString Q(const std::string& text) {
  return Cp1252ToQString(text);
}

// The Windows line break of the model's labels shown as a line break.
QString Lines(const std::string& text) {
  QString s = Q(text);
  s.replace('\r', '\n');
  return s;
}

// A label that wraps its text onto as many lines as its width needs and asks for that height at
// the width it is given. A word-wrapping QLabel asks for a height for each width instead, which a
// box layout grants without giving any of it up, so the event lists could not shrink in a low
// window and the read-outs above them were squeezed over each other instead.
class TWrappingLabel : public QLabel {
 public:
  TWrappingLabel() { setWordWrap(true); }
  bool hasHeightForWidth() const override { return false; }
  QSize sizeHint() const override { return AtWidth(QLabel::sizeHint()); }
  QSize minimumSizeHint() const override { return AtWidth(QLabel::minimumSizeHint()); }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    // A new width may need another number of lines.
    if (event->size().width() != event->oldSize().width() && heightForWidth(width()) != height())
      updateGeometry();
  }

 private:
  QSize AtWidth(QSize size) const {
    size.setHeight(heightForWidth(width()));
    return size;
  }
};

QAction* MakeAction(QObject* parent, const char* name, const QString& caption,
                    const QString& hint) {
  auto* a = new QAction(caption, parent);
  a->setObjectName(name);
  a->setToolTip(hint);
  a->setStatusTip(hint);
  if (caption.isEmpty()) a->setIconText(hint);
  return a;
}

}  // namespace

TfrmViewLog::TfrmViewLog(TViewerOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
  settingsFile_ = options_.settingsFile.empty()
                      ? ViewerSettingsPath(QCoreApplication::applicationDirPath().toStdString())
                      : options_.settingsFile;
  QString settingsWarning;
  try {
    settings_.LoadFromFile(settingsFile_);
  } catch (const std::exception& e) {
    settingsReadable_ = false;
    settingsWarning =
        QString("The settings could not be read and will not be saved: %1").arg(Q(e.what()));
  }
  layouts_.Load(settings_);
  display_.SetSettings(ReadAnalysisSettings(settings_));
  recent_ = ReadRecentFiles(settings_);

  setWindowTitle(kCaption);
  setAcceptDrops(true);
  CreateActions();
  CreateToolBar();

  centre_ = new QWidget(this);
  centre_->installEventFilter(this);
  chart_ = new TKelStripChart(centre_);
  chart_->setObjectName("scLog");
  chart_->AddCursor();
  chart_->Cursors(0)->SetScrollMargins(0.2, 0.2);
  chart_->installEventFilter(this);
  connect(chart_->Cursors(0), &TStripCursor::OnChange, this, [this] { UpdateReadouts(); });
  connect(chart_, &TKelStripChart::OnMouseEnter, this, [this] {
    if (!docked_ && slide_ > 0) SlidePanel(false);
  });
  connect(chart_, &TKelStripChart::OnMouseMove, this, [this](QPoint pos, Qt::KeyboardModifiers) {
    const int strip = pos.x() < TKelStripChart::kLeftMargin ? StripAt(pos.y()) : -1;
    chart_->SetHint(strip >= 0 ? StripHint(strip) : QString());
  });
  connect(chart_, &TKelStripChart::OnResizeChannels, this, [this] { MarkLayoutModified(); });
  setCentralWidget(centre_);
  CreateDataPanel();
  CreateVideo();

  statusPath_ = new QLabel;
  statusPath_->setObjectName("statusPath");
  statusPath_->installEventFilter(this);
  statusBar()->addWidget(statusPath_, 1);

  RestoreSettings();
  if (!settingsWarning.isEmpty()) ShowMessage(settingsWarning, false);
  if (options_.live) StartLive();
}

TfrmViewLog::~TfrmViewLog() {
  if (block_) block_->SetViewerId(0);
}

// --- construction ---------------------------------------------------------------------------

void TfrmViewLog::CreateActions() {
  actFileOpen_ = MakeAction(this, "actFileOpen", "", "Open|Opens an existing file");
  actFileOpen_->setIconText("Open");
  actFileOpen_->setShortcut(QKeySequence("Ctrl+O"));
  connect(actFileOpen_, &QAction::triggered, this, &TfrmViewLog::ChooseAndOpenFile);
  actFileSave_ = MakeAction(this, "actFileSave", "Save", "Save changes");
  actFileSave_->setEnabled(false);
  connect(actFileSave_, &QAction::triggered, this, [this] { SaveFile(); });
  actConfig_ = MakeAction(this, "actConfig", "Configure...", "Configure analysis parameters");
  connect(actConfig_, &QAction::triggered, this, [this] { Configure(); });

  actAttachVideo_ =
      MakeAction(this, "actAttachVideo", "Attach video", "Attach a video to current file");
  connect(actAttachVideo_, &QAction::triggered, this, &TfrmViewLog::AttachVideo);
  actShowVideo_ = MakeAction(this, "actShowVideo", "Goto video window", "Goto video window");
  actDockVideo_ =
      MakeAction(this, "actDockVideo", "Dock video in main window", "Dock video in main window");
  actFloatVideo_ = MakeAction(this, "actFloatVideo", "Show video in a separate window",
                              "Show video in a separate window");
  actGotoMain_ = MakeAction(this, "actGotoMain", "Goto main window", "Goto main window");
  connect(actGotoMain_, &QAction::triggered, this, [this] {
    raise();
    activateWindow();
  });
  actAllRuns_ = MakeAction(this, "actAllRuns", "Show all runs",
                           "Toggle between single run or all runs from this session");
  actAllRuns_->setCheckable(true);
  actAllRuns_->setEnabled(false);
  connect(actAllRuns_, &QAction::triggered, this, [this](bool on) { SetAllRuns(on); });
  actPreviousSession_ =
      MakeAction(this, "actPreviousSession", "Previous session", "Display previous session");
  actNextSession_ = MakeAction(this, "actNextSession", "Next session", "Display next session");
  actPreviousRun_ = MakeAction(this, "actPreviousRun", "Previous run", "Previous run");
  actNextRun_ = MakeAction(this, "actNextRun", "Next run", "Next run");
  connect(actPreviousSession_, &QAction::triggered, this, &TfrmViewLog::PreviousSession);
  connect(actNextSession_, &QAction::triggered, this, &TfrmViewLog::NextSession);
  connect(actPreviousRun_, &QAction::triggered, this, &TfrmViewLog::PreviousRun);
  connect(actNextRun_, &QAction::triggered, this, &TfrmViewLog::NextRun);
  actShowNotes_ = MakeAction(this, "actShowNotes", "Show notes", "Show notes");
  connect(actShowNotes_, &QAction::triggered, this, &TfrmViewLog::ShowNotes);
  actOverlays_ = MakeAction(this, "actOverlays", "Overlays", "Show the Overlay manager");
  connect(actOverlays_, &QAction::triggered, this, &TfrmViewLog::ShowOverlays);
  actSync_ =
      MakeAction(this, "actSync", "Sync", "Synchronize video and graph at their current position");
  actUnSync_ =
      MakeAction(this, "actUnSync", "Desync", "Remove synchronisation between video and graph");
  actResync_ =
      MakeAction(this, "actResync", "Resync", "Replace synchronisation between video and graph");
  actViewData_ = MakeAction(this, "actViewData", "", "Make the data panel always visible");
  actHideData_ = MakeAction(this, "actHideData", "", "Hide the data panel");
  connect(actViewData_, &QAction::triggered, this, [this] { SetDataPanelDocked(true); });
  connect(actHideData_, &QAction::triggered, this, [this] { SetDataPanelDocked(false); });
  // Enabled once a file is open.
  for (QAction* a :
       {actAttachVideo_, actShowVideo_, actDockVideo_, actFloatVideo_, actShowNotes_, actSync_,
        actUnSync_, actResync_, actPreviousSession_, actNextSession_, actPreviousRun_, actNextRun_})
    a->setEnabled(false);
  for (QAction* a : findChildren<QAction*>()) addAction(a);  // shortcuts without the tool bar
}

void TfrmViewLog::CreateToolBar() {
  toolBar_ = addToolBar("Tools");
  toolBar_->setObjectName("ToolBar1");
  toolBar_->setMovable(false);
  toolBar_->installEventFilter(this);

  btnOpen_ = new QToolButton;
  btnOpen_->setDefaultAction(actFileOpen_);
  recentMenu_ = new QMenu(btnOpen_);
  btnOpen_->setMenu(recentMenu_);
  btnOpen_->setPopupMode(QToolButton::MenuButtonPopup);
  toolBar_->addWidget(btnOpen_);
  FillRecentMenu();
  toolBar_->addAction(actFileSave_);
  toolBar_->addAction(actConfig_);
  toolBar_->addSeparator();

  mnuParamSelection_ = new QMenu(this);
  mnuParamSelection_->setObjectName("mnuParamSelection");
  tbNewChart_ = new QToolButton;
  tbNewChart_->setObjectName("tbNewChart");
  tbNewChart_->setText("New chart");
  tbNewChart_->setToolTip("Select new graphical parameter");
  tbNewChart_->setAccessibleName("Select new graphical parameter");
  connect(tbNewChart_, &QToolButton::clicked, this, [this] {
    PopChannelMenu(ChannelMenu(false, -1),
                   tbNewChart_->mapToGlobal(tbNewChart_->rect().bottomLeft()));
  });
  toolBar_->addWidget(tbNewChart_);
  tbHistograms_ = new QToolButton;
  tbHistograms_->setObjectName("tbHistograms");
  tbHistograms_->setText("Histograms");
  tbHistograms_->setToolTip("Show histograms");
  tbHistograms_->setAccessibleName("Show histograms");
  tbHistograms_->setEnabled(false);  // until a file is open
  mnuHistograms_ = new QMenu(tbHistograms_);
  mnuHistograms_->setObjectName("mnuHistograms");
  connect(mnuHistograms_, &QMenu::aboutToShow, this, [this] { HistogramMenu(); });
  tbHistograms_->setMenu(mnuHistograms_);
  tbHistograms_->setPopupMode(QToolButton::InstantPopup);
  toolBar_->addWidget(tbHistograms_);
  toolBar_->addSeparator();
  toolBar_->addAction(actAllRuns_);
  toolBar_->addAction(actPreviousSession_);
  toolBar_->addAction(actPreviousRun_);
  toolBar_->addAction(actNextRun_);
  toolBar_->addAction(actNextSession_);
  toolBar_->addSeparator();
  toolBar_->addAction(actShowNotes_);
  // Pointing at the notes button opens the notes in place of its hint.
  if (QWidget* notesButton = toolBar_->widgetForAction(actShowNotes_)) {
    notesButton->setObjectName("btnShowNotes");
    notesButton->installEventFilter(this);
  }
  toolBar_->addAction(actOverlays_);
  toolBar_->addAction(actAttachVideo_);
  toolBar_->addSeparator();
  cbLayout_ = new QComboBox;
  cbLayout_->setObjectName("cbLayout");
  cbLayout_->setToolTip("Layout");
  cbLayout_->setAccessibleName("Layout");
  cbLayout_->setMinimumContentsLength(16);
  cbLayout_->installEventFilter(this);
  connect(cbLayout_, &QComboBox::activated, this, [this](int index) { ApplyLayout(index); });
  toolBar_->addWidget(cbLayout_);
  btnSaveLayout_ = new QToolButton;
  btnSaveLayout_->setObjectName("btnSaveLayout");
  btnSaveLayout_->setText("Save layout");
  btnSaveLayout_->setToolTip("Save current layout");
  btnSaveLayout_->setAccessibleName("Save current layout");
  connect(btnSaveLayout_, &QToolButton::clicked, this, [this] { SaveCurrentLayout(); });
  toolBar_->addWidget(btnSaveLayout_);
  toolBar_->addSeparator();
  toolBar_->addAction(actViewData_);
  toolBar_->addAction(actHideData_);
}

void TfrmViewLog::CreateDataPanel() {
  panel_ = new QFrame(centre_);
  panel_->setObjectName("pnlData");
  panel_->setAutoFillBackground(true);
  static_cast<QFrame*>(panel_)->setFrameShape(QFrame::StyledPanel);
  panel_->installEventFilter(this);
  auto label = [](const char* name) {
    auto* l = new QLabel;
    l->setObjectName(name);
    return l;
  };
  // The groups sit in a scroll area: a window too low for all of them (or one sharing its height
  // with the docked video) scrolls them rather than laying them over each other.
  auto* outer = new QVBoxLayout(panel_);
  outer->setContentsMargins(kPanelEdge + 4, 4, 4, 4);
  auto* scroll = new QScrollArea;
  scroll->setObjectName("sbData");
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidgetResizable(true);
  outer->addWidget(scroll);
  auto* content = new QWidget;
  content->setObjectName("pnlDataGroups");
  auto* layout = new QVBoxLayout(content);
  layout->setContentsMargins(0, 0, 0, 0);
  btnTime_ = new QPushButton;
  btnTime_->setObjectName("btnTime");
  btnTime_->setAccessibleName("Time");
  btnTime_->installEventFilter(this);
  lblSession_ = label("lblSession");
  lblSessionStart_ = label("lblSessionStart");
  lblRun_ = label("lblRun");
  lblRunStart_ = label("lblRunStart");
  lblRunLength_ = label("lblRunLength");
  // Each of these shows a heading and its value on two lines; the box is sized for them from
  // the start, as the texts only come with the first cursor position.
  for (QLabel* l : {lblSession_, lblSessionStart_, lblRun_, lblRunStart_, lblRunLength_})
    l->setMinimumHeight(2 * l->fontMetrics().lineSpacing() + 2);
  auto* place = new QGroupBox;
  auto* placeLayout = new QGridLayout(place);
  placeLayout->addWidget(lblSession_, 0, 0);
  placeLayout->addWidget(lblRun_, 0, 1);
  placeLayout->addWidget(lblSessionStart_, 1, 0, 1, 2);
  placeLayout->addWidget(lblRunStart_, 2, 0, 1, 2);
  placeLayout->addWidget(lblRunLength_, 3, 0, 1, 2);
  placeLayout->addWidget(btnTime_, 4, 0, 1, 2);
  // Each label has its heading for a gap above its value.
  placeLayout->setVerticalSpacing(2);
  groups_.push_back(place);

  auto pair = [&](const char* title, QLabel* front, QLabel* rear) {
    auto* box = new QGroupBox(title);
    auto* form = new QFormLayout(box);
    form->addRow("Front", front);
    form->addRow("Rear", rear);
    return box;
  };
  lblFrontTravel_ = label("lblFrontTravel");
  lblRearTravel_ = label("lblRearTravel");
  lblFrontVelocity_ = label("lblFrontVelocity");
  lblRearVelocity_ = label("lblRearVelocity");
  lblFrontSpeed_ = label("lblFrontSpeed");
  lblRearSpeed_ = label("lblRearSpeed");
  lblFrontAccel_ = label("lblFrontAccel");
  lblVerticalAccel_ = label("lblVerticalAccel");
  lblLateralAccel_ = label("lblLateralAccel");
  groups_.push_back(pair(" Travel ", lblFrontTravel_, lblRearTravel_));
  groups_.push_back(pair(" Velocity ", lblFrontVelocity_, lblRearVelocity_));
  groups_.push_back(pair(" Speed ", lblFrontSpeed_, lblRearSpeed_));
  auto* accel = new QGroupBox(" Acceleration ");
  auto* accelForm = new QFormLayout(accel);
  accelForm->addRow("Front", lblFrontAccel_);
  accelForm->addRow("Vertical", lblVerticalAccel_);
  accelForm->addRow("Lateral", lblLateralAccel_);
  groups_.push_back(accel);

  const char* memoNames[4] = {"memFrontBottoming", "memRearBottoming", "memFrontWheelLock",
                              "memRearWheelLock"};
  for (int k = 0; k < 4; ++k) {
    // "Front (84 times)" is wider than half the panel: the count goes onto a second line.
    memoLabels_[k] = new TWrappingLabel;
    memoLabels_[k]->setObjectName(QString(memoNames[k]).replace("mem", "lbl"));
    memoLabels_[k]->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    memos_[k] = new QListWidget;
    memos_[k]->setObjectName(memoNames[k]);
    memos_[k]->setMaximumHeight(80);
    memos_[k]->setMinimumHeight(24);
    connect(memos_[k], &QListWidget::itemDoubleClicked, this,
            [this, k](QListWidgetItem* item) { EventLineActivated(k, memos_[k]->row(item)); });
  }
  for (int g = 0; g < 2; ++g) {
    auto* box = new QGroupBox(g == 0 ? " Bottoming " : " Wheel lock ");
    auto* grid = new QGridLayout(box);
    grid->addWidget(memoLabels_[2 * g], 0, 0);
    grid->addWidget(memoLabels_[2 * g + 1], 0, 1);
    grid->addWidget(memos_[2 * g], 1, 0);
    grid->addWidget(memos_[2 * g + 1], 1, 1);
    groups_.push_back(box);
  }
  // The group boxes spread over the free height; their frames keep them apart when there is none.
  layout->setSpacing(0);
  // The read-out boxes keep their height; the two event lists give up lines when the window
  // is too low for everything, rather than the read-outs being squeezed over each other.
  for (QGroupBox* g : groups_) {
    const bool events = g->findChild<QListWidget*>() != nullptr;
    g->setSizePolicy(QSizePolicy::Preferred, events ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    layout->addWidget(g);
    layout->addStretch(1);
  }
  scroll->setWidget(content);

  slider_ = new QVariantAnimation(this);
  slider_->setDuration(kSlideMs);
  slider_->setEasingCurve(QEasingCurve::Linear);
  connect(slider_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    slide_ = v.toDouble();
    PlacePanel();
  });
}

void TfrmViewLog::RestoreSettings() {
  const int width = int(settings_.ReadInteger(ini::kMain, "Width", 0));
  const int height = int(settings_.ReadInteger(ini::kMain, "Height", 0));
  stateStored_ = int(settings_.ReadInteger(ini::kMain, "State", 0));
  const QRect screen = QApplication::primaryScreen()
                           ? QApplication::primaryScreen()->availableGeometry()
                           : QRect(0, 0, 1280, 800);
  if (width <= 0 || height <= 0) {
    resize(1100, 720);
    move(screen.center() - rect().center());
  } else {
    resize(width, height);
    move(int(settings_.ReadInteger(ini::kMain, "Left", screen.center().x() - width / 2)),
         int(settings_.ReadInteger(ini::kMain, "Top", screen.center().y() - height / 2)));
  }
  SetDataPanelDocked(settings_.ReadBool(ini::kMain, "DataPanel", false));

  // The layout chosen last, else the edited arrangement left unnamed, else the default.
  const std::string name = settings_.ReadString(ini::kMain, "ChartLayout", "");
  const int index = name.empty() ? -1 : layouts_.IndexOf(name);
  if (index >= 0) {
    ApplyLayout(index);
  } else if (layouts_.HasWorkingLayout()) {
    FillLayoutBox(-1);
    SetStrips(StripsFromLayout(layouts_.WorkingLayout()));
    layoutModified_ = true;
    RefreshChart();
  } else {
    ApplyLayout(0);
  }
}

void TfrmViewLog::ShowAsStored() {
  if (stateStored_ == 2)
    showMaximized();
  else
    show();
}

void TfrmViewLog::ShowMessage(const QString& text, bool error) {
  if (options_.showMessage) {
    options_.showMessage(text, error);
    return;
  }
  if (error)
    QMessageBox::critical(this, kCaption, text);
  else
    QMessageBox::information(this, kCaption, text);
}

// --- files ----------------------------------------------------------------------------------

bool TfrmViewLog::AskToSave() {
  if (!actFileSave_->isEnabled()) return true;
  const QString text = "Your editions have not been saved.  Save the new data file?";
  const QMessageBox::StandardButton answer =
      options_.askQuestion
          ? options_.askQuestion(text)
          : QMessageBox::question(this, kCaption, text,
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::Yes) return SaveFile();
  return true;
}

QString TfrmViewLog::ChooseLogFile() {
  if (options_.chooseFile) return options_.chooseFile();
  QFileDialog dialog(this);
  dialog.setDefaultSuffix("QVLog");
  dialog.setNameFilters({"Log files (*.QVL *.QVLog)", "All files (*)"});
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (!recent_.empty()) dialog.setDirectory(QFileInfo(Q(recent_.front())).absolutePath());
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    return dialog.selectedFiles().front();
  return {};
}

void TfrmViewLog::ChooseAndOpenFile() {
  const QString path = ChooseLogFile();
  if (!path.isEmpty()) OpenFile(path);
}

void TfrmViewLog::SetStrips(const TStripList& strips) {
  display_.SetStrips(strips);
  DrawOverlays();
}

void TfrmViewLog::DrawOverlays() {
  try {
    RedrawOverlays(display_);
  } catch (const std::exception&) {
    // A damaged overlay is drawn as far as it could be read.
  }
}

void TfrmViewLog::ClearDisplay() {
  fileOpen_ = false;
  TFileSlot& slot = display_.MainSlot();
  slot.store.reset();
  slot.controller = std::make_unique<TController>();
  slot.info = TLogFileInfo{};
  slot.path.clear();
  SetStrips(display_.Strips());
  runVideos_.clear();
  // The player stops before another file is read.
  video_->ShowRunVideo(-1, "", "");
  video_->Syncs().Resize(0);
  videoRunShown_ = -2;
  videoPathShown_.clear();
  videoWanted_ = false;
  ShowVideoArea(false);
  actAllRuns_->setEnabled(false);
  actFileSave_->setEnabled(false);
  actShowNotes_->setEnabled(false);
  tbHistograms_->setEnabled(false);
  if (overlays_) overlays_->Refill();
  RefreshChart();
  RefreshLabels();
  UpdateNavigation();
  UpdateReadouts();
}

bool TfrmViewLog::OpenFile(const QString& path) {
  if (opening_) return false;  // an open is waiting for its worker already
  // Open notes go to the store first, so that the close question knows of them.
  CloseNotes();
  if (!AskToSave()) return false;
  ClearDisplay();
  setWindowTitle(kCaption);
  // Reading a long ride takes a moment: the busy cursor and the status bar say so, and after half
  // a second a dialog shows how far it is.
  statusPath_->setText(QString("Opening %1 ...").arg(path));
  statusPath_->repaint();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  struct TRestore {
    bool& opening;
    ~TRestore() {
      QApplication::restoreOverrideCursor();
      opening = false;
    }
  } restore{opening_};
  opening_ = true;
  TOpenWaiter waiter(this, kCaption, QString("Opening %1 ...").arg(QFileInfo(path).fileName()));
  // A stopped open ends as a failed one does, without a message: the user stopped it.
  auto stopped = [this, &waiter] {
    waiter.Close();
    ClearDisplay();
    setWindowTitle(kCaption);
    statusPath_->clear();
    return false;
  };
  TFileSlot& slot = display_.MainSlot();
  try {
    const std::string file = QStringToCp1252(path);
    waiter.Run(0, kLoadReadShare,
               [&](const TLoadProgress& progress) { OpenLogFile(slot, file, true, progress); });
  } catch (const ELoadStopped&) {
    return stopped();
  } catch (const std::exception& e) {
    waiter.Close();
    ClearDisplay();
    statusPath_->clear();
    ShowMessage(Q(e.what()), true);
    return false;
  }
  fileOpen_ = true;
  const TDataLogStore& store = *slot.store;
  setWindowTitle(QString(kCaption) + " - " + QFileInfo(path).fileName());
  statusPath_->setText(store.DiscardedCount() > 0
                           ? QString::asprintf("%s (%d samples discarded)",
                                               path.toLocal8Bit().constData(),
                                               int(store.DiscardedCount()))
                           : path);
  // Per-run videos: the file-wide name for every run when no per-run list was kept.
  runVideos_.assign(size_t(store.RunCount()), std::string());
  if (slot.info.hasRunVideoNames) {
    for (size_t r = 0; r < runVideos_.size() && r < slot.info.runVideoNames.size(); ++r)
      runVideos_[r] = slot.info.runVideoNames[r];
  } else if (!slot.info.videoName.empty()) {
    std::fill(runVideos_.begin(), runVideos_.end(), slot.info.videoName);
  }
  slot.info.syncs.resize(size_t(store.RunCount()));
  video_->Syncs().Load(slot.info, store.RunCount());
  videoWanted_ =
      std::any_of(runVideos_.begin(), runVideos_.end(), [](auto& v) { return !v.empty(); });
  ShowVideoArea(videoWanted_);
  liveList_.clear();
  for (const TDisplayEntryBytes& b : slot.info.displayLists[1])
    liveList_.push_back(DecodeDisplayEntry(b.data()));
  actFileSave_->setEnabled(false);
  actShowNotes_->setEnabled(store.RunCount() > 0);
  tbHistograms_->setEnabled(true);
  if (overlays_) overlays_->Refill();
  actAllRuns_->setEnabled(store.RunCount() > 1);
  if (store.RunCount() <= 1) actAllRuns_->setChecked(false);
  // Custom channel names and decimals come from the new configuration.
  SetStrips(display_.Strips());
  if (store.RunCount() > 0) {
    const int selection = AllRuns() ? SessionSelection(0) : 0;
    try {
      waiter.Run(kLoadReadShare, 1, [&](const TLoadProgress& progress) {
        display_.DisplaySelection(selection, progress);
      });
    } catch (const ELoadStopped&) {
      return stopped();
    }
    waiter.Close();
    ShowDisplayedSelection();
  } else {
    RefreshChart();
    UpdateNavigation();
  }
  AddRecentFile(recent_, QStringToCp1252(path));
  fileOpenedThisSession_ = true;
  FillRecentMenu();
  return true;
}

void TfrmViewLog::ShowDisplayedSelection() {
  RefreshChart();
  RefreshLabels();
  MoveCursor(0);
  UpdateNavigation();
  ShowCursorRunVideo();
}

bool TfrmViewLog::SaveFile() {
  if (!fileOpen_ || !display_.MainSlot().store) return false;
  TFileSlot& slot = display_.MainSlot();
  TLogFileInfo info = slot.info;
  info.displayLists[0].clear();
  for (const TDisplayEntry& e : MainEntries(display_.Strips()))
    info.displayLists[0].push_back(EncodeDisplayEntry(e));
  info.displayLists[1].clear();
  for (const TDisplayEntry& e : liveList_) info.displayLists[1].push_back(EncodeDisplayEntry(e));
  info.syncs.resize(size_t(slot.store->RunCount()));
  info.runSyncPoints.resize(info.syncs.size());
  if (!video_->LoadedVideo().empty()) info.videoName = video_->LoadedVideo();
  info.runVideoNames = runVideos_;
  info.hasRunVideoNames =
      std::any_of(runVideos_.begin(), runVideos_.end(), [](auto& v) { return !v.empty(); });
  try {
    SaveLogFile(slot.path.empty() ? QStringToCp1252(statusPath_->text()) : slot.path,
                *slot.controller, *slot.store, info);
  } catch (const std::exception& e) {
    ShowMessage(Q(e.what()), true);
    return false;
  }
  slot.info = info;
  actFileSave_->setEnabled(false);
  return true;
}

void TfrmViewLog::FillRecentMenu() {
  recentMenu_->clear();
  for (const std::string& f : recent_) {
    const QString path = Q(f);
    recentMenu_->addAction(path, this, [this, path] { OpenFile(path); });
  }
}

void TfrmViewLog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && event->mimeData()->urls().front().isLocalFile())
    event->acceptProposedAction();
}

void TfrmViewLog::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  const QString path = urls.front().toLocalFile();
  QTimer::singleShot(0, this, [this, path] { OpenFile(path); });
}

// --- display --------------------------------------------------------------------------------

void TfrmViewLog::DisplaySelection(int selection) {
  if (!fileOpen_) return;
  display_.DisplaySelection(selection);
  ShowDisplayedSelection();
}

void TfrmViewLog::RefreshChart() {
  ShowRunDisplay(*chart_, display_);
}

void TfrmViewLog::RefreshLabels() {
  const TDisplayLabels& l = display_.Labels();
  const bool show = fileOpen_;
  lblSession_->setText(show ? Lines(l.session) : QString());
  lblSessionStart_->setText(show ? Lines(l.sessionStart) : QString());
  const std::string* counts[4] = {&l.frontBottoming, &l.rearBottoming, &l.frontWheelLock,
                                  &l.rearWheelLock};
  for (int k = 0; k < 4; ++k) {
    memoLabels_[k]->setText(show ? Q(*counts[k]) : QString());
    memos_[k]->clear();
    if (!show) continue;
    for (const TMemoLine& line : l.memos[k]) {
      auto* item = new QListWidgetItem(Q(line.text), memos_[k]);
      if (line.flagged) {
        item->setBackground(QColor(255, 80, 80));
        item->setForeground(Qt::white);
      }
    }
  }
}

int64_t TfrmViewLog::CursorSample() const {
  return chart_->Cursors(0)->Position();
}

void TfrmViewLog::MoveCursor(int64_t c) {
  if (c < 0 || c >= std::max<int64_t>(display_.SampleCount(), 1)) return;
  chart_->Cursors(0)->SetPosition(int(c));
  UpdateReadouts();
}

void TfrmViewLog::UpdateReadouts() {
  const TCursorReadout r = fileOpen_ ? CursorReadout(display_, CursorSample()) : TCursorReadout{};
  btnTime_->setText(Q(r.time));
  lblRun_->setText(Lines(r.run));
  lblRunStart_->setText(Lines(r.runStart));
  lblRunLength_->setText(Lines(r.runLength));
  lblFrontTravel_->setText(Q(r.frontTravel));
  lblRearTravel_->setText(Q(r.rearTravel));
  lblFrontVelocity_->setText(Q(r.frontVelocity));
  lblRearVelocity_->setText(Q(r.rearVelocity));
  lblFrontSpeed_->setText(Q(r.frontSpeed));
  lblRearSpeed_->setText(Q(r.rearSpeed));
  lblFrontAccel_->setText(Q(r.frontAccel));
  lblVerticalAccel_->setText(Q(r.verticalAccel));
  lblLateralAccel_->setText(Q(r.lateralAccel));
  if (AllRuns() && fileOpen_) UpdateNavigation();
}

void TfrmViewLog::UpdateNavigation() {
  const bool open = fileOpen_ && display_.MainSlot().store && display_.SampleCount() > 0;
  if (!open) {
    for (QAction* a : {actPreviousSession_, actNextSession_, actPreviousRun_, actNextRun_})
      a->setEnabled(false);
    return;
  }
  const TDataLogStore& store = *display_.MainSlot().store;
  actPreviousSession_->setEnabled(display_.Labels().previousSession);
  actNextSession_->setEnabled(display_.Labels().nextSession);
  if (AllRuns()) {
    actPreviousRun_->setEnabled(
        !PreviousRunCursorMoves(store, display_.Range(), CursorSample()).empty());
    actNextRun_->setEnabled(!NextRunCursorMoves(store, display_.Range(), CursorSample()).empty());
  } else {
    actPreviousRun_->setEnabled(AdjacentRun(store, display_.Selection(), -1) >= 0);
    actNextRun_->setEnabled(AdjacentRun(store, display_.Selection(), +1) >= 0);
  }
}

bool TfrmViewLog::AllRuns() const {
  return actAllRuns_->isChecked();
}

void TfrmViewLog::NextRun() {
  if (!fileOpen_) return;
  const TDataLogStore& store = *display_.MainSlot().store;
  if (AllRuns()) {
    for (int64_t c : NextRunCursorMoves(store, display_.Range(), CursorSample())) MoveCursor(c);
  } else if (int run = AdjacentRun(store, display_.Selection(), +1); run >= 0) {
    DisplaySelection(run);
  }
  UpdateNavigation();
}

void TfrmViewLog::PreviousRun() {
  if (!fileOpen_) return;
  const TDataLogStore& store = *display_.MainSlot().store;
  if (AllRuns()) {
    for (int64_t c : PreviousRunCursorMoves(store, display_.Range(), CursorSample())) MoveCursor(c);
  } else if (int run = AdjacentRun(store, display_.Selection(), -1); run >= 0) {
    DisplaySelection(run);
  }
  UpdateNavigation();
}

void TfrmViewLog::NextSession() {
  if (!fileOpen_) return;
  const int s = AdjacentSession(*display_.MainSlot().store, display_.Selection(), +1, AllRuns());
  if (s != display_.Selection()) DisplaySelection(s);
}

void TfrmViewLog::PreviousSession() {
  if (!fileOpen_) return;
  const int s = AdjacentSession(*display_.MainSlot().store, display_.Selection(), -1, AllRuns());
  if (s != display_.Selection()) DisplaySelection(s);
}

void TfrmViewLog::SetAllRuns(bool on) {
  if (on && !actAllRuns_->isEnabled()) on = false;
  actAllRuns_->setChecked(on);
  if (!fileOpen_) return;
  DisplaySelection(
      ToggledSelection(*display_.MainSlot().store, display_.Range(), CursorSample(), on));
}

bool TfrmViewLog::Configure() {
  TAnalysisSettings settings = display_.Settings();
  if (!TfrmConfigure::Execute(settings, this)) return false;
  WriteAnalysisSettings(settings_, settings);
  display_.SetSettings(settings);
  if (fileOpen_)
    DisplaySelection(display_.Selection());
  else
    RefreshChart();
  return true;
}

// --- strips and the channel menu -------------------------------------------------------------

int TfrmViewLog::StripAt(int y) const {
  TStripChannel* band = chart_->ChannelAt(y);
  return band ? band->Index() : -1;
}

QString TfrmViewLog::StripHint(int strip) const {
  if (strip < 0 || size_t(strip) >= display_.Strips().size()) return {};
  const TStrip& s = display_.Strips()[size_t(strip)];
  TController* controller = display_.MainSlot().controller.get();
  QString hint;
  for (int c = 0; c < s.CurveCount(); ++c) hint += Q(EntryTitle(s.Curve(c), controller)) + "\n";
  const int period = display_.MainSlot().store
                         ? ChannelPeriod(s.main, *controller, *display_.MainSlot().store)
                         : 0;
  hint += QString::asprintf("    %dms sample rate\n", period);
  const int k = SmoothingFactor(s.main.smoothing, period);
  hint += k > 1 ? QString::asprintf("    smoothing: %dms (%d samples)", s.main.smoothing, k)
                : QString("no smoothing");
  return hint;
}

QMenu* TfrmViewLog::ChannelMenu(bool overChart, int strip) {
  menuStrip_ = overChart ? strip : -1;
  TMenuContext context{display_.MainSlot().controller.get(),
                       fileOpen_ ? display_.MainSlot().store.get() : nullptr, overChart, menuStrip_,
                       &display_.Strips()};
  mnuParamSelection_->clear();
  const std::vector<TMenuItem> items = BuildChannelMenu(context);
  for (const TMenuItem& item : items) {
    const int channel = item.tag;
    if (item.items.empty()) {
      QAction* a = mnuParamSelection_->addAction(
          Q(item.caption), this, [this, channel] { MenuChoice(menuStrip_, channel); });
      a->setData(channel);
      a->setVisible(item.visible);
      a->setEnabled(item.enabled);
      continue;
    }
    QMenu* sub = mnuParamSelection_->addMenu(Q(item.caption));
    sub->menuAction()->setData(channel);
    sub->menuAction()->setVisible(item.visible);
    sub->menuAction()->setEnabled(item.enabled);
    for (const TMenuItem& s : item.items) {
      const int tag = s.tag;
      std::function<void()> run;
      if (channel == kMenuSuperpose)
        run = [this, tag] {
          MenuChoice(menuStrip_,
                     tag == kMenuRemoveSuperposed ? kMenuRemoveSuperposed : kMenuSuperpose, tag);
        };
      else if (channel == kMenuSmoothing)
        run = [this, tag] { MenuChoice(menuStrip_, tag); };
      else
        run = [this, channel, tag] { MenuChoice(menuStrip_, channel, tag); };
      QAction* a = sub->addAction(Q(s.caption), this, run);
      a->setData(tag);
      a->setEnabled(s.enabled);
    }
  }
  return mnuParamSelection_;
}

void TfrmViewLog::PopChannelMenu(QMenu* menu, const QPoint& at) {
  menu->exec(at);
}

void TfrmViewLog::MarkLayoutModified() {
  if (!layoutModified_) {
    // The first edit after a selection leaves the box without one; the histogram windows of the
    // arrangement that was chosen go.
    cbLayout_->setCurrentIndex(-1);
    histograms_.clear();
  }
  layoutModified_ = true;
}

void TfrmViewLog::StripsChanged(int refillStrip, int refillCurve, bool wholeDisplay) {
  MarkLayoutModified();
  if (!fileOpen_) {
    RefreshChart();
    return;
  }
  if (wholeDisplay) {
    display_.DisplaySelection(display_.Selection());
  } else {
    display_.RefillCurve(refillStrip, refillCurve, refillCurve == 0);
  }
  if (refillStrip >= 0 && wholeDisplay) display_.RefillCurve(refillStrip, 0, true);
  RefreshChartKeepingView();
  RefreshLabels();
}

void TfrmViewLog::RefreshChartKeepingView() {
  const double scale = chart_->XScale();
  const long long start = chart_->XStartPixel();
  const int64_t cursor = CursorSample();
  RefreshChart();
  chart_->SetXScale(scale);
  chart_->SetXStartPixel(start);
  MoveCursor(cursor);
}

void TfrmViewLog::MenuChoice(int strip, int tag, int unit) {
  TStripList strips = display_.Strips();
  const bool onStrip = strip >= 0 && size_t(strip) < strips.size();
  switch (tag) {
    case kMenuViewAll:
      if (!fileOpen_) return;
      SetStrips(AllLoggedStrips(*display_.MainSlot().controller, *display_.MainSlot().store));
      StripsChanged(-1, 0, true);
      return;
    case kMenuRemove:
      if (!onStrip) return;
      strips.erase(strips.begin() + strip);
      SetStrips(strips);
      StripsChanged(-1, 0, true);
      return;
    case kMenuMoveUp:
    case kMenuMoveDown:
      if (!MoveStrip(strips, strip, tag == kMenuMoveUp ? -1 : +1)) return;
      SetStrips(strips);
      StripsChanged(-1, 0, true);
      return;
    case kMenuExport:
      if (onStrip) ExportStrip(strip);
      return;
    case kMenuSuperpose:
      if (!onStrip) return;
      SuperposeChannel(strips, strip, unit);
      SetStrips(strips);
      StripsChanged(-1, 0, true);
      return;
    case kMenuRemoveSuperposed:
      if (!onStrip) return;
      strips[size_t(strip)].superposed.clear();
      SetStrips(strips);
      StripsChanged(-1, 0, true);
      return;
    case kMenuLess:
    case kMenuMore:
    case kMenuOther: {
      if (!onStrip) return;
      TStrip& s = strips[size_t(strip)];
      int w = s.main.smoothing;
      if (tag == kMenuLess) {
        if (w <= 1) return;
        w = LessSmoothing(w);
      } else if (tag == kMenuMore) {
        w = MoreSmoothing(w);
      } else {
        int value = w;
        const QString title = "Smoothing",
                      prompt = "Enter desired moving average window length, in ms";
        bool ok = false;
        if (options_.askNumber) {
          ok = options_.askNumber(title, prompt, value);
        } else {
          value = QInputDialog::getInt(this, title, prompt, w, 0, 100000000, 1, &ok);
        }
        if (!ok || value < 0) return;
        w = value;
      }
      s.main.smoothing = w;
      for (TDisplayEntry& e : s.superposed) e.smoothing = w;
      SetStrips(strips);
      StripsChanged(-1, 0, true);
      return;
    }
    default:
      break;
  }
  if (tag < 1 || tag >= kParamCount) return;
  const int changed = ChooseChannel(strips, onStrip ? strip : -1, tag, unit);
  SetStrips(strips);
  StripsChanged(changed, 0, true);
}

// --- layouts --------------------------------------------------------------------------------

void TfrmViewLog::FillLayoutBox(int select) {
  cbLayout_->clear();
  for (const std::string& name : layouts_.Names()) cbLayout_->addItem(Q(name));
  cbLayout_->setCurrentIndex(select);
}

void TfrmViewLog::ApplyLayout(int index) {
  if (index < 0 || index >= layouts_.Count()) return;
  FillLayoutBox(index);
  SetStrips(StripsFromLayout(layouts_.Layout(index)));
  layoutModified_ = false;
  if (fileOpen_ && display_.MainSlot().store->RunCount() > 0) {
    actAllRuns_->setChecked(false);
    DisplaySelection(0);
  } else {
    RefreshChart();
  }
}

int TfrmViewLog::SaveCurrentLayout() {
  TStripList strips = display_.Strips();
  for (size_t i = 0; i < strips.size() && int(i) < chart_->ChannelCount(); ++i)
    strips[i].height = chart_->Channels(int(i))->Weight();
  layouts_.SetWorkingLayout(LayoutFromStrips(strips));
  TfrmSaveLayout dialog(layouts_, this);
  const int index = dialog.Execute();
  if (index < 0) return -1;
  layoutModified_ = false;
  FillLayoutBox(index);
  return index;
}

// --- data panel -----------------------------------------------------------------------------

QWidget* TfrmViewLog::DataPanel() const {
  return panel_;
}

void TfrmViewLog::SetDataPanelDocked(bool docked) {
  docked_ = docked;
  actViewData_->setVisible(!docked);
  actHideData_->setVisible(docked);
  slider_->stop();
  slide_ = docked ? 1 : 0;
  PlacePanel();
}

void TfrmViewLog::SlidePanel(bool in) {
  if (docked_) return;
  slider_->stop();
  slider_->setStartValue(slide_);
  slider_->setEndValue(in ? 1.0 : 0.0);
  slider_->setDuration(
      std::max(1, int(std::lround(kSlideMs * std::fabs((in ? 1.0 : 0.0) - slide_)))));
  slider_->start();
}

void TfrmViewLog::PlacePanel() {
  if (!centre_ || !panel_) return;
  const int w = centre_->width(), h = centre_->height();
  const int shown = kPanelEdge + int(std::lround(slide_ * (kPanelWidth - kPanelEdge)));
  panel_->setGeometry(w - shown, 0, kPanelWidth, h);
  chart_->setGeometry(0, 0, std::max(w - (docked_ ? kPanelWidth : kPanelEdge), 10), h);
  panel_->raise();
}

// --- events ---------------------------------------------------------------------------------

bool TfrmViewLog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centre_ && event->type() == QEvent::Resize) {
    PlacePanel();
  } else if (event->type() == QEvent::ToolTip && watched->objectName() == "btnShowNotes" &&
             actShowNotes_->isEnabled()) {
    ShowNotes();
    return true;
  } else if (watched == panel_ && event->type() == QEvent::Enter) {
    if (!docked_) SlidePanel(true);
  } else if (watched == chart_ && event->type() == QEvent::ContextMenu) {
    auto* e = static_cast<QContextMenuEvent*>(event);
    PopChannelMenu(ChannelMenu(true, StripAt(e->pos().y())), e->globalPos());
    return true;
  } else if (watched == toolBar_ && event->type() == QEvent::MouseButtonPress) {
    auto* e = static_cast<QMouseEvent*>(event);
    if (e->button() == Qt::RightButton &&
        (e->modifiers() & ~Qt::KeypadModifier) == (Qt::ControlModifier | Qt::AltModifier)) {
      actFileSave_->setEnabled(fileOpen_);
      return true;
    }
  } else if (watched == statusPath_ && event->type() == QEvent::MouseButtonPress) {
    auto* e = static_cast<QMouseEvent*>(event);
    if ((e->modifiers() & Qt::ControlModifier) && display_.MainSlot().store)
      ShowMessage(
          QString::number(display_.MainSlot().store->DiscardedCount()) + " missing data samples",
          false);
  } else if ((watched == btnTime_ || watched == cbLayout_) && event->type() == QEvent::KeyPress) {
    auto* e = static_cast<QKeyEvent*>(event);
    if (e->key() == Qt::Key_Left || e->key() == Qt::Key_Right) {
      const int64_t to =
          CursorKeyMove(CursorSample(), display_.SampleCount(), e->key() == Qt::Key_Right,
                        e->modifiers() & Qt::ControlModifier);
      if (fileOpen_ && to >= 0) MoveCursor(to);
      return true;
    }
  } else if (watched == cbLayout_ && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(4000, btnTime_, [this] {
      if (cbLayout_->hasFocus()) btnTime_->setFocus();
    });
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmViewLog::EventLineActivated(int kind, int line) {
  if (kind < 0 || kind > 3) return;
  const TEventArray& events = display_.Events(TEventKind(kind));
  if (line < 0 || size_t(line) >= events.size()) return;
  MoveCursor(int64_t(std::lround(events[size_t(line)].start * 1000)));
  memos_[kind]->setCurrentRow(line);
  btnTime_->setFocus();
}

QAction* TfrmViewLog::Action(const QString& name) const {
  return findChild<QAction*>(name);
}

QLabel* TfrmViewLog::ReadoutLabel(const QString& name) const {
  return findChild<QLabel*>(name);
}

QString TfrmViewLog::StatusText() const {
  return statusPath_->text();
}

bool TfrmViewLog::SaveEnabled() const {
  return actFileSave_->isEnabled();
}

// --- histograms, export, overlays and notes --------------------------------------------------

QMenu* TfrmViewLog::HistogramMenu() {
  const size_t strips = display_.Chart().strips.size();
  histograms_.resize(strips);
  mnuHistograms_->clear();
  for (size_t i = 0; i < strips; ++i)
    mnuHistograms_->addAction(Q(display_.Chart().strips[i].title), this,
                              [this, i] { OpenHistogram(int(i)); });
  return mnuHistograms_;
}

TfrmHistogram* TfrmViewLog::HistogramWindow(int strip) const {
  return strip >= 0 && size_t(strip) < histograms_.size() ? histograms_[size_t(strip)].get()
                                                          : nullptr;
}

void TfrmViewLog::OpenHistogram(int strip) {
  if (!fileOpen_ || strip < 0 || size_t(strip) >= display_.Chart().strips.size()) return;
  if (histograms_.size() < display_.Chart().strips.size())
    histograms_.resize(display_.Chart().strips.size());
  std::unique_ptr<TfrmHistogram>& window = histograms_[size_t(strip)];
  if (!window)
    window = std::make_unique<TfrmHistogram>(&settings_, [this] {
      if (isMinimized()) showNormal();
      raise();
      activateWindow();
    });
  window->Fill(display_, *chart_, strip);
}

void TfrmViewLog::ExportStrip(int strip) {
  if (!fileOpen_ || strip < 0 || size_t(strip) >= display_.Chart().strips.size()) return;
  if (!export_) export_ = std::make_unique<TfrmExport>(this);
  export_->Execute(display_, *chart_, strip);
}

void TfrmViewLog::ShowOverlays() {
  if (!overlays_) {
    overlays_ =
        std::make_unique<TfrmOverlayManager>(display_,
                                             TOverlayHost{[this] { return ChooseLogFile(); },
                                                          [this] {
                                                            // Strips already have curves for every
                                                            // slot.
                                                            DrawOverlays();
                                                            RefreshChartKeepingView();
                                                          }},
                                             this);
    overlays_->show();
    // Its frame is known once it is shown.
    const QPoint below = mapToGlobal(QPoint(0, toolBar_->geometry().bottom() + 1));
    overlays_->move(frameGeometry().right() + 1 - overlays_->frameGeometry().width(), below.y());
  }
  overlays_->show();
  overlays_->raise();
  overlays_->activateWindow();
}

TfrmNotes* TfrmViewLog::NotesWindow() const {
  return notes_.data();
}

void TfrmViewLog::ShowNotes() {
  if (!actShowNotes_->isEnabled() || notes_) return;
  TDataLogStore* store = display_.MainSlot().store.get();
  const int run = CursorRun();
  if (!store || run < 0 || run >= store->RunCount()) return;
  notes_ = TfrmNotes::Open(
      *store, run, QCursor::pos(), [this] { actFileSave_->setEnabled(true); }, this);
}

void TfrmViewLog::CloseNotes() {
  if (!notes_) return;
  // A modified pop-up hands its notes to the store as it closes.
  QPointer<TfrmNotes> notes = notes_;
  notes->close();
  notes_ = nullptr;
}

// --- video ----------------------------------------------------------------------------------

void TfrmViewLog::CreateVideo() {
  video_ = new TVideoPanel;
  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setObjectName("Splitter");
  splitter_->setChildrenCollapsible(false);
  takeCentralWidget();
  splitter_->addWidget(video_);
  splitter_->addWidget(centre_);
  splitter_->setStretchFactor(1, 1);
  setCentralWidget(splitter_);
  video_->hide();
  splitterHeight_ = int(settings_.ReadInteger(ini::kMain, "Splitter", kVideoHeight));
  if (splitterHeight_ <= 0) splitterHeight_ = kVideoHeight;
  videoFloating_ = settings_.ReadBool(ini::kMain, "FloatVideo", false);
  connect(video_, &TVideoPanel::CursorFromVideo, this, &TfrmViewLog::CursorFromVideo);
  connect(chart_->Cursors(0), &TStripCursor::OnChange, this, [this] { VideoCursorMoved(); });
  connect(actSync_, &QAction::triggered, this, &TfrmViewLog::SyncVideo);
  connect(actUnSync_, &QAction::triggered, this, &TfrmViewLog::DesyncVideo);
  connect(actResync_, &QAction::triggered, this, &TfrmViewLog::ResyncVideo);
  connect(actFloatVideo_, &QAction::triggered, this, [this] { SetVideoFloating(true); });
  connect(actDockVideo_, &QAction::triggered, this, [this] { SetVideoFloating(false); });
  connect(actShowVideo_, &QAction::triggered, this, [this] {
    if (!floating_) return;
    floating_->show();
    floating_->raise();
    floating_->activateWindow();
  });
  // Sync, Desync and Resync follow "Attach video" on the tool bar; the video window's moves sit
  // in a drop-down.
  const QList<QAction*> bar = toolBar_->actions();
  const qsizetype at = bar.indexOf(actAttachVideo_);
  QAction* before = at >= 0 && at + 1 < bar.size() ? bar[at + 1] : nullptr;
  toolBar_->insertActions(before, {actSync_, actUnSync_, actResync_});
  auto* windows = new QToolButton;
  windows->setObjectName("tbVideoWindow");
  windows->setText("Video window");
  windows->setToolTip("Video window");
  windows->setAccessibleName("Video window");
  windows->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(windows);
  menu->addActions({actFloatVideo_, actDockVideo_, actShowVideo_, actGotoMain_});
  windows->setMenu(menu);
  toolBar_->insertWidget(before, windows);
  UpdateVideoActions();
}

int TfrmViewLog::CursorRun() const {
  const TDataLogStore* store = display_.MainSlot().store.get();
  if (!fileOpen_ || !store || display_.Range().Empty()) return -1;
  if (!AllRuns()) return display_.Selection();
  return RunAtChartSample(*store, display_.Range(), CursorSample());
}

std::vector<int> TfrmViewLog::VideoTargetRuns() const {
  std::vector<int> runs;
  if (!fileOpen_ || display_.Range().Empty()) return runs;
  if (!AllRuns()) return {display_.Selection()};
  for (int r = display_.Range().firstRun; r <= display_.Range().lastRun; ++r) runs.push_back(r);
  return runs;
}

double TfrmViewLog::RunStartSeconds(int run) const {
  const TDataLogStore* store = display_.MainSlot().store.get();
  if (!store || run < 0) return 0;
  return double(RunFirstChartSample(*store, display_.Range(), run)) / 1000.0;
}

void TfrmViewLog::ShowVideoArea(bool show) {
  if (videoFloating_ && show) {
    if (!floating_)
      floating_ = std::make_unique<TfrmFloatingVideo>(settings_, video_->Player(), this);
    if (video_->parentWidget() != floating_.get()) floating_->layout()->addWidget(video_);
    video_->show();
    floating_->show();
    return;
  }
  if (floating_) floating_->hide();
  if (videoFloating_) return;
  const bool wasShown = video_->parentWidget() == splitter_ && !video_->isHidden();
  if (video_->parentWidget() != splitter_) splitter_->insertWidget(0, video_);
  if (!show && wasShown) splitterHeight_ = video_->height();
  video_->setVisible(show);
  if (show && !wasShown)
    splitter_->setSizes({splitterHeight_, std::max(1, splitter_->height() - splitterHeight_)});
}

void TfrmViewLog::SetVideoFloating(bool floating) {
  if (!videoFloating_ && video_->parentWidget() == splitter_ && !video_->isHidden())
    splitterHeight_ = video_->height();
  videoFloating_ = floating;
  ShowVideoArea(fileOpen_ && videoWanted_);
  if (floating && floating_ && floating_->isVisible()) {
    floating_->raise();
    floating_->activateWindow();
  }
  UpdateVideoActions();
}

void TfrmViewLog::ShowCursorRunVideo() {
  const int run = CursorRun();
  if (run >= 0 && size_t(run) < runVideos_.size() &&
      (run != videoRunShown_ || runVideos_[size_t(run)] != videoPathShown_)) {
    videoRunShown_ = run;
    videoPathShown_ = runVideos_[size_t(run)];
    const std::string folder =
        QStringToCp1252(QFileInfo(Q(display_.MainSlot().path)).absolutePath());
    video_->ShowRunVideo(run, videoPathShown_, folder);
  }
  UpdateVideoActions();
}

void TfrmViewLog::VideoCursorMoved() {
  if (cursorFromVideo_ || !fileOpen_) return;
  ShowCursorRunVideo();
  const int run = CursorRun();
  if (run < 0 || run != video_->Run()) return;
  video_->CursorMovedByUser(double(CursorSample()) / 1000.0 - RunStartSeconds(run));
}

void TfrmViewLog::CursorFromVideo(int run, double chartTime) {
  if (!fileOpen_ || run < 0 || size_t(run) >= runVideos_.size()) return;
  double seconds = chartTime + RunStartSeconds(run);
  if (AllRuns()) {
    const TDataLogStore& store = *display_.MainSlot().store;
    std::vector<TSessionRun> runs;
    for (int r : VideoTargetRuns()) {
      const int64_t first = RunFirstChartSample(store, display_.Range(), r);
      const int64_t last = RunLastChartSample(store, display_.Range(), r);
      runs.push_back({r, double(first) / 1000.0, double(last - first + 1) / 1000.0,
                      size_t(r) < runVideos_.size() ? runVideos_[size_t(r)] : std::string()});
    }
    double cursor = 0;
    if (RunForVideoPosition(runs, video_->Syncs(), runVideos_[size_t(run)],
                            video_->Player()->PositionFromStart(), cursor) >= 0)
      seconds = cursor;
  }
  MoveCursorWithVideo(seconds);
}

void TfrmViewLog::MoveCursorWithVideo(double seconds) {
  const int64_t c = std::llround(seconds * 1000.0);
  if (c < 0 || c >= display_.SampleCount()) return;
  const long long x = chart_->XToPixel(chart_->XValueOf(int(c)));
  chart_->SetXStartPixel(std::llround(FollowScrollStart(double(x), double(chart_->XStartPixel()),
                                                        double(chart_->PlotRect().width()))));
  cursorFromVideo_ = true;
  MoveCursor(c);
  cursorFromVideo_ = false;
}

void TfrmViewLog::SyncVideo() {
  if (!actSync_->isEnabled()) return;
  const double cursor = double(CursorSample()) / 1000.0;
  bool changed = false;
  for (int run : VideoTargetRuns()) {
    QString message;
    if (!video_->Sync(run, cursor - RunStartSeconds(run), message)) {
      ShowMessage(message, false);
      break;
    }
    changed = true;
  }
  if (changed) VideoEdited();
  UpdateVideoActions();
}

void TfrmViewLog::DesyncVideo() {
  if (!actUnSync_->isEnabled()) return;
  for (int run : VideoTargetRuns()) video_->Desync(run);
  VideoEdited();
}

void TfrmViewLog::ResyncVideo() {
  if (!actResync_->isEnabled()) return;
  const int run = video_->Run();
  double chartTime = 0;
  if (!video_->Resync(run, chartTime)) return;
  MoveCursorWithVideo(chartTime + RunStartSeconds(run));
  VideoEdited();
}

void TfrmViewLog::VideoEdited() {
  // The file's records follow the table at once, so that Save writes what the user sees.
  video_->Syncs().Store(display_.MainSlot().info);
  actFileSave_->setEnabled(true);
  UpdateVideoActions();
}

void TfrmViewLog::UpdateVideoActions() {
  const TDataLogStore* store = display_.MainSlot().store.get();
  const bool open = fileOpen_ && !options_.live && store && store->RunCount() > 0;
  const bool loaded = open && !video_->LoadedVideo().empty() && video_->Message().isEmpty();
  const int run = video_->Run();
  const bool known = run >= 0 && run < video_->Syncs().RunCount();
  const bool synced = loaded && video_->Syncs().IsSynced(run);
  actAttachVideo_->setEnabled(open);
  actSync_->setEnabled(loaded);
  actUnSync_->setEnabled(synced);
  actResync_->setEnabled(loaded && known && !synced && !AllRuns() &&
                         !video_->Syncs().Run(run).Points().empty());
  const bool shown = open && videoWanted_;
  actFloatVideo_->setEnabled(shown && !videoFloating_);
  actDockVideo_->setEnabled(shown && videoFloating_);
  actShowVideo_->setEnabled(shown && videoFloating_);
}

void TfrmViewLog::AttachVideo() {
  if (!actAttachVideo_->isEnabled()) return;
  const QString folder = QFileInfo(Q(display_.MainSlot().path)).absolutePath();
  const QString path =
      QFileDialog::getOpenFileName(this, "Attach video", folder,
                                   "Video files (*.avi *.mp4 *.mov *.mpg *.mpeg *.wmv *.mkv);;"
                                   "All files (*)");
  if (!path.isEmpty()) AttachVideoFile(path);
}

void TfrmViewLog::AttachVideoFile(const QString& path) {
  if (!actAttachVideo_->isEnabled() || path.isEmpty()) return;
  const std::string name = QStringToCp1252(path);
  for (int run : VideoTargetRuns()) {
    if (run < 0 || size_t(run) >= runVideos_.size()) continue;
    runVideos_[size_t(run)] = name;
    video_->Desync(run);
  }
  videoWanted_ = true;
  ShowVideoArea(true);
  videoRunShown_ = -2;  // load it even when the run and name are those shown
  ShowCursorRunVideo();
  VideoEdited();
}

// --- live mode ------------------------------------------------------------------------------

void TfrmViewLog::StartLive() {
  setWindowTitle(QString(kCaption) + " - Live");
  statusPath_->clear();
  const uint32_t me = uint32_t(::getpid());
  try {
    endpoint_ = std::make_unique<TLiveEndpoint>(me);
    block_ = TLiveSharedBlock::OpenForViewer(me);
  } catch (const std::exception& e) {
    endpoint_.reset();
    ShowMessage(Q(e.what()), true);
    return;
  }
  receiver_ = std::make_unique<TLiveReceiver>(*display_.MainSlot().controller);
  receiver_->OnSamples = [this](TLogArray samples) { LiveSamples(std::move(samples)); };
  liveNotifier_ = new QSocketNotifier(endpoint_->Fd(), QSocketNotifier::Read, this);
  connect(liveNotifier_, &QSocketNotifier::activated, this, [this] {
    try {
      endpoint_->ProcessPending(
          [this](uint32_t id, const std::vector<uint8_t>& bytes) { LiveMessage(id, bytes); });
    } catch (const std::exception&) {
      // A configuration that does not parse: live samples wait for a good one.
    }
  });
}

void TfrmViewLog::LiveMessage(uint32_t identifier, const std::vector<uint8_t>& bytes) {
  receiver_->Handle(identifier, bytes);
}

void TfrmViewLog::LiveSamples(TLogArray samples) {
  TFileSlot& slot = display_.MainSlot();
  ReplaceLiveSamples(slot.store, std::move(samples));
  fileOpen_ = true;
  if (!liveSamplesSeen_) {
    liveSamplesSeen_ = true;
    liveList_.clear();
    for (int code = kParamLateralAccel; code <= kParamFrontSuspVelocity; ++code) {
      TDisplayEntry e;
      e.channel = uint8_t(code);
      e.unit = uint8_t(FirstUnit(code));
      liveList_.push_back(e);
    }
  }
  TDisplayArray shown;
  for (const TDisplayEntry& e : liveList_)
    if (ChannelLogged(e, *slot.controller, slot.store.get())) shown.push_back(e);
  SetStrips(StripsFromEntries(shown));
  actAllRuns_->setChecked(false);
  actAllRuns_->setEnabled(slot.store->RunCount() > 1);
  if (slot.store->RunCount() > 0) DisplaySelection(0);
}

// --- close ----------------------------------------------------------------------------------

bool TfrmViewLog::SaveSettings() {
  const bool normalState = !isMaximized() && !isMinimized();
  const QRect normal = normalState ? geometry() : normalGeometry();
  const QPoint frameOffset = geometry().topLeft() - pos();
  settings_.WriteInteger(ini::kMain, "Width", normal.width());
  settings_.WriteInteger(ini::kMain, "Height", normal.height());
  settings_.WriteInteger(ini::kMain, "State", isMaximized() ? 2 : isMinimized() ? 1 : 0);
  settings_.WriteInteger(ini::kMain, "Left", normal.left() - frameOffset.x());
  settings_.WriteInteger(ini::kMain, "Top", normal.top() - frameOffset.y());
  settings_.WriteBool(ini::kMain, "DataPanel", docked_);
  if (!videoFloating_ && video_->isVisible()) splitterHeight_ = video_->height();
  settings_.WriteInteger(ini::kMain, "Splitter", splitterHeight_);
  settings_.WriteBool(ini::kMain, "FloatVideo", videoFloating_);
  settings_.WriteString(ini::kMain, "ChartLayout", QStringToCp1252(cbLayout_->currentText()));
  WriteAnalysisSettings(settings_, display_.Settings());
  if (cbLayout_->currentIndex() >= 0) {
    layouts_.ClearWorkingLayout();
  } else if (layoutModified_) {
    TStripList strips = display_.Strips();
    for (size_t i = 0; i < strips.size() && int(i) < chart_->ChannelCount(); ++i)
      strips[i].height = chart_->Channels(int(i))->Weight();
    layouts_.SetWorkingLayout(LayoutFromStrips(strips));
  }
  layouts_.WriteAll(settings_);
  if (fileOpenedThisSession_) WriteRecentFiles(settings_, recent_);
  if (!settingsReadable_) return false;
  return SaveViewerSettings(settings_, settingsFile_);
}

void TfrmViewLog::closeEvent(QCloseEvent* event) {
  CloseNotes();
  if (!AskToSave()) {
    event->ignore();
    return;
  }
  if (floating_) {
    // The floating window writes its placement into the settings as it goes.
    splitter_->insertWidget(0, video_);
    floating_.reset();
  }
  SaveSettings();
  if (block_) block_->SetViewerId(0);
  event->accept();
}

}  // namespace qvl
