// What the tool's dialogs share: naming controls for tests and screen readers, messages that
// tests can catch, and one worker thread that runs an exchange with the logger off the window's
// thread and reports back to the window by a queued call.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <thread>

class QObject;
class QWidget;

namespace qvl {

// Sets a control's object name (for lookups) and accessible name.
void NameControl(QWidget* w, const QString& objectName, const QString& accessible);

// Shows a message through `hook` when one is set, else in a message box over `window` with the
// window's title. error: an error, else information.
void ShowWindowMessage(QWidget* window, const std::function<void(const QString&, bool)>& hook,
                       const QString& text, bool error);

// Runs `fn` on receiver's thread by a queued call (dropped when receiver is gone by then).
void PostTo(QObject* receiver, std::function<void()> fn);

// One job at a time on a thread of its own. What the job throws becomes the error text
// (`fallback` for an exception without a message); the thread is joined, then done(error) runs
// on the receiver's thread.
class TFormWorker {
 public:
  TFormWorker() = default;
  TFormWorker(const TFormWorker&) = delete;
  TFormWorker& operator=(const TFormWorker&) = delete;
  // Waits for a job still running (its done call is dropped with the receiver).
  ~TFormWorker() { Join(); }

  void Start(QObject* receiver, std::function<void()> job,
             std::function<void(const std::string& error)> done, std::string fallback);
  // A job has started and its done call has not run yet.
  bool Running() const { return thread_.joinable(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace qvl
