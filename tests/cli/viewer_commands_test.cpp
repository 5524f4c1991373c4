// qvl sim record, analyze, export, histogram and plot: the viewer's analysis on the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command.h"
#include "cli/run_qvl.h"
#include "viewer/export_writer.h"
#include "viewer/run_display.h"

namespace qvl::cli {
namespace {

std::string TempFile(const std::string& name) {
  return ::testing::TempDir() + "/" + name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// One 15 s run of the simulated ride, recorded once for the whole suite.
const std::string& RideFile() {
  static const std::string path = [] {
    std::string p = TempFile("viewer_commands_ride.QVLog");
    TQvlResult r = RunQvl({"sim", "record", "-o", p, "--seconds", "15"});
    EXPECT_EQ(r.status, 0) << r.err;
    return p;
  }();
  return path;
}

TEST(SimRecord, WritesADownloadFileWithOneRun) {
  TQvlResult info = RunQvl({"info", RideFile(), "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\"encoding\": 39542"), std::string::npos);
  EXPECT_NE(info.out.find("\"record_count\": 15000"), std::string::npos);
  EXPECT_EQ(RunQvl({"sim", "record", "-o", TempFile("x.QVLog"), "--seconds", "5"}).status, 1);
  EXPECT_EQ(RunQvl({"sim", "record"}).status, 1);
}

TEST(Analyze, JsonListsTheFourEventListsAsTheDisplayFindsThem) {
  TQvlResult r = RunQvl({"analyze", RideFile(), "--run", "0", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"samples\": 15001"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"travel_period\": 5"), std::string::npos);
  TRunDisplay display;
  OpenLogFile(display.MainSlot(), RideFile());
  display.DisplaySelection(0);
  const char* keys[4] = {"\"front_bottoming\"", "\"rear_bottoming\"", "\"front_wheel_lock\"",
                         "\"rear_wheel_lock\""};
  size_t total = 0;
  for (int k = 0; k < 4; ++k) {
    EXPECT_NE(r.out.find(keys[k]), std::string::npos);
    total += display.Events(TEventKind(k)).size();
  }
  EXPECT_GT(total, 0u) << "the simulated ride bottoms out and locks its wheels";
  EXPECT_EQ(size_t(Count(r.out, "\"start_index\"")), total);
  EXPECT_EQ(size_t(Count(r.out, "\"flag\"")), total);

  // Readable output: the counts first.
  TQvlResult text = RunQvl({"analyze", RideFile(), "--session", "0"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("Front bottoming  " +
                          std::to_string(display.Events(TEventKind::FrontBottoming).size())),
            std::string::npos)
      << text.out;
}

TEST(Analyze, SettingsFileChangesTheLimits) {
  std::string ini = TempFile("viewer_commands.ini");
  std::ofstream(ini) << "[Config]\r\nFrontSoftLimit=0.99\r\nFrontHardLimit=0.995\r\n"
                        "RearSoftLimit=0.99\r\nRearHardLimit=0.995\r\n";
  TQvlResult r = RunQvl({"analyze", RideFile(), "--run", "0", "--settings", ini, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"front_bottoming\": []"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"rear_bottoming\": []"), std::string::npos);
  TQvlResult missing =
      RunQvl({"analyze", RideFile(), "--run", "0", "--settings", TempFile("none.ini")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.ini"), std::string::npos);
}

TEST(Analyze, SelectionErrors) {
  TQvlResult both = RunQvl({"analyze", RideFile(), "--run", "0", "--session", "0"});
  EXPECT_EQ(both.status, 1);
  EXPECT_NE(both.err.find("either --run R or --session S"), std::string::npos);
  TQvlResult none = RunQvl({"analyze", RideFile()});
  EXPECT_EQ(none.status, 1);
  TQvlResult missing = RunQvl({"analyze", RideFile(), "--run", "3"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("run 3 does not exist"), std::string::npos);
  EXPECT_EQ(RunQvl({"analyze", TempFile("no such file.QVLog"), "--run", "0"}).status, 1);
}

TEST(Export, WritesTheViewersExportFile) {
  std::string out = TempFile("viewer_commands_export.txt");
  TQvlResult r = RunQvl({"export", RideFile(), "--run", "0", "--strip", "Front travel", "--strip",
                         "Front speed:km/h:50", "--strip", "Vertical accel.:g", "-o", out});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text = ReadAll(out);
  // The same strips displayed by the library give the same text.
  TRunDisplay display;
  OpenLogFile(display.MainSlot(), RideFile());
  TStrip speed;
  speed.main = TDisplayEntry{kParamFrontSpeed, kUnitKmh, 0, 0, 50};
  display.SetStrips({TStrip{TDisplayEntry{kParamFrontTravel, kUnitPercent, 0, 0, 0}, {}, 1}, speed,
                     TStrip{TDisplayEntry{kParamVerticalAccel, kUnitG, 0, 0, 0}, {}, 1}});
  display.DisplaySelection(0);
  TExportRequest request;
  for (int s = 0; s < 3; ++s) {
    const TStripView& v = display.Chart().strips[size_t(s)];
    request.strips.push_back({v.title, &v.Curve(0, 0).Values(), double(v.Curve(0, 0).period),
                              v.decimals, display.Strips()[size_t(s)].main.smoothing});
  }
  request.allStrips = true;
  request.sampleCount = display.SampleCount();
  request.title = "Session 1/1, run 1/1, 3000 data samples";
  EXPECT_EQ(text, BuildExportText(request));
  EXPECT_EQ(text.substr(0, text.find("\r\n")), request.title);
  EXPECT_NE(text.find("\t\"Smoothing: 50ms (5 samples)\"\t"), std::string::npos);

  // The selected strip over the part in display.
  TQvlResult part =
      RunQvl({"export", RideFile(), "--run", "0", "--strip", "Front travel:mm", "--strip",
              "Rear travel", "--selected", "1", "--visible", "1000:2000", "-o", out});
  ASSERT_EQ(part.status, 0) << part.err;
  text = ReadAll(out);
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "0m01s to 0m02s, 201 data samples");
  EXPECT_NE(text.find("\"Time (sec)\"\t\"Rear travel (%)\"\r\n"), std::string::npos);
  EXPECT_EQ(Count(text, "\r\n"), 3 + 201);
}

TEST(Export, StripSpecificationErrors) {
  std::string out = TempFile("viewer_commands_bad.txt");
  std::filesystem::remove(out);
  TQvlResult unknown = RunQvl({"export", RideFile(), "--run", "0", "--strip", "Fork", "-o", out});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("unknown channel 'Fork'"), std::string::npos);
  TQvlResult unit =
      RunQvl({"export", RideFile(), "--run", "0", "--strip", "Front travel:km/h", "-o", out});
  EXPECT_EQ(unit.status, 1);
  EXPECT_NE(unit.err.find("has no unit 'km/h'"), std::string::npos);
  EXPECT_EQ(RunQvl({"export", RideFile(), "--run", "0", "-o", out}).status, 1);
  EXPECT_EQ(RunQvl({"export", RideFile(), "--run", "0", "--strip", "Front travel", "--selected",
                    "2", "-o", out})
                .status,
            1);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(Histogram, BinsAndLabels) {
  TQvlResult r = RunQvl(
      {"histogram", RideFile(), "--run", "0", "--strip", "Front travel", "--bins", "10", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"bin_count\": 10"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"values\": 3001"), std::string::npos);
  EXPECT_NE(r.out.find("\"samples\": \"3001 data samples\""), std::string::npos);
  EXPECT_NE(r.out.find("\"smoothing\": \"No smoothing\""), std::string::npos);
  EXPECT_EQ(Count(r.out, "\"x\""), 11);  // ten bins and the closing point

  TQvlResult width = RunQvl({"histogram", RideFile(), "--run", "0", "--strip", "Front travel:%:20",
                             "--width", "5", "--count", "--discard-first"});
  ASSERT_EQ(width.status, 0) << width.err;
  EXPECT_NE(width.out.find("Bin size (now 5%)"), std::string::npos) << width.out;
  EXPECT_NE(width.out.find("Smoothing: 20ms (4 time samples)"), std::string::npos);
  EXPECT_EQ(RunQvl({"histogram", RideFile(), "--run", "0", "--strip", "Front travel", "--bins", "5",
                    "--width", "2"})
                .status,
            1);
  EXPECT_EQ(
      RunQvl({"histogram", RideFile(), "--run", "0", "--strip", "Front travel", "--width", "0"})
          .status,
      1);
}

TEST(Plot, DrawsAPngOfTheRequestedSize) {
  const bool available = std::any_of(Commands().begin(), Commands().end(),
                                     [](const TCommand& c) { return c.name == "plot"; });
  if (!available) GTEST_SKIP() << "built without the strip chart";
  std::string png = TempFile("viewer_commands.png");
  TQvlResult r = RunQvl({"plot", RideFile(), "--run", "0", "-o", png, "--size", "640x480"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string bytes = ReadAll(png);
  ASSERT_GT(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  auto be32 = [&](size_t at) {
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
  };
  EXPECT_EQ(be32(16), 640u);
  EXPECT_EQ(be32(20), 480u);
  EXPECT_EQ(RunQvl({"plot", RideFile(), "--run", "0", "-o", png, "--layout", "No such"}).status, 1);
}

}  // namespace
}  // namespace qvl::cli
