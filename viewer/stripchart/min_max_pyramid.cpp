#include "viewer/stripchart/min_max_pyramid.h"

#include <algorithm>
#include <limits>

namespace qvl {
namespace {

constexpr TMinMax kEmpty = {std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};

// Folds sample v into r; a NaN fails both comparisons and is left out. Written as selections
// so that they compile to min/max instructions instead of branches on noisy data.
inline void Add(TMinMax& r, float v) {
  r.Min = v < r.Min ? v : r.Min;
  r.Max = v > r.Max ? v : r.Max;
}

inline void Add(TMinMax& r, const TMinMax& e) {
  r.Min = e.Min < r.Min ? e.Min : r.Min;
  r.Max = e.Max > r.Max ? e.Max : r.Max;
}

}  // namespace

void TMinMaxPyramid::Clear() {
  samples_ = nullptr;
  count_ = 0;
  levels_.clear();
}

void TMinMaxPyramid::Build(const float* samples, std::size_t count) {
  Clear();
  samples_ = samples;
  count_ = samples ? count : 0;
  if (count_ <= kFactor) return;
  // Level 1 straight from the samples.
  std::vector<TMinMax> level((count_ + kFactor - 1) / kFactor);
  for (std::size_t b = 0; b < level.size(); ++b) {
    TMinMax r = kEmpty;
    std::size_t end = std::min(count_, (b + 1) * kFactor);
    for (std::size_t i = b * kFactor; i < end; ++i) Add(r, samples[i]);
    level[b] = r;
  }
  levels_.push_back(std::move(level));
  // Coarser levels from the one below, until one entry covers everything.
  while (levels_.back().size() > kFactor) {
    const std::vector<TMinMax>& below = levels_.back();
    std::vector<TMinMax> next((below.size() + kFactor - 1) / kFactor);
    for (std::size_t b = 0; b < next.size(); ++b) {
      TMinMax r = kEmpty;
      std::size_t end = std::min(below.size(), (b + 1) * kFactor);
      for (std::size_t i = b * kFactor; i < end; ++i) Add(r, below[i]);
      next[b] = r;
    }
    levels_.push_back(std::move(next));
  }
}

TMinMax TMinMaxPyramid::Range(std::size_t first, std::size_t last) const {
  TMinMax r = kEmpty;
  last = std::min(last, count_);
  if (first >= last) return r;
  // Climb while the stretch is long: at each level take the partial blocks at both ends from
  // the level below and continue with the whole blocks one level up.
  std::size_t lo = first, hi = last;  // in units of the current level
  // Level 0: single samples.
  {
    std::size_t loUp = (lo + kFactor - 1) / kFactor, hiUp = hi / kFactor;
    if (levels_.empty() || loUp >= hiUp) {
      for (std::size_t i = lo; i < hi; ++i) Add(r, samples_[i]);
      return r;
    }
    for (std::size_t i = lo; i < loUp * kFactor; ++i) Add(r, samples_[i]);
    for (std::size_t i = hiUp * kFactor; i < hi; ++i) Add(r, samples_[i]);
    lo = loUp;
    hi = hiUp;
  }
  for (std::size_t k = 0; k < levels_.size(); ++k) {
    const std::vector<TMinMax>& level = levels_[k];
    std::size_t loUp = (lo + kFactor - 1) / kFactor, hiUp = hi / kFactor;
    if (k + 1 == levels_.size() || loUp >= hiUp) {
      for (std::size_t i = lo; i < hi; ++i) Add(r, level[i]);
      return r;
    }
    for (std::size_t i = lo; i < loUp * kFactor; ++i) Add(r, level[i]);
    for (std::size_t i = hiUp * kFactor; i < hi; ++i) Add(r, level[i]);
    lo = loUp;
    hi = hiUp;
  }
  return r;
}

void TMinMaxPyramid::Prefetch(std::size_t index) const {
  if (index >= count_) return;
  __builtin_prefetch(samples_ + index);
  for (const auto& level : levels_) {
    index /= kFactor;
    if (index >= level.size()) return;
    __builtin_prefetch(level.data() + index);
  }
}

std::size_t TMinMaxPyramid::MemoryBytes() const {
  std::size_t bytes = 0;
  for (const auto& level : levels_) bytes += level.capacity() * sizeof(TMinMax);
  return bytes;
}

}  // namespace qvl
