// What the window tests of both programs share: the application object (created once, whichever
// test comes first), the screenshot folder, finding controls by accessible name, the check that
// every control of a window has one, answering a message box, and a look at the simulated logger
// behind a window.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "sim/sim_channel.h"
#include "test_paths.h"

namespace qvl::test {

inline QApplication& WindowTestApp() {
  static int argc = 1;
  static char name[] = "qvl_window_tests";
  static char* argv[] = {name, nullptr};
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The tests' live channel is their own, never a running tool's.
  setenv("QVL_LIVE_BLOCK", ("/qvl-window-tests-" + std::to_string(::getpid())).c_str(), 1);
  return *new QApplication(argc, argv);
}

// A fresh folder of the test's own under the system's temporary folder.
inline std::string TempFolder(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("qvl-window-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

// Runs a shell command (the built programs, to compare with); its output, and a failure when
// it does not exit with 0.
inline std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0) << command << "\n" << out;
  return out;
}

inline QString ScreenshotFolder() {
  QDir dir(QString::fromStdString(BinDir()) + "/../screenshots");
  dir.mkpath(".");
  return dir.absolutePath();
}

template <typename T>
T* FindNamed(QWidget* root, const QString& accessibleName) {
  for (T* w : root->findChildren<T*>())
    if (w->accessibleName() == accessibleName) return w;
  return nullptr;
}

// Buttons, labels, group boxes, spin boxes, grids, memos and plain panels: each has a name.
inline void ExpectAccessibleNames(QWidget* window) {
  for (QWidget* c : window->findChildren<QWidget*>()) {
    const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLabel*>(c) ||
                         qobject_cast<QGroupBox*>(c) || qobject_cast<QAbstractSpinBox*>(c) ||
                         qobject_cast<QAbstractItemView*>(c) || qobject_cast<QPlainTextEdit*>(c) ||
                         QString(c->metaObject()->className()) == "QFrame";
    // Qt's own parts (scroll bars' buttons, a grid's corner) are left to Qt.
    if (!control || c->objectName().startsWith("qt_") ||
        qobject_cast<QAbstractScrollArea*>(c->parentWidget()))
      continue;
    EXPECT_FALSE(c->accessibleName().isEmpty())
        << c->metaObject()->className() << " " << c->objectName().toStdString();
  }
}

// Accepts the next message box (looked for every 10 ms, for half a minute at most) and keeps its
// text.
struct TMessageBoxAnswer {
  QString text;
  int polls = 0;
  void Arm() {
    QTimer::singleShot(10, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        text = box->text();
        box->accept();
      } else if (++polls < 3000) {
        Arm();
      }
    });
  }
};

// f(logger) with the simulated link's lock held, so that the link's thread does not change the
// logger meanwhile.
template <typename F>
auto WithLogger(sim::TSimChannel& channel, F f) {
  std::lock_guard<std::mutex> lock(channel.Link().Mutex());
  return f(channel.Logger());
}

}  // namespace qvl::test
