// qvl live listen / live send: the live channel between the tool and a viewer, without windows.
// `listen` is a viewer in live mode that prints what arrives; `send` records polls from the
// logger and hands them over as the tool's "View recorded data graphically" does.
#include <unistd.h>

#include <chrono>
#include <ostream>

#include "cli/command.h"
#include "cli/logger_session.h"
#include "core/device/controller.h"
#include "core/device/live_channel.h"
#include "core/device/live_sample.h"
#include "core/logdata/data_log_store.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl::cli {
namespace {

using TClock = std::chrono::steady_clock;

void PrintConfiguration(TController& c, std::ostream& out) {
  const TConfigBlock& b = c.ConfigBlock();
  auto rate = [](int32_t us) { return us > 0 ? Format("%g Hz", 1e6 / us) : std::string("off"); };
  out << "configuration: controller type " << c.ControllerType() << ", suspension "
      << rate(b.I32(cfg::kSuspensionPeriod)) << ", acceleration " << rate(b.I32(cfg::kAccelPeriod))
      << ", " << c.CustomSensors().size() << " custom channel(s)\n";
}

int Listen(const TArgs& args, std::ostream& out, std::ostream&) {
  const long long wanted = args.GetInt("--messages", 0);
  const long long timeoutS = args.GetInt("--timeout", 0);
  const uint32_t me = uint32_t(::getpid());
  TLiveEndpoint endpoint(me);
  auto block = TLiveSharedBlock::OpenForViewer(me);
  out << "listening as viewer " << me << " for tool " << block->ToolId() << "\n" << std::flush;
  TController model;
  TLiveReceiver receiver(model);
  std::unique_ptr<TDataLogStore> store;
  receiver.OnConfiguration = [&] { PrintConfiguration(model, out); };
  receiver.OnSamples = [&](TLogArray samples) {
    out << "samples: " << samples.size();
    if (!samples.empty())
      out << " (" << Format("%.1f", samples.front().tick / 10.0) << " s to "
          << Format("%.1f", samples.back().tick / 10.0) << " s)";
    out << "\n";
    ReplaceLiveSamples(store, std::move(samples));
    out << "runs: " << store->RunCount() << ", sessions: " << store->SessionCount() << "\n";
  };
  long long messages = 0;
  const auto deadline = TClock::now() + std::chrono::seconds(timeoutS);
  while (wanted == 0 || messages < wanted) {
    if (timeoutS > 0 && TClock::now() >= deadline) break;
    messages += endpoint.WaitAndProcess(200, [&](uint32_t id, const std::vector<uint8_t>& bytes) {
      if (id != kLiveConfigMessage && id != kLiveSamplesMessage)
        out << "ignored message " << id << " (" << bytes.size() << " bytes)\n";
      try {
        receiver.Handle(id, bytes);
      } catch (const std::exception& e) {
        out << "configuration refused: " << e.what() << "\n";
      }
    });
    out << std::flush;
  }
  return wanted == 0 || messages >= wanted ? 0 : 1;
}

int Send(const TArgs& args, std::ostream& out, std::ostream&) {
  const long long seconds = args.GetInt("--seconds", 5);
  if (seconds < 0) throw Exception("--seconds must not be negative");
  const uint32_t me = uint32_t(::getpid());
  TLiveEndpoint endpoint(me);
  auto block = TLiveSharedBlock::CreateForTool(me);
  if (!block) throw Exception("Error creating communication channel");
  TLoggerSession session;
  session.Connect();
  TDataLogDynArray recording;
  recording.Start();
  const auto end = TClock::now() + std::chrono::seconds(seconds);
  while (TClock::now() < end) {
    int left =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count());
    if (session.WaitForValues(1, std::max(1, left))) recording.Append(session.Controller());
    if (!session.Controller().Connected()) throw Exception("Connection to the logger lost");
  }
  out << "recorded " << recording.Count() << " samples in " << seconds << " s\n" << std::flush;
  // Starting the viewer is the caller's job: wait for one to register, or not at all.
  SendLiveView(*block, session.Controller(), recording.Samples(), nullptr,
               args.Has("--no-start") ? 0 : kViewerStartWaitMs);
  out << "sent the configuration and " << recording.Count() << " samples to viewer "
      << block->ViewerId() << "\n";
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "live listen",
    .usage = "[--messages N] [--timeout S]",
    .summary = "act as a viewer in live mode and print what the tool sends",
    .help = "Registers as the live viewer in the shared block of a running tool (or `qvl live\n"
            "send`) and prints each configuration and sample block that arrives. Stops after N\n"
            "messages or S seconds when given. Without a tool: \"Error creating communication\n"
            "channel\".",
    .valueOptions = {"--messages", "--timeout"},
    .flagOptions = {},
    .run = Listen,
});

QVL_CLI_COMMAND({
    .name = "live send",
    .usage = "[--seconds S] [--no-start]",
    .summary = "record S seconds of polls and send them to a live viewer",
    .help = "Connects to the logger on the chosen link, records S seconds (default 5) of polls as\n"
            "the tool does, then sends the configuration and all samples to the live viewer.\n"
            "Starting the viewer (`qvl live listen`) is the caller's job: without one it fails\n"
            "with \"Cannot open viewer\" after 10 s, or at once with --no-start.",
    .valueOptions = {"--seconds"},
    .flagOptions = {"--no-start"},
    .run = Send,
});

}  // namespace qvl::cli
