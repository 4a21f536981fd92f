// A file transfer on the live link, on a thread of its own: the protocol the
// user chose, the files it reads or the folder it writes, a channel over the
// link (transfer/link_channel.h), and what the window shows of it.
//
// The runner never calls into the window: it keeps a snapshot of the
// progress under a short lock, and NewsDescriptor() turns readable when the
// progress moved or the transfer ended; the window reads it at its pace.
// The session view gets event lines ("YMODEM send firmware.bin: started",
// "...: 262,144 bytes in 3.1 s, 2 retries") through the link's listeners.
//
// Threads: Start, Stop and TakeNews on the UI thread; Cancel and
// KeepPartial from any. The runner outlives every receive worker of the
// link (the worker may hold its channel for a moment); Stop before the link
// closes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/link_hub.h"
#include "core/news_flag.h"
#include "core/result.h"
#include "engine/send_writer.h"
#include "transfer/folder_sink.h"
#include "transfer/link_channel.h"
#include "transfer/transfer_report.h"
#include "transfer/xymodem.h"

namespace quorvel {

struct TransferRequest {
  TransferProtocol protocol = TransferProtocol::kYmodem;
  bool send = true;
  std::vector<std::string> paths;  // to send (XMODEM takes one)
  SinkOptions sink;                // to receive into (XMODEM: sink.fixedName is the file)
  XmodemPadding padding = XmodemPadding::kDrop;
  TransferTiming timing;
};

struct TransferState {
  bool running = false;
  TransferProtocol protocol = TransferProtocol::kYmodem;
  bool send = true;
  TransferProgress progress;
  double seconds = 0;                      // since the transfer began
  std::optional<TransferOutcome> outcome;  // once it ended
  std::vector<FolderSink::Saved> saved;    // received files kept, once it ended
};

// "YMODEM send firmware.bin" and the like, as event lines and messages start.
std::string TransferTitle(TransferProtocol protocol, bool send, const std::string& files);
// "262,144 bytes in 3.1 s, 2 retries".
std::string TransferSummary(uint64_t bytes, double seconds, int retries);

class TransferRunner : private TransferObserver {
 public:
  TransferRunner(LinkHub& hub, SendWriter& door) : hub_(hub), channel_(hub, door) {}
  ~TransferRunner() override { Stop(); }
  TransferRunner(const TransferRunner&) = delete;
  TransferRunner& operator=(const TransferRunner&) = delete;

  // Starts `request`. Fails, with nothing started, when a transfer runs
  // already, the link is not open, the protocol is not built in, or a file
  // to send cannot be opened.
  Done Start(TransferRequest request);
  // The protocol's cancel goes out and the transfer ends.
  void Cancel() { channel_.Cancel(); }
  // A received file cut short is kept (under a free name) instead of deleted.
  void KeepPartial(bool keep);
  // The link is closing or the window going: cancels the transfer, gives the
  // protocol up to `graceMs` to tell the other side (its cancel sequence),
  // then ends it at once and waits for its thread. Harmless when none runs.
  void Stop(int graceMs = 0);

  bool Running() const;
  int NewsDescriptor() const { return news_.Descriptor(); }
  // Quiets the descriptor and returns the state now (the outcome once).
  TransferState TakeNews();

 private:
  void Run(TransferRequest request, std::vector<std::unique_ptr<OutgoingFile>> files);
  TransferOutcome Dispatch(const TransferRequest& request,
                           std::vector<std::unique_ptr<OutgoingFile>>& files);
  void Progressed(const TransferProgress& progress) override;
  void Noted(std::string_view text) override;
  LinkHub& hub_;
  LinkChannel channel_;
  std::unique_ptr<FolderSink> sink_;  // the transfer's, while it runs
  mutable std::mutex mutex_;
  TransferState now_;
  int64_t startedMs_ = 0;
  std::atomic<bool> keepPartial_{false};
  NewsFlag news_;
  std::thread thread_;
};

}  // namespace quorvel
