// The notes of one run: front and rear suspension settings, track notes and free text lines,
// kept by the log store as one INI text per run (sections "Notes" and "Other").
#pragma once

#include <string>
#include <vector>

namespace qvl {

struct TRunNotes {
  std::string front;               // "Notes"/"Front"
  std::string rear;                // "Notes"/"Rear"
  std::string track;               // "Notes"/"Track"
  std::vector<std::string> other;  // the "Other" section's values, in order

  bool operator==(const TRunNotes&) const = default;
};

// Reads a run's notes text; text that is not INI text gives empty fields.
TRunNotes ParseRunNotes(const std::string& text);
// Builds a run's notes text: "Front", "Rear" and "Track" only when their trimmed value is not
// empty, and every line of `other` (empty ones included) under "Other" as "Line0", "Line1" ...
// Lines are separated by CR LF. Notes without any content give an empty text.
std::string BuildRunNotes(const TRunNotes& notes);

// Splits memo text into its lines (CR LF, LF or CR; a final line break adds no empty line).
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace qvl
