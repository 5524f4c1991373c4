// Where the suites find the built programs and the test data: the environment variables
// QVL_BIN_DIR and QVL_TEST_DATA when set, else the build's own folders.
#pragma once

#include <cstdlib>
#include <string>

namespace qvl::test {

inline std::string BinDir() {
  const char* dir = std::getenv("QVL_BIN_DIR");
  return dir && *dir ? dir : QVL_BIN_DIR_DEFAULT;
}

inline std::string TestDataDir() {
  const char* dir = std::getenv("QVL_TEST_DATA");
  return dir && *dir ? dir : QVL_TEST_DATA_DEFAULT;
}

}  // namespace qvl::test
