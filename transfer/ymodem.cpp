#include "transfer/block_receiver.h"
#include "transfer/block_sender.h"
#include "transfer/safe_name.h"
#include "transfer/xymodem.h"
#include "transfer/ymodem_header.h"

namespace quorvel {
namespace {

// After a header or a file's end, the receiver asks for what comes next
// with 'C'; it may take a few answer times.
int NextAskWaitMs(const TransferTiming& timing) {
  return timing.replyTimeoutMs * 3;
}

std::vector<uint8_t> HeaderBlock(const std::vector<uint8_t>& header, BlockCheck check) {
  size_t size = header.size() < xmodem::kShortBlock ? xmodem::kShortBlock : xmodem::kLongBlock;
  return MakeBlock(0, header.data(), header.size(), size, check, 0);
}

// One file of the batch: its header once the receiver asked, its data
// once the receiver asked again, its end.
bool SendOne(BlockSender& sender, ProgressKeeper& progress, OutgoingFile& file, BlockCheck check,
             const TransferTiming& timing) {
  progress.StartFile(file.Name(), static_cast<int64_t>(file.Size()));
  if (!sender.Send(HeaderBlock(MakeYmodemHeader(file), check))) return false;
  if (!sender.AwaitStart(NextAskWaitMs(timing), false, TransferStatus::kTooManyRetries)) {
    return false;
  }
  if (!sender.SendFile(file, xmodem::kLongBlock, check) || !sender.SendEnd()) return false;
  progress.FileDone();
  return true;
}

}  // namespace

TransferOutcome YmodemSend(TransferChannel& channel,
                           std::vector<std::unique_ptr<OutgoingFile>>& files,
                           TransferObserver& observer, const TransferTiming& timing) {
  ProgressKeeper progress(observer);
  BlockSender sender(channel, progress, timing);
  std::optional<BlockCheck> check =
      sender.AwaitStart(timing.startWaitMs, true, TransferStatus::kReceiverNeverStarted);
  for (size_t i = 0; check && i < files.size(); ++i) {
    if (i > 0)
      check = sender.AwaitStart(NextAskWaitMs(timing), false, TransferStatus::kTooManyRetries);
    if (check && !SendOne(sender, progress, *files[i], *check, timing)) return *sender.Outcome();
  }
  if (check && files.size() > 0) {
    check = sender.AwaitStart(NextAskWaitMs(timing), false, TransferStatus::kTooManyRetries);
  }
  if (!check || !sender.Send(HeaderBlock({}, *check))) return *sender.Outcome();
  return progress.End(TransferStatus::kDone);
}

namespace {

// Takes one file's data after its header; false when the transfer ended.
bool ReceiveData(BlockReceiver& receiver, ProgressKeeper& progress, FileSink& sink,
                 const IncomingFile& file) {
  std::string reason;
  uint64_t got = 0;
  receiver.SetRepeatAnswer({xmodem::kAck, xmodem::kCrcStart});
  uint8_t expected = 1;
  BlockReceiver::Got next = receiver.Next(expected);
  for (; next == BlockReceiver::Got::kBlock; next = receiver.Next(++expected)) {
    receiver.SetRepeatAnswer({xmodem::kAck});
    if (!sink.Write(receiver.Data(), receiver.Size(), &reason)) {
      receiver.Fail(TransferStatus::kFileRefused, reason);
      break;
    }
    if (!receiver.Answer({xmodem::kAck})) break;
    uint64_t counted = receiver.Size();
    if (file.size && got + counted > *file.size) counted = *file.size > got ? *file.size - got : 0;
    got += counted;
    progress.AddBlock(counted);
  }
  bool whole = next == BlockReceiver::Got::kEnd && (!file.size || got >= *file.size);
  if (!sink.End(whole, &reason) && whole) {
    receiver.Fail(TransferStatus::kFileRefused, reason);
    return false;
  }
  if (next == BlockReceiver::Got::kEnd && !whole) {
    receiver.Fail(TransferStatus::kProtocolError,
                  "the file ended after " + std::to_string(got) + " of its bytes");
  }
  if (whole) progress.FileDone();
  return whole;
}

}  // namespace

TransferOutcome YmodemReceive(TransferChannel& channel, FileSink& sink, TransferObserver& observer,
                              const TransferTiming& timing) {
  ProgressKeeper progress(observer);
  BlockReceiver receiver(channel, progress, timing);
  BlockReceiver::Asking asking{timing.startWaitMs, true, false,
                               TransferStatus::kSenderNeverStarted};
  // An end of file where a header was due: after a file, the sender's repeat
  // of that end (our ACK of it was lost), answered and waited past a few
  // times; before any, a file that was never announced.
  bool afterFile = false;
  int repeatedEnds = 0;
  for (;;) {
    receiver.SetRepeatAnswer({xmodem::kAck});
    BlockReceiver::Got got = receiver.Start(0, asking);
    if (got == BlockReceiver::Got::kEnd && afterFile && ++repeatedEnds <= timing.maxRetries) {
      continue;
    }
    if (got == BlockReceiver::Got::kEnd) {
      receiver.Fail(TransferStatus::kProtocolError, "the sender ended a file it never announced");
      break;
    }
    if (got != BlockReceiver::Got::kBlock) break;
    repeatedEnds = 0;
    asking = {NextAskWaitMs(timing), false, false, TransferStatus::kTooManyRetries};
    std::string reason;
    std::optional<YmodemHeader> header =
        ParseYmodemHeader(receiver.Data(), receiver.Size(), &reason);
    if (header && header->endOfBatch) {
      if (!receiver.Answer({xmodem::kAck})) break;
      return progress.End(TransferStatus::kDone);
    }
    if (!header || !sink.Begin(header->file, &reason)) {
      receiver.Fail(TransferStatus::kFileRefused, reason);
      break;
    }
    progress.StartFile(SafeFileName(header->file.name),
                       header->file.size ? static_cast<int64_t>(*header->file.size) : -1);
    if (!receiver.Answer({xmodem::kAck, xmodem::kCrcStart})) {
      sink.End(false, &reason);
      break;
    }
    if (!ReceiveData(receiver, progress, sink, header->file)) break;
    afterFile = true;
  }
  return *receiver.Outcome();
}

}  // namespace quorvel
