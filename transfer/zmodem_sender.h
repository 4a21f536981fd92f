// The sending side of ZMODEM, shared by the two files that make it up:
// zmodem_send.cpp leads the session (the receiver's start, each file's
// offer and end, the closing ZFIN), zmodem_send_data.cpp streams a file's
// data as fast as the receiver allows and goes back wherever it asks.
//
// How much may be in flight is the receiver's to say in its ZRINIT. With
// full duplex and overlapped I/O and no buffer limit the file streams as one
// frame, a ZCRCQ four times a window asking where the receiver is, and no
// more than the window (zmodem_flight_window.h) beyond its last answer: what
// a receiver that lost track must skip before our next header is bounded
// so. After each
// batch written the back channel is looked at: a ZPAD or CAN there means
// the receiver wants to interrupt (a ZRPOS, usually). With a buffer limit
// each window ends in ZCRCW and waits for its ZACK; without full duplex
// every subpacket does.
//
// One sender runs one transfer on the protocol's thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transfer/transfer_files.h"
#include "transfer/zmodem_flight_window.h"
#include "transfer/zmodem_session.h"

namespace quorvel::zmodem {

inline constexpr size_t kBatchBytes = 16 * 1024;  // written at once, between looks back

class Sender {
 public:
  Sender(TransferChannel& channel, std::vector<std::unique_ptr<OutgoingFile>>& files,
         TransferObserver& observer, const TransferTiming& timing)
      : files_(files), session_(channel, observer, timing, "send") {}

  TransferOutcome Run();

 private:
  // What a step of the transfer came to; kEnded: the outcome is set.
  // kDropped: the receiver went back to waiting for a file (its ZRINIT) in
  // the middle of this one, which it did not take whole.
  enum class Step { kDone, kSkipped, kDropped, kGoBack, kEnded };

  // zmodem_send.cpp
  bool AwaitReceiver();
  void TakeReceiverInit(const Header& init);
  Step OfferFile(OutgoingFile& file, int filesLeft, uint64_t bytesLeft);
  void Dropped(const OutgoingFile& file);
  Step AnswerCrcRequest(OutgoingFile& file, const Header& request);
  Step SendData(OutgoingFile& file);
  Step AwaitEofAnswer();
  TransferOutcome Close();

  // zmodem_send_data.cpp
  Step StreamFrom(OutgoingFile& file);
  End EndAt(uint64_t sinceAsked) const;
  Step Listen(bool wait, uint64_t need);
  Step GoBack(Header ask);
  Step TakeReposition(const Header& header);
  Step Retry();
  Step ReceiverEnded();
  Step Fail(TransferStatus status, std::string detail = {});
  Step Abort(TransferStatus status, std::string detail = {});
  Step FailOn(Got got);

  std::vector<std::unique_ptr<OutgoingFile>>& files_;
  Session session_;
  std::vector<uint8_t> chunk_ = std::vector<uint8_t>(kSubpacketLength);
  size_t subpacket_ = kSubpacketLength;  // data bytes in each, within the receiver's buffer
  bool streaming_ = true;                // the receiver takes data while it writes
  uint32_t window_ = 0;                  // the receiver's buffer: a ZCRCW when full; 0 none
  FlightWindow flight_;                  // streaming without a buffer limit
  uint64_t position_ = 0;                // of the file in hand: the next byte to send
  uint64_t acked_ = 0;                   // where the receiver last said it was
  uint64_t size_ = 0;
  uint64_t retryAt_ = ~0ull;  // where the last retries were asked for
  int retriesHere_ = 0;
  std::string dropped_;  // the first file the receiver did not take whole, and where
};

// ZABORT, ZFERR, ZFIN from the receiver in the middle of a file.
inline bool EndsTransfer(Type type) {
  return type == Type::kAbort || type == Type::kFErr || type == Type::kFin;
}

}  // namespace quorvel::zmodem
