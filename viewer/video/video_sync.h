// Keeping a run's video in step with the chart: per run one or more synchronisation points
// (chart time, video time). Between neighbouring points the video time follows linearly, before
// the first and after the last the nearest segment's rate goes on; one point is a plain offset.
// More points correct a camera whose clock runs at another rate than the logger's. The first
// point is the run's synchronisation record of the log file, the further ones its extension block.
// Also the rules by which the chart cursor follows the video.
#pragma once

#include <string>
#include <vector>

#include "core/logdata/log_file.h"

namespace qvl {

// A further point must lie at least this far (chart seconds) from the run's other points; a
// Sync closer to one moves that point instead.
constexpr double kMinSyncPointSpacing = 10.0;
// Video seconds per chart second allowed between two points.
constexpr double kMinVideoRate = 0.9;
constexpr double kMaxVideoRate = 1.1;

class TRunSync {
 public:
  bool Synced() const { return synced_; }
  // The points, ordered by chart time (strictly increasing).
  const std::vector<TSyncPoint>& Points() const { return points_; }

  // Video time at a chart time; chart time at a video time (the inverse). Both need a point.
  double VideoTime(double chartTime) const;
  double ChartTime(double videoTime) const;

  // A Sync at (chart time, video time). A run that is not synced starts over with this one
  // point. A synced run gets a further point, or, within kMinSyncPointSpacing of a point, that
  // point moves. Refused (false, `message` says why, nothing changes) when a segment next to the
  // point would run outside kMinVideoRate..kMaxVideoRate.
  bool Sync(double chartTime, double videoTime, std::string& message);
  // Desync keeps the points for Resync; Resync is refused (false) when there is none.
  void Desync() { synced_ = false; }
  bool Resync();

  // From and to the file: the synchronisation record and the further points. Points of a file
  // that are out of order, not finite or outside the allowed rates are left out.
  void Load(const TSyncData& record, const std::vector<TSyncPoint>& further);
  TSyncData Record() const;
  std::vector<TSyncPoint> Further() const;

 private:
  size_t SegmentFor(double chartTime) const;

  bool synced_ = false;
  std::vector<TSyncPoint> points_;
};

// The synchronisation of every run of the main file.
class TVideoSyncTable {
 public:
  void Resize(int runCount) { runs_.resize(size_t(std::max(0, runCount))); }
  int RunCount() const { return int(runs_.size()); }
  TRunSync& Run(int run) { return runs_.at(size_t(run)); }
  const TRunSync& Run(int run) const { return runs_.at(size_t(run)); }
  bool IsSynced(int run) const {
    return run >= 0 && run < RunCount() && runs_[size_t(run)].Synced();
  }

  // Takes the records and block 2 of a file read (sized to `runCount`).
  void Load(const TLogFileInfo& info, int runCount);
  // Writes the records and block 2 into the info to save.
  void Store(TLogFileInfo& info) const;

 private:
  std::vector<TRunSync> runs_;
};

// Where the visible part of the chart starts after the cursor moved to `cursor` (same units):
// unchanged while the cursor is inside; past the right edge the cursor ends up 20 % of the
// width inside that edge; past the left edge at the edge.
double FollowScrollStart(double cursor, double visibleStart, double visibleWidth);

// A run of the displayed session as the all-runs mode sees it.
struct TSessionRun {
  int run = 0;             // index in the file
  double startOffset = 0;  // seconds from the session's first run
  double length = 0;       // seconds
  std::string video;       // its video file
};

// All-runs mode: the run that shows video position `videoTime` of `video` — the first of the
// session, in order, that is synced with that video and whose length exceeds the chart time the
// position maps to. Returns the index into `runs` (or -1) and the cursor time from the session's
// start.
int RunForVideoPosition(const std::vector<TSessionRun>& runs, const TVideoSyncTable& table,
                        const std::string& video, double videoTime, double& cursorTime);

// The progress answer that a seek of the user's own cursor move produces must not move the
// cursor back: Seeked() before such a seek, Follow() on each progress (false: leave the cursor).
class TSeekEcho {
 public:
  void Seeked() { pending_ = true; }
  bool Follow() {
    const bool follow = !pending_;
    pending_ = false;
    return follow;
  }

 private:
  bool pending_ = false;
};

}  // namespace qvl
