// qvl sim record of the same trail ridden again with another seed and a softer fork is the same
// trail (the rear, which the fork does not touch, is the same) with more front travel, stopped at
// full travel; another seed alone changes the ride.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/run_qvl.h"

namespace qvl::cli {
namespace {

// A number of the one-run summary (qvl summary --json).
double Field(const std::string& json, const std::string& name) {
  const size_t at = json.find("\"" + name + "\": ");
  if (at == std::string::npos) ADD_FAILURE() << name << " missing in " << json;
  return at == std::string::npos ? -1 : std::stod(json.substr(at + name.size() + 4));
}

std::string Summary(const std::string& folder, const std::vector<std::string>& rideOptions) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::vector<std::string> args = {"sim",       "record", "-o", folder + "/ride.QVLog",
                                   "--seconds", "60"};
  args.insert(args.end(), rideOptions.begin(), rideOptions.end());
  TQvlResult ride = RunQvl(args);
  EXPECT_EQ(ride.status, 0) << ride.err;
  TQvlResult summary = RunQvl({"summary", folder, "--json"});
  EXPECT_EQ(summary.status, 0) << summary.err;
  return summary.out;
}

TEST(SimRecord, ASofterForkOnTheSameTrailUsesMoreTravel) {
  const std::string dir = ::testing::TempDir() + "/qvl_sim_record_variants";
  const std::string first = Summary(dir + "/first", {"--seed", "1"});
  const std::string again = Summary(dir + "/again", {"--seed", "2"});
  const std::string softer = Summary(dir + "/softer", {"--seed", "2", "--fork-travel", "125"});

  // The fork alone differs: the rear is the same, the front uses more travel.
  for (const char* rear : {"rear_travel_max_pct", "rear_travel_p95_pct", "rear_bottoming_soft"})
    EXPECT_EQ(Field(softer, rear), Field(again, rear)) << rear;
  EXPECT_GT(Field(softer, "front_travel_p95_pct"), Field(again, "front_travel_p95_pct") + 5);
  EXPECT_GT(Field(softer, "front_bottoming_hard"), Field(again, "front_bottoming_hard"));
  // Stopped where the plain ride stops, never past it.
  EXPECT_LE(Field(softer, "front_travel_max_pct"), 98.5);
  EXPECT_GT(Field(softer, "front_travel_max_pct"), 97);
  // Another seed is another ride of the trail.
  EXPECT_NE(Field(first, "rear_travel_p95_pct"), Field(again, "rear_travel_p95_pct"));

  EXPECT_EQ(RunQvl({"sim", "record", "-o", dir + "/x.QVLog", "--fork-travel", "300"}).status, 1);
}

}  // namespace
}  // namespace qvl::cli
