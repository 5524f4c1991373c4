// qvl plot: draws the strips of a run or session with the viewer's strip chart, off screen, into
// a PNG file, with the event highlights and the time marks, for people who would rather look than
// read.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <cstdlib>
#include <memory>
#include <ostream>

#include "cli/command.h"
#include "cli/log_view.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"
#include "viewer/chart_binding.h"
#include "viewer/layout_manager.h"
#include "viewer/stripchart/strip_chart.h"

namespace qvl::cli {
namespace {

// The application object the chart needs; drawn off screen unless a platform was chosen.
void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "qvl";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
}

TStripList LayoutStrips(const TArgs& args) {
  const std::string name = args.Get("--layout", kDefaultLayoutName);
  if (name == kDefaultLayoutName) return StripsFromLayout(DefaultLayout());
  TIniFile ini;
  ini.LoadFromFile(args.Has("--settings") ? args.Get("--settings") : ViewerSettingsPath());
  TLayoutManager layouts;
  layouts.Load(ini);
  int index = layouts.IndexOf(name);
  if (index < 0) throw Exception("no layout named '" + name + "'");
  return StripsFromLayout(layouts.Layout(index));
}

int Plot(const TArgs& args, std::ostream& out, std::ostream&) {
  const std::string output = args.Get("-o");
  if (output.empty()) throw Exception("plot needs -o OUT.png");
  int width = 1200, height = 800;
  if (args.Has("--size")) {
    const std::string s = args.Get("--size");
    size_t x = s.find_first_of("xX");
    long long w, h;
    if (x == std::string::npos || !TryParseInt(s.substr(0, x), w) ||
        !TryParseInt(s.substr(x + 1), h) || w < 200 || h < 100 || w > 20000 || h > 20000)
      throw Exception("--size expects WxH (at least 200x100)");
    width = int(w);
    height = int(h);
  }

  TRunDisplay display;
  OpenForView(display, args);
  TStripList strips = StripsOf(args, *display.MainSlot().controller);
  if (strips.empty()) strips = LayoutStrips(args);
  display.SetStrips(strips);
  display.SetSettings(SettingsOf(args));
  display.DisplaySelection(SelectionOf(args, *display.MainSlot().store));

  EnsureApplication();
  TKelStripChart chart;
  chart.SetTopToolBar(false);
  chart.SetRightToolBar(false);
  chart.SetHorizontalScrollBar(false);
  chart.resize(width, height);
  const double seconds = ShowRunDisplay(chart, display, {.autoscale = args.Has("--autoscale")});
  QImage image = chart.grab().toImage();
  if (!image.save(QString::fromStdString(output), "PNG"))
    throw EFileError("Cannot write file \"" + output + "\"");
  out << "wrote " << output << " (" << width << "x" << height << ", "
      << display.Chart().strips.size() << " strips, " << FormatFixed(seconds, 7, 3) << " s)\n";
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "plot",
    .usage = "FILE (--run R | --session S) [--strip SPEC ...] [--layout NAME] -o OUT.png "
             "[--size WxH] [--autoscale]",
    .summary = "draw a run or session with the viewer's strip chart into a PNG file",
    .help =
        "Displays the selection as the viewer does and draws its strips off screen: one per\n"
        "--strip SPEC (NAME[:UNIT[:SMOOTHING_MS]]), or the strips of layout NAME from the\n"
        "viewer's settings file (--settings FILE.ini to read another), \"Default layout\" when\n"
        "neither is given. Bottoming and wheel lock events are highlighted on the travel and\n"
        "speed strips, time marks drawn as red lines. Each strip shows its channel's display\n"
        "range, or with --autoscale the span of its data. --size defaults to 1200x800.",
    .valueOptions = {"--run", "--session", "--strip", "--layout", "--settings", "-o", "--size"},
    .flagOptions = {"--autoscale"},
    .run = Plot,
});

}  // namespace qvl::cli
