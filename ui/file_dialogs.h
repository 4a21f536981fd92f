// The two questions before a file send and a log: which file, and how. Each
// remembers its choices through the caller (the settings it is given and
// hands back). Modal, UI thread.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <optional>

#include "logging/line_logger.h"
#include "settings/tool_settings.h"

class QLineEdit;
class QSpinBox;
class QComboBox;
class QCheckBox;

namespace quorvel {

struct FileSendChoice {
  QString path;       // the first file
  QStringList paths;  // every file named (several only for YMODEM)
  QString protocol;   // "raw" (as it is, paced), "xmodem", "xmodem-1k", "ymodem"
  FileSendSettings settings;
};

struct LogChoice {
  QString path;
  LogSettings settings;
};

// "Send file": the file, the protocol (`storedProtocol` first) and, sent as
// it is, the pacing. YMODEM takes several files, separated by ';'. The file
// box has the focus; Enter with no file named, or one that cannot be read
// (or holds nothing to send as it is), keeps the dialog open with a message
// naming it. nullopt when cancelled.
std::optional<FileSendChoice> AskFileSend(QWidget* parent, const FileSendSettings& stored,
                                          const QString& storedProtocol = QStringLiteral("raw"));

// "Log to file": the file, the format and whether sent bytes go in too. A
// file that cannot be created or written keeps the dialog open with the
// reason; nullopt when cancelled.
std::optional<LogChoice> AskLogFile(QWidget* parent, const LogSettings& stored);

struct SaveSessionChoice {
  QString path;
  LogFormat format = LogFormat::kText;
  bool csv = false;  // CSV instead of `format` (history/session_save.h)
};

// "Save session": the file (an existing one is replaced, after the file
// chooser asked) and one of the log's formats, the log's format first, or
// CSV. A file that cannot be written keeps the dialog open with the reason.
std::optional<SaveSessionChoice> AskSaveSession(QWidget* parent, const LogSettings& stored);

// For a log file that exists: append (true) or replace (false); nullopt
// when the user thought better of it.
std::optional<bool> AskAppend(QWidget* parent, const QString& path);

}  // namespace quorvel
