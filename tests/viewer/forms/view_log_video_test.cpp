// The viewer's main window with a video attached to a run, the real media player on a virtual X
// server (video_world.h): Sync, the cursor and the video following each other, the video window
// floating and docked, and the run's video and synchronisation kept by Save.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <filesystem>

#include "test_paths.h"
#include "viewer/forms/view_log_form.h"
#include "viewer/logic/ride_file.h"
#include "viewer/video/mplayer.h"
#include "viewer/video/player/video_world.h"
#include "viewer/video/video_panel.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 20000;

std::unique_ptr<TfrmViewLog> OpenViewer(const std::string& folder, QStringList& messages) {
  TViewerOptions o;
  o.settingsFile = folder + "/QVL2View.ini";
  o.showMessage = [&messages](const QString& text, bool) { messages << text; };
  o.askQuestion = [](const QString&) { return QMessageBox::No; };
  auto w = std::make_unique<TfrmViewLog>(std::move(o));
  w->resize(1000, 740);
  w->move(0, 0);
  w->show();
  w->VideoPanel()->Player()->SetSound(false);
  w->VideoPanel()->Player()->SetAudioOut(TMPlayerAudioOut::maoNull);
  return w;
}

TEST(ViewLogVideo, AttachedClipSyncsFollowsTheCursorAndIsKeptBySave) {
  if (QCoreApplication::instance() && QGuiApplication::platformName() != "xcb") {
    // Another suite of this program made its application on another platform: the player needs
    // the virtual X server, so the test runs in a process of its own.
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=ViewLogVideo.AttachedClipSyncsFollowsTheCursorAndIsKeptBySave"});
    ASSERT_TRUE(child.waitForFinished(10 * kWaitMs));
    const QByteArray out = child.readAll();
    ASSERT_EQ(child.exitCode(), 0) << out.toStdString();
    if (out.contains("[  SKIPPED ]")) GTEST_SKIP() << out.toStdString();
    return;
  }
  REQUIRE_VIDEO_WORLD();
  const std::string folder = testing::World().dir->filePath("viewer").toStdString();
  std::filesystem::create_directories(folder);
  const std::string file = folder + "/ride.QVLog";
  std::filesystem::copy_file(testing::WriteRecordRideFile("qvl_viewer_video_ride.QVLog", {}), file);
  const QString clip = testing::World().clip;
  QStringList messages;
  auto w = OpenViewer(folder, messages);
  ASSERT_TRUE(w->OpenFile(QString::fromStdString(file)));
  EXPECT_FALSE(w->VideoPanel()->isVisible());
  EXPECT_FALSE(w->Action("actSync")->isEnabled());

  // The second run gets the clip; the first keeps none.
  w->DisplaySelection(1);
  w->AttachVideoFile(clip);
  EXPECT_EQ(w->RunVideos(), (std::vector<std::string>{"", clip.toStdString()}));
  EXPECT_EQ(w->VideoPanel()->LoadedVideo(), clip.toStdString());
  EXPECT_TRUE(w->VideoPanel()->isVisible());
  EXPECT_TRUE(w->SaveEnabled());
  ASSERT_TRUE(w->Action("actSync")->isEnabled());
  EXPECT_FALSE(w->Action("actUnSync")->isEnabled());

  // Video 0 s at chart 5 s; the user's cursor at 15 s seeks the video to 10 s, and the answer
  // to that seek leaves the cursor where the user put it.
  w->MoveCursor(5000);
  w->SyncVideo();
  EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
  EXPECT_TRUE(w->Action("actUnSync")->isEnabled());
  TMPlayer* player = w->VideoPanel()->Player();
  w->MoveCursor(15000);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return std::abs(player->PositionFromStart() - 10) < 0.5; }, kWaitMs))
      << player->PositionFromStart();
  EXPECT_EQ(w->CursorSample(), 15000);

  // Playing, the video moves the cursor on.
  w->VideoPanel()->Play();
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->CursorSample() > 16000; }, kWaitMs));
  const QString shots = QString::fromStdString(test::BinDir()) + "/../screenshots";
  QDir().mkpath(shots);
  w->screen()->grabWindow(w->winId()).save(shots + "/viewer_video_docked.png");

  // Floating and back.
  w->SetVideoFloating(true);
  EXPECT_NE(w->VideoPanel()->window(), w.get());
  EXPECT_EQ(w->VideoPanel()->window()->windowTitle(), "QVLView - " + clip);
  const int floated = w->CursorSample();  // the picture is drawn in the window meanwhile
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->CursorSample() > floated + 1000; }, kWaitMs));
  QWidget* floating = w->VideoPanel()->window();
  floating->screen()->grabWindow(floating->winId()).save(shots + "/viewer_video_floating.png");
  w->SetVideoFloating(false);
  EXPECT_EQ(w->VideoPanel()->window(), w.get());
  w->VideoPanel()->Pause();

  ASSERT_TRUE(w->SaveFile());
  w.reset();
  w = OpenViewer(folder, messages);
  ASSERT_TRUE(w->OpenFile(QString::fromStdString(file)));
  EXPECT_EQ(w->RunVideos(), (std::vector<std::string>{"", clip.toStdString()}));
  const TVideoSyncTable& syncs = w->VideoPanel()->Syncs();
  EXPECT_FALSE(syncs.IsSynced(0));
  ASSERT_TRUE(syncs.IsSynced(1));
  EXPECT_NEAR(syncs.Run(1).Record().chartTime, 5, 1e-9);
  EXPECT_NEAR(syncs.Run(1).Record().offset, 5, 0.05);
  w->DisplaySelection(1);
  EXPECT_EQ(w->VideoPanel()->LoadedVideo(), clip.toStdString());
  EXPECT_TRUE(w->Action("actUnSync")->isEnabled());
}

}  // namespace
}  // namespace qvl
