// TfrmViewLog: the viewer's main window. It opens a log file (or takes the logger tool's live
// recording), shows the chosen channels as strips of the strip chart with the events the run
// display finds, the cursor read-outs and event lists in a sliding data panel, switches between
// runs, sessions and layouts, and saves the user's edits back into the file.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/util/ini_file.h"
#include "viewer/channel_menu.h"
#include "viewer/layout_manager.h"
#include "viewer/run_display.h"
#include "viewer/viewer_settings.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QSocketNotifier;
class QSplitter;
class QToolBar;
class QToolButton;
class QVariantAnimation;

namespace qvl {

class TKelStripChart;
class TLiveEndpoint;
class TLiveReceiver;
class TLiveSharedBlock;
class TDataPanelHost;
class TVideoPanel;
class TfrmFloatingVideo;
class TfrmExport;
class TfrmHistogram;
class TfrmNotes;
class TfrmOverlayManager;

// How the window is set up: by main() from the command line, by tests with their own files.
struct TViewerOptions {
  // The settings file ("" = the user's QVL2View.ini).
  std::string settingsFile;
  // Live mode: register with the logger tool and show what it sends.
  bool live = false;
  // Shows a message (default: a message box). error: an error, else information.
  std::function<void(const QString& text, bool error)> showMessage;
  // Asks a question with Yes, No and Cancel (default: a message box).
  std::function<QMessageBox::StandardButton(const QString& text)> askQuestion;
  // Asks for a whole number (default: an input dialog); false when cancelled.
  std::function<bool(const QString& title, const QString& prompt, int& value)> askNumber;
  // Chooses a log file to open (default: the open dialog); "" when cancelled.
  std::function<QString()> chooseFile;
};

class TfrmViewLog : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmViewLog(TViewerOptions options = {}, QWidget* parent = nullptr);
  ~TfrmViewLog() override;

  static constexpr const char kCaption[] = "QVL2View 2.11";

  // Shows the window in its stored state (normal or maximised).
  void ShowAsStored();

  // --- commands (the actions call these; tests too) ---
  // Opens a log file as the main file, after the close question; false when it was not opened
  // (cancelled, or the file failed: its message is shown and the display stays cleared).
  bool OpenFile(const QString& path);
  void ChooseAndOpenFile();
  // Writes the file (backup, version 15 envelope) and disables Save; false on failure.
  bool SaveFile();
  void DisplaySelection(int selection);
  void NextRun();
  void PreviousRun();
  void NextSession();
  void PreviousSession();
  void SetAllRuns(bool on);
  // The analysis settings dialog; true when the settings changed.
  bool Configure();
  // A channel menu choice (tag as in channel_menu.h) for strip `strip` (-1: none).
  void MenuChoice(int strip, int tag, int unit = -1);
  void ApplyLayout(int index);
  // "Save current layout": the save dialog; the layout's index or -1.
  int SaveCurrentLayout();
  void SetDataPanelDocked(bool docked);
  // Moves the chart cursor to chart sample c (scrolling it into view).
  void MoveCursor(int64_t c);
  // Double click on line `line` of event memo `kind`.
  void EventLineActivated(int kind, int line);
  // Writes the settings (placement, recent files, layouts) as at close; false when not written.
  bool SaveSettings();

  // The windows opened from here.
  // Opens (or brings back, refilled) strip `strip`'s histogram window.
  void OpenHistogram(int strip);
  // The export dialog for strip `strip`.
  void ExportStrip(int strip);
  // The notes pop-up of the run under the cursor, at the mouse.
  void ShowNotes();
  // The overlay manager, created at the first call at the window's right edge under the tool bar.
  void ShowOverlays();
  void AttachVideo();

  // --- video ---
  // Attaches `path` to the displayed run (every run of the displayed session in all-runs mode):
  // their synchronisation is switched off, the video loaded and Save enabled.
  void AttachVideoFile(const QString& path);
  // Sync, Desync and Resync of the displayed run (of the session's runs in all-runs mode).
  void SyncVideo();
  void DesyncVideo();
  void ResyncVideo();
  // Moves the video area into its own window or back above the chart.
  void SetVideoFloating(bool floating);
  TVideoPanel* VideoPanel() const { return video_; }
  bool VideoFloating() const { return videoFloating_; }
  const std::vector<std::string>& RunVideos() const { return runVideos_; }

  // --- state ---
  TRunDisplay& Display() { return display_; }
  const TStripList& Strips() const { return display_.Strips(); }
  TKelStripChart* Chart() const { return chart_; }
  int64_t CursorSample() const;
  bool AllRuns() const;
  bool SaveEnabled() const;
  bool LayoutModified() const { return layoutModified_; }
  QComboBox* LayoutBox() const { return cbLayout_; }
  QString StatusText() const;
  const std::vector<std::string>& RecentFiles() const { return recent_; }
  QAction* Action(const QString& name) const;
  QLabel* ReadoutLabel(const QString& name) const;
  QListWidget* EventMemo(int kind) const { return memos_[kind]; }
  QLabel* EventCountLabel(int kind) const { return memoLabels_[kind]; }
  QWidget* DataPanel() const;
  bool DataPanelDocked() const { return docked_; }
  // The channel menu as it pops up from the tool button or over strip `strip` of the chart.
  QMenu* ChannelMenu(bool overChart, int strip);
  const TIniFile& Settings() const { return settings_; }
  const TLayoutManager& Layouts() const { return layouts_; }
  // The strip hint at a strip's title.
  QString StripHint(int strip) const;
  // The histogram button's menu: one item per strip, by title.
  QMenu* HistogramMenu();
  // The windows opened from here, while they exist (null otherwise).
  TfrmHistogram* HistogramWindow(int strip) const;
  TfrmExport* ExportDialog() const { return export_.get(); }
  TfrmOverlayManager* OverlayManager() const { return overlays_.get(); }
  TfrmNotes* NotesWindow() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateActions();
  void CreateToolBar();
  void CreateDataPanel();
  void RestoreSettings();
  void ShowMessage(const QString& text, bool error);
  // The close question; false on Cancel.
  bool AskToSave();
  void ClearDisplay();
  // Shows what the run display holds after a selection was displayed: chart, labels, the cursor
  // at the start, the navigation and the video of the cursor's run.
  void ShowDisplayedSelection();
  // Replaces the strip list; the overlays are drawn into the new strips.
  void SetStrips(const TStripList& strips);
  void DrawOverlays();
  // Draws the display again with the view (scale, scroll position, cursor) where it was.
  void RefreshChartKeepingView();
  // The open dialog (or the test's choice); "" when cancelled.
  QString ChooseLogFile();
  void CloseNotes();
  void RefreshChart();
  void RefreshLabels();
  void UpdateReadouts();
  void UpdateNavigation();
  void FillRecentMenu();
  void FillLayoutBox(int select);
  void MarkLayoutModified();
  void StripsChanged(int refillStrip, int refillCurve, bool wholeDisplay);
  void PopChannelMenu(QMenu* menu, const QPoint& at);
  int StripAt(int y) const;
  void StartLive();
  void LiveMessage(uint32_t identifier, const std::vector<uint8_t>& bytes);
  void LiveSamples(TLogArray samples);
  void SlidePanel(bool in);
  void PlacePanel();
  void CreateVideo();
  // The run under the cursor: the displayed run, or in all-runs mode the cursor's run (-1).
  int CursorRun() const;
  // The runs Sync, Desync and Attach apply to.
  std::vector<int> VideoTargetRuns() const;
  // Seconds of chart sample 0 before run `run`'s first sample (0 in single-run mode).
  double RunStartSeconds(int run) const;
  void ShowCursorRunVideo();
  void ShowVideoArea(bool show);
  void VideoCursorMoved();
  void CursorFromVideo(int run, double chartTime);
  void MoveCursorWithVideo(double seconds);
  void UpdateVideoActions();
  // A video edit: the file's synchronisation records follow the table and Save is enabled.
  void VideoEdited();

  TViewerOptions options_;
  TIniFile settings_;
  std::string settingsFile_;
  bool settingsReadable_ = true;
  TLayoutManager layouts_;
  TRunDisplay display_;
  bool fileOpen_ = false;
  bool opening_ = false;  // OpenFile waits for its worker
  bool fileOpenedThisSession_ = false;
  std::vector<std::string> recent_;
  std::vector<std::string> runVideos_;
  TDisplayArray liveList_;  // the second display list (live mode's default strips)
  bool layoutModified_ = false;
  bool docked_ = false;
  double slide_ = 0;  // 0: only the panel's edge shows, 1: fully in
  int stateStored_ = 0;

  // Live mode.
  std::unique_ptr<TLiveEndpoint> endpoint_;
  std::unique_ptr<TLiveSharedBlock> block_;
  std::unique_ptr<TLiveReceiver> receiver_;
  QSocketNotifier* liveNotifier_ = nullptr;
  bool liveSamplesSeen_ = false;

  // Actions and controls.
  QToolBar* toolBar_ = nullptr;
  QToolButton* btnOpen_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction *actFileOpen_ = nullptr, *actFileSave_ = nullptr, *actConfig_ = nullptr;
  QToolButton *tbNewChart_ = nullptr, *tbHistograms_ = nullptr;
  QAction *actAttachVideo_ = nullptr, *actShowVideo_ = nullptr, *actDockVideo_ = nullptr,
          *actFloatVideo_ = nullptr, *actGotoMain_ = nullptr;
  QAction* actAllRuns_ = nullptr;
  QAction *actPreviousSession_ = nullptr, *actNextSession_ = nullptr;
  QAction *actPreviousRun_ = nullptr, *actNextRun_ = nullptr;
  QAction *actShowNotes_ = nullptr, *actOverlays_ = nullptr;
  QAction *actSync_ = nullptr, *actUnSync_ = nullptr, *actResync_ = nullptr;
  QAction *actViewData_ = nullptr, *actHideData_ = nullptr;
  QComboBox* cbLayout_ = nullptr;
  QToolButton* btnSaveLayout_ = nullptr;
  QMenu* mnuParamSelection_ = nullptr;
  QMenu* mnuHistograms_ = nullptr;
  int menuStrip_ = -1;

  // Windows opened from here: one histogram window per strip (created on first use), one export
  // dialog, one overlay manager, the notes pop-up while it is open.
  std::vector<std::unique_ptr<TfrmHistogram>> histograms_;
  std::unique_ptr<TfrmExport> export_;
  std::unique_ptr<TfrmOverlayManager> overlays_;
  QPointer<TfrmNotes> notes_;

  TKelStripChart* chart_ = nullptr;
  QWidget* centre_ = nullptr;
  QWidget* panel_ = nullptr;
  QVariantAnimation* slider_ = nullptr;
  QPushButton* btnTime_ = nullptr;
  QLabel *lblSession_ = nullptr, *lblSessionStart_ = nullptr, *lblRun_ = nullptr,
         *lblRunStart_ = nullptr, *lblRunLength_ = nullptr;
  QLabel *lblFrontTravel_ = nullptr, *lblRearTravel_ = nullptr;
  QLabel *lblFrontVelocity_ = nullptr, *lblRearVelocity_ = nullptr;
  QLabel *lblFrontSpeed_ = nullptr, *lblRearSpeed_ = nullptr;
  QLabel *lblFrontAccel_ = nullptr, *lblVerticalAccel_ = nullptr, *lblLateralAccel_ = nullptr;
  QListWidget* memos_[4] = {};
  QLabel* memoLabels_[4] = {};
  std::vector<QGroupBox*> groups_;
  QLabel* statusPath_ = nullptr;

  // Video.
  TVideoPanel* video_ = nullptr;
  QSplitter* splitter_ = nullptr;
  std::unique_ptr<TfrmFloatingVideo> floating_;
  bool videoFloating_ = false;
  bool videoWanted_ = false;      // a run of the file has a video
  bool cursorFromVideo_ = false;  // the cursor is being moved by the video
  int splitterHeight_ = 0;
  int videoRunShown_ = -2;
  std::string videoPathShown_;
};

}  // namespace qvl
