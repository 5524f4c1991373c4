// Waiting for a long open of a log file without freezing the window that asked for it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "core/logdata/data_log_store.h"

namespace qvl {

// The steps of a long open run on a worker thread while the window waits for them in an event
// loop of its own: nothing in the reading or the display pumps events. For the first half second
// the window just waits with the busy cursor, as for a short open; then a modal dialog shows how
// far the open is and offers Cancel, which stops the work at its next progress report. The
// dialog is modal for the whole application, so that no window touches the file slots meanwhile.
class TOpenWaiter {
 public:
  // `window` owns the dialog, which has the caption `title` and says `text` over its bar.
  TOpenWaiter(QWidget* window, const QString& title, const QString& text)
      : window_(window), title_(title), text_(text) {
    clock_.start();
  }

  // Runs `work` on a worker thread; its progress fills the part [from, to] of the bar. Returns
  // when the work has ended and raises what it raised (ELoadStopped after Cancel).
  void Run(double from, double to, const std::function<void(const TLoadProgress&)>& work) {
    std::atomic<int> permille{int(from * 1000)};
    const TLoadProgress progress = ProgressPart(
        [&](uint64_t done, uint64_t) {
          permille = int(done);
          return !stop_;
        },
        from, to);
    QEventLoop loop;
    std::packaged_task<void()> task([&] {
      // However the work ends, the wait ends with it: a call queued to the waiting loop (dropped
      // unseen when the window did not have to wait).
      struct TWake {
        QEventLoop& loop;
        ~TWake() { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); }
      } wake{loop};
      work(progress);
    });
    std::future<void> ended = task.get_future();
    std::thread worker(std::move(task));
    struct TJoin {
      std::thread& thread;
      ~TJoin() { thread.join(); }
    } join{worker};
    const auto quiet = std::chrono::milliseconds(std::max<qint64>(kQuietMs - clock_.elapsed(), 0));
    if (ended.wait_for(quiet) == std::future_status::ready) return ended.get();
    ShowDialog();
    bar_->setValue(permille);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, bar_, [&] { bar_->setValue(permille); });
    poll.start(kPollMs);
    // The live link's notifier waits too: nothing may touch the slot while the worker has it.
    loop.exec(QEventLoop::ExcludeSocketNotifiers);
    bar_->setValue(int(to * 1000));
    ended.get();
  }

  // Takes the dialog away (before a message, or when the work is done).
  void Close() {
    dialog_.reset();
    bar_ = nullptr;
  }

 private:
  static constexpr qint64 kQuietMs = 500;
  static constexpr int kPollMs = 50;

  void ShowDialog() {
    if (dialog_) return;
    dialog_ = std::make_unique<QDialog>(window_);
    dialog_->setWindowTitle(title_);
    dialog_->setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(dialog_.get());
    auto* label = new QLabel(text_);
    label->setObjectName("lblOpening");
    layout->addWidget(label);
    bar_ = new QProgressBar;
    bar_->setObjectName("pbOpening");
    bar_->setAccessibleName("Opening progress");
    bar_->setRange(0, 1000);
    bar_->setMinimumWidth(360);
    layout->addWidget(bar_);
    auto* cancel = new QPushButton("Cancel");
    cancel->setObjectName("btnCancelOpen");
    cancel->setAccessibleName("Cancel");
    layout->addWidget(cancel, 0, Qt::AlignRight);
    // Cancel, Escape and the close box all stop the work; the dialog stays until it has ended.
    QObject::connect(cancel, &QPushButton::clicked, dialog_.get(), [this, cancel, label] {
      stop_ = true;
      cancel->setEnabled(false);
      label->setText("Stopping ...");
    });
    QObject::connect(dialog_.get(), &QDialog::rejected, dialog_.get(), [this] { stop_ = true; });
    dialog_->show();
  }

  QWidget* window_;
  QString title_, text_;
  QElapsedTimer clock_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<QDialog> dialog_;
  QProgressBar* bar_ = nullptr;
};

}  // namespace qvl
