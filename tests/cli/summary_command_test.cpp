// qvl summary: one row per run of every log file, as the viewer's analysis finds it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/run_qvl.h"
#include "core/device/controller.h"
#include "core/logdata/log_file.h"
#include "viewer/run_display.h"
#include "viewer/run_notes.h"

namespace qvl::cli {
namespace {

namespace fs = std::filesystem;

// A fresh folder for one test.
std::string Folder(const std::string& name) {
  const std::string dir = ::testing::TempDir() + "/summary-" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A 15 s ride of the simulated logger, recorded once.
const std::string& Ride() {
  static const std::string path = [] {
    const std::string p = ::testing::TempDir() + "/summary-ride.QVLog";
    TQvlResult r = RunQvl({"sim", "record", "-o", p, "--seconds", "15"});
    EXPECT_EQ(r.status, 0) << r.err;
    return p;
  }();
  return path;
}

// RFC 4180 records: quoted fields may hold commas, doubled quotes and line breaks; records end
// with CR LF.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& field = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      rows.emplace_back(1);
    } else {
      field += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

size_t Column(const std::vector<std::string>& header, const std::string& name) {
  for (size_t c = 0; c < header.size(); ++c)
    if (header[c] == name) return c;
  ADD_FAILURE() << "no column " << name;
  return 0;
}

// The count `qvl analyze` prints on the line starting with `title`.
std::string AnalyzeCount(const std::string& analysis, const std::string& title) {
  std::istringstream in(analysis);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(title, 0) == 0) return line.substr(line.find_last_of(' ') + 1);
  return "?";
}

TEST(Summary, RowsCarryTheAnalysisOfEachRunAndDamagedFilesAreSkipped) {
  const std::string dir = Folder("rows");
  fs::copy_file(Ride(), dir + "/a.QVLog");
  fs::create_directories(dir + "/deeper");
  fs::copy_file(Ride(), dir + "/deeper/b.qvl");
  std::ofstream(dir + "/broken.QVLog") << "not a log file";
  std::ofstream(dir + "/notes.txt") << "not looked at";

  TQvlResult flat = RunQvl({"summary", dir, "--jobs", "2"});
  ASSERT_EQ(flat.status, 0) << flat.err;
  EXPECT_NE(flat.err.find("skipped " + dir + "/broken.QVLog: "), std::string::npos) << flat.err;
  EXPECT_EQ(flat.err.find("notes.txt"), std::string::npos);
  const auto rows = ParseCsv(flat.out);
  ASSERT_EQ(rows.size(), 2u) << flat.out;
  const std::vector<std::string>& header = rows[0];
  EXPECT_EQ(header.size(), 29u);
  EXPECT_EQ(rows[1].size(), header.size());
  EXPECT_EQ(rows[1][Column(header, "file")], dir + "/a.QVLog");

  TQvlResult analysis = RunQvl({"analyze", Ride(), "--run", "0"});
  ASSERT_EQ(analysis.status, 0) << analysis.err;
  const auto& row = rows[1];
  EXPECT_NE(analysis.out.find("(" + row[Column(header, "duration_s")] + " s)"), std::string::npos)
      << analysis.out;
  EXPECT_EQ(row[Column(header, "front_bottoming_soft")],
            AnalyzeCount(analysis.out, "Front bottoming"));
  EXPECT_EQ(row[Column(header, "rear_bottoming_soft")],
            AnalyzeCount(analysis.out, "Rear bottoming"));
  EXPECT_EQ(row[Column(header, "front_wheel_locks")],
            AnalyzeCount(analysis.out, "Front wheel lock"));
  EXPECT_EQ(row[Column(header, "rear_wheel_locks")], AnalyzeCount(analysis.out, "Rear wheel lock"));
  TRunDisplay display;
  OpenLogFile(display.MainSlot(), Ride());
  display.DisplaySelection(0);
  int hard = 0;
  for (const TEvent& e : display.Events(TEventKind::RearBottoming)) hard += e.flag;
  EXPECT_EQ(row[Column(header, "rear_bottoming_hard")], std::to_string(hard));
  EXPECT_GT(std::stod(row[Column(header, "speed_max_kmh")]), 10.0);
  EXPECT_GT(std::stod(row[Column(header, "front_compression_mm_s")]), 0.0);

  // Subfolders with --recursive; the rows do not depend on the number of threads.
  TQvlResult deep = RunQvl({"summary", dir, "--recursive", "--jobs", "1"});
  ASSERT_EQ(deep.status, 0) << deep.err;
  const auto deepRows = ParseCsv(deep.out);
  ASSERT_EQ(deepRows.size(), 3u);
  EXPECT_EQ(deepRows[1], rows[1]);
  EXPECT_EQ(deepRows[2][Column(header, "file")], dir + "/deeper/b.qvl");
  EXPECT_EQ(std::vector<std::string>(deepRows[2].begin() + 1, deepRows[2].end()),
            std::vector<std::string>(rows[1].begin() + 1, rows[1].end()));
}

TEST(Summary, NotesAreQuotedUtf8ColumnsAndJsonHasTheSameKeys) {
  const std::string dir = Folder("notes");
  const std::string file = dir + "/noted.QVLog";
  {
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    LoadLogFile(Ride(), controller, store, info);
    TRunNotes notes;
    notes.front = "Fox 36, 85 psi";
    notes.rear = "say \"soft\"";
    notes.track = "R\xF6schitz";  // Windows-1252, as the files hold it
    notes.other = {"line one", "line two"};
    store.SetRunNote(0, BuildRunNotes(notes));
    SaveLogFile(file, controller, store, info);
  }
  const std::string csvFile = dir + "/season.csv";
  TQvlResult r = RunQvl({"summary", file, "--csv", csvFile});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string csv = ReadAll(csvFile);
  EXPECT_NE(csv.find(",\"Fox 36, 85 psi\",\"say \"\"soft\"\"\",R\xC3\xB6schitz,"),
            std::string::npos)
      << csv;
  const auto rows = ParseCsv(csv);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][Column(rows[0], "notes_other")], "line one\nline two");

  TQvlResult json = RunQvl({"summary", file, "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  size_t at = 0;
  for (const std::string& key : rows[0]) {
    at = json.out.find("\"" + key + "\": ", at);
    ASSERT_NE(at, std::string::npos) << key << " missing or out of order in " << json.out;
  }
  EXPECT_NE(json.out.find("\"notes_track\": \"R\xC3\xB6schitz\""), std::string::npos);
  EXPECT_NE(json.out.find("\"duration_s\": 15.001,"), std::string::npos);
}

TEST(Summary, FailsOnlyWhenNoFileCanBeRead) {
  const std::string dir = Folder("none");
  std::ofstream(dir + "/broken.QVL") << "QVL2cr0 and nothing after it";
  TQvlResult r = RunQvl({"summary", dir});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("skipped " + dir + "/broken.QVL: "), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RunQvl({"summary", Folder("empty")}).status, 1);
  EXPECT_EQ(RunQvl({"summary", dir + "/missing.QVLog", Ride()}).status, 0);
}

}  // namespace
}  // namespace qvl::cli
