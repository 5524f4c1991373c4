// Runs `qvl` in-process for the command-line suites.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"

namespace qvl::cli {

struct TQvlResult {
  int status;
  std::string out, err;
};

inline TQvlResult RunQvl(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = RunCli(args, out, err);
  return {status, out.str(), err.str()};
}

// For suites whose commands write the tool's settings file: every test keeps it in a folder of
// its own ($XDG_CONFIG_HOME), never in the user's.
class TOwnSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = ::testing::TempDir() + "/qvl-config-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(config_);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  std::string SettingsFile() const { return config_ + "/QVL2Pro.ini"; }
  std::string config_;
};

}  // namespace qvl::cli
