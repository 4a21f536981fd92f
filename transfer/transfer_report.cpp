#include "transfer/transfer_report.h"

namespace quorvel {

const char* ProtocolName(TransferProtocol protocol) {
  switch (protocol) {
    case TransferProtocol::kXmodem:
      return "XMODEM";
    case TransferProtocol::kXmodem1k:
      return "XMODEM-1K";
    case TransferProtocol::kYmodem:
      return "YMODEM";
    case TransferProtocol::kZmodem:
      return "ZMODEM";
  }
  return "?";
}

const char* StatusText(TransferStatus status) {
  switch (status) {
    case TransferStatus::kDone:
      return "done";
    case TransferStatus::kReceiverNeverStarted:
      return "the receiver never started";
    case TransferStatus::kSenderNeverStarted:
      return "the sender never started";
    case TransferStatus::kCancelledByPeer:
      return "cancelled by the other side";
    case TransferStatus::kCancelledByUser:
      return "cancelled";
    case TransferStatus::kTooManyRetries:
      return "too many retries";
    case TransferStatus::kFileUnreadable:
      return "the file could not be read";
    case TransferStatus::kFileRefused:
      return "the file could not be written";
    case TransferStatus::kLinkLost:
      return "the link closed";
    case TransferStatus::kProtocolError:
      return "the other side broke the protocol";
  }
  return "?";
}

}  // namespace quorvel
