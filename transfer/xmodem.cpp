#include "transfer/block_receiver.h"
#include "transfer/block_sender.h"
#include "transfer/xymodem.h"

namespace quorvel {

TransferOutcome XmodemSend(TransferChannel& channel, OutgoingFile& file, bool oneK,
                           TransferObserver& observer, const TransferTiming& timing) {
  ProgressKeeper progress(observer);
  BlockSender sender(channel, progress, timing);
  progress.StartFile(file.Name(), static_cast<int64_t>(file.Size()));
  std::optional<BlockCheck> check =
      sender.AwaitStart(timing.startWaitMs, true, TransferStatus::kReceiverNeverStarted);
  if (!check) return *sender.Outcome();
  size_t blockSize = oneK ? xmodem::kLongBlock : xmodem::kShortBlock;
  if (!sender.SendFile(file, blockSize, *check) || !sender.SendEnd()) return *sender.Outcome();
  progress.FileDone();
  return progress.End(TransferStatus::kDone);
}

TransferOutcome XmodemReceive(TransferChannel& channel, FileSink& sink, TransferObserver& observer,
                              const TransferTiming& timing, XmodemPadding padding) {
  ProgressKeeper progress(observer);
  BlockReceiver receiver(channel, progress, timing);
  std::string reason;
  if (!sink.Begin(IncomingFile{}, &reason)) {
    receiver.Fail(TransferStatus::kFileRefused, reason);
    return *receiver.Outcome();
  }
  progress.StartFile("", -1);
  // The last block is known only at the EOT after it: each block waits for
  // the next before it is written, so the padding can be taken off the last.
  std::vector<uint8_t> held;
  uint64_t written = 0;
  auto writeHeld = [&] {
    written += held.size();
    if (held.empty() || sink.Write(held.data(), held.size(), &reason)) return true;
    receiver.Fail(TransferStatus::kFileRefused, reason);
    return false;
  };
  uint8_t expected = 1;
  BlockReceiver::Got got = receiver.Start(
      expected, {timing.startWaitMs, true, true, TransferStatus::kSenderNeverStarted});
  for (; got == BlockReceiver::Got::kBlock; got = receiver.Next(++expected)) {
    if (!writeHeld()) break;
    held.assign(receiver.Data(), receiver.Data() + receiver.Size());
    if (!receiver.Answer({xmodem::kAck})) break;
    progress.AddBlock(receiver.Size());
  }
  if (got == BlockReceiver::Got::kEnd) {
    if (padding == XmodemPadding::kDrop) {
      while (!held.empty() && held.back() == xmodem::kPad) held.pop_back();
    }
    if (writeHeld()) {
      if (!sink.End(true, &reason)) return progress.End(TransferStatus::kFileRefused, reason);
      progress.SetFileBytes(written);
      progress.FileDone();
      return progress.End(TransferStatus::kDone);
    }
  }
  sink.End(false, &reason);
  return *receiver.Outcome();
}

}  // namespace quorvel
