// TMPlayer: the media player control. It runs the outside player (mplayer) in slave mode as a
// child process that draws into this widget's window, sends it slave commands and turns its
// answer lines into playback state, media properties and signals. Everything runs on the user
// interface thread: the process's output and its end arrive as QProcess signals.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QWidget>
#include <functional>
#include <string>

#include "viewer/video/mplayer_logic.h"

namespace qvl {

class TfrmLog;
class TfrmProp;

class TMPlayer : public QWidget {
  Q_OBJECT

 public:
  // How long VideoSize waits for the player to report the picture size: long enough for a slow
  // start (sound outputs tried in turn, a first run that builds the font cache).
  static constexpr int kVideoSizeWaitMs = 10000;
  // How long CloseWait waits for the player to quit.
  static constexpr int kCloseWaitMs = 1000;

  explicit TMPlayer(QWidget* parent = nullptr);
  ~TMPlayer() override;

  bool Active() const;
  void SetActive(bool active);
  TMPlayerAspect Aspect() const { return aspect_; }
  void SetAspect(TMPlayerAspect aspect);
  TMPlayerAudioOut AudioOut() const { return audioOut_; }
  void SetAudioOut(TMPlayerAudioOut audioOut);
  bool FullScreen() const { return fullScreen_; }
  // The control over the whole screen, or back where it was. The player draws into the
  // control's window, whose handle is on its command line, so an active player is started again
  // in the moved window at the same frame (Restart).
  void SetFullScreen(bool on);
  const std::string& MediaAddr() const { return mediaAddr_; }
  void SetMediaAddr(const std::string& path);
  // The folder holding the player program; when it holds none the player is looked up on PATH.
  const std::string& MPlayerPath() const { return mplayerPath_; }
  void SetMPlayerPath(const std::string& folder);
  const std::string& Params() const { return params_; }
  void SetParams(const std::string& params);
  bool Paused() const { return paused_; }
  void SetPaused(bool paused);
  bool ReIndex() const { return reIndex_; }
  void SetReIndex(bool reIndex);
  bool Sound() const { return sound_; }
  void SetSound(bool sound) { sound_ = sound; }
  // Ends the player and starts it again with what `change` does in between (a command-line
  // option, the window it draws into), at the same frame and paused or playing as before. The
  // end and the positions passed on the way are not told as playback events.
  void Restart(const std::function<void()>& change);

  void OpenMedia();
  void CloseWait();
  void TogglePause();
  void FrameStep();
  void QueryTimePos();
  // QueryTimePos, then waits at most kVideoSizeWaitMs for the answer; false when none came.
  bool QueryTimePosWait();
  // Places the player `seconds` from the file's start to the frame: the player itself lands on a
  // key picture, so it seeks before the place and steps frame by frame up to it. Leaves it
  // paused.
  void SeekFromStartExact(double seconds);
  void Seek(double seconds);
  void SeekFromStart(double seconds);
  double PositionFromStart() const { return parser_.State().timePos - parser_.State().startTime; }
  double MediaLength() const;
  // The picture size the player reports; waits at most kVideoSizeWaitMs for it (0 for a value
  // not reported: a file without video, a failed open, a player that ended).
  QSize VideoSize();
  void SetSpeed(double speed);
  void GetProperty(const std::string& name);
  void SetProperty(const std::string& name, const std::string& value);
  void SendSlaveCommand(const std::string& command);
  bool Failed() const { return parser_.State().failed; }

  const TPlaybackState& State() const { return parser_.State(); }
  const TMediaPropList& Props() const { return props_; }
  TfrmProp* PropWindow() const { return propWindow_; }
  TfrmLog* LogWindow() const { return logWindow_; }
  // The player program found for MPlayerPath (empty when there is none).
  std::string PlayerProgram() const;
  // The process id of the running player (0 when none).
  qint64 ProcessId() const;

 signals:
  void OnChangeAudioDelay();
  void OnChangeFrameDrop();
  void OnChangeProp(int index);
  void OnChangeSpeed();
  void OnChangeVolume();
  void OnFailedOpen();
  void OnLogAdd();
  void OnPlayEnd();
  void OnProgress();
  void OnStartPlay();
  void OnTimer();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void RequireClosed() const;
  void ReadOutput();
  void DispatchLine(const std::string& line);
  void PlaybackEnded();
  void AddLog(const std::string& text);
  void PlaceFullScreen(bool on);

  TMPlayerAspect aspect_ = TMPlayerAspect::mpaAutoDetect;
  TMPlayerAudioOut audioOut_ = TMPlayerAudioOut::maoWin32;
  bool fullScreen_ = false;
  std::string mediaAddr_;
  std::string mplayerPath_;
  std::string params_;
  bool paused_ = false;
  bool reIndex_ = false;
  bool sound_ = true;

  TMediaPropList props_;
  TAnswerParser parser_{props_};
  TAnswerLineBuffer lines_;
  bool quitPending_ = false;
  qint64 lastRequestTick_ = 0;
  int timeQueries_ = 0;  // time position requests and answers of this player
  int timeAnswers_ = 0;
  QElapsedTimer clock_;
  QProcess* process_ = nullptr;
  TfrmLog* logWindow_ = nullptr;
  TfrmProp* propWindow_ = nullptr;
  bool restarting_ = false;
  // Full screen: whether the control covers the screen, and where it was.
  bool placedFullScreen_ = false;
  QPointer<QWidget> normalParent_;
  QRect normalGeometry_;
};

}  // namespace qvl
