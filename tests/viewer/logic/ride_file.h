// Files of a simulated ride in the temporary folder, for the viewer's suites (see
// sim/ride_files.h): WriteRideFile writes a download file in the flash encoding,
// WriteRecordRideFile a saved log of 22-byte sample records whose front wheel locks for about a
// second in every 8.
#pragma once

#include <filesystem>
#include <string>

#include "sim/ride_files.h"

namespace qvl::testing {

using TRideFile = sim::TSimRide;

inline std::string TempRidePath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

inline std::string WriteRideFile(const std::string& name, const TRideFile& ride = {}) {
  const std::string path = TempRidePath(name);
  sim::WriteRideDownloadFile(path, ride);
  return path;
}

inline std::string WriteRecordRideFile(const std::string& name, TRideFile ride) {
  ride.frontLock = {8000, 5001, 999};
  const std::string path = TempRidePath(name);
  sim::WriteRideRecordFile(path, ride);
  return path;
}

}  // namespace qvl::testing
