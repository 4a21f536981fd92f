// The file transfers' dialogs: the question before "Receive file…", and the
// window that shows a transfer while it runs (file, bytes of total, blocks,
// rate, retries, time left, the countdown while the other side has not
// started) with its Cancel. UI thread.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "settings/transfer_settings.h"
#include "transfer/transfer_runner.h"

class QCheckBox;
class QLabel;
class QProgressBar;

namespace quorvel {

struct ReceiveChoice {
  TransferSettings settings;  // the protocol, the folder and the choices, to keep
  QString fileName;           // XMODEM's file (it carries no name)
};

// "Receive file": the protocol, the folder, XMODEM's file name, what to do
// with a name that is taken. The protocol has the focus. A folder that is
// not there is made on Enter; one that is no folder or cannot be made, and
// XMODEM without a file name, keep the dialog open with a message naming
// it. nullopt when cancelled.
std::optional<ReceiveChoice> AskReceiveFile(QWidget* parent, const TransferSettings& stored);

// What the window shows of a transfer now: "120 KB of 256 KB", and so on.
struct TransferLines {
  QString title;     // "YMODEM send firmware.bin"
  QString detail;    // bytes, blocks, retries
  QString pace;      // rate and time left, or the countdown
  int percent = -1;  // -1 while unknown
};
TransferLines DescribeTransfer(const TransferState& state);

class TransferProgressDialog : public QDialog {
 public:
  // `cancel` runs on Cancel (and on closing the dialog); `keepPartial` when
  // the box for a file cut short is ticked or cleared.
  TransferProgressDialog(QWidget* parent, std::function<void()> cancel,
                         std::function<void(bool)> keepPartial);
  // A transfer begins: receiving shows the box for a file cut short.
  void Begin(bool receiving);
  void Show(const TransferState& state);

 protected:
  void reject() override;

 private:
  std::function<void()> cancel_;
  QLabel* title_;
  QLabel* detail_;
  QLabel* pace_;
  QProgressBar* bar_;
  QCheckBox* keepPartial_;
};

}  // namespace quorvel
