// QVL2Pro: the logger tool. Options: --link LINK and --port PATH as for `qvl`, --help,
// --version. Without --link it starts on the link chosen last in the port selection.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/util/exceptions.h"
#include "tool/forms/main_form.h"
#include "tool/link_factory.h"

namespace {

const char kUsage[] =
    "usage: QVL2Pro [--link LINK | --port PATH]\n"
    "  --link LINK   the link to the logger: %s\n"
    "  --port PATH   the serial port PATH (the same as --link serial:PATH)\n"
    "  --help        this text\n"
    "  --version     the version\n"
    "Without a link the tool starts on the port chosen last (Options, Select Com port...),\n"
    "the USB link adapter when none was chosen.\n";

}  // namespace

int main(int argc, char** argv) {
  std::string link;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::printf(kUsage, qvl::kLinkNames);
      return 0;
    }
    if (a == "--version") {
      std::printf("QVL2Pro 2.11\n");
      return 0;
    }
    if ((a == "--link" || a == "--port") && i + 1 < argc) {
      const std::string value = argv[++i];
      link = a == "--port" ? qvl::SerialLinkName(value) : value;
      continue;
    }
    // Qt's own options (-platform, -style, ...) are left to QApplication.
    if (a.rfind("-", 0) == 0 && a.rfind("--", 0) != 0) continue;
    std::fprintf(stderr, "QVL2Pro: unknown argument '%s'\n", a.c_str());
    std::fprintf(stderr, kUsage, qvl::kLinkNames);
    return 2;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("QVL2Pro");
  QApplication::setApplicationDisplayName("Ostrel QVL");
  qvl::TToolOptions options;
  if (!link.empty()) {
    try {
      options.link = qvl::CreateLinkChannel(link);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "QVL2Pro: %s\n", e.what());
      return 1;
    }
  }
  qvl::TfrmEcu1 window(std::move(options));
  window.ShowAsStored();
  return app.exec();
}
