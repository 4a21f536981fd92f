// The dialog that adds or edits one send list entry: its name, its content
// (text or hex), the line ending, escapes, the check and the delay after it,
// the name and content typed in the encoding of "Send options". OK keeps the
// dialog open with a message while the entry cannot be kept (a character the
// encoding cannot carry, EntryProblem). Modal, UI thread.
#pragma once

#include <QDialog>
#include <optional>

#include "sending/send_list.h"
#include "sending/text_encoding.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace quorvel {

class ByteTextBox;

class SendEntryDialog : public QDialog {
 public:
  SendEntryDialog(QWidget* parent, const QString& title, const SendListEntry& entry,
                  TextEncoding encoding = TextEncoding::kLatin1);

  // The entry as the controls show it now.
  SendListEntry Entry() const;

  void accept() override;

 private:
  TextEncoding encoding_;
  QLineEdit* name_;
  ByteTextBox* content_;
  QCheckBox* hex_;
  QCheckBox* escapes_;
  QComboBox* ending_;
  QComboBox* checksum_;
  QSpinBox* delay_;
};

// Shows the dialog; the entry as edited, or nothing when cancelled.
std::optional<SendListEntry> AskSendEntry(QWidget* parent, const QString& title,
                                          const SendListEntry& entry,
                                          TextEncoding encoding = TextEncoding::kLatin1);

}  // namespace quorvel
