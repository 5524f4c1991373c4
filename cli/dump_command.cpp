// qvl dump: the decoded samples of a log file, one tab-separated line per sample, as the viewer
// reads them: the whole of one run with ReadNext, or chosen positions with GetSample.
#include <charconv>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl::cli {
namespace {

// Lines are built in a buffer and written in large pieces: a long run has millions of them.
class TLineWriter {
 public:
  explicit TLineWriter(std::ostream& out) : out_(out) { buffer_.reserve(kFlush + 512); }
  ~TLineWriter() { Flush(); }

  void Header() {
    buffer_ += "time\tfront_count\trear_count\tfront_value\trear_value";
    for (int c = 0; c < kSampleChannelCount; ++c) buffer_ += "\tch" + std::to_string(c);
    buffer_ += '\n';
  }
  void Line(int64_t time, const TLogSample& s) {
    Number(time);
    buffer_ += '\t';
    Number(s.frontCount);
    buffer_ += '\t';
    Number(s.rearCount);
    buffer_ += '\t';
    Number(s.frontValue);
    buffer_ += '\t';
    Number(s.rearValue);
    for (int16_t v : s.channels) {
      buffer_ += '\t';
      Number(v);
    }
    buffer_ += '\n';
    if (buffer_.size() >= kFlush) Flush();
  }
  void Flush() {
    out_.write(buffer_.data(), std::streamsize(buffer_.size()));
    buffer_.clear();
  }

 private:
  static constexpr size_t kFlush = 1 << 16;
  void Number(int64_t v) {
    char text[24];
    auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    (void)ec;
    buffer_.append(text, end);
  }
  std::ostream& out_;
  std::string buffer_;
};

// The number of positions the viewer walks for a run.
int64_t RunPositions(const TDataLogStore& store, int run) {
  int64_t n = int64_t(store.RunLast(run)) - store.RunFirst(run) + 1;
  if (!store.IsImage()) n *= store.Period();
  return n;
}

std::vector<int64_t> ParsePositions(const std::string& text) {
  std::vector<int64_t> positions;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    long long v;
    if (!TryParseInt(item, v) || v < 0) throw Exception("--at expects positions: P1,P2,...");
    positions.push_back(v);
  }
  if (positions.empty()) throw Exception("--at expects positions: P1,P2,...");
  return positions;
}

int Dump(const TArgs& args, std::ostream& out, std::ostream&) {
  if (args.positional.size() != 1) throw Exception("dump needs one FILE");
  if (!args.Has("--run") && !args.Has("--at")) throw Exception("dump needs --run R or --at P,...");
  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  LoadLogFile(args.positional[0], controller, store, info);
  const long long run = args.GetInt("--run", 0);
  if (run < 0 || run >= store.RunCount())
    throw Exception(
        Format("run %lld does not exist (the file has %d runs)", run, store.RunCount()));

  TLineWriter writer(out);
  writer.Header();
  if (!args.Has("--at")) {
    store.SelectRun(int(run));
    TLogSample sample;
    const int64_t n = RunPositions(store, int(run));
    for (int64_t t = 0; t < n; ++t)
      if (store.ReadNext(t, sample)) writer.Line(t, sample);
    return 0;
  }
  const std::vector<int64_t> positions = ParsePositions(args.Get("--at"));
  if (store.IsImage()) {
    // A flash image gives random access only to what has been decoded: decode the run first, as
    // the viewer does when it shows it.
    store.SelectRun(int(run));
    TLogSample walk;
    const int64_t n = RunPositions(store, int(run));
    for (int64_t t = 0; t < n; ++t) store.ReadNext(t, walk);
  }
  for (int64_t p : positions) {
    TLogSample sample;
    store.GetSample(p, sample);
    writer.Line(p, sample);
  }
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "dump",
    .usage = "FILE (--run R | --at P1,P2,...)",
    .summary = "print the decoded samples of a log file",
    .help = "Reads the log file FILE and prints one tab-separated line per sample after a header\n"
            "line: time, front_count, rear_count, front_value, rear_value, ch0 ... ch31 (-1 for\n"
            "a channel that is not logged).\n"
            "--run R decodes run R as the viewer walks it: every position t from 0 to n-1 (n =\n"
            "last - first + 1 record indexes, times the period unless the data is a flash image)\n"
            "and prints a line when the store reports data at t.\n"
            "--at P1,P2,... prints the sample at each position P (the record index for sample and\n"
            "compact records; ticks since the start for a flash image, interpolated, after\n"
            "decoding run R, default 0).",
    .valueOptions = {"--run", "--at"},
    .flagOptions = {},
    .run = Dump,
});

}  // namespace qvl::cli
