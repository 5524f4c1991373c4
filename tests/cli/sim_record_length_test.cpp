// qvl sim record over the whole range of lengths it accepts: the simulated logger's flash holds
// the run, however long.
#include <gtest/gtest.h>

#include "cli/run_qvl.h"

namespace qvl::cli {
namespace {

TEST(SimRecord, AnHourLongRideFitsTheLoggersFlash) {
  const std::string path = ::testing::TempDir() + "/sim_record_hour.QVLog";
  TQvlResult r = RunQvl({"sim", "record", "-o", path, "--seconds", "3600"});
  ASSERT_EQ(r.status, 0) << r.err;
  TQvlResult info = RunQvl({"info", path, "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\"record_count\": 3600000"), std::string::npos) << info.out;
}

}  // namespace
}  // namespace qvl::cli
