// The receiving side of ZMODEM. Timing is the receiver's: it waits for each
// header and subpacket up to the reply timeout and, when nothing or
// something damaged comes, asks again (ZRINIT between files, ZRPOS at the
// last good byte within one), up to the retry limit in a row. A ZEOF that
// does not match what arrived is let pass: the data it lacks is coming.
#include <algorithm>
#include <optional>
#include <string>

#include "transfer/zmodem.h"
#include "transfer/zmodem_file_info.h"
#include "transfer/zmodem_receiver.h"
#include "transfer/zmodem_session.h"

namespace quorvel {
namespace zmodem {
namespace {

constexpr uint8_t kSenderEscapesControls = 0x40;  // ZSINIT's TESCCTL
constexpr int kOverAndOutWaitMs = 500;

class Receiver {
 public:
  Receiver(const ReceiverOffer& offer, TransferChannel& channel, FileSink& sink,
           TransferObserver& observer, const TransferTiming& timing)
      : offer_(offer), sink_(sink), session_(channel, observer, timing, "receive") {}

  TransferOutcome Run();

 private:
  // What a step came to; kEnded: the outcome is set.
  enum class Step { kNext, kFile, kEnded };

  bool SendInit();
  bool Send(const Header& header);
  Step AwaitFile();
  Step TakeFile(Encoding encoding);
  Step TakeSessionInit(const Header& header, Encoding encoding);
  Step RefuseCommand(Encoding encoding);
  Step Close();
  Step ReceiveFile();
  Step ReceiveData(Encoding encoding);
  bool Keep(const std::vector<uint8_t>& data);
  Step EndFile();
  Step AskAgain(std::optional<Header> ask);
  Step Finish(TransferStatus status, std::string detail = {});
  Step Abort(TransferStatus status, std::string detail = {});
  Step FailOn(Got got);
  bool Positioned(const Header& header) const {
    return header.Position() == static_cast<uint32_t>(position_);
  }
  void Problem(TransferStatus status, const std::string& what);

  ReceiverOffer offer_;
  FileSink& sink_;
  Session session_;
  std::vector<uint8_t> data_;
  bool started_ = false;   // the sender has been heard
  bool fileOpen_ = false;  // the sink has a file begun
  std::optional<uint64_t> declared_;
  uint64_t position_ = 0;  // of the file in hand: bytes that arrived whole
  int errorsHere_ = 0;     // retries in a row
  TransferStatus problemStatus_ = TransferStatus::kDone;  // the first file that went wrong
  std::string problem_;
};

TransferOutcome Receiver::Run() {
  data_.reserve(kMaxSubpacket);
  if (!SendInit()) {
    Finish(TransferStatus::kLinkLost);
  } else {
    while (AwaitFile() == Step::kFile && ReceiveFile() != Step::kEnded) {
    }
  }
  std::string ignored;
  if (fileOpen_) sink_.End(false, &ignored);
  return session_.outcome();
}

bool Receiver::SendInit() {
  uint8_t can = 0;
  if (offer_.fullDuplex) can |= kCanFullDuplex | kCanOverlapIo;
  if (offer_.crc32) can |= kCanCrc32;
  if (offer_.escapeControls) can |= kEscapeControls;
  Header init = Header::Flags(Type::kRInit, can);
  init.bytes[0] = static_cast<uint8_t>(offer_.windowBytes);
  init.bytes[1] = static_cast<uint8_t>(offer_.windowBytes >> 8);
  return Send(init);
}

bool Receiver::Send(const Header& header) {
  return session_.SendHex(header);
}

// Between files: until the sender offers one (kFile) or ends the session.
Receiver::Step Receiver::AwaitFile() {
  for (;;) {
    if (session_.channel().CancelRequested()) return Abort(TransferStatus::kCancelledByUser);
    Header header;
    Encoding encoding;
    Got got = started_ ? session_.reader().ReadHeader(session_.timing().replyTimeoutMs, &header,
                                                      &encoding)
                       : session_.AwaitStart([this] { return SendInit(); }, &header, &encoding);
    if (got == Got::kTimedOut && !started_) return Finish(TransferStatus::kSenderNeverStarted);
    if (got == Got::kTimedOut || got == Got::kGarbled) {
      Step step =
          AskAgain(got == Got::kGarbled ? std::optional(Header::At(Type::kNak, 0)) : std::nullopt);
      if (step == Step::kEnded) return step;
      continue;
    }
    if (got != Got::kOk) return FailOn(got);
    started_ = true;
    errorsHere_ = 0;
    Step step = Step::kNext;
    switch (header.type) {
      case Type::kFile:
        step = TakeFile(encoding);
        break;
      case Type::kFin:
        return Close();
      case Type::kSInit:
        step = TakeSessionInit(header, encoding);
        break;
      case Type::kCommand:
        step = RefuseCommand(encoding);
        break;
      case Type::kData:  // for a file we skipped and the sender did not hear it
        if (!Send(Header::At(Type::kSkip, 0))) step = Finish(TransferStatus::kLinkLost);
        break;
      case Type::kFreeCnt:  // 0: no count known
      case Type::kChallenge:
        if (!Send(Header{Type::kAck,
                         header.type == Type::kChallenge ? header.bytes : Header{}.bytes})) {
          step = Finish(TransferStatus::kLinkLost);
        }
        break;
      case Type::kRqInit:
      case Type::kNak:
      case Type::kEof:  // the sender did not hear the ZRINIT after its last file
        if (!SendInit()) step = Finish(TransferStatus::kLinkLost);
        break;
      default:
        break;
    }
    if (step != Step::kNext) return step;
  }
}

Receiver::Step Receiver::TakeFile(Encoding encoding) {
  End end;
  Got got = session_.reader().ReadSubpacket(encoding == Encoding::kBin32,
                                            session_.timing().replyTimeoutMs, &data_, &end);
  if (got == Got::kTimedOut || got == Got::kGarbled) return AskAgain(Header::At(Type::kNak, 0));
  if (got != Got::kOk) return FailOn(got);
  IncomingFile file = ParseFileInfo(data_);
  constexpr uint64_t kLargestTotal = INT64_MAX;
  session_.BeginFile(file.name,
                     file.size ? static_cast<int64_t>(std::min(*file.size, kLargestTotal)) : -1);
  session_.Note("started");
  std::string reason;
  if (!sink_.Begin(file, &reason)) {
    Problem(TransferStatus::kFileRefused, reason);
    return Send(Header::At(Type::kSkip, 0)) ? Step::kNext : Finish(TransferStatus::kLinkLost);
  }
  fileOpen_ = true;
  declared_ = file.size;
  position_ = 0;
  return Send(Header::At(Type::kRPos, 0)) ? Step::kFile : Finish(TransferStatus::kLinkLost);
}

Receiver::Step Receiver::TakeSessionInit(const Header& header, Encoding encoding) {
  End end;
  Got got = session_.reader().ReadSubpacket(encoding == Encoding::kBin32,
                                            session_.timing().replyTimeoutMs, &data_, &end);
  if (got == Got::kTimedOut || got == Got::kGarbled) return AskAgain(Header::At(Type::kNak, 0));
  if (got != Got::kOk) return FailOn(got);
  // The attention string is not needed: this receiver only ever interrupts
  // a sender that looks at the back channel.
  if (header.Zf0() & kSenderEscapesControls) session_.encoder().EscapeAllControls();
  return Send(Header::At(Type::kAck, 0)) ? Step::kNext : Finish(TransferStatus::kLinkLost);
}

// A command for this machine to run: never run, answered as failed.
Receiver::Step Receiver::RefuseCommand(Encoding encoding) {
  End end;
  Got got = session_.reader().ReadSubpacket(encoding == Encoding::kBin32,
                                            session_.timing().replyTimeoutMs, &data_, &end);
  if (got == Got::kTimedOut || got == Got::kGarbled) return AskAgain(Header::At(Type::kNak, 0));
  if (got != Got::kOk) return FailOn(got);
  session_.Note("refused a command from the sender");
  return Send(Header::At(Type::kCompl, 1)) ? Step::kNext : Finish(TransferStatus::kLinkLost);
}

Receiver::Step Receiver::Close() {
  session_.progress().file.clear();
  if (Send(Header::At(Type::kFin, 0))) session_.reader().SkipOverAndOut(kOverAndOutWaitMs);
  return Finish(problemStatus_, problem_);
}

// One file, from its first ZRPOS to its ZEOF.
Receiver::Step Receiver::ReceiveFile() {
  for (;;) {
    if (session_.channel().CancelRequested()) return Abort(TransferStatus::kCancelledByUser);
    Header header;
    Encoding encoding;
    Got got = session_.reader().ReadHeader(session_.timing().replyTimeoutMs, &header, &encoding);
    Step step = Step::kNext;
    if (got == Got::kTimedOut || got == Got::kGarbled) {
      step = AskAgain(Header::At(Type::kRPos, position_));
    } else if (got != Got::kOk) {
      return FailOn(got);
    } else if (header.type == Type::kData) {
      step =
          Positioned(header) ? ReceiveData(encoding) : AskAgain(Header::At(Type::kRPos, position_));
    } else if (header.type == Type::kEof) {
      if (Positioned(header)) return EndFile();
    } else if (header.type == Type::kFile || header.type == Type::kNak) {
      // It did not hear where to begin.
      if (!Send(Header::At(Type::kRPos, position_))) return Finish(TransferStatus::kLinkLost);
    } else if (header.type == Type::kSInit) {
      step = TakeSessionInit(header, encoding);
    } else if (header.type == Type::kFin) {
      Send(Header::At(Type::kFin, 0));
      return Finish(TransferStatus::kCancelledByPeer,
                    "the sender ended the session in the middle of " +
                        PrintableName(session_.progress().file));
    }
    if (step == Step::kEnded) return step;
  }
}

Receiver::Step Receiver::ReceiveData(Encoding encoding) {
  for (;;) {
    if (session_.channel().CancelRequested()) return Abort(TransferStatus::kCancelledByUser);
    End end;
    Got got = session_.reader().ReadSubpacket(encoding == Encoding::kBin32,
                                              session_.timing().replyTimeoutMs, &data_, &end);
    if (got == Got::kTimedOut || got == Got::kGarbled) {
      return AskAgain(Header::At(Type::kRPos, position_));
    }
    if (got != Got::kOk) return FailOn(got);
    if (!Keep(data_)) return Step::kEnded;
    if (!data_.empty()) errorsHere_ = 0;
    position_ += data_.size();
    session_.progress().bytes = position_;
    ++session_.progress().blocks;
    session_.Report();
    if (end == End::kCrcQ || end == End::kCrcW) {
      if (!Send(Header::At(Type::kAck, position_))) return Finish(TransferStatus::kLinkLost);
    }
    if (end == End::kCrcE || end == End::kCrcW) return Step::kNext;
  }
}

// Writes what arrived, but never past the length the file's header gave.
bool Receiver::Keep(const std::vector<uint8_t>& data) {
  uint64_t room = data.size();
  if (declared_) room = *declared_ > position_ ? *declared_ - position_ : 0;
  size_t count = static_cast<size_t>(std::min<uint64_t>(data.size(), room));
  std::string reason;
  if (count == 0 || sink_.Write(data.data(), count, &reason)) return true;
  std::string ignored;
  sink_.End(false, &ignored);
  fileOpen_ = false;
  Abort(TransferStatus::kFileRefused, PrintableName(session_.progress().file) + ": " + reason);
  return false;
}

Receiver::Step Receiver::EndFile() {
  const bool whole = !declared_ || position_ == *declared_;
  std::string reason;
  const bool written = sink_.End(whole, &reason);
  fileOpen_ = false;
  if (!written && whole) {
    return Abort(TransferStatus::kFileRefused,
                 PrintableName(session_.progress().file) + ": " + reason);
  }
  uint64_t kept = declared_ ? std::min(position_, *declared_) : position_;
  session_.outcome().bytes += kept;
  if (whole) {
    ++session_.outcome().files;
    session_.Note("done");
  } else {
    Problem(
        TransferStatus::kProtocolError,
        std::to_string(position_) + " bytes came, its header said " + std::to_string(*declared_));
  }
  return SendInit() ? Step::kNext : Finish(TransferStatus::kLinkLost);
}

// Nothing usable came: ask again with `ask` (ZRINIT when there is none),
// after dropping what is still arriving of the damaged stream.
Receiver::Step Receiver::AskAgain(std::optional<Header> ask) {
  session_.CountRetry();
  session_.Report();
  if (++errorsHere_ > session_.timing().maxRetries) return Abort(TransferStatus::kTooManyRetries);
  session_.reader().Discard();
  bool sent = ask ? Send(*ask) : SendInit();
  return sent ? Step::kNext : Finish(TransferStatus::kLinkLost);
}

void Receiver::Problem(TransferStatus status, const std::string& what) {
  session_.Note(what);
  if (problemStatus_ != TransferStatus::kDone) return;
  problemStatus_ = status;
  problem_ = PrintableName(session_.progress().file) + ": " + what;
}

Receiver::Step Receiver::Finish(TransferStatus status, std::string detail) {
  session_.Finish(status, std::move(detail));
  return Step::kEnded;
}

Receiver::Step Receiver::Abort(TransferStatus status, std::string detail) {
  session_.Abort(status, std::move(detail));
  return Step::kEnded;
}

Receiver::Step Receiver::FailOn(Got got) {
  session_.FinishOn(got);
  return Step::kEnded;
}

}  // namespace

TransferOutcome Receive(const ReceiverOffer& offer, TransferChannel& channel, FileSink& sink,
                        TransferObserver& observer, const TransferTiming& timing) {
  return Receiver(offer, channel, sink, observer, timing).Run();
}

}  // namespace zmodem

TransferOutcome ZmodemReceive(TransferChannel& channel, FileSink& sink, TransferObserver& observer,
                              const TransferTiming& timing) {
  return zmodem::Receive(zmodem::ReceiverOffer{}, channel, sink, observer, timing);
}

}  // namespace quorvel
