// Minimum and maximum of any stretch of a curve's samples in a few steps, so that drawing a
// long curve costs about one lookup per pixel column instead of one per sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvl {

struct TMinMax {
  float Min;
  float Max;
  bool Empty() const { return !(Min <= Max); }
};

// Level 1 holds the minimum and maximum of every block of kFactor samples, level 2 of every
// kFactor level-1 entries, and so on until a level has a single entry. The samples themselves
// are level 0 and are not copied: the pyramid refers to the caller's array, which must outlive
// it and stay unchanged (Build again after a change).
// Samples that are not numbers are left out of every minimum and maximum.
class TMinMaxPyramid {
 public:
  static constexpr std::size_t kFactor = 16;

  void Build(const float* samples, std::size_t count);
  void Clear();

  std::size_t Count() const { return count_; }

  // Minimum and maximum of samples [first, last) (clamped to the data); Empty() when the
  // stretch holds no number.
  TMinMax Range(std::size_t first, std::size_t last) const;

  // Asks the processor to fetch what Range will read around sample `index` (the blocks that
  // hold it on every level), so that walking a long curve column by column does not wait on
  // memory at each step.
  void Prefetch(std::size_t index) const;

  // Bytes held by the levels above the samples.
  std::size_t MemoryBytes() const;
  std::size_t LevelCount() const { return levels_.size(); }

 private:
  const float* samples_ = nullptr;
  std::size_t count_ = 0;
  std::vector<std::vector<TMinMax>> levels_;  // levels_[0] is level 1
};

}  // namespace qvl
