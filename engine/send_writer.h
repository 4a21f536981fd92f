// The one door through which every send reaches one line, in order: the
// window's sends (the Send button, the timer, the send list, files, a
// console's keys, a script's sends) go out on the door's own thread in the
// order they were queued, so no send however large or stalled holds the
// thread that asked for it; the receive worker's replies (echo, auto-reply,
// answer rules) are written at once on its own thread when no send holds the
// wire, and right after the send that holds it otherwise; a file transfer
// holds the wire for its whole length and writes through the door.
//
// A queued send fails when it cannot complete within the port's write bound
// for its length (pauses asked for by pacing are added to it): "Write com
// fail!" is posted to the window once (core/link_news.h), the rest of that
// send is dropped, and the next one goes. The TX count grows by what each
// write really took, as it is taken; what the driver took stays with it and
// leaves when the line lets it, so the count is what the device side gets.
// A send's moment (the counters' lastSendTime, which the interval measures
// from) is the moment its last byte was handed to the driver; a send cut
// short stamps the moment it ended. A reply's moment is when it starts, and
// its bytes count even when its write fails.
//
// Every send ends with a completion: `done` runs on the door's thread once
// its last byte was written (and the line drained), or it failed or was
// cancelled; a send dropped unwritten by Abort or the door's end is told on
// that caller's thread. So a sequence can wait for each send without
// looking. The door never calls into a window: what the window should show
// is news.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/link_hub.h"
#include "core/sliced_write.h"
#include "core/unique_fd.h"

namespace quorvel {

// Pauses for a device without flow control, in milliseconds.
struct FilePacing {
  int lineDelayMs = 0;  // after each line feed
  int byteDelayMs = 0;  // after each byte
  bool operator==(const FilePacing&) const = default;
};

struct FileSendProgress {
  bool active = false;  // a file is being sent now
  std::string name;
  uint64_t sent = 0;
  uint64_t total = 0;
  double seconds = 0;  // since the file's send began
};

// How a send ended.
struct SendResult {
  uint64_t written = 0;   // bytes the device side took
  bool complete = false;  // all of them, and the line drained
  std::string failure;    // why not, as the window shows it; "" when complete or cancelled
};
using SendDone = std::function<void(const SendResult&)>;

class SendWriter {
 public:
  explicit SendWriter(LinkHub& hub);  // starts the door's thread
  ~SendWriter();                      // drops what is left (each told) and ends the thread
  SendWriter(const SendWriter&) = delete;
  SendWriter& operator=(const SendWriter&) = delete;

  // Any thread: queues `bytes` as one send. `done` (may be empty) is told
  // when it has ended; it must be quick and must not wait for another send.
  void Queue(std::vector<uint8_t> bytes, SendDone done = {});
  // Any thread: queues the file open for reading on `file` (closed once it
  // is sent, dropped or cancelled), `size` bytes long, shown as `name`.
  void QueueFile(UniqueFd file, std::string name, uint64_t size, FilePacing pacing,
                 SendDone done = {});

  // The receive worker's replies: written now, whole, when no send holds the
  // wire; otherwise kept for the holder to write right after its own bytes.
  // Never waits for a send. Does not look at whether the port is open.
  void Reply(const uint8_t* bytes, int count);

  // A file transfer's hold on the wire, on the transfer's thread: HoldWire
  // waits for a send in progress to end and takes the wire (false, without
  // it, once `abandon` is set); WriteHeld writes while it is held, counted
  // and heard by the listeners that hear transfers; ReleaseWire gives it
  // back after writing the replies left meanwhile (dropped when `dropReplies`).
  bool HoldWire(const std::atomic<bool>& abandon);
  WriteEnd WriteHeld(const uint8_t* bytes, int count, const std::atomic<bool>& abandon);
  void ReleaseWire(bool dropReplies);

  // Something is queued or being written.
  bool Busy() const;
  // A file is queued or being sent: CancelFiles has something to end.
  bool FilesPending() const;

  // Any thread: drops queued files and ends the one being sent; other sends
  // stay.
  void CancelFiles();

  // On the thread that serves the hub's uiCalls: drops everything queued,
  // ends the send in progress and returns once the door is idle. It cancels
  // the port's waits (port.CancelWaits) to be quick: for a link about to
  // close, or call ResumeWaits once nobody else waits on the port.
  void Abort();

  FileSendProgress Progress() const;

 private:
  struct Job;

  void Run();
  void Send(Job& job);
  void Write(Job& job);
  bool Stopping(const Job& job) const;
  void Pause(const Job& job, int ms);
  void Count(Job& job, const uint8_t* bytes, int count);
  void WriteLeftReplies(bool drop);

  LinkHub& hub_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // a job queued, the thread asked to end, a pause cut
  std::deque<Job> queue_;
  bool running_ = false;
  bool quit_ = false;
  FileSendProgress progress_;
  int64_t progressStartMs_ = 0;
  std::atomic<bool> abort_{false};
  std::atomic<bool> cancelFile_{false};
  std::thread thread_;
};

}  // namespace quorvel
