#include "sim/sim_link.h"

#include <algorithm>
#include <limits>

namespace qvl::sim {

TSimLink::TSimLink(const TSimOptions& options, uint64_t nowMs)
    : options_(options), logger_(options, nowMs), rng_(options.seed) {}

bool TSimLink::Unplugged(uint64_t nowMs) {
  if (unplugged_ && replugAt_ != 0 && nowMs >= replugAt_) {
    unplugged_ = false;
    pending_.clear();
  }
  return unplugged_;
}

void TSimLink::Unplug(uint64_t nowMs, int replugAfterMs) {
  unplugged_ = true;
  replugAt_ = replugAfterMs > 0 ? nowMs + uint64_t(replugAfterMs) : 0;
  pending_.clear();
}

void TSimLink::HostWrite(const uint8_t* data, size_t size, uint64_t nowMs) {
  const TSimFaults& f = options_.faults;
  std::vector<TReply> replies;
  for (size_t i = 0; i < size; ++i) {
    if (Unplugged(nowMs)) return;
    ++hostBytes_;
    if (!unplugDone_ && f.unplugAfter >= 0 && int64_t(hostBytes_) > f.unplugAfter) {
      unplugDone_ = true;
      Unplug(nowMs, f.replugAfterMs);
      return;
    }
    if (!silentDone_ && f.silentAfter >= 0 && int64_t(hostBytes_) > f.silentAfter) {
      silentDone_ = true;
      silent_ = true;
      silentUntil_ = f.silentForMs > 0 ? nowMs + uint64_t(f.silentForMs) : 0;
    }
    if (silent_ && silentUntil_ != 0 && nowMs >= silentUntil_) silent_ = false;
    if (silent_) continue;
    replies.clear();
    logger_.Receive(data[i], nowMs, replies);
    Schedule(replies, nowMs);
  }
}

void TSimLink::Schedule(const std::vector<TReply>& replies, uint64_t nowMs) {
  const TSimFaults& f = options_.faults;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  const double byteMs = options_.bytesPerSecond > 0 ? 1000.0 / options_.bytesPerSecond : 0;
  bool answerDelayed = false;
  for (size_t i = 0; i < replies.size(); ++i) {
    TReply r = replies[i];
    double at = std::max<double>(double(nowMs), lineFreeAt_);
    if (r.kind == TReplyKind::Answer && f.answerDelayMs > 0) {
      if (i == 0 || replies[i - 1].kind != TReplyKind::Answer)
        answerDelayed = chance(rng_) < f.answerDelayRate;
      if (answerDelayed) at = std::max(at, double(nowMs + uint64_t(f.answerDelayMs)));
    }
    lineFreeAt_ = at + byteMs;
    if (f.loseRate > 0 && chance(rng_) < f.loseRate) continue;
    if (r.kind == TReplyKind::Echo && f.corruptEchoRate > 0 && chance(rng_) < f.corruptEchoRate)
      r.byte = uint8_t(r.byte ^ 0x5A);
    pending_.emplace_back(uint64_t(at + byteMs), r.byte);
  }
}

size_t TSimLink::CountDue(uint64_t nowMs) {
  size_t n = 0;
  for (const auto& p : pending_) {
    if (p.first > nowMs) break;
    ++n;
  }
  return n;
}

size_t TSimLink::TakeDue(uint64_t nowMs, uint8_t* out, size_t max) {
  size_t n = 0;
  while (n < max && !pending_.empty() && pending_.front().first <= nowMs) {
    out[n++] = pending_.front().second;
    pending_.pop_front();
  }
  return n;
}

uint64_t TSimLink::NextDueMs() {
  return pending_.empty() ? std::numeric_limits<uint64_t>::max() : pending_.front().first;
}

}  // namespace qvl::sim
