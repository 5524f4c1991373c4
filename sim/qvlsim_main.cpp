// qvlsim: the simulated logger as a program. With --pty it serves the logger on a
// pseudo-terminal and prints the terminal's path as its first line, for
// `qvl --port PATH ...` in another terminal.
#include <signal.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "sim/pty_server.h"

namespace {

qvl::sim::TPtyServer* gServer = nullptr;

void OnSignal(int) {
  if (gServer) gServer->Stop();
}

const char kUsage[] =
    "usage: qvlsim --pty [OPTIONS]\n"
    "\n"
    "Serves a simulated QVL logger on a pseudo-terminal and prints its path.\n"
    "\n"
    "Options:\n"
    "  --symlink PATH       keep PATH pointing at the terminal (also after a replug)\n"
    "  --version TEXT       identification string (default \"QVL R2.11\")\n"
    "  --flash-code N       flash size code: 1 = 2 MiB, 2 = 4, 3 = 8, 4 = 32, 5 = 64, 0 = none\n"
    "  --sessions N         recorded sessions in the flash (default 2)\n"
    "  --runs N             runs per session (default 2)\n"
    "  --season             a flash written by a season of riding (8 MiB unless --flash-code\n"
    "                       says otherwise): sessions across the ring's end, the oldest one\n"
    "                       partly overwritten, the current one still being logged\n"
    "  --not-logging        with --season: the current session has ended\n"
    "  --bps N              line speed towards the host in bytes per second (0 = unthrottled)\n"
    "  --clock-unset        the logger's clock has not been set\n"
    "  --clock-offset N     the logger's clock is off by N units of 1.024 s\n"
    "  --seed N             seed of the fault generator (default 1)\n"
    "  --lose RATE          probability that a byte to the host is lost\n"
    "  --corrupt-echo RATE  probability that an echo byte arrives changed\n"
    "  --boot-family N      family digit of the bootloader (\"ZQB1\" erases 8 rows at once)\n"
    "  --corrupt-boot-row N the first write of program row N stores a changed word\n"
    "  --delay MS           delay answers by MS ms ...\n"
    "  --delay-rate RATE    ... with this probability (default 1)\n"
    "  --silent-after N     stop answering after N bytes from the host\n"
    "  --silent-for MS      ... for MS ms (default: for good)\n"
    "  --unplug-after N     unplug after N bytes from the host\n"
    "  --replug-ms MS       plug in again MS ms after unplugging (default 1000, 0 = never)\n"
    "  --exit-after SECONDS stop serving after this long\n";

bool Number(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end && *end == 0 && end != text;
}

}  // namespace

int main(int argc, char** argv) {
  qvl::sim::TSimOptions options;
  bool pty = false;
  std::string symlinkPath;
  double exitAfter = -1;
  bool flashCodeGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](double& v) {
      if (i + 1 >= argc || !Number(argv[i + 1], v)) {
        std::cerr << "qvlsim: " << a << " needs a number\n";
        std::exit(2);
      }
      ++i;
    };
    double v = 0;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--pty") {
      pty = true;
    } else if (a == "--symlink" && i + 1 < argc) {
      symlinkPath = argv[++i];
    } else if (a == "--version" && i + 1 < argc) {
      options.identification = argv[++i];
    } else if (a == "--flash-code") {
      value(v), options.flashSizeCode = int(v);
      flashCodeGiven = true;
    } else if (a == "--sessions") {
      value(v), options.sessions = int(v);
    } else if (a == "--runs") {
      value(v), options.runsPerSession = int(v);
    } else if (a == "--season") {
      options.season.enabled = true;
      if (!flashCodeGiven) options.flashSizeCode = 3;
    } else if (a == "--not-logging") {
      options.season.logging = false;
    } else if (a == "--bps") {
      value(v), options.bytesPerSecond = int(v);
    } else if (a == "--clock-unset") {
      options.clockSet = false;
    } else if (a == "--clock-offset") {
      value(v), options.clockOffsetUnits = int(v);
    } else if (a == "--seed") {
      value(v), options.seed = uint32_t(v);
    } else if (a == "--lose") {
      value(v), options.faults.loseRate = v;
    } else if (a == "--boot-family") {
      value(v), options.bootloaderFamily = int(v);
    } else if (a == "--corrupt-boot-row") {
      value(v), options.corruptBootRow = int(v);
    } else if (a == "--corrupt-echo") {
      value(v), options.faults.corruptEchoRate = v;
    } else if (a == "--delay") {
      value(v), options.faults.answerDelayMs = int(v);
    } else if (a == "--delay-rate") {
      value(v), options.faults.answerDelayRate = v;
    } else if (a == "--silent-after") {
      value(v), options.faults.silentAfter = int64_t(v);
    } else if (a == "--silent-for") {
      value(v), options.faults.silentForMs = int(v);
    } else if (a == "--unplug-after") {
      value(v), options.faults.unplugAfter = int64_t(v);
    } else if (a == "--replug-ms") {
      value(v), options.faults.replugAfterMs = int(v);
    } else if (a == "--exit-after") {
      value(v), exitAfter = v;
    } else {
      std::cerr << "qvlsim: unknown option " << a << "\n" << kUsage;
      return 2;
    }
  }
  if (!pty) {
    std::cerr << kUsage;
    return 2;
  }
  qvl::sim::TPtyServer server(options, symlinkPath);
  if (!server.Start()) {
    std::cerr << "qvlsim: " << server.ErrorText() << "\n";
    return 1;
  }
  gServer = &server;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::cout << server.SlavePath() << std::endl;
  if (!symlinkPath.empty())
    std::cerr << "qvlsim: " << symlinkPath << " -> " << server.SlavePath() << "\n";
  server.Run(exitAfter < 0 ? -1 : int64_t(exitAfter * 1000));
  gServer = nullptr;
  return 0;
}
