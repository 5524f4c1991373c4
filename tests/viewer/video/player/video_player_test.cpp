// The media player control, the video panel and the video windows with the real player on a
// virtual X server with a clip made by ffmpeg (video_world.h).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <csignal>
#include <cstdio>
#include <optional>

#include "core/util/exceptions.h"
#include "test_paths.h"
#include "viewer/video/mplayer.h"
#include "viewer/video/player/video_world.h"
#include "viewer/video/video_panel.h"
#include "viewer/video/video_windows.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 20000;

using testing::World;

bool ProcessGone(qint64 pid) {
  return pid > 0 && kill(pid_t(pid), 0) != 0;
}

void Screenshot(QWidget* window, const char* name) {
  const QString dir = QString::fromStdString(test::BinDir()) + "/../screenshots";
  QDir().mkpath(dir);
  // Drawn at twice the size, the picture is kept beside the plain one.
  QString file = name;
  if (window->devicePixelRatio() > 1) file.replace(".png", "_2x.png");
  window->screen()->grabWindow(window->winId()).save(dir + "/" + file);
}

// The screen's pixels under `rect` (global coordinates), brought down to 32 x 24 so that pictures
// drawn at different sizes compare.
QImage ScreenPicture(const QRect& rect) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32)
      .scaled(32, 24, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Mean difference of the colour channels of two such pictures, 0 to 255.
double PictureDifference(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
             std::abs(qBlue(p) - qBlue(q));
    }
  return sum / (3.0 * a.width() * a.height());
}

// The share of `picture` that is the colour key, where the player has not drawn.
double ColourKeyShare(const QImage& picture) {
  int key = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      const QRgb p = picture.pixel(x, y);
      key += std::abs(qRed(p) - 0x10) + std::abs(qGreen(p) - 0x10) + std::abs(qBlue(p) - 0x10) < 8;
    }
  return double(key) / (picture.width() * picture.height());
}

QRect GlobalRect(const QWidget* w) {
  return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

// Asks the player whether it is paused; true or false from its answer, nothing without one.
std::optional<bool> PlayerPaused(TMPlayer& player) {
  QPlainTextEdit* log = player.LogWindow()->Memo();
  const qsizetype seen = log->toPlainText().size();
  player.SendSlaveCommand("pausing_keep_force get_property pause");
  std::optional<bool> paused;
  (void)QTest::qWaitFor(
      [&] {
        const QString answer = log->toPlainText().mid(seen);
        if (answer.contains("ANS_pause=yes")) paused = true;
        if (answer.contains("ANS_pause=no")) paused = false;
        return paused.has_value();
      },
      kWaitMs);
  return paused;
}

// Waits until the player's position has moved past `seconds`.
bool PlaysPast(TMPlayer& player, double seconds) {
  return QTest::qWaitFor(
      [&] {
        player.QueryTimePos();
        return player.PositionFromStart() > seconds;
      },
      kWaitMs);
}

void OpenClip(TMPlayer& player, const QString& path) {
  player.SetSound(false);
  player.SetAudioOut(TMPlayerAudioOut::maoNull);
  player.SetMediaAddr(path.toStdString());
  player.OpenMedia();
}

// A video panel filling a shown window of 700x520, as the viewer docks it; a silent one plays
// without sound.
struct TPanelWindow {
  QWidget main;
  TVideoPanel* panel;
  explicit TPanelWindow(bool silent) {
    main.resize(700, 520);
    auto* layout = new QVBoxLayout(&main);
    panel = new TVideoPanel(&main);
    layout->addWidget(panel);
    main.show();
    if (silent) panel->Player()->SetSound(false);
  }
};

TEST(VideoPlayer, OpensSeeksPausesStepsAndClosesWithoutLeavingAProcess) {
  REQUIRE_VIDEO_WORLD();
  TMPlayer player;
  player.resize(320, 240);
  player.show();
  OpenClip(player, World().clip);
  ASSERT_TRUE(player.Active());
  EXPECT_EQ(player.VideoSize(), QSize(320, 240));
  EXPECT_NEAR(player.MediaLength(), 20, 0.1);
  EXPECT_THROW(player.SetMediaAddr("other.avi"), EMPlayerExeption);

  player.SetPaused(true);
  player.SeekFromStart(10);
  player.QueryTimePos();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return std::abs(player.PositionFromStart() - 10) < 0.5; }, kWaitMs))
      << player.PositionFromStart();
  // Five frames of 40 ms: the player reports the position to a tenth of a second.
  const double before = player.PositionFromStart();
  for (int i = 0; i < 5; ++i) player.FrameStep();
  EXPECT_TRUE(player.Paused());
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        player.QueryTimePos();
        return player.PositionFromStart() > before + 0.15;
      },
      kWaitMs))
      << before << " " << player.PositionFromStart();
  EXPECT_LT(player.PositionFromStart(), before + 0.35);

  const qint64 pid = player.ProcessId();
  ASSERT_GT(pid, 0);
  player.CloseWait();
  EXPECT_FALSE(player.Active());
  EXPECT_TRUE(ProcessGone(pid));
  EXPECT_EQ(player.Props().Count(), 0);
  EXPECT_THROW(player.SendSlaveCommand("pause"), EMPlayerExeption);
}

TEST(VideoPlayer, AFileThatCannotBeOpenedIsToldOnce) {
  REQUIRE_VIDEO_WORLD();
  TMPlayer player;
  player.show();
  int failed = 0, ended = 0;
  QObject::connect(&player, &TMPlayer::OnFailedOpen, [&] { ++failed; });
  QObject::connect(&player, &TMPlayer::OnPlayEnd, [&] { ++ended; });
  OpenClip(player, World().dir->filePath("missing.avi"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ended == 1; }, kWaitMs));
  EXPECT_EQ(failed, 1);
  EXPECT_TRUE(player.Failed());
  EXPECT_FALSE(player.Active());
  EXPECT_TRUE(player.LogWindow()->Memo()->toPlainText().contains("Failed to open"));
}

TEST(VideoPlayer, NamesThatLookLikeOptionsOrHoldALineBreakPlayAsFiles) {
  REQUIRE_VIDEO_WORLD();
  const QString folder = World().dir->filePath("names");
  QDir().mkpath(folder);
  const QString saved = QDir::currentPath();
  QDir::setCurrent(folder);
  for (const QString& name : {QString("-dumpfile=dumped.avi"), QString("ride\n-idx.avi")}) {
    ASSERT_TRUE(QFile::copy(World().clip, folder + "/" + name));
    TMPlayer player;
    player.show();
    OpenClip(player, name);  // relative, as a log file may name it
    EXPECT_EQ(player.VideoSize(), QSize(320, 240)) << name.toStdString();
    EXPECT_NEAR(player.MediaLength(), 20, 0.1);
    player.CloseWait();
  }
  EXPECT_FALSE(QFile::exists(folder + "/dumped.avi"));
  QDir::setCurrent(saved);
}

TEST(VideoPlayer, ASyncedRunAndTheCursorFollowEachOther) {
  REQUIRE_VIDEO_WORLD();
  TPanelWindow window(true);
  TVideoPanel* panel = window.panel;
  panel->Syncs().Resize(2);
  EXPECT_FALSE(panel->ShowRunVideo(1, "", ""));
  EXPECT_EQ(panel->Message(), "No video attached to this run");
  // The stored folder is gone: the same name in the log file's folder is used.
  ASSERT_TRUE(panel->ShowRunVideo(0, "/nowhere/clip.avi", World().dir->path().toStdString()));
  EXPECT_EQ(panel->LoadedVideo(), World().clip.toStdString());
  EXPECT_TRUE(panel->Message().isEmpty());
  const QRect picture = panel->Player()->geometry();
  EXPECT_NEAR(double(picture.width()) / picture.height(), 4.0 / 3, 0.02);
  EXPECT_GT(picture.height(), 300);

  std::vector<double> cursor;
  QObject::connect(panel, &TVideoPanel::CursorFromVideo, [&](int run, double t) {
    EXPECT_EQ(run, 0);
    cursor.push_back(t);
  });
  QString message;
  ASSERT_TRUE(panel->Sync(0, 5, message)) << message.toStdString();  // video 0 at chart 5 s

  panel->CursorMovedByUser(15);  // the user's move seeks the video to 10 s
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return std::abs(panel->Player()->PositionFromStart() - 10) < 0.5; }, kWaitMs));
  EXPECT_TRUE(cursor.empty());  // the answer to that seek does not move the cursor back

  panel->Play();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !cursor.empty() && cursor.back() > 15.5; }, kWaitMs));
  EXPECT_TRUE(panel->PositionTimer()->isActive());
  EXPECT_TRUE(QTest::qWaitFor([&] { return cursor.size() > 10; }, kWaitMs));
  // Two seconds on, past the player's own display of the seek, for the picture.
  EXPECT_TRUE(QTest::qWaitFor([&] { return cursor.back() > 17; }, kWaitMs));
  Screenshot(&window.main, "video_panel_docked.png");

  TIniFile ini;
  {
    TfrmFloatingVideo floating(ini, panel->Player());
    floating.layout()->addWidget(panel);
    floating.show();
    EXPECT_EQ(floating.windowTitle(), "QVLView - " + World().clip);
    const size_t seen = cursor.size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return cursor.size() > seen + 10; }, kWaitMs));
    Screenshot(&floating, "video_panel_floating.png");
    // At the window's smallest every control of the bar is whole, inside the panel.
    floating.resize(floating.minimumSize());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return panel->width() == TfrmFloatingVideo::kMinWidth; }, kWaitMs));
    int controls = 0;
    for (QWidget* c : panel->ControlsBar()->findChildren<QWidget*>()) {
      if (!c->isVisibleTo(panel) || c->findChildren<QWidget*>().size() > 0) continue;
      ++controls;
      EXPECT_GE(c->width(), c->sizeHint().width()) << c->accessibleName().toStdString();
      EXPECT_TRUE(panel->rect().contains(QRect(c->mapTo(panel, QPoint(0, 0)), c->size())))
          << c->accessibleName().toStdString();
    }
    EXPECT_EQ(controls, 10);
    const size_t shown = cursor.size();  // the picture is drawn at its new size meanwhile
    EXPECT_TRUE(QTest::qWaitFor([&] { return cursor.size() > shown + 10; }, kWaitMs));
    Screenshot(&floating, "video_panel_floating_smallest.png");
    window.main.layout()->addWidget(panel);
  }
  EXPECT_GE(ini.ReadInteger("VideoForm", "Width", 0), TfrmFloatingVideo::kMinWidth);

  TLogFileInfo info;
  panel->Syncs().Store(info);
  ASSERT_EQ(info.syncs.size(), 2u);
  EXPECT_EQ(info.syncs[0].synced, 1);
  EXPECT_NEAR(info.syncs[0].offset, 5, 0.05);
  EXPECT_EQ(info.syncs[1].synced, 0);
  const qint64 pid = panel->Player()->ProcessId();
  panel->Player()->CloseWait();
  EXPECT_TRUE(ProcessGone(pid));
}

TEST(VideoPlayer, FullScreenCoversTheScreenAtTheSameFrameAndEscapeBringsItBackPlaying) {
  REQUIRE_VIDEO_WORLD();
  TPanelWindow window(true);
  TVideoPanel* panel = window.panel;
  ASSERT_TRUE(panel->ShowRunVideo(0, World().clip.toStdString(), ""));
  TMPlayer* player = panel->Player();
  std::vector<qint64> pids{player->ProcessId()};
  const QRect docked = player->geometry();
  player->SeekFromStart(5);
  ASSERT_TRUE(player->QueryTimePosWait());
  const double still = player->PositionFromStart();
  QImage picture;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return ColourKeyShare(picture = ScreenPicture(GlobalRect(player))) < 0.01; }, kWaitMs));

  // The same still picture over the whole screen.
  player->SetFullScreen(true);
  pids.push_back(player->ProcessId());
  const QRect screen = player->screen()->geometry();
  EXPECT_TRUE(player->isWindow());
  EXPECT_TRUE(QTest::qWaitFor([&] { return GlobalRect(player) == screen; }, kWaitMs));
  EXPECT_NEAR(player->PositionFromStart(), still, 0.15);
  double difference = 255;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return (difference = PictureDifference(ScreenPicture(screen), picture)) < 12; },
      kWaitMs))
      << difference;
  QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(test::BinDir()) +
                                                       "/../screenshots/video_full_screen.png");
  panel->Play();
  EXPECT_TRUE(PlaysPast(*player, still + 0.5));

  // Escape: back in the panel where it was, playing on from where it was.
  ASSERT_TRUE(player->QueryTimePosWait());
  const double playing = player->PositionFromStart();
  // A real key press where there is a tool to make one: it reaches the full-screen window
  // through the X server, where the player must not take it for its own.
  QProcess xdotool;
  if (!QStandardPaths::findExecutable("xdotool").isEmpty()) {
    xdotool.start("xdotool", {"key", "Escape"});
    EXPECT_TRUE(xdotool.waitForFinished(kWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !player->FullScreen(); }, kWaitMs));
  } else {
    QTest::keyClick(player, Qt::Key_Escape);
  }
  pids.push_back(player->ProcessId());
  EXPECT_FALSE(player->FullScreen());
  EXPECT_EQ(player->parentWidget(), panel);
  EXPECT_EQ(player->geometry(), docked);
  EXPECT_GT(player->PositionFromStart(), playing - 0.15);
  EXPECT_EQ(PlayerPaused(*player), std::optional<bool>(false));
  EXPECT_TRUE(PlaysPast(*player, playing + 0.5));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return ColourKeyShare(ScreenPicture(GlobalRect(player))) < 0.01; }, kWaitMs));
  // Docked, Escape is not the player's.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(player, &escape);
  EXPECT_FALSE(escape.isAccepted());

  // The end of playback leaves full screen too.
  player->SetFullScreen(true);
  pids.push_back(player->ProcessId());
  player->CloseWait();
  EXPECT_FALSE(player->FullScreen());
  EXPECT_EQ(player->parentWidget(), panel);
  for (qint64 pid : pids) EXPECT_TRUE(ProcessGone(pid)) << pid;
}

// The command line of the player's latest start, from its log.
QString LastCommandLine(TMPlayer& player) {
  const QStringList lines = player.LogWindow()->Memo()->toPlainText().split('\n');
  const qsizetype at = lines.lastIndexOf("command line:");
  return at >= 0 && at + 1 < lines.size() ? lines[at + 1] : QString();
}

TEST(VideoPlayer, TogglingSoundRestartsThePlayerAtTheSameFramePausedOrPlaying) {
  REQUIRE_VIDEO_WORLD();
  TPanelWindow window(false);
  TVideoPanel* panel = window.panel;
  TMPlayer* player = panel->Player();
  ASSERT_TRUE(player->Sound());
  ASSERT_TRUE(panel->ShowRunVideo(0, World().clip.toStdString(), ""));
  QAbstractButton* sound = nullptr;
  for (auto* b : panel->findChildren<QAbstractButton*>())
    if (b->accessibleName() == "Sound") sound = b;
  ASSERT_NE(sound, nullptr);
  EXPECT_TRUE(sound->isChecked());
  EXPECT_FALSE(LastCommandLine(*player).contains("-nosound"));
  // Between two key pictures (the player seeks to one, every twelfth frame of the clip).
  player->SeekFromStart(7);
  for (int i = 0; i < 3; ++i) player->FrameStep();
  double before = -1;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const double last = before;
        player->QueryTimePosWait();
        before = player->PositionFromStart();
        return before > 6 && before == last;
      },
      kWaitMs));

  // Paused: the sound goes off and the same frame stays.
  qint64 pid = player->ProcessId();
  sound->click();
  EXPECT_FALSE(player->Sound());
  EXPECT_FALSE(sound->isChecked());
  EXPECT_TRUE(ProcessGone(pid));
  ASSERT_TRUE(player->Active());
  EXPECT_TRUE(LastCommandLine(*player).contains(" -nosound "))
      << LastCommandLine(*player).toStdString();
  EXPECT_EQ(PlayerPaused(*player), std::optional<bool>(true));
  // Two frames, and the tenth of a second to which the player tells its position.
  ASSERT_TRUE(player->QueryTimePosWait());
  EXPECT_NEAR(player->PositionFromStart(), before, 0.15);

  // Playing slowly: the sound comes back, and the clip plays on from where it was at the same
  // speed, with no sound device as well (the player falls back to the next outputs).
  panel->SetSpeedIndex(0);
  panel->Play();
  EXPECT_TRUE(PlaysPast(*player, before + 1));
  pid = player->ProcessId();
  ASSERT_TRUE(player->QueryTimePosWait());
  before = player->PositionFromStart();
  sound->click();
  EXPECT_TRUE(player->Sound());
  EXPECT_TRUE(ProcessGone(pid));
  EXPECT_FALSE(LastCommandLine(*player).contains("-nosound"));
  EXPECT_TRUE(LastCommandLine(*player).contains(" -ao pulse,alsa,sdl,oss,null "));
  EXPECT_GT(player->PositionFromStart(), before - 0.15);
  EXPECT_LT(player->PositionFromStart(), before + 1);
  EXPECT_EQ(PlayerPaused(*player), std::optional<bool>(false));
  EXPECT_TRUE(PlaysPast(*player, before + 0.5));
  EXPECT_EQ(player->State().speed, 0.33);  // as the player answered
  pid = player->ProcessId();
  player->CloseWait();
  EXPECT_TRUE(ProcessGone(pid));
}

TEST(VideoWindows, PlacementLogAndProperties) {
  REQUIRE_VIDEO_WORLD();
  TIniFile ini;
  ini.WriteInteger("VideoForm", "Left", 5);
  ini.WriteInteger("VideoForm", "Height", 300);
  TVideoFormPlacement p = ReadVideoFormPlacement(ini, {1000, 800}, {640, 400});
  EXPECT_EQ(p.rect, QRect(180, 200, 640, 400));  // no width: the design size, centred
  ini.WriteInteger("VideoForm", "Width", 700);
  ini.WriteInteger("VideoForm", "State", 1);
  p = ReadVideoFormPlacement(ini, {1000, 800}, {640, 400});
  EXPECT_EQ(p.rect, QRect(5, 250, 700, 300));
  EXPECT_FALSE(p.maximized);

  TfrmLog log;
  EXPECT_FALSE(log.ClearButton()->isEnabled());
  log.AddLine("ANS_TIME_POSITION=1.0");
  EXPECT_TRUE(log.ClearButton()->isEnabled());
  log.ClearButton()->click();
  EXPECT_TRUE(log.Memo()->toPlainText().isEmpty());
  EXPECT_FALSE(log.ClearButton()->isEnabled());
  log.AddLine("x");
  EXPECT_TRUE(log.ClearButton()->isEnabled());

  TMediaPropList props;
  TfrmProp window;
  props.onChange = [&](int) { window.Refresh(&props); };
  props.Set("LENGTH", "1");
  props.Set("DEMUXER", "avi");
  props.Set("LENGTH", "2");
  ASSERT_EQ(window.List()->topLevelItemCount(), 2);
  EXPECT_EQ(window.List()->topLevelItem(0)->text(0), "LENGTH");
  EXPECT_EQ(window.List()->topLevelItem(0)->text(1), "2");
}

}  // namespace
}  // namespace qvl
