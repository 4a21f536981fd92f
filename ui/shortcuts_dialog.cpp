#include "ui/shortcuts_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/command_table.h"

namespace quorvel {
namespace {

constexpr int kSendListKeys = 9;  // Alt+1 … Alt+9

// A menu text as a sentence: no mnemonic, no "…", "&&" as "&".
QString Plain(const char* text) {
  QString plain = QString::fromUtf8(text);
  plain.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  plain.remove(QLatin1Char('&'));
  plain.replace(QStringLiteral("\x01"), QStringLiteral("&"));
  plain.remove(QChar(0x2026));
  return plain.remove(QStringLiteral("...")).trimmed();
}

ShortcutLine Line(QList<QKeySequence> keys, const QString& what) {
  QStringList shown;
  for (const QKeySequence& key : keys) shown << key.toString(QKeySequence::NativeText);
  return {keys, shown.join(QStringLiteral(", ")), what};
}

// The keys that belong to a box or a pane, not to a command.
QList<ShortcutLine> OtherKeys() {
  QList<QKeySequence> sendList;
  for (int i = 0; i < kSendListKeys; ++i) sendList << QKeySequence(Qt::ALT | (Qt::Key_1 + i));
  ShortcutLine entries{sendList, QStringLiteral("Alt+1 \u2026 Alt+9"),
                       QStringLiteral("Send list: sends entry 1 to 9")};
  return {
      Line({QKeySequence(Qt::Key_Return)},
           QStringLiteral("Clicks the button that has the focus (\"Send\" at start)")),
      Line({QKeySequence(Qt::CTRL | Qt::Key_Return)}, QStringLiteral("Send box: a line break")),
      Line({QKeySequence(Qt::CTRL | Qt::Key_Up), QKeySequence(Qt::CTRL | Qt::Key_Down)},
           QStringLiteral("Send box: the older or newer send of the history")),
      entries,
      Line({QKeySequence(QKeySequence::Copy)},
           QStringLiteral("Copies the selection (in the session view as shown)")),
      Line({QKeySequence(QKeySequence::SelectAll)},
           QStringLiteral("Selects everything in the box or the session view")),
      Line({QKeySequence(Qt::Key_Home), QKeySequence(Qt::Key_End)},
           QStringLiteral("Session view: the first line; the end, following again")),
      Line({QKeySequence(Qt::Key_Return), QKeySequence(Qt::SHIFT | Qt::Key_Return)},
           QStringLiteral("Find bar: the next or the previous match")),
      Line({QKeySequence(Qt::Key_Escape)}, QStringLiteral("Find bar: closes it")),
      Line({QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)},
           QStringLiteral("The context menu")),
      Line({QKeySequence(Qt::CTRL | Qt::Key_Equal)},
           QStringLiteral("Zoom in (Ctrl+Plus without Shift)")),
      Line({QKeySequence(Qt::Key_Tab), QKeySequence(Qt::SHIFT | Qt::Key_Tab)},
           QStringLiteral("The next or the previous control")),
      // The console sends every other key to the device, Ctrl+Q and Ctrl+F
      // among them; Ctrl+Shift with a letter stays the window's.
      Line({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
           QStringLiteral("Console: copies the selection")),
      Line({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V),
            QKeySequence(Qt::SHIFT | Qt::Key_Insert)},
           QStringLiteral("Console: pastes (the middle button the selection)")),
      Line({QKeySequence(Qt::SHIFT | Qt::Key_PageUp), QKeySequence(Qt::SHIFT | Qt::Key_PageDown)},
           QStringLiteral("Console: a page back into the scrollback, or forward")),
      Line({QKeySequence(Qt::SHIFT | Qt::Key_Home), QKeySequence(Qt::SHIFT | Qt::Key_End)},
           QStringLiteral("Console: the oldest row kept; the screen again")),
      Line({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q)},
           QStringLiteral("Quit (in the console too, where Ctrl+Q goes to the device)")),
  };
}

}  // namespace

QList<ShortcutLine> KeyboardShortcuts() {
  QList<ShortcutLine> lines;
  for (const CommandRow& row : CommandTable()) {
    QString what =
        QStringLiteral("%1 \u203a %2").arg(Plain(MenuGroupTitle(row.group)), Plain(row.text));
    if (row.key != QKeyCombination()) lines << Line({QKeySequence(row.key)}, what);
    if (row.contextKey != QKeyCombination()) {
      lines << Line({QKeySequence(row.contextKey)},
                    QStringLiteral("Context menu \u203a %1").arg(Plain(row.contextText)));
    }
  }
  return lines + OtherKeys();
}

void ShowKeyboardShortcuts(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Keyboard shortcuts"));
  auto* layout = new QVBoxLayout(&dialog);
  QList<ShortcutLine> lines = KeyboardShortcuts();
  auto* table = new QTableWidget(static_cast<int>(lines.size()), 2, &dialog);
  table->setObjectName(QStringLiteral("shortcuts"));
  table->setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("What it does")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int row = 0; row < lines.size(); ++row) {
    table->setItem(row, 0, new QTableWidgetItem(lines[row].keyText));
    table->setItem(row, 1, new QTableWidgetItem(lines[row].what));
  }
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  table->setMinimumSize(table->horizontalHeader()->length() + 40, 400);
  layout->addWidget(table);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.exec();
}

}  // namespace quorvel
