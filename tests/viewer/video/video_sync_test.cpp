// Synchronisation points of a run's video, the records they become in the file, and the cursor
// following the video.
#include <gtest/gtest.h>

#include <cmath>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/util/byte_stream.h"
#include "viewer/video/video_sync.h"

namespace qvl {
namespace {

constexpr double kFrame = 1.0 / 25;

TEST(VideoSync, TwoPointsHoldAClockThatRuns2Point5PercentFastWithinOneFrame) {
  // The camera's clock shows 1.025 s per logger second; the video starts 3 s before the log.
  auto video = [](double chart) { return 3 + 1.025 * chart; };
  TRunSync run;
  std::string message;
  ASSERT_TRUE(run.Sync(2, video(2), message));
  EXPECT_GT(std::fabs(run.VideoTime(600) - video(600)), 14);
  // one point alone: 15 s off after 10 minutes
  ASSERT_TRUE(run.Sync(598, video(598), message)) << message;
  ASSERT_EQ(run.Points().size(), 2u);
  for (double t = 0; t <= 640; t += 0.1) {
    ASSERT_NEAR(run.VideoTime(t), video(t), kFrame) << t;
    ASSERT_NEAR(run.ChartTime(video(t)), t, kFrame) << t;
  }
  // A third point in the middle bends the line there; the outer segments keep their rates.
  ASSERT_TRUE(run.Sync(300, video(300) + 1, message)) << message;
  EXPECT_NEAR(run.VideoTime(300), video(300) + 1, 1e-9);
  EXPECT_NEAR(run.VideoTime(151), (video(2) + video(300) + 1) / 2, 1e-9);
  EXPECT_NEAR(run.VideoTime(-10) - run.VideoTime(0), -10 * (video(300) + 1 - video(2)) / 298, 1e-9);
  EXPECT_NEAR(run.ChartTime(run.VideoTime(450)), 450, 1e-9);
}

TEST(VideoSync, ARateOutside0Point9To1Point1IsRefusedAndNearbySyncsMoveTheirPoint) {
  TRunSync run;
  std::string message;
  ASSERT_TRUE(run.Sync(10, 4, message));
  EXPECT_FALSE(run.Sync(110, 4 + 112, message));  // 1.12
  EXPECT_NE(message.find("1.120"), std::string::npos) << message;
  EXPECT_FALSE(run.Sync(110, 4 + 89, message));  // 0.89
  ASSERT_EQ(run.Points().size(), 1u);
  ASSERT_TRUE(run.Sync(110, 4 + 109, message));  // 1.09
  ASSERT_EQ(run.Points().size(), 2u);
  // 5 s from the first point: that point moves (and must keep the rate to its neighbour).
  EXPECT_FALSE(run.Sync(15, 30, message));
  ASSERT_TRUE(run.Sync(15, 9, message));
  EXPECT_EQ(run.Points().front(), (TSyncPoint{15, 9}));
  EXPECT_EQ(run.Points().size(), 2u);
  // Desync keeps the points for Resync; a Sync of an unsynced run starts over.
  run.Desync();
  EXPECT_FALSE(run.Synced());
  EXPECT_TRUE(run.Resync());
  EXPECT_EQ(run.Points().size(), 2u);
  run.Desync();
  ASSERT_TRUE(run.Sync(50, 20, message));
  EXPECT_EQ(run.Points(), (std::vector<TSyncPoint>{{50, 20}}));
}

TEST(VideoSync, PointsSurviveASaveAndDamagedPointsOfAFileAreLeftOut) {
  TController controller;
  TDataLogStore store;
  TLogArray records;
  for (int32_t t = 0; t < 30000; t += 100) {  // two runs of 12 s, 6 s apart
    if (t >= 12000 && t < 18000) continue;
    TLogRecord r;
    r.tick = t;
    records.push_back(r);
  }
  store.SetPeriod(10);
  store.SetRecords(std::move(records));
  ASSERT_EQ(store.RunCount(), 2);

  TVideoSyncTable table;
  table.Resize(2);
  std::string message;
  ASSERT_TRUE(table.Run(1).Sync(5, 2, message));
  ASSERT_TRUE(table.Run(1).Sync(65, 62.6, message));
  TLogFileInfo info;
  table.Store(info);
  TMemoryStream saved;
  WriteSavedLogFile(saved, controller, store, info);
  TController c2;
  TDataLogStore s2;
  TLogFileInfo read;
  TMemoryStream in(saved.Bytes());
  ReadLogFile(in, c2, s2, read);
  TVideoSyncTable again;
  again.Load(read, s2.RunCount());
  EXPECT_FALSE(again.IsSynced(0));
  ASSERT_TRUE(again.IsSynced(1));
  EXPECT_EQ(again.Run(1).Points(), table.Run(1).Points());
  EXPECT_EQ(read.syncs[1].offset, 3);

  // A file with points out of order, too close, not finite or at a wild rate.
  read.runSyncPoints[1] = {{200, 199},        {30, 5000}, {64, 62},
                           {std::nan(""), 1}, {70, 68},   {-100, -103}};
  again.Load(read, 2);
  EXPECT_EQ(again.Run(1).Points(),
            (std::vector<TSyncPoint>{{-100, -103}, {5, 2}, {64, 62}, {200, 199}}));
}

TEST(VideoSync, CursorFollowsTheVideoInsideTheVisiblePart) {
  EXPECT_EQ(FollowScrollStart(50, 40, 20), 40);
  EXPECT_EQ(FollowScrollStart(61, 40, 20), 45);  // 20 % of the width inside the right edge
  EXPECT_EQ(FollowScrollStart(30, 40, 20), 30);

  TVideoSyncTable table;
  table.Resize(3);
  std::string message;
  table.Run(0).Sync(0, 0, message);
  table.Run(1).Sync(0, 0, message);
  table.Run(2).Sync(0, -100, message);
  const std::vector<TSessionRun> runs{
      {0, 0, 50, "a.mp4"}, {1, 60, 500, "b.mp4"}, {2, 200, 500, "a.mp4"}};
  double cursor = -1;
  EXPECT_EQ(RunForVideoPosition(runs, table, "a.mp4", 10, cursor), 0);
  EXPECT_EQ(cursor, 10);
  EXPECT_EQ(RunForVideoPosition(runs, table, "a.mp4", 60, cursor), 2);  // run 0 is too short
  EXPECT_EQ(cursor, 200 + 160);
  table.Run(2).Desync();
  EXPECT_EQ(RunForVideoPosition(runs, table, "a.mp4", 60, cursor), -1);

  TSeekEcho echo;
  EXPECT_TRUE(echo.Follow());
  echo.Seeked();
  EXPECT_FALSE(echo.Follow());
  EXPECT_TRUE(echo.Follow());
}

}  // namespace
}  // namespace qvl
