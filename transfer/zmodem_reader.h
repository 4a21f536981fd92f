// Reads ZMODEM's headers and data subpackets from what the channel receives.
//
// Everything it reads is hostile: a header counts only when its CRC holds, a
// subpacket only when it ends properly, its CRC holds and it is no longer
// than kMaxSubpacket (memory stays bounded whatever arrives); what is not a
// header is skipped; XON and XOFF, which flow control may insert anywhere,
// are ignored; five CANs in a row are the other side's cancel, wherever they
// fall. A wait never outlasts its deadline, not even under a flood of
// garbage.
//
// One reader belongs to one side of one transfer, on that side's thread. A
// failed read leaves the stream at the byte where it failed: the next read
// goes on from there.
#pragma once

#include <cstdint>
#include <vector>

#include "transfer/transfer_channel.h"
#include "transfer/zmodem_protocol.h"

namespace quorvel::zmodem {

enum class Got {
  kOk,
  kTimedOut,
  kGarbled,        // a header or subpacket arrived damaged
  kPeerCancelled,  // five CANs
  kLinkLost,
  kUserCancelled,
};

class Reader {
 public:
  explicit Reader(TransferChannel& channel) : channel_(channel) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The next header within `timeoutMs`, skipping what comes before it.
  Got ReadHeader(int timeoutMs, Header* header, Encoding* encoding);

  // The data subpacket after a header: its bytes (replacing *data) and how
  // it ended. `crc32` as the header before it was kBin32.
  Got ReadSubpacket(bool crc32, int timeoutMs, std::vector<uint8_t>* data, End* end);

  // Without waiting: whether the other side has started to say something (a
  // header's ZPAD or a CAN is waiting); line noise before it is dropped.
  Got Sample(bool* interrupted);

  // Drops what has arrived and not been read, here and in the channel.
  void Discard();

  // Waits up to `timeoutMs` for the sender's closing "OO".
  void SkipOverAndOut(int timeoutMs);

 private:
  // A byte (0-255) or one of these.
  static constexpr int kTimedOutCode = -1;
  static constexpr int kLinkLostCode = -2;
  static constexpr int kUserCancelledCode = -3;
  static constexpr int kPeerCancelledCode = -4;
  static constexpr int kGarbledCode = -5;
  static constexpr int kEndFlag = 0x100;  // DecodeByte: ZDLE and a subpacket end

  static Got GotOf(int code);
  int Next(int64_t deadline);
  int Refill(int64_t deadline);
  // One byte of binary header, data or CRC with ZDLE escapes undone.
  int DecodeByte(int64_t deadline);
  int Escaped(int64_t deadline);
  Got ReadHexHeader(int64_t deadline, Header* header);
  Got ReadBinaryHeader(int64_t deadline, bool crc32, Header* header);
  Got SkipHexLineEnd(int64_t deadline);
  // The plain bytes at the front of the buffer, into *data.
  bool TakePlainRun(std::vector<uint8_t>* data);

  TransferChannel& channel_;
  uint8_t buffer_[16 * 1024];
  int begin_ = 0;
  int end_ = 0;
  int canRun_ = 0;         // CANs just read in a row
  bool afterHex_ = false;  // a hex header's line end may still come
};

}  // namespace quorvel::zmodem
