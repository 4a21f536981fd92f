#include "ui/file_dialogs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
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
#include <cerrno>
#include <cstring>
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

// What keeps the file box's text from being used: a message naming the
// file, or "" when it can be.
using PathCheck = std::function<QString(const QString& text)>;

// OK (named `accept`) and Cancel, with the file box focused so that a name
// typed at once lands in it. A choice `check` refuses keeps the dialog
// open, the message shown over it and the box focused again; true once
// the user accepted one it takes.
bool RunDialog(QDialog* dialog, QFormLayout* form, const QString& accept, QLineEdit* path,
               const PathCheck& check) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(accept);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [=] {
    QString problem = check(path->text());
    if (problem.isEmpty()) return dialog->accept();
    ShowWarning(dialog, problem);
    path->setFocus(Qt::OtherFocusReason);
    path->selectAll();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  path->setFocus(Qt::OtherFocusReason);
  return dialog->exec() == QDialog::Accepted;
}

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Why `path` cannot be read as a file to send; "" when it can. Only a
// regular file is opened: opening a device or a pipe to look could already
// act on it. A file sent as it is must hold something, or nothing would go.
QString UnreadableReason(const QString& path, bool mustHoldBytes) {
  QByteArray name = QFile::encodeName(path);
  struct stat info {};
  if (::stat(name.constData(), &info) != 0) return SystemReason(errno);
  if (S_ISDIR(info.st_mode)) return QStringLiteral("it is a folder");
  if (!S_ISREG(info.st_mode)) return QStringLiteral("not a regular file");
  int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return SystemReason(errno);
  ::close(fd);
  if (mustHoldBytes && info.st_size == 0) return QStringLiteral("the file is empty");
  return {};
}

// Why a file cannot be written at `path` (a log appended to or replaced, a
// session saved); "" when it can. It is opened as the writer will open it;
// a file made only to find out is removed again, so a refused or cancelled
// choice leaves the folder as it was.
QString UnwritableReason(const QString& path) {
  QByteArray name = QFile::encodeName(path);
  struct stat info {};
  if (::stat(name.constData(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return QStringLiteral("it is a folder");
    if (!S_ISREG(info.st_mode)) return QStringLiteral("not a regular file");
    int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return SystemReason(errno);
    ::close(fd);
    return {};
  }
  int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  // EEXIST: a link to nowhere, or a file made meanwhile; the writer sees which.
  if (fd < 0) return errno == EEXIST ? QString() : SystemReason(errno);
  ::close(fd);
  ::unlink(name.constData());
  return {};
}

// The files named in the box: several, separated by ';', for a protocol
// that carries several; else the whole text, which may hold a ';'.
QStringList NamedFiles(const QString& text, bool several) {
  if (!several) return text.trimmed().isEmpty() ? QStringList() : QStringList{text};
  QStringList named;
  for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    if (!part.trimmed().isEmpty()) named.push_back(part.trimmed());
  }
  return named;
}

// A log or a saved session: the file named, and one that can be written.
PathCheck WritableCheck(const QString& nothingNamed, const QString& refused) {
  return [=](const QString& text) {
    if (text.trimmed().isEmpty()) return nothingNamed;
    QString reason = UnwritableReason(text);
    return reason.isEmpty() ? QString() : refused.arg(text, reason);
  };
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
  auto check = [=](const QString& text) {
    QStringList named = NamedFiles(text, batch());
    if (named.isEmpty()) return QStringLiteral("Name the file to send.");
    // A protocol carries an empty file as one; sent as it is, nothing would go.
    bool raw = protocol->currentData().toString() == QLatin1String("raw");
    for (const QString& file : named) {
      if (QString reason = UnreadableReason(file, raw); !reason.isEmpty()) {
        return QStringLiteral("Cannot send %1: %2.").arg(file, reason);
      }
    }
    return QString();
  };
  if (!RunDialog(&dialog, form, QStringLiteral("&Send"), path, check)) return std::nullopt;
  FileSendChoice choice;
  choice.protocol = protocol->currentData().toString();
  choice.paths = NamedFiles(path->text(), batch());
  if (choice.paths.isEmpty()) return std::nullopt;
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
  PathCheck check =
      WritableCheck(QStringLiteral("Name the log file."), QStringLiteral("Cannot log to %1: %2."));
  if (!RunDialog(&dialog, form, QStringLiteral("&Start"), path, check)) return std::nullopt;
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
  // The session's own format: a row per run with its time and direction.
  constexpr int kCsvItem = -1;
  format->addItem(QStringLiteral("CSV, a row per burst with its time and direction"), kCsvItem);
  PathCheck check = WritableCheck(QStringLiteral("Name the file to save the session in."),
                                  QStringLiteral("Cannot save the session in %1: %2."));
  if (!RunDialog(&dialog, form, QStringLiteral("&Save"), path, check)) return std::nullopt;
  int chosen = format->currentData().toInt();
  SaveSessionChoice choice{path->text(), LogFormat::kText};
  choice.csv = chosen == kCsvItem;
  if (!choice.csv) choice.format = static_cast<LogFormat>(chosen);
  return choice;
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
