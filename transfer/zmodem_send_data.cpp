// A file's data on its way out, and what the receiver says meanwhile (see
// zmodem_sender.h for the windows).
#include <algorithm>
#include <string>

#include "core/clock.h"

#include "transfer/zmodem_sender.h"

namespace quorvel::zmodem {

// Sends from position_ to the end of the file, or until the receiver
// interrupts: kDone when every byte went, kGoBack to begin again at the
// (new) position_.
Sender::Step Sender::StreamFrom(OutgoingFile& file) {
  if (position_ >= size_) return Step::kDone;
  session_.QueueBinary(Header::At(Type::kData, position_));
  acked_ = position_;
  flight_.Restart(position_, SteadyNowMs());
  uint64_t asked = position_;  // where the receiver was last asked to answer
  for (;;) {
    if (session_.channel().CancelRequested()) return Abort(TransferStatus::kCancelledByUser);
    End end = End::kCrcG;
    while (session_.Queued() < kBatchBytes && (end == End::kCrcG || end == End::kCrcQ) &&
           position_ - acked_ < flight_.Bytes()) {
      std::string reason;
      size_t want = static_cast<size_t>(std::min<uint64_t>(subpacket_, size_ - position_));
      int64_t got = file.ReadAt(position_, chunk_.data(), want, &reason);
      if (got < 0) {
        return Abort(TransferStatus::kFileUnreadable, PrintableName(file.Name()) + ": " + reason);
      }
      position_ += static_cast<uint64_t>(got);
      if (got == 0) size_ = position_;  // it shrank: what there was is the file
      end = EndAt(position_ - asked);
      if (end == End::kCrcQ || end == End::kCrcW) asked = position_;
      session_.QueueSubpacket(std::span<const uint8_t>(chunk_.data(), static_cast<size_t>(got)),
                              end);
      ++session_.progress().blocks;
    }
    if (!session_.Flush()) return Fail(TransferStatus::kLinkLost);
    session_.progress().bytes = position_;
    session_.Report();
    if (end == End::kCrcE) return Step::kDone;
    const bool frameEnded = end == End::kCrcW;
    const bool full = position_ - acked_ >= flight_.Bytes();
    Step step =
        Listen(frameEnded || full, frameEnded ? position_ : position_ + 1 - flight_.Bytes());
    if (step != Step::kDone) return step;
    if (frameEnded) session_.QueueBinary(Header::At(Type::kData, position_));
  }
}

// How the subpacket that ends at position_ ends, `sinceAsked` bytes after
// the receiver was last asked to answer.
End Sender::EndAt(uint64_t sinceAsked) const {
  if (position_ >= size_) return End::kCrcE;
  if (!streaming_) return End::kCrcW;
  if (window_ != 0) return sinceAsked + subpacket_ > window_ ? End::kCrcW : End::kCrcG;
  return sinceAsked >= flight_.AskEvery() ? End::kCrcQ : End::kCrcG;
}

// What the receiver says while data goes out. With `wait`, until it has
// acknowledged `need` (a ZACK moves acked_); without, only what has already
// arrived is looked at. A ZRPOS sends us back, whichever.
Sender::Step Sender::Listen(bool wait, uint64_t need) {
  for (;;) {
    if (!wait) {
      bool interrupted = false;
      if (Got got = session_.reader().Sample(&interrupted); got != Got::kOk) return FailOn(got);
      if (!interrupted) return Step::kDone;
    }
    Header header;
    Encoding encoding;
    Got got = session_.reader().ReadHeader(session_.timing().replyTimeoutMs, &header, &encoding);
    if (got == Got::kTimedOut || got == Got::kGarbled) {
      if (!wait) return Step::kDone;  // noise on the back channel
      // Unanswered: the receiver lost the frame. End it, and begin again
      // where it last said it was.
      session_.QueueSubpacket({}, End::kCrcE);
      position_ = acked_;
      flight_.Lost();
      return Retry();
    }
    if (got != Got::kOk) return FailOn(got);
    if (EndsTransfer(header.type)) return ReceiverEnded();
    switch (header.type) {
      case Type::kAck:
        acked_ = std::clamp<uint64_t>(header.Position(), acked_, position_);
        flight_.Acked(acked_, SteadyNowMs());
        if (!wait || acked_ >= need) return Step::kDone;
        break;
      case Type::kRPos:
        return GoBack(header);
      case Type::kSkip:
        return Step::kSkipped;
      case Type::kRInit:
        return Step::kDropped;
      default:
        if (!wait) return Step::kDone;
        break;
    }
  }
}

// The receiver asks for data again from `ask`, while a frame streams or
// after its end. What it said after that and is here already was said
// before it could see our answer: of several asks only the last counts, or
// one cancel counts. Each ask answered on its own would start the stream
// again while the receiver takes the last start, and it asks again. The
// frame in flight is ended first, so that a receiver still taking it sees
// it end instead of our next header inside a subpacket.
Sender::Step Sender::GoBack(Header ask) {
  for (;;) {
    bool more = false;
    if (Got got = session_.reader().Sample(&more); got != Got::kOk) return FailOn(got);
    if (!more) break;
    Header next;
    Encoding encoding;
    Got got = session_.reader().ReadHeader(session_.timing().replyTimeoutMs, &next, &encoding);
    if (got == Got::kTimedOut || got == Got::kGarbled) break;
    if (got != Got::kOk) return FailOn(got);
    if (EndsTransfer(next.type)) return ReceiverEnded();
    if (next.type == Type::kSkip) return Step::kSkipped;
    if (next.type == Type::kRInit) return Step::kDropped;
    if (next.type == Type::kRPos) ask = next;
  }
  session_.QueueSubpacket({}, End::kCrcE);
  return TakeReposition(ask);
}

Sender::Step Sender::TakeReposition(const Header& header) {
  position_ = std::min<uint64_t>(header.Position(), size_);
  acked_ = position_;
  flight_.Lost();
  session_.progress().bytes = position_;
  return Retry();
}

// One more retry of what is in hand, at position_: kGoBack, or kEnded when
// there were too many in a row at one place. The count starts over wherever
// the transfer got further than the last retry's place, whatever the retry
// is for (an offer, a ZRPOS, a silence, a ZEOF unanswered).
Sender::Step Sender::Retry() {
  if (position_ != retryAt_) {
    retryAt_ = position_;
    retriesHere_ = 0;
  }
  session_.CountRetry();
  session_.Report();
  if (++retriesHere_ > session_.timing().maxRetries) return Abort(TransferStatus::kTooManyRetries);
  return Step::kGoBack;
}

Sender::Step Sender::ReceiverEnded() {
  return Fail(TransferStatus::kCancelledByPeer, "the receiver ended the transfer");
}

Sender::Step Sender::Fail(TransferStatus status, std::string detail) {
  session_.outcome().bytes += position_;
  session_.Finish(status, std::move(detail));
  return Step::kEnded;
}

Sender::Step Sender::Abort(TransferStatus status, std::string detail) {
  session_.outcome().bytes += position_;
  session_.Abort(status, std::move(detail));
  return Step::kEnded;
}

Sender::Step Sender::FailOn(Got got) {
  session_.outcome().bytes += position_;
  session_.FinishOn(got);
  return Step::kEnded;
}

}  // namespace quorvel::zmodem
