// The send box as the send history sees it: what it holds now, and a
// recalled send put back into it. The form exchange answers, so a recalled
// send reaches the box and the state the way a typed one does. UI thread.
#pragma once

#include "sending/send_history.h"

class QWidget;

namespace quorvel {

class SendBox {
 public:
  virtual ~SendBox() = default;

  // The box's text and its "Send as Hex" check as they stand, captured or not.
  virtual HistoryEntry Contents() const = 0;
  // Puts `entry` into the box and its check, as the user would type it.
  virtual void Put(const HistoryEntry& entry) = 0;
  // The box itself, for its keys.
  virtual QWidget* Widget() const = 0;
};

}  // namespace quorvel
