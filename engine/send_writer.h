// The one writer of the window's sends: the Send button, timed sending, the
// send list and files go out on its own thread, in the order they were queued, so no send
// however large or stalled holds the UI thread.
//
// A send fails when it cannot complete within the port's write bound for its
// length (pauses asked for by pacing are added to it): "Write com fail!" is
// posted once, the rest of that send is dropped, and the next one goes.
// txCount grows by what each write really took, as it is taken; what the
// driver took stays with it and leaves when the line lets it, so the count
// is what the device side gets. The send's
// moment (state.lastSendTime, which the interval measures from) is the moment
// its last byte was handed to the driver; a send cut short stamps the moment
// it ended. Each send holds state.wire for its whole length, so echo and
// auto-reply bytes never land inside it; replies that came meanwhile go right
// after it (see core/wire_gate.h).
//
// The writer never calls into the window: what the window should show (a new
// TX count, file progress, a message) is posted, and NewsDescriptor() turns
// readable.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/event_fd.h"
#include "core/terminal_state.h"
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

class SendWriter {
 public:
  explicit SendWriter(TerminalState& state);  // starts the writer's thread
  ~SendWriter();                              // aborts what is left and ends the thread
  SendWriter(const SendWriter&) = delete;
  SendWriter& operator=(const SendWriter&) = delete;

  // Any thread: queues `bytes` as one send.
  void QueueBytes(std::vector<uint8_t> bytes);
  // Any thread: queues the file open for reading on `file` (closed once it
  // is sent, dropped or cancelled), `size` bytes long, shown as `name`.
  void QueueFile(UniqueFd file, std::string name, uint64_t size, FilePacing pacing);

  // Something is queued or being written.
  bool Busy() const;
  // A file is queued or being sent: CancelFiles has something to end.
  bool FilesPending() const;

  // Any thread: drops queued files and ends the one being sent; other sends
  // stay.
  void CancelFiles();

  // On the thread that serves state.uiCalls: drops everything queued, ends
  // the send in progress and returns once the writer is idle. It cancels the
  // port's waits (state.port.CancelWaits) to be quick: for a link about to
  // close, or call ResumeWaits once nobody else waits on the port.
  void Abort();

  // Readable while there is news: a TX count, progress or a message.
  int NewsDescriptor() const { return news_.Descriptor(); }
  // Takes the messages posted since the last call and quiets the descriptor;
  // read the TX count and the progress after it.
  std::vector<std::string> TakeNews();
  FileSendProgress Progress() const;

 private:
  struct Job;

  void Run();
  void Send(Job& job);
  void Write(Job& job);
  bool Stopping(const Job& job) const;
  void Pause(const Job& job, int ms);
  void Count(const Job& job, const uint8_t* bytes, int count);
  void Post(std::string message);
  void SignalNews();

  TerminalState& state_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // a job queued, the thread asked to end, a pause cut
  std::deque<Job> queue_;
  bool running_ = false;
  bool quit_ = false;
  FileSendProgress progress_;
  int64_t progressStartMs_ = 0;
  std::vector<std::string> messages_;
  std::atomic<bool> abort_{false};
  std::atomic<bool> cancelFile_{false};
  std::atomic<bool> newsPending_{false};
  EventFd news_;
  std::thread thread_;
};

}  // namespace quorvel
