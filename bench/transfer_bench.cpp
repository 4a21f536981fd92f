// File transfers over a pseudo-terminal: each protocol both ways, ours on
// the terminal's live link (its serial port, receive worker and transfer
// runner) against lrzsz on the far side of the test relay, beside lrzsz
// sending to lrzsz through the same relay. Prints one row per protocol and
// way: throughput of each, their ratio, and the CPU each side spent (ours
// counts the relay's thread too; it runs in this process).
//
//   quorvel_transfer_bench [MiB] [relay delay in microseconds] [only the rows naming TEXT]
#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/line_rig.h"
#include "support/lrzsz_peer.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"
#include "transfer/transfer_runner.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;
using testing::LrzszPeer;
using testing::LrzszProcess;
using testing::RelayOptions;
using testing::TempDir;

struct Case {
  const char* name;
  TransferProtocol protocol;
  bool send;
  std::vector<std::string> peer;        // lrzsz's side against ours
  std::vector<std::string> peerSender;  // lrzsz sending to lrzsz: the sender, then
  std::vector<std::string> peerReceiver;
};

double CpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct RunResult {
  double seconds = 0;
  double ourCpu = 0;   // this process (lrzsz's run: the relay alone)
  double peerCpu = 0;  // lrzsz's processes
  bool ok = false;
};

RunResult Ours(const Case& c, const std::string& content, const RelayOptions& relay) {
  TempDir here;
  TempDir there;
  testing::WriteFile((c.send ? here : there) / "data.bin", content);
  RunResult result;
  double childBefore = CpuSeconds(RUSAGE_CHILDREN);
  // A receiver asks at once and then only every ten seconds: it waits a
  // second here so that its first request finds the transfer started, as
  // it does when a user starts the receiver after choosing the file. That
  // second is taken off the time.
  // A ZMODEM receiver answers our request whenever it comes, so it starts
  // with the transfer and no wait is taken off.
  const bool zmodem = c.protocol == TransferProtocol::kZmodem;
  const bool delayed = c.send && !zmodem;
  std::vector<std::string> command = c.peer;
  if (delayed) command.insert(command.begin() + 1, {"--delay-startup", "1"});
  LrzszPeer peer(command, there.path(), relay,
                 zmodem && c.send ? LrzszPeer::When::kLater : LrzszPeer::When::kNow);
  testing::LineRig rig;
  if (!rig.Open(peer.DevicePath())) return result;
  rig.StartWorker();
  TransferRunner runner(rig.hub, rig.door);
  TransferRequest request;
  request.protocol = c.protocol;
  request.send = c.send;
  request.paths = {(here / "data.bin").string()};
  // XMODEM carries no name; the others take the sender's.
  const bool named =
      c.protocol == TransferProtocol::kXmodem || c.protocol == TransferProtocol::kXmodem1k;
  request.sink = {here.path().string(), ExistingFiles::kNumber, named ? "data.bin" : ""};
  double cpuBefore = CpuSeconds(RUSAGE_SELF);
  auto start = Clock::now();
  if (!runner.Start(request)) return result;
  peer.Start();
  TransferState now = runner.TakeNews();
  while (now.running) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    now = runner.TakeNews();
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count() - (delayed ? 1 : 0);
  result.ourCpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
  result.ok = now.outcome && now.outcome->status == TransferStatus::kDone;
  peer.WaitExit(std::chrono::seconds(10));
  result.peerCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;
  runner.Stop();
  rig.worker.StopAndWait();
  rig.port.Close();
  return result;
}

RunResult Theirs(const Case& c, const std::string& content, const RelayOptions& relay) {
  TempDir from;
  TempDir to;
  testing::WriteFile(from / "data.bin", content);
  RunResult result;
  double childBefore = CpuSeconds(RUSAGE_CHILDREN);
  double relayBefore = CpuSeconds(RUSAGE_SELF);  // only the relay works here meanwhile
  auto start = Clock::now();
  LrzszPeer sender(c.peerSender, from.path(), relay);
  LrzszProcess receiver(c.peerReceiver, to.path(), sender.DevicePath());
  std::optional<int> status = receiver.WaitExit(std::chrono::minutes(10));
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sender.WaitExit(std::chrono::seconds(10));
  result.ok = status == 0;
  result.peerCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;
  result.ourCpu = CpuSeconds(RUSAGE_SELF) - relayBefore;
  return result;
}

// The run of median time; failed when any run failed.
RunResult Median(std::vector<RunResult> runs) {
  bool allOk = std::all_of(runs.begin(), runs.end(), [](const RunResult& r) { return r.ok; });
  std::sort(runs.begin(), runs.end(),
            [](const RunResult& a, const RunResult& b) { return a.seconds < b.seconds; });
  RunResult middle = runs[runs.size() / 2];
  middle.ok = allOk;
  return middle;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  using namespace quorvel;
  if (!LrzszProcess::Available()) {
    std::printf("%s\n", LrzszProcess::kMissing);
    return 0;
  }
  size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4;
  RelayOptions relay;
  relay.delay = std::chrono::microseconds(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 300);
  std::vector<uint8_t> bytes = testing::SeededBytes(mib << 20, 1);
  std::string content(bytes.begin(), bytes.end());
  const Case cases[] = {
      {"XMODEM send",
       TransferProtocol::kXmodem,
       true,
       {"rx", "-q", "-c", "out.bin"},
       {"sx", "-q", "data.bin"},
       {"rx", "-q", "-c", "out.bin"}},
      {"XMODEM receive",
       TransferProtocol::kXmodem,
       false,
       {"sx", "-q", "data.bin"},
       {"sx", "-q", "data.bin"},
       {"rx", "-q", "-c", "out.bin"}},
      {"XMODEM-1K send",
       TransferProtocol::kXmodem1k,
       true,
       {"rx", "-q", "-c", "out.bin"},
       {"sx", "-q", "-k", "data.bin"},
       {"rx", "-q", "-c", "out.bin"}},
      {"XMODEM-1K receive",
       TransferProtocol::kXmodem1k,
       false,
       {"sx", "-q", "-k", "data.bin"},
       {"sx", "-q", "-k", "data.bin"},
       {"rx", "-q", "-c", "out.bin"}},
      {"YMODEM send",
       TransferProtocol::kYmodem,
       true,
       {"rb", "-q"},
       {"sb", "-q", "-k", "data.bin"},
       {"rb", "-q"}},
      {"YMODEM receive",
       TransferProtocol::kYmodem,
       false,
       {"sb", "-q", "-k", "data.bin"},
       {"sb", "-q", "-k", "data.bin"},
       {"rb", "-q"}},
      {"ZMODEM send",
       TransferProtocol::kZmodem,
       true,
       {"rz", "-q"},
       {"sz", "-q", "data.bin"},
       {"rz", "-q"}},
      {"ZMODEM receive",
       TransferProtocol::kZmodem,
       false,
       {"sz", "-q", "data.bin"},
       {"sz", "-q", "data.bin"},
       {"rz", "-q"}},
  };
  std::printf("%zu MiB over a relayed pseudo-terminal (%lld us each way)\n", mib,
              static_cast<long long>(relay.delay.count()));
  std::printf(
      "| Transfer | ours KB/s | lrzsz to lrzsz KB/s | ratio | our CPU s (with the relay) | relay "
      "CPU s in lrzsz's run | lrzsz CPU s (ours / theirs) |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  const char* only = argc > 3 ? argv[3] : "";
  for (const Case& c : cases) {
    if (std::string(c.name).find(only) == std::string::npos) continue;
    // ZMODEM takes a fraction of a second, where one scheduling hiccup
    // shows: the median of several runs, each side's alternating.
    const int runs = c.protocol == TransferProtocol::kZmodem ? 5 : 1;
    std::vector<RunResult> oursRuns, theirsRuns;
    for (int i = 0; i < runs; ++i) {
      oursRuns.push_back(Ours(c, content, relay));
      theirsRuns.push_back(Theirs(c, content, relay));
    }
    RunResult ours = Median(oursRuns);
    RunResult theirs = Median(theirsRuns);
    double kb = static_cast<double>(content.size()) / 1024.0;
    std::printf("| %s | %.0f%s | %.0f%s | %.2f | %.2f | %.2f | %.2f / %.2f |\n", c.name,
                kb / ours.seconds, ours.ok ? "" : " (failed)", kb / theirs.seconds,
                theirs.ok ? "" : " (failed)", theirs.seconds / ours.seconds, ours.ourCpu,
                theirs.ourCpu, ours.peerCpu, theirs.peerCpu);
    std::fflush(stdout);
  }
  return 0;
}
