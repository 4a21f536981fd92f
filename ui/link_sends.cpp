#include "ui/link_sends.h"

#include <QString>

#include "ui/message_box.h"

namespace quorvel {

bool SendOrTell(QWidget* window, LinkSession& link, std::vector<uint8_t> bytes, SendDone written) {
  bool away = link.Waiting();
  Done queued = link.Send(std::move(bytes), std::move(written));
  if (!queued && away) ShowWarning(window, QString::fromStdString(queued.Reason()));
  return queued.Ok();
}

}  // namespace quorvel
