#include "viewer/export_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "viewer/stripchart/time_axis.h"

namespace qvl {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

struct Fixture {
  // A travel strip every 2 ms (0.0, 0.5, 1.0 ...), a speed strip every 10 ms (10, 20, 30 ...),
  // and a strip whose channel is not logged.
  std::vector<float> travel, speed, empty;
  TExportRequest request;
  Fixture() {
    for (int i = 0; i < 50; ++i) travel.push_back(float(i) * 0.5f);
    for (int i = 0; i < 10; ++i) speed.push_back(float(i + 1) * 10);
    request.strips = {{"Front travel (%)", &travel, 2, 1, 0},
                      {"Front speed (km/h)", &speed, 10, 1, 20},
                      {"Heading (deg.)", &empty, 0, 1, 0}};
    request.sampleCount = 100;
    request.title = "Session 1/1, run 1/1, 50 data samples";
  }
};

TEST(Export, GridOfTheFastestCurveAndNearestValues) {
  Fixture f;
  f.request.allStrips = true;
  EXPECT_EQ(ExportGridStep(f.request), 2);
  auto lines = Lines(BuildExportText(f.request));
  ASSERT_EQ(lines.size(), 3u + 50u);
  EXPECT_EQ(lines[0], "Session 1/1, run 1/1, 50 data samples");
  EXPECT_EQ(lines[1],
            "\"Time (sec)\"\t\"Front travel (%)\"\t\"Front speed (km/h)\"\t\"Heading (deg.)\"");
  EXPECT_EQ(lines[2], "\t\"No smoothing\"\t\"Smoothing: 20ms (2 samples)\"\t\"No smoothing\"");
  EXPECT_EQ(lines[3], "0.000\t0.0\t10.0\t-------");
  EXPECT_EQ(lines[4], "0.002\t0.5\t10.0\t-------");  // 2 / 10 rounds to index 0
  EXPECT_EQ(lines[5], "0.004\t1.0\t10.0\t-------");
  EXPECT_EQ(lines[6], "0.006\t1.5\t20.0\t-------");  // 0.6 rounds to 1
  EXPECT_EQ(lines[8], "0.010\t2.5\t20.0\t-------");
  // The speed column repeats each value about five times; beyond its end the last one stays.
  EXPECT_EQ(lines.back(), "0.098\t24.5\t100.0\t-------");
}

TEST(Export, SelectedStripAloneAndTimeDecimals) {
  Fixture f;
  f.request.selected = 1;
  EXPECT_EQ(ExportGridStep(f.request), 10);
  auto lines = Lines(BuildExportText(f.request));
  ASSERT_EQ(lines.size(), 3u + 10u);
  EXPECT_EQ(lines[1], "\"Time (sec)\"\t\"Front speed (km/h)\"");
  EXPECT_EQ(lines[3], "0.00\t10.0");
  EXPECT_EQ(lines[12], "0.09\t100.0");
  EXPECT_EQ(ExportTimeDecimals(9), 3);
  EXPECT_EQ(ExportTimeDecimals(10), 2);
  EXPECT_EQ(ExportTimeDecimals(99), 2);
  EXPECT_EQ(ExportTimeDecimals(100), 1);

  // A single strip every 1000 ms: times with one decimal.
  std::vector<float> slow = {1.25f, 2.5f, 3.75f};
  TExportRequest r;
  r.strips = {{"Slow", &slow, 1000, 2, 0}};
  r.sampleCount = 3000;
  lines = Lines(BuildExportText(r));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "\"Time (sec)\"\tSlow");  // no blank: not quoted
  EXPECT_EQ(lines[3], "0.0\t1.25");
  EXPECT_EQ(lines[5], "2.0\t3.75");
}

TEST(Export, VisiblePartAndEmptyCurve) {
  Fixture f;
  f.request.allStrips = true;
  f.request.visiblePart = true;
  f.request.visibleFirst = 21;
  f.request.visibleLast = 30;
  auto lines = Lines(BuildExportText(f.request));
  // r from 21 / 2 = 10 to 30 / 2 = 15.
  ASSERT_EQ(lines.size(), 3u + 6u);
  EXPECT_EQ(lines[3], "0.020\t5.0\t30.0\t-------");
  EXPECT_EQ(lines[8], "0.030\t7.5\t40.0\t-------");

  // Only the strip that is not logged: every line has seven minus signs.
  f.request.allStrips = false;
  f.request.selected = 2;
  f.request.visiblePart = false;
  lines = Lines(BuildExportText(f.request));
  EXPECT_EQ(ExportGridStep(f.request), 1);
  ASSERT_EQ(lines.size(), 3u + 100u);
  for (size_t i = 3; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].substr(lines[i].find('\t')), "\t-------");
}

TEST(Export, LongDataKeepsEveryTimeApart) {
  // Past 2.8 hours on a 2 ms grid every line still has its own time with three decimals; the
  // values keep their 7 significant digits.
  std::vector<float> v = {1234.5678f};
  TExportRequest r;
  r.strips = {{"Travel", &v, 2, 3, 0}};
  r.sampleCount = 10000010;
  r.visiblePart = true;
  r.visibleFirst = 10000000;
  r.visibleLast = 10000004;
  auto lines = Lines(BuildExportText(r));
  ASSERT_EQ(lines.size(), 3u + 3u);
  EXPECT_EQ(lines[3], "10000.000\t1234.568");
  EXPECT_EQ(lines[4], "10000.002\t1234.568");
  EXPECT_EQ(lines[5], "10000.004\t1234.568");
}

TEST(Export, QuotingAndSeparator) {
  EXPECT_EQ(QuoteExportField("plain"), "plain");
  EXPECT_EQ(QuoteExportField(""), "");
  EXPECT_EQ(QuoteExportField("a b"), "\"a b\"");
  EXPECT_EQ(QuoteExportField("a\tb"), "\"a\tb\"");
  EXPECT_EQ(QuoteExportField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteExportField(std::string("x\x01y")), "\"x\x01y\"");
  std::vector<float> v = {-1.5f};
  TExportRequest r;
  r.strips = {{"q\"", &v, 1, 2, 0}};
  r.sampleCount = 1;
  SetDecimalSeparator(',');
  auto lines = Lines(BuildExportText(r));
  SetDecimalSeparator('.');
  EXPECT_EQ(lines[1], "\"Time (sec)\"\t\"q\"\"\"");
  EXPECT_EQ(lines[3], "0,000\t-1,50");
}

TEST(ChartTime, TextsOfTheTimeAxis) {
  EXPECT_EQ(FormatTimeLabel(5, 1), "0m05.0s");
  EXPECT_EQ(FormatTimeLabel(3725, -1), "1h02m");
  EXPECT_EQ(FormatTimeLabel(3600, -2), "1h");
  EXPECT_EQ(FormatTimeLabel(125, 0), "2m05s");
  EXPECT_EQ(FormatTimeLabel(7200, 0), "2h00m00s");
  // Rounded to the decimals shown before the split.
  EXPECT_EQ(FormatTimeLabel(59.93, 2), "0m59.93s");
  EXPECT_EQ(FormatTimeLabel(59.996, 2), "1m00.00s");
  EXPECT_EQ(FormatTimeLabel(9.96, 2), "0m09.96s");
  EXPECT_EQ(FormatTimeLabel(9.996, 2), "0m10.00s");
  EXPECT_EQ(FormatTimeLabel(-1.5, 1), "-0m01.5s");
  EXPECT_EQ(FormatTimeLabel(-0.01, 1), "0m00.0s");
}

TEST(Export, FileAppearsWholeOrNotAtAll) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "qvl_export_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  Fixture f;
  std::string file = (dir / "out.txt").string();
  {
    std::ofstream old(file, std::ios::binary);
    old << "previous content";
  }
  WriteExportFile(file, f.request);
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), BuildExportText(f.request));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  // A folder that does not exist: an error, and nothing written.
  EXPECT_THROW(WriteExportFile((dir / "missing" / "out.txt").string(), f.request), Exception);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qvl
