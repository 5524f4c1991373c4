#include "viewer/video/mplayer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>
#include <cmath>

#include "core/util/exceptions.h"
#include "viewer/qt_text.h"
#include "viewer/video/video_windows.h"

namespace qvl {

namespace {

// Sans fonts for the player's on-screen text, the first found is used.
const char* const kFonts[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/TTF/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/freefont/FreeSans.ttf",
};

std::string SystemFont() {
  for (const char* f : kFonts)
    if (QFileInfo(f).isFile()) return f;
  return {};
}

}  // namespace

TMPlayer::TMPlayer(QWidget* parent) : QWidget(parent) {
  setObjectName("MPlayer");
  // The player draws into this widget's own X11 window; Qt only fills it with the colour key.
  setAttribute(Qt::WA_NativeWindow);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  mplayerPath_ = QStringToCp1252(QCoreApplication::applicationDirPath());
  logWindow_ = new TfrmLog(this);
  propWindow_ = new TfrmProp(this);
  props_.onChange = [this](int index) {
    propWindow_->Refresh(&props_);
    emit OnChangeProp(index);
  };
  clock_.start();
}

TMPlayer::~TMPlayer() {
  props_.onChange = nullptr;
  if (process_) {
    process_->disconnect(this);
    process_->kill();
    process_->waitForFinished(kCloseWaitMs);
  }
}

bool TMPlayer::Active() const {
  return process_ != nullptr;
}

void TMPlayer::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    OpenMedia();
    return;
  }
  if (quitPending_) {
    quitPending_ = false;
    SendSlaveCommand("quit");
  } else {
    process_->kill();
  }
}

void TMPlayer::RequireClosed() const {
  if (Active()) throw EMPlayerExeption("media open, close first");
}

void TMPlayer::SetAspect(TMPlayerAspect aspect) {
  if (aspect == aspect_) return;
  RequireClosed();
  aspect_ = aspect;
}

void TMPlayer::SetAudioOut(TMPlayerAudioOut audioOut) {
  if (audioOut == audioOut_) return;
  RequireClosed();
  audioOut_ = audioOut;
}

void TMPlayer::SetMediaAddr(const std::string& path) {
  if (path == mediaAddr_) return;
  RequireClosed();
  mediaAddr_ = path;
}

void TMPlayer::SetMPlayerPath(const std::string& folder) {
  if (folder == mplayerPath_) return;
  RequireClosed();
  mplayerPath_ = folder;
}

void TMPlayer::SetParams(const std::string& params) {
  if (params == params_) return;
  RequireClosed();
  params_ = params;
}

void TMPlayer::SetReIndex(bool reIndex) {
  if (reIndex == reIndex_) return;
  RequireClosed();
  reIndex_ = reIndex;
}

void TMPlayer::SetPaused(bool paused) {
  if (!Active()) {
    paused_ = paused;
  } else if (paused != paused_) {
    TogglePause();
  }
}

std::string TMPlayer::PlayerProgram() const {
  const QString beside = Cp1252ToQString(mplayerPath_) + "/mplayer";
  if (QFileInfo(beside).isExecutable()) return QStringToCp1252(beside);
  return QStringToCp1252(QStandardPaths::findExecutable("mplayer"));
}

qint64 TMPlayer::ProcessId() const {
  return process_ ? process_->processId() : 0;
}

void TMPlayer::OpenMedia() {
  QCoreApplication::processEvents();
  const std::string program = PlayerProgram();
  if (program.empty()) throw EMPlayerExeption("mplayer not found");
  if (mediaAddr_.empty()) throw EMPlayerExeption("media data not found");
  RequireClosed();

  // The command line names the window the player draws into: the full-screen one when set.
  if (fullScreen_) PlaceFullScreen(true);
  parser_.Reset();
  lines_.Clear();
  timeQueries_ = timeAnswers_ = 0;
  quitPending_ = true;
  lastRequestTick_ = 0;

  TCommandLineOptions o;
  o.playerProgram = program;
  // The window's own handle: after the control moved to or from full screen, winId() can
  // still name the window it had before.
  winId();  // makes the native window when there is none yet
  o.windowId = uint64_t(windowHandle() ? windowHandle()->winId() : winId());
  o.sound = sound_;
  o.fontPath = SystemFont();
  o.reIndex = reIndex_;
  o.audioOut = audioOut_;
  o.aspect = aspect_;
  o.params = params_;
  // An absolute path: a name from a log file must never read as an option of the player.
  o.mediaAddr = QStringToCp1252(QFileInfo(Cp1252ToQString(mediaAddr_)).absoluteFilePath());
  const TCommandLine c = BuildCommandLine(o);
  AddLog("command line:");
  AddLog(c.text);
  AddLog("");

  process_ = new QProcess(this);
  process_->setProcessChannelMode(QProcess::MergedChannels);
  process_->setWorkingDirectory(Cp1252ToQString(mplayerPath_));
  connect(process_, &QProcess::readyReadStandardOutput, this, &TMPlayer::ReadOutput);
  connect(process_, &QProcess::finished, this, &TMPlayer::PlaybackEnded);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) PlaybackEnded();
  });
  QStringList arguments;
  for (const std::string& a : c.arguments) arguments << Cp1252ToQString(a);
  process_->start(Cp1252ToQString(c.program), arguments, QIODevice::ReadWrite);
  if (!process_) return;  // it could not start and has ended already
  if (paused_) SendSlaveCommand("pause");
}

void TMPlayer::CloseWait() {
  if (!process_) return;
  if (quitPending_) {
    quitPending_ = false;
    SendSlaveCommand("quit");
    if (process_->waitForFinished(kCloseWaitMs) || !process_) {
      if (process_) PlaybackEnded();
      return;
    }
  }
  if (process_) {
    process_->kill();
    process_->waitForFinished(kCloseWaitMs);
    if (process_) PlaybackEnded();
  }
}

void TMPlayer::TogglePause() {
  QueryTimePos();
  SendSlaveCommand("pause");
  const bool wasPaused = paused_;
  paused_ = !paused_;
  if (!wasPaused) lastRequestTick_ = 0;
}

void TMPlayer::FrameStep() {
  QueryTimePos();
  SendSlaveCommand("frame_step");
  lastRequestTick_ = 0;
  paused_ = true;
}

void TMPlayer::QueryTimePos() {
  SendSlaveCommand("pausing_keep_force get_time_pos");
  ++timeQueries_;
  lastRequestTick_ = clock_.elapsed();
}

bool TMPlayer::QueryTimePosWait() {
  QueryTimePos();
  // The player answers the requests in order: this one is answered with the last of them.
  const int wanted = timeQueries_;
  QElapsedTimer waited;
  waited.start();
  // The output read while waiting is dispatched by ReadOutput through the ready-read signal.
  while (process_ && timeAnswers_ < wanted && waited.elapsed() < kVideoSizeWaitMs)
    if (!process_->waitForReadyRead(100) && process_ && process_->state() != QProcess::Running)
      break;
  const bool answered = timeAnswers_ >= wanted;
  timeAnswers_ = std::max(timeAnswers_, wanted);  // requests left unanswered are not waited for
  return answered;
}

void TMPlayer::SeekFromStartExact(double seconds) {
  if (!Active()) return;
  SetPaused(true);
  double fps = 0;
  if (!ParsePlayerNumber(props_.Value(kPropVideoFps), fps) || fps < 1 || fps > 1000) fps = 25;
  const double frame = 1 / fps;
  // Each try goes back twice as far, until the key picture found is not past the place.
  for (double back = 0.5; back < 64 && Active(); back *= 2) {
    SeekFromStart(std::max(0.0, seconds - back));
    if (!QueryTimePosWait()) return;
    if (PositionFromStart() <= seconds + frame / 2 || seconds - back <= 0) break;
  }
  const long steps = std::lround((seconds - PositionFromStart()) * fps);
  for (long i = 0; i < steps && Active(); ++i) SendSlaveCommand("frame_step");
  if (Active()) QueryTimePosWait();
}

void TMPlayer::Seek(double seconds) {
  SendSlaveCommand("pausing_keep seek " + FormatPlayerNumber(seconds) + " 2");
}

void TMPlayer::SeekFromStart(double seconds) {
  if (Active()) Seek(seconds + parser_.State().startTime);
}

double TMPlayer::MediaLength() const {
  if (!Active()) return 0;
  double length = 0;
  return ParsePlayerNumber(props_.Value(kPropLength), length) ? length : 0;
}

QSize TMPlayer::VideoSize() {
  if (!Active()) return {};
  QElapsedTimer waited;
  waited.start();
  while (process_ && props_.IndexOf(kPropVideoWidth) < 0 && !Failed() &&
         waited.elapsed() < kVideoSizeWaitMs) {
    // The output read while waiting is dispatched by ReadOutput through the ready-read signal.
    const int left = int(kVideoSizeWaitMs - waited.elapsed());
    if (!process_->waitForReadyRead(std::max(1, std::min(left, 100))) &&
        process_->state() != QProcess::Running)
      break;
  }
  double w = 0, h = 0;
  if (!ParsePlayerNumber(props_.Value(kPropVideoWidth), w) || w < 0 || w > 4095) w = 0;
  if (!ParsePlayerNumber(props_.Value(kPropVideoHeight), h) || h < 0 || h > 4095) h = 0;
  return {int(w), int(h)};
}

void TMPlayer::SetSpeed(double speed) {
  if (speed == parser_.State().speed) return;
  SetProperty("speed", FormatPlayerNumber(speed));
  GetProperty("speed");
  paused_ = false;
}

void TMPlayer::GetProperty(const std::string& name) {
  if (!Active()) throw EMPlayerExeption("mplayer not active, can't get property\r\n" + name);
  SendSlaveCommand("get_property " + name);
}

void TMPlayer::SetProperty(const std::string& name, const std::string& value) {
  if (!Active()) throw EMPlayerExeption("mplayer not active, can't set property\r\n" + name);
  SendSlaveCommand("set_property " + name + " " + value);
}

void TMPlayer::SendSlaveCommand(const std::string& command) {
  if (!process_ || process_->state() == QProcess::NotRunning)
    throw EMPlayerExeption("mplayer not active, can't send command\r\n" + command);
  AddLog(command);
  const std::string line = command + "\n";
  process_->write(line.data(), qint64(line.size()));
}

void TMPlayer::AddLog(const std::string& text) {
  logWindow_->AddLine(Cp1252ToQString(text));
}

void TMPlayer::ReadOutput() {
  if (!process_) return;
  const QByteArray bytes = process_->readAllStandardOutput();
  if (bytes.isEmpty()) return;
  lines_.Append(bytes.constData(), size_t(bytes.size()));
  for (const std::string& line : lines_.TakeLines()) DispatchLine(line);
}

void TMPlayer::DispatchLine(const std::string& line) {
  AddLog(line);
  const TPlaybackState& s = parser_.State();
  const bool running = process_ && process_->state() == QProcess::Running;
  switch (parser_.Dispatch(line)) {
    case TAnswerEvent::aeTimePosition:
      ++timeAnswers_;
      [[fallthrough]];
    case TAnswerEvent::aePercentPosition:
      if (restarting_) break;
      try {
        emit OnProgress();
      } catch (const std::exception&) {
        // failures of the progress handler are swallowed
      }
      break;
    case TAnswerEvent::aeSpeed:
      emit OnChangeSpeed();
      break;
    case TAnswerEvent::aeFrameDrop:
      emit OnChangeFrameDrop();
      break;
    case TAnswerEvent::aeVolume:
      if (s.osdLevel > 0 && running)
        SendSlaveCommand("osd_show_property_text volume:" + FormatPlayerNumber(s.volume));
      emit OnChangeVolume();
      break;
    case TAnswerEvent::aeAudioDelay:
      if (s.osdLevel > 0 && running)
        SendSlaveCommand("osd_show_property_text AudioDelay:" + FormatPlayerNumber(s.audioDelay));
      emit OnChangeAudioDelay();
      break;
    case TAnswerEvent::aeStartPlay:
      emit OnStartPlay();
      break;
    case TAnswerEvent::aeFailedOpen:
      emit OnLogAdd();
      emit OnFailedOpen();
      return;
    case TAnswerEvent::aeMute:
    case TAnswerEvent::aeNone:
      break;
  }
  emit OnLogAdd();
}

void TMPlayer::PlaybackEnded() {
  if (!process_) return;
  ReadOutput();  // what the player wrote before it ended still counts
  if (!process_) return;
  QProcess* p = process_;
  process_ = nullptr;
  p->disconnect(this);
  p->deleteLater();
  lines_.Clear();
  const bool failed = parser_.State().failed;
  parser_.Reset();
  parser_.MutableState().failed = failed;
  quitPending_ = false;
  props_.Clear();
  if (restarting_) return;
  emit OnPlayEnd();
  if (isVisible()) {  // repaint the area the player drew on
    hide();
    show();
  }
  if (fullScreen_) {
    fullScreen_ = false;
    PlaceFullScreen(false);
  }
}

void TMPlayer::Restart(const std::function<void()>& change) {
  if (!Active()) {
    change();
    return;
  }
  QueryTimePosWait();
  const double at = PositionFromStart();
  const double speed = parser_.State().speed;
  const bool paused = paused_;
  restarting_ = true;
  try {
    CloseWait();
    change();
    paused_ = true;  // sent at the start, so the picture waits for the seek
    OpenMedia();
    VideoSize();      // the file's start time and the first picture have come
    SetSpeed(speed);  // before the seek, which pauses again the player a speed sets going
    SeekFromStartExact(at);
  } catch (...) {
    restarting_ = false;
    throw;
  }
  restarting_ = false;
  if (!paused) SetPaused(false);
}

void TMPlayer::SetFullScreen(bool on) {
  if (on == fullScreen_) return;
  Restart([this, on] {
    fullScreen_ = on;
    if (!on || Active()) PlaceFullScreen(on);
  });
}

void TMPlayer::PlaceFullScreen(bool on) {
  if (on == placedFullScreen_) return;
  placedFullScreen_ = on;
  if (on) {
    normalParent_ = parentWidget();
    normalGeometry_ = geometry();
    QScreen* shown = screen();
    setParent(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setGeometry(shown->geometry());
    show();
    raise();
    activateWindow();
    setFocus();
  } else {
    setParent(normalParent_, Qt::Widget);
    setGeometry(normalGeometry_);
    show();
  }
}

void TMPlayer::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && fullScreen_ && Active()) {
    SetFullScreen(false);
    return;
  }
  QWidget::keyPressEvent(event);
}

void TMPlayer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor::fromRgb(kPlayerColorKey));
}

}  // namespace qvl
