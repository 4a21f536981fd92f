// ZMODEM over a pseudo-terminal, ours against lrzsz: 4 MiB sent by us to rz,
// sent by sz to us, and sent by sz to rz on the same kind of pair (raw, no
// relay). Each is run a few times. The best run's rate counts: lrzsz's
// receiver throws its input away after some of its answers, and on a
// pseudo-terminal, where the sender's next bytes are already there, a run
// now and then stalls for lrzsz's timeout (1 s here); the stalled runs are
// counted in the notes. The processor time each side took per MB is the
// runs' median.
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "bench_support.h"
#include "measures.h"
#include "transfer/folder_sink.h"
#include "transfer/local_file.h"
#include "transfer/zmodem.h"

namespace quorvel::bench {
namespace {

constexpr size_t kBytes = 4 << 20;
constexpr int kRuns = 5;
constexpr double kMB = 1e6;

// The channel of our side: the master of a PtyLine; lrzsz has the slave.
class MasterChannel : public TransferChannel {
 public:
  explicit MasterChannel(PtyLine& line) : line_(line) {}
  int Read(uint8_t* buffer, int capacity, int timeoutMs) override {
    return static_cast<int>(line_.ReadSome(buffer, static_cast<size_t>(capacity), timeoutMs));
  }
  bool Write(const uint8_t* bytes, int count) override {
    return line_.WriteAll(bytes, static_cast<size_t>(count), DeadlineIn(std::chrono::seconds(10)));
  }
  void DiscardInput() override {
    uint8_t dropped[4096];
    while (line_.ReadSome(dropped, sizeof dropped, 0) > 0) {
    }
  }
  bool CancelRequested() const override { return false; }

 private:
  PtyLine& line_;
};

class NoObserver : public TransferObserver {
 public:
  void Progressed(const TransferProgress&) override {}
  void Noted(std::string_view) override {}
};

// An lrzsz program with its standard input and output on `fd` (or on the
// terminal at `path`), in `directory`.
pid_t Spawn(const std::vector<std::string>& args, const std::filesystem::path& directory, int fd,
            const std::string& path = "") {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int line = path.empty() ? fd : ::open(path.c_str(), O_RDWR | O_NOCTTY);
  int quiet = ::open("/dev/null", O_WRONLY);
  if (line < 0 || ::chdir(directory.c_str()) != 0) _exit(126);
  ::dup2(line, 0);
  ::dup2(line, 1);
  ::dup2(quiet, 2);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  _exit(127);
}

// Its exit status, and the processor time it took in ms.
int Reap(pid_t pid, double* cpuMs) {
  int status = 0;
  rusage usage{};
  if (pid <= 0 || ::wait4(pid, &status, 0, &usage) != pid) return -1;
  *cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/quorvel-zmodem-XXXXXX";
    if (::mkdtemp(pattern)) root = pattern;
    std::filesystem::create_directory(root / "from");
    std::filesystem::create_directory(root / "to");
  }
  ~Scratch() { std::filesystem::remove_all(root); }
  std::filesystem::path root;
};

bool Arrived(const std::filesystem::path& file, const std::vector<uint8_t>& expected) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(file);
  return got == expected;
}

struct Run {
  double seconds = 0;
  double senderCpuMs = 0;
  double receiverCpuMs = 0;
  bool whole = false;
};

enum class Pair { kOursToRz, kSzToOurs, kSzToRz };

Run TransferOnce(Pair pair, const Scratch& scratch, const std::vector<uint8_t>& content) {
  Run run;
  const auto from = scratch.root / "from";
  const auto to = scratch.root / "to";
  NoObserver observer;
  TransferTiming timing;
  if (pair == Pair::kSzToRz) {
    termios raw{};
    ::cfmakeraw(&raw);
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return run;
    auto start = Clock::now();
    pid_t rz = Spawn({"rz", "-q", "-t", "10"}, to, master);
    pid_t sz = Spawn({"sz", "-q", "-t", "10", "file.bin"}, from, slave);
    bool ok = Reap(sz, &run.senderCpuMs) == 0 && Reap(rz, &run.receiverCpuMs) == 0;
    run.seconds = MillisecondsBetween(start, Clock::now()) / 1e3;
    ::close(master);
    ::close(slave);
    run.whole = ok && Arrived(to / "file.bin", content);
    return run;
  }
  PtyLine line;
  MasterChannel channel(line);
  double cpu = ProcessCpuMs();
  auto start = Clock::now();
  bool done = false;
  if (pair == Pair::kOursToRz) {
    pid_t rz = Spawn({"rz", "-q", "-t", "10"}, to, -1, line.Path());
    std::string reason;
    std::vector<std::unique_ptr<OutgoingFile>> files;
    files.push_back(LocalFile::Open((from / "file.bin").string(), &reason));
    done = files.back() &&
           ZmodemSend(channel, files, observer, timing).status == TransferStatus::kDone;
    run.senderCpuMs = ProcessCpuMs() - cpu;
    done = Reap(rz, &run.receiverCpuMs) == 0 && done;
  } else {
    pid_t sz = Spawn({"sz", "-q", "-t", "10", "file.bin"}, from, -1, line.Path());
    SinkOptions options;
    options.folder = to.string();
    FolderSink sink(options);
    done = ZmodemReceive(channel, sink, observer, timing).status == TransferStatus::kDone;
    run.receiverCpuMs = ProcessCpuMs() - cpu;
    done = Reap(sz, &run.senderCpuMs) == 0 && done;
  }
  run.seconds = MillisecondsBetween(start, Clock::now()) / 1e3;
  run.whole = done && Arrived(to / "file.bin", content);
  return run;
}

// The best run's rate in MB/s, the runs' median CPU of each side in ms per
// MB, and the runs that stalled or failed.
struct Figures {
  double rate = 0;
  double senderCpu = 0;
  double receiverCpu = 0;
  int stalled = 0;
  int failed = 0;
};

template <typename Value>
double Median(std::vector<Value> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Figures MeasurePair(Pair pair, const Scratch& scratch, const std::vector<uint8_t>& content) {
  std::vector<double> rates, senders, receivers;
  Figures figures;
  for (int i = 0; i < kRuns; ++i) {
    Run run = TransferOnce(pair, scratch, content);
    if (!run.whole) {
      ++figures.failed;
      continue;
    }
    rates.push_back(kBytes / kMB / run.seconds);
    if (run.seconds > 1) ++figures.stalled;
    senders.push_back(run.senderCpuMs / (kBytes / kMB));
    receivers.push_back(run.receiverCpuMs / (kBytes / kMB));
  }
  figures.rate = rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end());
  figures.senderCpu = Median(senders);
  figures.receiverCpu = Median(receivers);
  return figures;
}

std::string Stalls(const Figures& figures) {
  return std::to_string(figures.stalled) + " of " + std::to_string(kRuns) + " runs stalled; ";
}

Row RowOf(const std::string& measure, const Figures& ours, const Figures& lrzsz, bool sending) {
  Row row;
  row.measure = measure;
  row.terminal = "headless core";
  row.median = Format(ours.rate, 1) + " MB/s";
  row.p99 = row.max = "—";
  row.samples = "best of " + std::to_string(kRuns);
  row.goal = "≥ sz→rz";
  if (ours.failed > 0 || ours.rate == 0) {
    row.verdict = "failed";
    row.notes = std::to_string(ours.failed) + " runs did not arrive whole";
    return row;
  }
  double ratio = lrzsz.rate > 0 ? ours.rate / lrzsz.rate : 0;
  row.verdict = ratio >= 1 ? "met" : "missed";
  double ourCpu = sending ? ours.senderCpu : ours.receiverCpu;
  double theirCpu = sending ? lrzsz.senderCpu : lrzsz.receiverCpu;
  row.notes = Format(ratio, 2) + "× sz→rz (" + Format(lrzsz.rate, 1) + " MB/s); CPU " +
              Format(ourCpu, 1) + " ms/MB, " + (sending ? "sz " : "rz ") + Format(theirCpu, 1) +
              " ms/MB; " + Stalls(ours) + "byte-identical";
  return row;
}

}  // namespace

std::vector<Row> ZmodemTransfers() {
  std::fprintf(stderr, "bench: %s\n", kZmodemName);
  Scratch scratch;
  std::vector<uint8_t> content(kBytes);
  std::mt19937 random(4);
  for (uint8_t& byte : content) byte = static_cast<uint8_t>(random());
  std::ofstream(scratch.root / "from" / "file.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(kBytes));
  Figures lrzsz = MeasurePair(Pair::kSzToRz, scratch, content);
  Figures sent = MeasurePair(Pair::kOursToRz, scratch, content);
  Figures received = MeasurePair(Pair::kSzToOurs, scratch, content);
  Row baseline;
  baseline.measure = std::string(kZmodemName) + ", sz → rz (lrzsz alone)";
  baseline.terminal = "—";
  baseline.median = Format(lrzsz.rate, 1) + " MB/s";
  baseline.p99 = baseline.max = "—";
  baseline.samples = "best of " + std::to_string(kRuns);
  baseline.notes = "CPU sz " + Format(lrzsz.senderCpu, 1) + " ms/MB, rz " +
                   Format(lrzsz.receiverCpu, 1) + " ms/MB; " + Stalls(lrzsz) +
                   std::to_string(lrzsz.failed) + " failed";
  return {baseline, RowOf(std::string(kZmodemName) + ", ours → rz", sent, lrzsz, true),
          RowOf(std::string(kZmodemName) + ", sz → ours", received, lrzsz, false)};
}

}  // namespace quorvel::bench
