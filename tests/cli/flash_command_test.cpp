// qvl flash list, download and erase against the simulated logger, in-process and, for Ctrl-C,
// as a program of its own on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/run_qvl.h"
#include "core/util/ini_file.h"
#include "served_sim.h"
#include "sim/pty_server.h"
#include "test_paths.h"

extern char** environ;

namespace qvl::cli {
namespace {

class QvlFlash : public TOwnSettingsTest {};

std::string TempFile(const std::string& name) {
  const std::string path = ::testing::TempDir() + "/" + name;
  std::filesystem::remove(path);
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

using test::TServedSim;

TEST_F(QvlFlash, ListShowsTheTreeAndItsData) {
  TQvlResult text = RunQvl({"--link", "sim", "flash", "list"});
  ASSERT_EQ(text.status, 0) << text.err;
  const auto lines = Lines(text.out);
  // Two sessions of two runs each: the current one first.
  ASSERT_EQ(lines.size(), 6u) << text.out;
  EXPECT_EQ(lines[0], "Current session:");
  EXPECT_EQ(lines[1].rfind("  Run 1: ", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find(", Length=20sec., SDCard file name = none"), std::string::npos)
      << lines[1];
  EXPECT_EQ(lines[3].rfind("Session -1: ", 0), 0u) << lines[3];
  EXPECT_EQ(lines[5].rfind("  Run 2: ", 0), 0u);

  TQvlResult json = RunQvl({"--link", "sim", "flash", "list", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  for (const char* key :
       {"\"sessions\"", "\"text\": \"Current session:\"", "\"start_sector\"", "\"end_sector\"",
        "\"base\"", "\"has_time\": true", "\"partial\": false", "\"runs\"", "\"start_page\": 0",
        "\"end_page\"", "\"sd\": 0", "\"start_tick\"", "\"end_tick\""})
    EXPECT_NE(json.out.find(key), std::string::npos) << key;
}

TEST_F(QvlFlash, DownloadsARunIntoALogFileAndRemembersIt) {
  const std::string file = TempFile("qvl_run.QVLog");
  TQvlResult r = RunQvl({"--link", "sim", "flash", "download", "--run", "1:0", "-o", file});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0], "Saved " + file);
  const std::string prefix = "Saved downloads key: ";
  ASSERT_EQ(lines[1].rfind(prefix, 0), 0u);
  const std::string key = lines[1].substr(prefix.size());
  TIniFile settings(SettingsFile());
  EXPECT_EQ(settings.ReadString("IFMDownloads", key, ""), file);

  TQvlResult info = RunQvl({"info", file});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("download file"), std::string::npos);
  EXPECT_NE(info.out.find("Runs            1"), std::string::npos) << info.out;

  // A second download goes on top of the list.
  const std::string second = TempFile("qvl_session.QVLog");
  r = RunQvl({"--link", "sim", "flash", "download", "--session", "0", "-o", second, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"stopped\": false"), std::string::npos) << r.out;
  settings.LoadFromFile(SettingsFile());
  const auto saved = settings.ReadSectionValues("IFMDownloads");
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].second, second);
  EXPECT_EQ(saved[1].second, file);
}

TEST_F(QvlFlash, LongestPicksTheSessionsLongestRun) {
  // The season's current session has runs of different lengths: the longest gives the largest
  // file, the same as downloading that run by its number.
  std::vector<uintmax_t> sizes;
  for (int r = 0;; ++r) {
    const std::string file = TempFile("qvl_run_" + std::to_string(r) + ".QVLog");
    TQvlResult d = RunQvl({"--link", "sim-season", "flash", "download", "--run",
                           "0:" + std::to_string(r), "-o", file});
    if (d.status != 0) break;
    sizes.push_back(std::filesystem::file_size(file));
  }
  ASSERT_GE(sizes.size(), 2u);
  const std::string longest = TempFile("qvl_longest.QVLog");
  TQvlResult d =
      RunQvl({"--link", "sim-season", "flash", "download", "--run", "0:longest", "-o", longest});
  ASSERT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(std::filesystem::file_size(longest), *std::max_element(sizes.begin(), sizes.end()));
  EXPECT_EQ(RunQvl({"--link", "sim", "flash", "download", "--run", "0:longer", "-o", "x"}).status,
            1);
}

TEST_F(QvlFlash, RefusesWhatItCannotDo) {
  EXPECT_EQ(RunQvl({"--link", "sim", "flash", "download", "--run", "0:0"}).err,
            "qvl: flash download needs -o FILE\n");
  EXPECT_EQ(RunQvl({"--link", "sim", "flash", "download", "-o", "x"}).err,
            "qvl: give either --session K or --run K:R\n");
  EXPECT_EQ(RunQvl({"--link", "sim", "flash", "download", "--run", "0", "-o", "x"}).status, 1);
  TQvlResult r = RunQvl({"--link", "sim", "flash", "download", "--run", "4:0", "-o", "x"});
  EXPECT_EQ(r.err, "qvl: no session 4 (the flash holds 2)\n");
  r = RunQvl({"--link", "sim", "flash", "download", "--run", "0:2", "-o", "x"});
  EXPECT_EQ(r.err, "qvl: session 0 has no run 2 (it has 2)\n");
  r = RunQvl({"--link", "sim", "flash", "erase"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("add --yes"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("x"));
}

TEST_F(QvlFlash, EraseEmptiesTheFlash) {
  TServedSim sim(sim::TSimOptions{});
  const std::string port = sim.server.SlavePath();
  TQvlResult r = RunQvl({"--port", port, "flash", "erase", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Internal flash erased\n");
  EXPECT_TRUE(sim.WithLogger([](auto& l) {
    const auto& f = l.Flash();
    return std::all_of(f.begin(), f.end(), [](uint8_t b) { return b == 0xFF; });
  }));
  r = RunQvl({"--port", port, "flash", "list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Current session: (no data recorded yet)\n");
}

// `qvl` as a program, its output in files.
struct TQvlProcess {
  pid_t pid = -1;
  std::string out, err;
  explicit TQvlProcess(const std::vector<std::string>& args) {
    out = TempFile("qvl_process_out.txt");
    err = TempFile("qvl_process_err.txt");
    const std::string program = test::BinDir() + "/qvl";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  // The exit status, or -1 when it did not end normally within the time.
  int Wait(int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  static std::string Text(const std::string& file) {
    std::ifstream f(file);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
};

TEST_F(QvlFlash, CtrlCStopsTheDownloadAndWritesNothingUnlessAsked) {
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "--keep-partial" : "plain");
    sim::TSimOptions options;
    options.bytesPerSecond = 5760;  // 57600 baud
    TServedSim sim(options);
    const std::string file = TempFile("qvl_interrupted.QVLog");
    std::vector<std::string> args = {
        "--port", sim.server.SlavePath(), "flash", "download", "--session", "1", "-o", file};
    if (keep) args.push_back("--keep-partial");
    TQvlProcess qvl(args);
    // Wait until pages are being read (16 reads per page), then interrupt.
    bool downloading = false;
    for (int waited = 0; waited < 15000 && !downloading; waited += 20) {
      downloading = sim.WithLogger([](auto& l) { return l.CommandCount(0x3E) > 40; });
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(downloading);
    kill(qvl.pid, SIGINT);
    EXPECT_EQ(qvl.Wait(20000), 130) << TQvlProcess::Text(qvl.err);
    const std::string err = TQvlProcess::Text(qvl.err);
    EXPECT_NE(err.find("qvl: download stopped after "), std::string::npos) << err;
    if (!keep) {
      EXPECT_NE(err.find("; nothing written"), std::string::npos) << err;
      EXPECT_FALSE(std::filesystem::exists(file));
      EXPECT_EQ(TQvlProcess::Text(qvl.out), "");
    } else {
      ASSERT_TRUE(std::filesystem::exists(file));
      EXPECT_EQ(TQvlProcess::Text(qvl.out).rfind("Saved " + file + "\n", 0), 0u);
      TQvlResult info = RunQvl({"info", file});
      EXPECT_EQ(info.status, 0) << info.err;
    }
    // The logger was given back: its log command released, polling again.
    EXPECT_FALSE(sim.WithLogger([](auto& l) { return l.LogBlocked(); }));
  }
}

}  // namespace
}  // namespace qvl::cli
