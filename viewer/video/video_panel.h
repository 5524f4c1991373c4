// TVideoPanel: the viewer's video area. The picture of the media player kept in the video's
// aspect ratio above a controls bar (speed, play, pause, frame step, back five seconds, sound,
// position bar and label) centred at the bottom, the message when there is nothing to show, and
// the synchronisation of the runs' videos with the chart: the main window tells it the run shown
// and the cursor moves the user makes, and follows its CursorFromVideo signal.
#pragma once

#include <QWidget>
#include <string>

#include "viewer/video/mplayer.h"
#include "viewer/video/video_sync.h"

class QButtonGroup;
class QLabel;
class QToolButton;
class QSlider;
class QTimer;

namespace qvl {

// The picture's place inside `area`: the largest rectangle of the video's aspect ratio, centred.
// An unknown video size fills the area.
QRect FitPicture(const QRect& area, QSize video);

class TVideoPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kPositionTimerMs = 50;

  explicit TVideoPanel(QWidget* parent = nullptr);

  TMPlayer* Player() const { return player_; }
  TVideoSyncTable& Syncs() { return syncs_; }
  const TVideoSyncTable& Syncs() const { return syncs_; }

  // The video of the run shown (`run` its index): loaded when it differs from the loaded one;
  // when the path does not exist, the same file name in `logFolder`. An empty path shows "No
  // video attached to this run". Returns whether a video is loaded.
  bool ShowRunVideo(int run, const std::string& path, const std::string& logFolder);
  int Run() const { return run_; }
  // The path loaded (after the fall-back), empty when none.
  const std::string& LoadedVideo() const { return loaded_; }
  QString Message() const;

  // The user moved the cursor to `chartTime` (seconds into the run shown): a synced run with an
  // active player seeks the video there.
  void CursorMovedByUser(double chartTime);
  // Sync at the run's chart time and the player's position; false with a message when refused.
  bool Sync(int run, double chartTime, QString& message);
  void Desync(int run) { syncs_.Run(run).Desync(); }
  // Restores the run's synchronisation; the chart time of the video's current position.
  bool Resync(int run, double& chartTime);

  // Activates the player when needed and plays, pauses, steps a frame or goes back 4 s; then
  // the speed is applied again and the position timer runs.
  void Play();
  void Pause();
  void StepFrame();
  void BackUp();
  void SetSpeedIndex(int index);  // 0 "Slow (1/3)", 1 "Normal", 2 "Fast (x3)"
  void ToggleSound();

  QWidget* ControlsBar() const { return bar_; }
  QLabel* PositionLabel() const { return position_; }
  QSlider* PositionBar() const { return slider_; }
  QTimer* PositionTimer() const { return timer_; }

 signals:
  // The video moved on: the cursor goes to `chartTime` seconds into run `run`.
  void CursorFromVideo(int run, double chartTime);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Activate();
  void AfterButton();
  void Progress();
  void FitPlayer();
  void ShowMessage(const QString& text, bool controls);

  TMPlayer* player_;
  QLabel* message_;
  QWidget* bar_;
  QWidget* transport_;  // speeds and buttons
  QWidget* seekRow_;    // position bar, position and sound
  QButtonGroup* speeds_;
  QToolButton* sound_;
  QSlider* slider_;
  QLabel* position_;
  QTimer* timer_;
  TVideoSyncTable syncs_;
  TSeekEcho echo_;
  int run_ = -1;
  std::string loaded_;
  QSize videoSize_;
};

}  // namespace qvl
