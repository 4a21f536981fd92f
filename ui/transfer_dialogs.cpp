#include "ui/transfer_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "ui/message_box.h"

namespace quorvel {
namespace {

constexpr struct {
  const char* key;  // as [Transfer] ReceiveProtocol keeps it
  const char* label;
} kReceiveProtocols[] = {
    {"xmodem", "XMODEM (CRC, else checksum)"},
    {"ymodem", "YMODEM (the sender's names)"},
    {"zmodem", "ZMODEM (the sender's names)"},
};

QString Size(double bytes) {
  return QLocale::system().formattedDataSize(static_cast<qint64>(bytes), 1,
                                             QLocale::DataSizeTraditionalFormat);
}

QLineEdit* AddFolderRow(QDialog* dialog, QFormLayout* form, const QString& folder) {
  auto* row = new QHBoxLayout;
  auto* path = new QLineEdit(folder, dialog);
  path->setObjectName(QStringLiteral("folder"));
  path->setMinimumWidth(280);
  auto* button = new QPushButton(QStringLiteral("&Browse…"), dialog);
  row->addWidget(path);
  row->addWidget(button);
  auto* label = new QLabel(QStringLiteral("&Folder:"), dialog);
  label->setBuddy(path);
  form->addRow(label, row);
  QObject::connect(button, &QPushButton::clicked, dialog, [=] {
    QString chosen =
        QFileDialog::getExistingDirectory(dialog, QStringLiteral("Receive into"), path->text());
    if (!chosen.isEmpty()) path->setText(chosen);
  });
  return path;
}

// XMODEM carries no name: the file is saved in the folder under the one
// typed, which must be a name, not a path.
QString XmodemNameProblem(const QString& name) {
  if (name.isEmpty()) {
    return QStringLiteral("XMODEM carries no file name: type the name to save the file under.");
  }
  if (name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
      name == QLatin1String("..")) {
    return QStringLiteral(
               "\"%1\" is no file name: the file goes into the folder above, "
               "under a name without '/'.")
        .arg(name);
  }
  return {};
}

// The folder files are received into exists as a folder or is made now;
// "" when it is there (empty: the working folder, as ever).
QString ReceiveFolderProblem(const QString& text) {
  if (text.isEmpty()) return {};
  std::filesystem::path folder(QFile::encodeName(text).toStdString());
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return {};
  if (std::filesystem::exists(folder, error)) {
    return QStringLiteral("Cannot receive into %1: it is not a folder.").arg(text);
  }
  if (std::filesystem::create_directories(folder, error) || !error) return {};
  return QStringLiteral("Cannot make the folder %1: %2.")
      .arg(text, QString::fromLocal8Bit(error.message()));
}

}  // namespace

std::optional<ReceiveChoice> AskReceiveFile(QWidget* parent, const TransferSettings& stored) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Receive file"));
  auto* form = new QFormLayout(&dialog);
  auto* protocol = new QComboBox(&dialog);
  protocol->setObjectName(QStringLiteral("protocol"));
  for (const auto& entry : kReceiveProtocols) {
    protocol->addItem(QString::fromUtf8(entry.label), QString::fromLatin1(entry.key));
  }
  protocol->setCurrentIndex(
      std::max(0, protocol->findData(QString::fromStdString(stored.receiveProtocol))));
  form->addRow(QStringLiteral("&Protocol:"), protocol);
  QLineEdit* folder = AddFolderRow(&dialog, form, QString::fromStdString(stored.receiveDirectory));
  auto* name = new QLineEdit(&dialog);
  name->setObjectName(QStringLiteral("fileName"));
  form->addRow(QStringLiteral("File &name:"), name);
  auto* existing = new QComboBox(&dialog);
  existing->setObjectName(QStringLiteral("existing"));
  existing->addItem(QStringLiteral("Keep it; save under a free name, \"name (1).ext\""));
  existing->addItem(QStringLiteral("Replace it once the new file is whole"));
  existing->setCurrentIndex(stored.replaceExisting ? 1 : 0);
  form->addRow(QStringLiteral("A file of that name &exists:"), existing);
  auto* padding =
      new QCheckBox(QStringLiteral("&Drop XMODEM's padding (0x1A) off the file's end"), &dialog);
  padding->setObjectName(QStringLiteral("dropPadding"));
  padding->setChecked(stored.dropPadding);
  form->addRow(padding);
  // XMODEM carries no name: the user gives one.
  auto follow = [=] {
    bool xmodem = protocol->currentData().toString() == QLatin1String("xmodem");
    name->setEnabled(xmodem);
    padding->setEnabled(xmodem);
  };
  QObject::connect(protocol, &QComboBox::currentIndexChanged, &dialog, follow);
  follow();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Receive"));
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    bool xmodem = protocol->currentData().toString() == QLatin1String("xmodem");
    // The name first: a refused choice makes no folder.
    QString problem = xmodem ? XmodemNameProblem(name->text().trimmed()) : QString();
    QLineEdit* wrong = name;
    if (problem.isEmpty()) {
      problem = ReceiveFolderProblem(folder->text());
      wrong = folder;
    }
    if (problem.isEmpty()) return dialog.accept();
    ShowWarning(&dialog, problem);
    wrong->setFocus(Qt::OtherFocusReason);
    wrong->selectAll();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  // What is typed at once chooses the protocol, the first question.
  protocol->setFocus(Qt::OtherFocusReason);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  ReceiveChoice choice{stored, name->text().trimmed()};
  choice.settings.receiveProtocol = protocol->currentData().toString().toStdString();
  choice.settings.receiveDirectory = folder->text().toStdString();
  choice.settings.replaceExisting = existing->currentIndex() == 1;
  choice.settings.dropPadding = padding->isChecked();
  if (choice.settings.receiveProtocol == "xmodem" && choice.fileName.isEmpty()) return std::nullopt;
  return choice;
}

TransferLines DescribeTransfer(const TransferState& state) {
  const TransferProgress& p = state.progress;
  TransferLines lines;
  lines.title = QString::fromStdString(TransferTitle(state.protocol, state.send, p.file));
  if (p.waitSecondsLeft >= 0) {
    lines.pace = QStringLiteral("waiting for the %1 to start: %2 s")
                     .arg(state.send ? QStringLiteral("receiver") : QStringLiteral("sender"))
                     .arg(p.waitSecondsLeft);
  }
  QString bytes = p.total >= 0 ? QStringLiteral("%1 of %2")
                                     .arg(Size(static_cast<double>(p.bytes)),
                                          Size(static_cast<double>(p.total)))
                               : Size(static_cast<double>(p.bytes));
  lines.detail =
      QStringLiteral("%1, %2 blocks, %3 retries").arg(bytes).arg(p.blocks).arg(p.retries);
  if (p.total > 0) lines.percent = static_cast<int>(p.bytes * 100 / static_cast<uint64_t>(p.total));
  if (p.total == 0) lines.percent = 100;
  if (p.waitSecondsLeft < 0 && state.seconds > 0 && p.bytes > 0) {
    double rate = static_cast<double>(p.bytes) / state.seconds;
    lines.pace = QStringLiteral("%1/s").arg(Size(rate));
    if (p.total > 0 && static_cast<uint64_t>(p.total) > p.bytes && rate > 0) {
      double left = static_cast<double>(static_cast<uint64_t>(p.total) - p.bytes) / rate;
      lines.pace += QStringLiteral(", %1 s left").arg(static_cast<int>(left + 0.5));
    }
  }
  return lines;
}

TransferProgressDialog::TransferProgressDialog(QWidget* parent, std::function<void()> cancel,
                                               std::function<void(bool)> keepPartial)
    : QDialog(parent), cancel_(std::move(cancel)) {
  setWindowTitle(QStringLiteral("File transfer"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  title_ = new QLabel(this);
  detail_ = new QLabel(this);
  pace_ = new QLabel(this);
  for (QLabel* label : {title_, detail_, pace_}) {
    label->setTextFormat(Qt::PlainText);  // file names come from outside
    layout->addWidget(label);
  }
  bar_ = new QProgressBar(this);
  layout->addWidget(bar_);
  keepPartial_ = new QCheckBox(QStringLiteral("&Keep what arrived of a file cut short"), this);
  keepPartial_->setObjectName(QStringLiteral("keepPartial"));
  layout->addWidget(keepPartial_);
  connect(keepPartial_, &QCheckBox::toggled, this, std::move(keepPartial));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &TransferProgressDialog::reject);
  layout->addWidget(buttons);
  setMinimumWidth(380);
}

void TransferProgressDialog::Begin(bool receiving) {
  keepPartial_->setVisible(receiving);
  keepPartial_->setChecked(false);
  bar_->setRange(0, 0);
  title_->clear();
  detail_->clear();
  pace_->clear();
  show();
}

void TransferProgressDialog::Show(const TransferState& state) {
  TransferLines lines = DescribeTransfer(state);
  title_->setText(lines.title);
  detail_->setText(lines.detail);
  pace_->setText(lines.pace);
  if (lines.percent >= 0) {
    bar_->setRange(0, 100);
    bar_->setValue(lines.percent);
  } else {
    bar_->setRange(0, 0);
  }
}

void TransferProgressDialog::reject() {
  if (cancel_) cancel_();
}

}  // namespace quorvel
