// TPtyServer: serves the simulated logger on a pseudo-terminal, so that the real serial link
// talks to it across processes. The slave side's path is what a user gives to `qvl --port`.
// An unplug fault closes the terminal; plugging in again opens a new one, and the optional
// stable name (a symbolic link) is pointed at it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/sim_link.h"

namespace qvl::sim {

class TPtyServer {
 public:
  // symlinkPath: a stable name kept pointing at the current terminal ("" for none).
  explicit TPtyServer(const TSimOptions& options, std::string symlinkPath = "");
  ~TPtyServer();
  TPtyServer(const TPtyServer&) = delete;
  TPtyServer& operator=(const TPtyServer&) = delete;

  // Opens the terminal; false (with ErrorText) when the system refuses.
  bool Start();
  const std::string& SlavePath() const { return slavePath_; }
  // The name to give the host: the stable name when there is one, else the slave path.
  std::string PortPath() const { return symlinkPath_.empty() ? slavePath_ : symlinkPath_; }
  const std::string& ErrorText() const { return error_; }

  // Serves until Stop (from any thread or a signal handler) or until runForMs passes (< 0:
  // without limit).
  void Run(int64_t runForMs = -1);
  void Stop() { stop_ = true; }

  TSimLink& Link() { return *link_; }

 private:
  bool OpenTerminal();
  void CloseTerminal();
  uint64_t NowMs() const;

  std::unique_ptr<TSimLink> link_;
  std::string symlinkPath_;
  std::string slavePath_;
  std::string error_;
  int master_ = -1;
  int slaveHold_ = -1;
  std::atomic<bool> stop_{false};
};

}  // namespace qvl::sim
