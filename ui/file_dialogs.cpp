#include "ui/file_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <functional>

#include "ui/message_box.h"

namespace quorvel {
namespace {

constexpr struct {
  LogFormat format;
  const char* label;
} kFormatLabels[] = {
    {LogFormat::kRaw, "Raw bytes"},
    {LogFormat::kText, "Text, a timestamp per line"},
    {LogFormat::kHex, "Hex dump, a timestamp per burst"},
};

constexpr struct {
  const char* key;  // as [Transfer] SendProtocol keeps it
  const char* label;
} kSendProtocols[] = {
    {"raw", "Raw (the file as it is)"},   {"xmodem", "XMODEM"},
    {"xmodem-1k", "XMODEM-1K"},           {"ymodem", "YMODEM (several files)"},
    {"zmodem", "ZMODEM (several files)"},
};

// A file name box with its "Browse…" button; `browse` asks for a file
// starting from the box's text and returns "" when cancelled.
QLineEdit* AddPathRow(QDialog* dialog, QFormLayout* form, const QString& directory,
                      std::function<QString(QWidget*, const QString&)> browse) {
  auto* row = new QHBoxLayout;
  auto* path = new QLineEdit(dialog);
  path->setObjectName(QStringLiteral("path"));
  path->setMinimumWidth(280);
  auto* button = new QPushButton(QStringLiteral("&Browse…"), dialog);
  row->addWidget(path);
  row->addWidget(button);
  // A label given as text to a row that is a layout gets no buddy, and its
  // "&" would show as it is.
  auto* label = new QLabel(QStringLiteral("&File:"), dialog);
  label->setBuddy(path);
  form->addRow(label, row);
  QObject::connect(button, &QPushButton::clicked, dialog, [=] {
    QString start = path->text().isEmpty() ? directory : path->text();
    QString chosen = browse(dialog, start);
    if (!chosen.isEmpty()) path->setText(chosen);
  });
  return path;
}

QSpinBox* AddDelayRow(QDialog* dialog, QFormLayout* form, const char* name, const QString& label,
                      int value) {
  auto* box = new QSpinBox(dialog);
  box->setObjectName(QString::fromLatin1(name));
  box->setRange(0, kMaxPacingDelayMs);
  box->setSuffix(QStringLiteral(" ms"));
  box->setValue(value);
  form->addRow(label, box);
  return box;
}

QComboBox* AddFormatRow(QDialog* dialog, QFormLayout* form, LogFormat stored) {
  auto* format = new QComboBox(dialog);
  format->setObjectName(QStringLiteral("format"));
  for (const auto& entry : kFormatLabels) {
    format->addItem(QString::fromLatin1(entry.label), static_cast<int>(entry.format));
  }
  format->setCurrentIndex(format->findData(static_cast<int>(stored)));
  form->addRow(QStringLiteral("F&ormat:"), format);
  return format;
}

// OK (named `accept`) and Cancel; true when the user accepted with a file named.
bool RunDialog(QDialog* dialog, QFormLayout* form, const QString& accept, QLineEdit* path) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(accept);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return dialog->exec() == QDialog::Accepted && !path->text().isEmpty();
}

QString DirectoryOf(const QString& path) {
  return QFileInfo(path).absolutePath();
}

}  // namespace

std::optional<FileSendChoice> AskFileSend(QWidget* parent, const FileSendSettings& stored,
                                          const QString& storedProtocol) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Send file"));
  auto* form = new QFormLayout(&dialog);
  auto* protocol = new QComboBox(&dialog);
  // Only YMODEM and ZMODEM carry several files: the chooser takes several then.
  auto batch = [protocol] {
    QString key = protocol->currentData().toString();
    return key == QLatin1String("ymodem") || key == QLatin1String("zmodem");
  };
  QLineEdit* path =
      AddPathRow(&dialog, form, QString::fromStdString(stored.directory),
                 [batch](QWidget* owner, const QString& start) {
                   if (!batch()) {
                     return QFileDialog::getOpenFileName(owner, QStringLiteral("Send file"), start);
                   }
                   return QFileDialog::getOpenFileNames(owner, QStringLiteral("Send files"), start)
                       .join(QLatin1Char(';'));
                 });
  protocol->setObjectName(QStringLiteral("protocol"));
  for (const auto& entry : kSendProtocols) {
    protocol->addItem(QString::fromUtf8(entry.label), QString::fromLatin1(entry.key));
  }
  protocol->setCurrentIndex(std::max(0, protocol->findData(storedProtocol)));
  form->addRow(QStringLiteral("&Protocol:"), protocol);
  QSpinBox* line =
      AddDelayRow(&dialog, form, "lineDelay", QStringLiteral("Pause after each &line:"),
                  stored.pacing.lineDelayMs);
  QSpinBox* byte =
      AddDelayRow(&dialog, form, "byteDelay", QStringLiteral("Pause after each b&yte:"),
                  stored.pacing.byteDelayMs);
  // The pauses are for a file sent as it is; a protocol paces itself.
  auto follow = [=] {
    bool raw = protocol->currentData().toString() == QLatin1String("raw");
    line->setEnabled(raw);
    byte->setEnabled(raw);
  };
  QObject::connect(protocol, &QComboBox::currentIndexChanged, &dialog, follow);
  follow();
  if (!RunDialog(&dialog, form, QStringLiteral("&Send"), path)) return std::nullopt;
  FileSendChoice choice;
  choice.protocol = protocol->currentData().toString();
  for (const QString& named : path->text().split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    if (!named.trimmed().isEmpty()) choice.paths.push_back(named.trimmed());
  }
  if (choice.paths.isEmpty()) return std::nullopt;
  if (!batch()) choice.paths = QStringList{path->text()};
  choice.path = choice.paths.front();
  choice.settings = stored;
  choice.settings.pacing = {line->value(), byte->value()};
  choice.settings.directory = DirectoryOf(choice.path).toStdString();
  return choice;
}

std::optional<LogChoice> AskLogFile(QWidget* parent, const LogSettings& stored) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Log to file"));
  auto* form = new QFormLayout(&dialog);
  QLineEdit* path = AddPathRow(&dialog, form, QString::fromStdString(stored.directory),
                               [](QWidget* owner, const QString& start) {
                                 // Whether to append or replace is asked afterwards.
                                 return QFileDialog::getSaveFileName(
                                     owner, QStringLiteral("Log to file"), start, QString(),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
                               });
  QComboBox* format = AddFormatRow(&dialog, form, stored.format);
  auto* sent = new QCheckBox(QStringLiteral("Log the bytes &sent too"), &dialog);
  sent->setObjectName(QStringLiteral("includeSent"));
  sent->setChecked(stored.includeSent);
  form->addRow(sent);
  if (!RunDialog(&dialog, form, QStringLiteral("&Start"), path)) return std::nullopt;
  LogChoice choice{path->text(), stored};
  choice.settings.format = static_cast<LogFormat>(format->currentData().toInt());
  choice.settings.includeSent = sent->isChecked();
  choice.settings.directory = DirectoryOf(path->text()).toStdString();
  return choice;
}

std::optional<SaveSessionChoice> AskSaveSession(QWidget* parent, const LogSettings& stored) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Save session"));
  auto* form = new QFormLayout(&dialog);
  QLineEdit* path = AddPathRow(&dialog, form, QString::fromStdString(stored.directory),
                               [](QWidget* owner, const QString& start) {
                                 return QFileDialog::getSaveFileName(
                                     owner, QStringLiteral("Save session"), start);
                               });
  QComboBox* format = AddFormatRow(&dialog, form, stored.format);
  if (!RunDialog(&dialog, form, QStringLiteral("&Save"), path)) return std::nullopt;
  return SaveSessionChoice{path->text(), static_cast<LogFormat>(format->currentData().toInt())};
}

std::optional<bool> AskAppend(QWidget* parent, const QString& path) {
  QMessageBox box(QMessageBox::Question, MessageTitle(),
                  QStringLiteral("%1 exists. Add the log to its end, or replace it?")
                      .arg(QFileInfo(path).fileName()),
                  QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);  // a file name is never markup
  QPushButton* append = box.addButton(QStringLiteral("&Append"), QMessageBox::AcceptRole);
  QPushButton* replace = box.addButton(QStringLiteral("&Replace"), QMessageBox::DestructiveRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(append);
  box.exec();
  if (box.clickedButton() == append) return true;
  if (box.clickedButton() == replace) return false;
  return std::nullopt;
}

}  // namespace quorvel
