#include <algorithm>
#include <string>

#include "sending/checksum.h"
#include "transfer/zmodem.h"
#include "transfer/zmodem_file_info.h"
#include "transfer/zmodem_sender.h"

namespace quorvel {
namespace zmodem {
namespace {

constexpr uint64_t kLargestFile = 0xffffffffu;
constexpr int kFinTries = 3;

}  // namespace

TransferOutcome Sender::Run() {
  for (auto& file : files_) {
    if (file->Size() > kLargestFile) {
      session_.progress().file = file->Name();
      session_.Finish(TransferStatus::kFileUnreadable,
                      PrintableName(file->Name()) + ": 4 GiB or more, beyond ZMODEM's reach");
      return session_.outcome();
    }
  }
  if (!AwaitReceiver()) return session_.outcome();
  uint64_t bytesLeft = 0;
  for (auto& file : files_) bytesLeft += file->Size();
  for (size_t i = 0; i < files_.size(); ++i) {
    OutgoingFile& file = *files_[i];
    Step step = OfferFile(file, static_cast<int>(files_.size() - i), bytesLeft);
    if (step == Step::kDone) step = SendData(file);
    if (step == Step::kEnded) return session_.outcome();
    if (step == Step::kDone) {
      ++session_.outcome().files;
      session_.Note("done");
    } else if (step == Step::kDropped) {
      Dropped(file);
    } else {
      session_.Note("skipped by the receiver");
    }
    session_.outcome().bytes += step == Step::kDone ? size_ : 0;
    bytesLeft -= file.Size();
  }
  return Close();
}

bool Sender::AwaitReceiver() {
  static constexpr uint8_t kWakeReceiver[] = {'r', 'z', '\r'};
  session_.QueueRaw(kWakeReceiver);
  auto ask = [this] { return session_.SendHex(Header::At(Type::kRqInit, 0)); };
  bool asked = ask();
  for (;;) {
    Header header;
    Encoding encoding;
    Got got = asked ? session_.AwaitStart(ask, &header, &encoding) : Got::kLinkLost;
    if (got == Got::kTimedOut) {
      Fail(TransferStatus::kReceiverNeverStarted);
      return false;
    }
    if (got != Got::kOk) {
      FailOn(got);
      return false;
    }
    if (header.type == Type::kRInit) {
      TakeReceiverInit(header);
      return true;
    }
    // A challenge is answered with its own number; anything else (our
    // ZRQINIT echoed by a shell, say) waits on.
    if (header.type == Type::kChallenge) asked = session_.SendHex(Header{Type::kAck, header.bytes});
  }
}

void Sender::TakeReceiverInit(const Header& init) {
  const uint8_t can = init.Zf0();
  session_.UseCrc32(can & kCanCrc32);
  if (can & kEscapeControls) session_.encoder().EscapeAllControls();
  streaming_ = (can & kCanFullDuplex) && (can & kCanOverlapIo);
  // A receiver's buffer larger than what we keep in flight is filled no
  // further than that.
  window_ = std::min<uint32_t>(init.bytes[0] | init.bytes[1] << 8, FlightWindow::kLeast);
  subpacket_ = window_ != 0 ? std::min<size_t>(window_, kSubpacketLength) : kSubpacketLength;
}

Sender::Step Sender::OfferFile(OutgoingFile& file, int filesLeft, uint64_t bytesLeft) {
  size_ = file.Size();
  position_ = 0;
  retryAt_ = ~0ull;
  retriesHere_ = 0;
  session_.BeginFile(file.Name(), static_cast<int64_t>(size_));
  session_.Note("started");
  const std::vector<uint8_t> info = FileInfoBytes(file, filesLeft, bytesLeft);
  bool offer = true;
  for (;;) {
    if (offer) {
      session_.QueueBinary(Header::Flags(Type::kFile, kConvertBinary));
      session_.QueueSubpacket(info, End::kCrcW);
      if (!session_.Flush()) return Fail(TransferStatus::kLinkLost);
    }
    Header header;
    Encoding encoding;
    Got got = session_.reader().ReadHeader(session_.timing().replyTimeoutMs, &header, &encoding);
    offer = true;
    if (got == Got::kTimedOut || got == Got::kGarbled) {
      if (Retry() == Step::kEnded) return Step::kEnded;
      continue;
    }
    if (got != Got::kOk) return FailOn(got);
    if (EndsTransfer(header.type)) return ReceiverEnded();
    switch (header.type) {
      case Type::kRPos:
        position_ = std::min<uint64_t>(header.Position(), size_);
        retriesHere_ = 0;
        return Step::kDone;
      case Type::kSkip:
        return Step::kSkipped;
      case Type::kCrc:
        if (AnswerCrcRequest(file, header) == Step::kEnded) return Step::kEnded;
        offer = false;
        break;
      case Type::kNak:  // the offer arrived garbled
        if (Retry() == Step::kEnded) return Step::kEnded;
        break;
      default:
        // A stray header, such as the second ZRINIT of a receiver that was
        // already running when our ZRQINIT came: wait on for the answer (an
        // offer it did not hear is offered again when the wait is over).
        offer = false;
        break;
    }
  }
}

// The receiver gave the file up (a disk it could not write, say) and waits
// for the next: what was on its way is ended, the batch goes on, and the
// transfer will not end as done.
void Sender::Dropped(const OutgoingFile& file) {
  session_.QueueSubpacket({}, End::kCrcE);
  const std::string where = "stopped taking it at " + std::to_string(acked_) + " bytes";
  session_.Note("the receiver " + where);
  if (dropped_.empty()) dropped_ = PrintableName(file.Name()) + ": the receiver " + where;
}

// The receiver that has a file of this name already may ask for its CRC-32,
// to see whether it is the same.
Sender::Step Sender::AnswerCrcRequest(OutgoingFile& file, const Header& request) {
  uint64_t length = request.Position() == 0 ? size_ : std::min<uint64_t>(request.Position(), size_);
  uint32_t crc = 0;
  for (uint64_t at = 0; at < length;) {
    std::string reason;
    size_t want = static_cast<size_t>(std::min<uint64_t>(chunk_.size(), length - at));
    int64_t got = file.ReadAt(at, chunk_.data(), want, &reason);
    if (got < 0)
      return Abort(TransferStatus::kFileUnreadable, PrintableName(file.Name()) + ": " + reason);
    if (got == 0) break;
    crc = Crc32Continue(crc, std::span<const uint8_t>(chunk_.data(), static_cast<size_t>(got)));
    at += static_cast<uint64_t>(got);
  }
  if (!session_.SendHex(Header::At(Type::kCrc, crc))) return Fail(TransferStatus::kLinkLost);
  return Step::kDone;
}

Sender::Step Sender::SendData(OutgoingFile& file) {
  for (;;) {
    Step step = StreamFrom(file);
    if (step != Step::kDone) {
      if (step == Step::kGoBack) continue;
      return step;
    }
    session_.QueueBinary(Header::At(Type::kEof, position_));
    if (!session_.Flush()) return Fail(TransferStatus::kLinkLost);
    step = AwaitEofAnswer();
    if (step != Step::kGoBack) return step;
  }
}

Sender::Step Sender::AwaitEofAnswer() {
  for (;;) {
    Header header;
    Encoding encoding;
    Got got = session_.reader().ReadHeader(session_.timing().replyTimeoutMs, &header, &encoding);
    if (got == Got::kTimedOut || got == Got::kGarbled) return Retry();  // ZEOF again
    if (got != Got::kOk) return FailOn(got);
    if (EndsTransfer(header.type)) return ReceiverEnded();
    switch (header.type) {
      case Type::kRInit:
        TakeReceiverInit(header);
        return Step::kDone;
      case Type::kRPos:
        return GoBack(header);
      case Type::kSkip:
        return Step::kSkipped;
      default:
        break;  // a late ZACK
    }
  }
}

// Every file went, or was skipped or dropped by the receiver: the session
// ends. What the receiver does now cannot undo that, so a ZFIN unanswered
// still ends as the files did.
TransferOutcome Sender::Close() {
  session_.progress().file.clear();
  for (int attempt = 0; attempt < kFinTries; ++attempt) {
    if (!session_.SendHex(Header::At(Type::kFin, 0))) break;
    Header header;
    Encoding encoding;
    Got got = session_.reader().ReadHeader(session_.timing().replyTimeoutMs, &header, &encoding);
    if (got == Got::kOk && header.type == Type::kFin) {
      static constexpr uint8_t kOverAndOut[] = {'O', 'O'};
      session_.QueueRaw(kOverAndOut);
      session_.Flush();
      break;
    }
    if (got != Got::kOk && got != Got::kTimedOut && got != Got::kGarbled) break;
  }
  if (!dropped_.empty()) return session_.Finish(TransferStatus::kFileRefused, dropped_);
  return session_.Finish(TransferStatus::kDone);
}

}  // namespace zmodem

TransferOutcome ZmodemSend(TransferChannel& channel,
                           std::vector<std::unique_ptr<OutgoingFile>>& files,
                           TransferObserver& observer, const TransferTiming& timing) {
  return zmodem::Sender(channel, files, observer, timing).Run();
}

}  // namespace quorvel
