// What the two sides of a ZMODEM transfer share: the channel with its reader
// and encoder, the bytes queued to go out, the progress and notes told to the
// observer, the wait for the other side to start, and the ways a transfer
// ends (our cancel goes out as the protocol's cancel sequence).
//
// One session runs one transfer on the protocol's thread; nothing here is
// shared with another thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/transfer_channel.h"
#include "transfer/transfer_report.h"
#include "transfer/zmodem_encoder.h"
#include "transfer/zmodem_reader.h"

namespace quorvel::zmodem {

class Session {
 public:
  // `direction` ("send", "receive") begins every note.
  Session(TransferChannel& channel, TransferObserver& observer, const TransferTiming& timing,
          const char* direction);

  Reader& reader() { return reader_; }
  Encoder& encoder() { return encoder_; }
  const TransferTiming& timing() const { return timing_; }
  TransferChannel& channel() { return channel_; }

  // Binary headers and subpackets with CRC-32 (else CRC-16) from now on.
  void UseCrc32(bool on) { crc32_ = on; }
  bool Crc32() const { return crc32_; }

  void QueueRaw(std::span<const uint8_t> bytes);
  void QueueHex(const Header& header);
  void QueueBinary(const Header& header);
  void QueueSubpacket(std::span<const uint8_t> data, End end);
  size_t Queued() const { return out_.size(); }
  // Writes what is queued: false when the link is lost.
  bool Flush();
  bool SendHex(const Header& header);

  // The other side's first header, waiting until the start wait (counted
  // from the first call) is over, with the seconds left in the progress;
  // `nudge` runs every reply timeout (to say again that we are there) and
  // returns false when the link is lost. kTimedOut: the wait is over.
  Got AwaitStart(const std::function<bool()>& nudge, Header* header, Encoding* encoding);

  TransferProgress& progress() { return progress_; }
  void Report() { observer_.Progressed(progress_); }
  void CountRetry();
  void BeginFile(const std::string& name, int64_t total);
  // "ZMODEM <direction> <file>: <what>", the file's name made printable.
  void Note(std::string_view what);

  // The transfer ends: the outcome so far with `status` and `detail`.
  TransferOutcome Finish(TransferStatus status, std::string detail = {});
  // The same, and we are the side that gives up: the cancel sequence tells
  // the other side to stop whatever it waits for.
  TransferOutcome Abort(TransferStatus status, std::string detail = {});
  // The ending for a read that failed (timeouts and damage are the
  // caller's): our cancel is an abort.
  TransferOutcome FinishOn(Got got);
  TransferOutcome& outcome() { return outcome_; }

 private:
  TransferChannel& channel_;
  TransferObserver& observer_;
  TransferTiming timing_;
  const char* direction_;
  Reader reader_;
  Encoder encoder_;
  std::vector<uint8_t> out_;
  bool crc32_ = false;
  int64_t startDeadline_ = -1;  // set by the first AwaitStart
  TransferProgress progress_;
  TransferOutcome outcome_;
};

// A file name fit for a note: control bytes as '?', at most 80 bytes shown.
std::string PrintableName(std::string_view name);

}  // namespace quorvel::zmodem
