// The file send on its own: the send writer, a serial port and a
// pseudo-terminal whose device side reads as fast as it can. Unpaced it shows
// the writer's rate; paced it shows how closely the pauses are kept.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "bench_support.h"
#include "core/unique_fd.h"
#include "engine/send_writer.h"
#include "link/serial_port.h"
#include "measures.h"

namespace quorvel::bench {
namespace {

struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/quorvel-bench-XXXXXX";
    if (mkdtemp(pattern)) directory = pattern;
  }
  ~Scratch() {
    ::unlink(File().c_str());
    ::rmdir(directory.c_str());
  }
  std::string File() const { return directory + "/file.bin"; }
  std::string directory;
};

}  // namespace

Row FileSend(size_t bytes, size_t lineLength, FilePacing pacing) {
  Row row;
  row.measure = "File send, " + Format(static_cast<double>(bytes) / 1e6, 2) + " MB";
  if (pacing.lineDelayMs > 0) {
    row.measure += ", " + std::to_string(pacing.lineDelayMs) + " ms after each of " +
                   std::to_string(bytes / lineLength) + " lines";
  }
  row.terminal = "headless core";
  row.p99 = row.max = "—";
  row.samples = "1 run";
  std::fprintf(stderr, "bench: %s\n", row.measure.c_str());
  Scratch scratch;
  std::vector<uint8_t> content(bytes);
  for (size_t i = 0; i < bytes; ++i) {
    content[i] = (i + 1) % lineLength == 0 ? '\n' : static_cast<uint8_t>('a' + i % 26);
  }
  bool written;
  {
    UniqueFd out(::open(scratch.File().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    written = out && ::write(out.Get(), content.data(), bytes) == static_cast<ssize_t>(bytes);
  }
  PtyLine line;
  SerialPort port;
  if (!written || !line.Ok() ||
      !port.Open(PortTarget::Device(line.Path()), {115200, 8, kOneStopBit, kParityNone})) {
    row.verdict = "failed";
    row.notes = "no file or no line";
    return row;
  }
  LinkHub hub{port};
  SendWriter writer{hub};
  auto start = Clock::now();
  writer.QueueFile(UniqueFd(::open(scratch.File().c_str(), O_RDONLY | O_CLOEXEC)), "file.bin",
                   bytes, pacing);
  std::vector<uint8_t> got;
  bool whole = line.ReadExactly(bytes, got, DeadlineIn(std::chrono::minutes(5))) && got == content;
  double ms = MillisecondsBetween(start, Clock::now());
  writer.Abort();
  if (!whole) {
    row.verdict = "failed";
    row.notes = "the device did not get the file intact";
    return row;
  }
  if (pacing.lineDelayMs > 0) {
    double asked = static_cast<double>(pacing.lineDelayMs * (bytes / lineLength));
    row.median = Format(ms, 0) + " ms";
    row.notes = "pauses asked: " + Format(asked, 0) + " ms; over by " +
                Format((ms - asked) / static_cast<double>(bytes / lineLength), 3) +
                " ms a line; byte-identical";
  } else {
    row.median = Format(static_cast<double>(bytes) / 1e6 / (ms / 1e3), 1) + " MB/s";
    row.notes = "byte-identical on the device side";
  }
  return row;
}

}  // namespace quorvel::bench
