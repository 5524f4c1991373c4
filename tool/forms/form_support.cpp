#include "tool/forms/form_support.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>
#include <exception>

namespace qvl {

void NameControl(QWidget* w, const QString& objectName, const QString& accessible) {
  w->setObjectName(objectName);
  w->setAccessibleName(accessible);
}

void ShowWindowMessage(QWidget* window, const std::function<void(const QString&, bool)>& hook,
                       const QString& text, bool error) {
  if (hook) {
    hook(text, error);
    return;
  }
  if (error)
    QMessageBox::critical(window, window->windowTitle(), text);
  else
    QMessageBox::information(window, window->windowTitle(), text);
}

void PostTo(QObject* receiver, std::function<void()> fn) {
  QMetaObject::invokeMethod(receiver, std::move(fn), Qt::QueuedConnection);
}

void TFormWorker::Start(QObject* receiver, std::function<void()> job,
                        std::function<void(const std::string& error)> done, std::string fallback) {
  thread_ = std::thread([this, receiver, job = std::move(job), done = std::move(done),
                         fallback = std::move(fallback)] {
    std::string error;
    try {
      job();
    } catch (const std::exception& e) {
      error = *e.what() ? e.what() : fallback;
    } catch (...) {
      error = fallback;
    }
    PostTo(receiver, [this, done, error] {
      thread_.join();
      done(error);
    });
  });
}

}  // namespace qvl
