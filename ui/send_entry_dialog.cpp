#include "ui/send_entry_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "ui/byte_text_box.h"
#include "ui/message_box.h"
#include "ui/typed_text.h"

namespace quorvel {

SendEntryDialog::SendEntryDialog(QWidget* parent, const QString& title, const SendListEntry& entry,
                                 TextEncoding encoding)
    : QDialog(parent),
      encoding_(encoding),
      name_(new QLineEdit(this)),
      content_(new ByteTextBox(this)),
      hex_(new QCheckBox(QStringLiteral("Send as &hex"), this)),
      escapes_(new QCheckBox(QStringLiteral("&Escapes (\\r \\n \\t \\\\ \\xHH)"), this)),
      ending_(new QComboBox(this)),
      checksum_(new QComboBox(this)),
      delay_(new QSpinBox(this)) {
  setWindowTitle(title);
  name_->setObjectName(QStringLiteral("name"));
  content_->setObjectName(QStringLiteral("content"));
  name_->setMaxLength(static_cast<int>(kMaxEntryNameLength));
  name_->setText(ShownText(entry.name, encoding));
  content_->SetTypedEncoding(encoding, "The content takes no");
  content_->SetBytes(entry.content);
  content_->setMinimumHeight(fontMetrics().height() * 4);
  hex_->setChecked(entry.hex);
  escapes_->setChecked(entry.options.escapes);
  for (const LineEndingInfo& info : LineEndingTable()) {
    ending_->addItem(QString::fromLatin1(info.label.data(), static_cast<int>(info.label.size())),
                     static_cast<int>(info.ending));
  }
  ending_->setCurrentIndex(ending_->findData(static_cast<int>(entry.options.ending)));
  for (const ChecksumInfo& info : ChecksumTable()) {
    checksum_->addItem(QString::fromLatin1(info.label.data(), static_cast<int>(info.label.size())),
                       static_cast<int>(info.kind));
  }
  checksum_->setCurrentIndex(checksum_->findData(static_cast<int>(entry.options.checksum)));
  delay_->setRange(0, kMaxEntryDelayMs);
  delay_->setSuffix(QStringLiteral(" ms"));
  delay_->setValue(entry.delayMs);

  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("&Name:"), name_);
  form->addRow(QStringLiteral("&Content:"), content_);
  form->addRow(QString(), hex_);
  form->addRow(QString(), escapes_);
  form->addRow(QStringLiteral("&Line ending:"), ending_);
  form->addRow(QStringLiteral("Chec&k:"), checksum_);
  form->addRow(QStringLiteral("&Delay after:"), delay_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &SendEntryDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SendEntryDialog::reject);
  name_->setFocus(Qt::OtherFocusReason);
}

SendListEntry SendEntryDialog::Entry() const {
  SendListEntry entry;
  entry.name = BytesOfText(name_->text(), encoding_).bytes;
  entry.content = content_->TypedBytes().value_or(std::string());
  entry.hex = hex_->isChecked();
  entry.options.escapes = escapes_->isChecked();
  entry.options.ending = static_cast<LineEnding>(ending_->currentData().toInt());
  entry.options.checksum = static_cast<ChecksumKind>(checksum_->currentData().toInt());
  entry.delayMs = delay_->value();
  return entry;
}

void SendEntryDialog::accept() {
  if (!TypedBytes(this, name_->text(), encoding_, "The name holds")) {
    name_->setFocus();
    return;
  }
  char32_t refused = 0;
  if (!content_->TypedBytes(&refused)) {
    ShowWarning(this, QString::fromStdString(
                          RefusedCharacterMessage("The content holds", refused, encoding_)));
    return;
  }
  std::string problem = EntryProblem(Entry());
  if (!problem.empty()) {
    ShowWarning(this, QString::fromStdString(problem));
    return;
  }
  QDialog::accept();
}

std::optional<SendListEntry> AskSendEntry(QWidget* parent, const QString& title,
                                          const SendListEntry& entry, TextEncoding encoding) {
  SendEntryDialog dialog(parent, title, entry, encoding);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Entry();
}

}  // namespace quorvel
