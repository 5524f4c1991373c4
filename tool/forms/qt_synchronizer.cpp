#include "tool/forms/qt_synchronizer.h"

#include <QMetaObject>

#include "core/util/exceptions.h"

namespace qvl {

TQtSynchronizer::TQtSynchronizer(QObject* parent)
    : QObject(parent), uiThread_(std::this_thread::get_id()) {}

TQtSynchronizer::~TQtSynchronizer() {
  calls_->Close(std::make_exception_ptr(Exception("The user interface has closed")));
}

void TQtSynchronizer::AskToRun() {
  // One queued request at a time is enough: it runs everything that waits.
  if (asked_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        asked_ = false;
        ProcessPending();
      },
      Qt::QueuedConnection);
}

void TQtSynchronizer::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread())
    fn();
  else {
    const std::shared_ptr<TCallQueue> calls = calls_;
    calls->AddAndWait(fn, [this] { AskToRun(); });
  }
}

void TQtSynchronizer::ProcessPending() {
  if (IsUiThread()) calls_->RunAll();
}

void TQtSynchronizer::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

int TQtSynchronizer::Waiting() {
  return int(calls_->Size());
}

}  // namespace qvl
