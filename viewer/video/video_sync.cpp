#include "viewer/video/video_sync.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qvl {

namespace {

double Rate(const TSyncPoint& a, const TSyncPoint& b) {
  return (b.videoTime - a.videoTime) / (b.chartTime - a.chartTime);
}

bool RateAllowed(double rate) {
  return rate >= kMinVideoRate && rate <= kMaxVideoRate;
}

bool Finite(const TSyncPoint& p) {
  return std::isfinite(p.chartTime) && std::isfinite(p.videoTime);
}

}  // namespace

size_t TRunSync::SegmentFor(double chartTime) const {
  // The segment [i, i + 1] holding the time, the first or last one outside them.
  size_t i = 0;
  while (i + 2 < points_.size() && chartTime >= points_[i + 1].chartTime) ++i;
  return i;
}

double TRunSync::VideoTime(double chartTime) const {
  if (points_.empty()) return chartTime;
  if (points_.size() == 1) return chartTime - (points_[0].chartTime - points_[0].videoTime);
  const size_t i = SegmentFor(chartTime);
  const TSyncPoint& a = points_[i];
  return a.videoTime + (chartTime - a.chartTime) * Rate(a, points_[i + 1]);
}

double TRunSync::ChartTime(double videoTime) const {
  if (points_.empty()) return videoTime;
  if (points_.size() == 1) return videoTime + (points_[0].chartTime - points_[0].videoTime);
  size_t i = 0;
  while (i + 2 < points_.size() && videoTime >= points_[i + 1].videoTime) ++i;
  const TSyncPoint& a = points_[i];
  return a.chartTime + (videoTime - a.videoTime) / Rate(a, points_[i + 1]);
}

bool TRunSync::Sync(double chartTime, double videoTime, std::string& message) {
  message.clear();
  const TSyncPoint p{chartTime, videoTime};
  if (!Finite(p)) {
    message = "The video position is not known";
    return false;
  }
  if (!synced_ || points_.empty()) {
    points_ = {p};
    synced_ = true;
    return true;
  }
  std::vector<TSyncPoint> next = points_;
  auto nearest = std::min_element(next.begin(), next.end(), [&](const auto& a, const auto& b) {
    return std::fabs(a.chartTime - chartTime) < std::fabs(b.chartTime - chartTime);
  });
  if (std::fabs(nearest->chartTime - chartTime) < kMinSyncPointSpacing) next.erase(nearest);
  auto at = std::lower_bound(next.begin(), next.end(), chartTime,
                             [](const TSyncPoint& q, double t) { return q.chartTime < t; });
  at = next.insert(at, p);
  const size_t i = size_t(at - next.begin());
  for (size_t j = i == 0 ? 0 : i - 1; j <= i && j + 1 < next.size(); ++j) {
    const double rate = Rate(next[j], next[j + 1]);
    if (!RateAllowed(rate)) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "Sync refused: between %.1f s and %.1f s of the chart the video would run "
                    "at %.3f times the chart's rate; it must stay between %.1f and %.1f",
                    next[j].chartTime, next[j + 1].chartTime, rate, kMinVideoRate, kMaxVideoRate);
      message = text;
      return false;
    }
  }
  points_ = std::move(next);
  return true;
}

bool TRunSync::Resync() {
  if (points_.empty()) return false;
  synced_ = true;
  return true;
}

void TRunSync::Load(const TSyncData& record, const std::vector<TSyncPoint>& further) {
  synced_ = record.synced != 0;
  points_.clear();
  const TSyncPoint first{record.chartTime, record.chartTime - record.offset};
  if (!Finite(first)) {
    synced_ = false;
    return;
  }
  points_.push_back(first);
  for (const TSyncPoint& p : further) {
    if (!Finite(p)) continue;
    // A point keeps the order and the allowed rates with the points kept before it.
    auto at = std::lower_bound(points_.begin(), points_.end(), p.chartTime,
                               [](const TSyncPoint& q, double t) { return q.chartTime < t; });
    const bool clash =
        (at != points_.end() && at->chartTime - p.chartTime < kMinSyncPointSpacing) ||
        (at != points_.begin() && p.chartTime - (at - 1)->chartTime < kMinSyncPointSpacing);
    if (clash) continue;
    if (at != points_.begin() && !RateAllowed(Rate(*(at - 1), p))) continue;
    if (at != points_.end() && !RateAllowed(Rate(p, *at))) continue;
    points_.insert(at, p);
  }
}

TSyncData TRunSync::Record() const {
  TSyncData record;
  record.synced = synced_ ? 1 : 0;
  if (!points_.empty()) {
    record.chartTime = points_[0].chartTime;
    record.offset = points_[0].chartTime - points_[0].videoTime;
  }
  return record;
}

std::vector<TSyncPoint> TRunSync::Further() const {
  if (points_.size() < 2) return {};
  return std::vector<TSyncPoint>(points_.begin() + 1, points_.end());
}

void TVideoSyncTable::Load(const TLogFileInfo& info, int runCount) {
  runs_.assign(size_t(std::max(0, runCount)), TRunSync{});
  for (size_t r = 0; r < runs_.size(); ++r) {
    const bool hasRecord = r < info.syncs.size();
    const std::vector<TSyncPoint> none;
    const auto& further = r < info.runSyncPoints.size() ? info.runSyncPoints[r] : none;
    if (hasRecord) runs_[r].Load(info.syncs[r], further);
  }
}

void TVideoSyncTable::Store(TLogFileInfo& info) const {
  info.syncs.assign(runs_.size(), TSyncData{});
  info.runSyncPoints.assign(runs_.size(), {});
  for (size_t r = 0; r < runs_.size(); ++r) {
    info.syncs[r] = runs_[r].Record();
    info.runSyncPoints[r] = runs_[r].Further();
  }
}

double FollowScrollStart(double cursor, double visibleStart, double visibleWidth) {
  if (cursor > visibleStart + visibleWidth) return cursor - 0.8 * visibleWidth;
  if (cursor < visibleStart) return cursor;
  return visibleStart;
}

int RunForVideoPosition(const std::vector<TSessionRun>& runs, const TVideoSyncTable& table,
                        const std::string& video, double videoTime, double& cursorTime) {
  for (size_t i = 0; i < runs.size(); ++i) {
    const TSessionRun& r = runs[i];
    if (r.video != video || !table.IsSynced(r.run)) continue;
    const double chart = table.Run(r.run).ChartTime(videoTime);
    if (r.length > chart) {
      cursorTime = r.startOffset + chart;
      return int(i);
    }
  }
  return -1;
}

}  // namespace qvl
