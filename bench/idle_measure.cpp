// The idle rows: what an open link with no traffic costs, and what a link
// waiting for its device to come back costs.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <thread>

#include "measure_common.h"
#include "measures.h"

namespace quorvel::bench {
IdleFigures SampleIdle(int seconds, pid_t worker) {
  pid_t self = static_cast<pid_t>(gettid());
  // Per thread: one that ends meanwhile (a network port's modem watch once
  // the server turned out to have no lines) counts what it did until then.
  std::map<pid_t, uint64_t> first;
  auto snapshot = [&](Switches& workerSwitches, uint64_t& others, bool start) {
    workerSwitches = worker != 0 ? TaskSwitches(worker).value_or(Switches{}) : Switches{};
    others = 0;
    for (pid_t tid : Tasks()) {
      if (tid == self) continue;  // this device thread sleeps through it
      auto switches = TaskSwitches(tid);
      if (!switches) continue;
      if (start) {
        first[tid] = switches->voluntary;
      } else {
        auto before = first.find(tid);
        others += switches->voluntary - (before != first.end() ? before->second : 0);
      }
    }
  };
  IdleFigures figures;
  Switches worker0, worker1;
  uint64_t all0 = 0, all1 = 0;
  snapshot(worker0, all0, true);
  double cpu0 = ProcessCpuMs();
  auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double cpu1 = ProcessCpuMs();
  double elapsed = MillisecondsBetween(start, Clock::now()) / 1e3;
  snapshot(worker1, all1, false);
  figures.cpuPercent = (cpu1 - cpu0) / 10.0 / elapsed;
  figures.workerWakeups = static_cast<double>(worker1.voluntary - worker0.voluntary) / elapsed;
  figures.workerInvoluntary =
      static_cast<double>(worker1.involuntary - worker0.involuntary) / elapsed;
  figures.processWakeups = static_cast<double>(all1) / elapsed;
  return figures;
}

// The link open and no traffic. With `frameWaiting`, auto-reply is on and an
// unfinished frame (no frame end yet) waits in the worker.
Row Idle(const HostFactory& make, const BenchOptions& options, bool frameWaiting,
         const Route* route) {
  std::string measure = frameWaiting ? "Idle, auto-reply on, an unfinished frame waiting"
                                     : "Idle, link open, no traffic";
  measure += ", " + std::to_string(options.idleSeconds) + " s" + (route ? route->name : "");
  auto host = make();
  Progress(measure, host->Name());
  PtyLine line;
  if (!line.Ok()) return Failed(measure, host->Name(), "no pseudo-terminal");
  IdleFigures figures;
  std::string failure;
  std::string path = route ? route->open(line.Path()) : line.Path();
  if (path.empty()) return Failed(measure, host->Name(), "the server did not start");
  bool ran = host->Run(path, [&] {
    if (frameWaiting) {
      host->EnableAutoReply("06", true, "0d");
      if (!line.WriteAll({0x01, 0x02}, DeadlineIn(kAnswerTimeout)) ||
          !host->WaitShownRxCount(2, kAnswerTimeout)) {
        failure = "the unfinished frame was not received";
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    figures = SampleIdle(options.idleSeconds, host->WorkerTid());
  });
  if (!ran) return Failed(measure, host->Name(), "the link did not open");
  if (!failure.empty()) return Failed(measure, host->Name(), failure);
  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  row.median =
      Format(figures.cpuPercent, 3) + " % CPU, " + Format(figures.workerWakeups, 1) + " wake-ups/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(options.idleSeconds) + " s";
  if (!frameWaiting) {
    row.goal = "≤ 0.05 % of a core, ≤ 5 wake-ups/s";
    row.verdict = figures.cpuPercent <= 0.05 && figures.workerWakeups <= 5 ? "met" : "missed";
  }
  row.notes = "CPU of the whole process; wake-ups of the worker thread (" +
              Format(figures.workerInvoluntary, 1) + "/s preempted); all its threads " +
              Format(figures.processWakeups, 1) + " wake-ups/s";
  return row;
}

// The device pulled while the link is open: the link waits for it to return.
// With `directoryGone` the directory of its path goes too, so no watch can
// be placed on it and the one-second look stands in.
Row Away(const HostFactory& make, const BenchOptions& options, bool directoryGone) {
  std::string measure = directoryGone ? "Idle, device away, its directory gone (one-second look)"
                                      : "Idle, device away, waiting on inotify";
  measure += ", " + std::to_string(options.idleSeconds) + " s";
  auto host = make();
  Progress(measure, host->Name());
  PtyLine line;
  if (!line.Ok()) return Failed(measure, host->Name(), "no pseudo-terminal");
  std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("quorvel-bench-away-" + std::to_string(getpid()));
  std::filesystem::path link = directory / "adapter" / "ttyUSB0";
  std::error_code error;
  std::filesystem::create_directories(link.parent_path(), error);
  std::filesystem::create_symlink(line.Path(), link, error);
  IdleFigures figures;
  std::string failure;
  bool ran = host->Run(link.string(), [&] {
    std::filesystem::remove(link);
    if (directoryGone) std::filesystem::remove(link.parent_path());
    line.Hangup();
    auto deadline = Clock::now() + kAnswerTimeout;
    while (!host->LinkWaiting()) {
      if (Clock::now() > deadline) {
        failure = "the link did not notice the hang-up";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    figures = SampleIdle(options.idleSeconds, 0);
  });
  std::filesystem::remove_all(directory, error);
  if (!ran) return Failed(measure, host->Name(), "the link did not open");
  if (!failure.empty()) return Failed(measure, host->Name(), failure);
  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  row.median = Format(figures.cpuPercent, 3) + " % CPU, " + Format(figures.processWakeups, 1) +
               " wake-ups/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(options.idleSeconds) + " s";
  // Inotify serves: nothing wakes. The one-second look wakes the UI thread
  // once a second, and the look itself may wake the loop once more.
  double limit = directoryGone ? 3 : 1;
  row.goal = directoryGone ? "≤ 3 wake-ups/s" : "≤ 1 wake-up/s";
  row.verdict = figures.processWakeups <= limit ? "met" : "missed";
  row.notes =
      "CPU and wake-ups of the whole process, every thread but the device's; "
      "no worker runs while the device is away";
  return row;
}

}  // namespace quorvel::bench
