// QVL2View: the log viewer. QVL2View opens empty, QVL2View FILE opens a log file, QVL2View -ls
// shows the logger tool's live recording; --help, --version.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>

#include "viewer/forms/view_log_form.h"

namespace {

const char kUsage[] =
    "usage: QVL2View [FILE | -ls]\n"
    "  FILE       a log file (.QVLog, .QVL) to open\n"
    "  -ls        live mode: show what the logger tool records (QVL2Pro must run)\n"
    "  --help     this text\n"
    "  --version  the version\n";

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  bool live = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("QVL2View 2.11\n");
      return 0;
    }
    if (a == "-ls") {
      live = true;
      continue;
    }
    // Qt's own options (-platform, -style, ...) and their values are left to QApplication.
    if (a == "-platform" || a == "-style" || a == "-display") {
      ++i;
      continue;
    }
    if (a.rfind("-", 0) == 0 && a.size() > 1) continue;
    if (!file.empty()) {
      std::fprintf(stderr, "QVL2View: one file at a time\n%s", kUsage);
      return 2;
    }
    file = a;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("QVLView");
  qvl::TViewerOptions options;
  options.live = live;
  qvl::TfrmViewLog window(std::move(options));
  window.ShowAsStored();
  if (!file.empty() && !live) {
    const QString path = QString::fromLocal8Bit(file.c_str());
    QTimer::singleShot(0, &window, [&window, path] { window.OpenFile(path); });
  }
  return app.exec();
}
