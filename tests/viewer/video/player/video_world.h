// A virtual X server with an application on it and a 20 s clip with a frame counter and a tone
// made by ffmpeg, set up once for a test program that drives the real media player. Suites skip,
// saying why, when mplayer, Xvfb or ffmpeg is missing.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <string>

namespace qvl::testing {

struct TVideoWorld {
  std::string missing;  // why the suite is skipped
  pid_t xvfb = 0;
  QApplication* app = nullptr;
  QTemporaryDir* dir = nullptr;
  QString clip;
};

inline TVideoWorld* g_videoWorld = nullptr;

// Made on first use; the application must not exist yet.
inline TVideoWorld& World() {
  static TVideoWorld* world = g_videoWorld = [] {
    auto* w = new TVideoWorld;
    for (const char* tool : {"mplayer", "Xvfb", "ffmpeg"})
      if (QStandardPaths::findExecutable(tool).isEmpty()) w->missing += std::string(tool) + " ";
    if (!w->missing.empty()) {
      w->missing = "not installed: " + w->missing + "(scripts/install-deps installs them)";
      return w;
    }
    int fds[2];
    if (pipe(fds) != 0) return w;
    w->xvfb = fork();
    if (w->xvfb == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1200x24", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // The server writes the display number and then a line end.
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      w->missing = "the virtual X server did not start";
      return w;
    }
    const std::string display = ":" + number;
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "qvl_video_world";
    static char* argv[] = {name, nullptr};
    w->app = new QApplication(argc, argv);
    w->dir = new QTemporaryDir;
    w->clip = w->dir->filePath("clip.avi");
    QProcess ffmpeg;
    // A tone with the picture, so the player has sound to open.
    ffmpeg.start(
        "ffmpeg",
        {"-hide_banner", "-loglevel", "error",     "-y",
         "-f",           "lavfi",     "-i",        "testsrc=duration=20:size=320x240:rate=25",
         "-f",           "lavfi",     "-i",        "sine=frequency=440:duration=20",
         "-c:v",         "mpeg4",     "-q:v",      "5",
         "-c:a",         "pcm_s16le", "-shortest", w->clip});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) w->missing = "ffmpeg failed";
    return w;
  }();
  return *world;
}

// Ends the application and the server after the last test.
class XvfbEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!g_videoWorld) return;
    TVideoWorld& w = *g_videoWorld;
    delete w.app;
    w.app = nullptr;
    if (w.xvfb > 0) {
      kill(w.xvfb, SIGTERM);
      waitpid(w.xvfb, nullptr, 0);
    }
  }
};
inline const auto* const kXvfbEnvironment =
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

}  // namespace qvl::testing

#define REQUIRE_VIDEO_WORLD()                                                                      \
  do {                                                                                             \
    if (!::qvl::testing::World().missing.empty()) GTEST_SKIP() << ::qvl::testing::World().missing; \
  } while (0)
