// Every dialog of the window takes typing at once: opened by its key (or its
// menu entry or button where it has none), what is typed goes into its
// first field, and Enter on a choice it cannot use keeps it open with a
// message naming what is wrong, while Enter on a good one takes it.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "support/temp_files.h"
#include "terminal_harness.h"
#include "ui/command_table.h"
#include "ui/window_commands.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TerminalHarness;

namespace {

// What a field holds as the user reads it.
QString Held(QWidget* field) {
  if (auto* edit = qobject_cast<QLineEdit*>(field)) return edit->text();
  if (auto* box = qobject_cast<QComboBox*>(field)) return box->currentText();
  if (auto* check = qobject_cast<QCheckBox*>(field)) return check->isChecked() ? "on" : "off";
  return QStringLiteral("(not a field)");
}

void Fill(QWidget* field, const QString& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->setText(text);
  if (auto* box = qobject_cast<QPlainTextEdit*>(field)) box->setPlainText(text);
}

QPushButton* ButtonOf(QWidget* window, const QString& text) {
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    if (button->text() == text && button->isVisible()) return button;
  }
  return nullptr;
}

// The window each row needs: the send list and the plot shown for their
// buttons, the session view on so that it can be saved.
constexpr char kIni[] = "[SendListPanel]\nShown=1\n[Plot]\nShown=1\n[View]\nSessionView=1\n";

}  // namespace

class DialogKeysTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void aDialogTakesTypingAtOnceAndEnter_data();
  void aDialogTakesTypingAtOnceAndEnter();
};

void DialogKeysTest::aDialogTakesTypingAtOnceAndEnter_data() {
  QTest::addColumn<int>("command");     // opened by its key, else its menu entry
  QTest::addColumn<QString>("button");  // or by the window's button of this text
  QTest::addColumn<QString>("field");   // the first field's object name
  QTest::addColumn<QString>("typed");   // %1 stands for the scratch folder
  QTest::addColumn<QString>("holds");   // what the field then holds
  // Set after typing, before Enter: another field's object name and text.
  QTest::addColumn<QString>("other");
  QTest::addColumn<QString>("otherText");
  QTest::addColumn<QString>("told");  // a part of the message; "" when taken

  auto row = [](const char* name, Command command, const char* button, const char* field,
                const char* typed, const char* holds, const char* other, const char* otherText,
                const char* told) {
    QTest::newRow(name) << static_cast<int>(command) << QString::fromUtf8(button) << field << typed
                        << QString::fromUtf8(holds) << other << otherText << told;
  };
  const Command none = Command::kCount;
  const Command sendFile = Command::kSendFile;
  row("send file: a file", sendFile, "", "path", "%1/data.bin", "%1/data.bin", "", "", "");
  row("send file: a file that is not there", sendFile, "", "path", "%1/missing.bin",
      "%1/missing.bin", "", "", "%1/missing.bin");
  row("send file: a folder", sendFile, "", "path", "%1", "%1", "", "", "%1");
  row("send file: an empty file", sendFile, "", "path", "%1/empty.bin", "%1/empty.bin", "", "",
      "%1/empty.bin");
  row("send file: nothing named", sendFile, "", "path", "", "", "", "", "Name the file");
  const Command receive = Command::kReceiveFile;
  row("receive file: XMODEM without a name", receive, "", "protocol", "x",
      "XMODEM (CRC, else checksum)", "folder", "%1", "XMODEM");
  row("receive file: a folder to make", receive, "", "protocol", "z", "ZMODEM (the sender's names)",
      "folder", "%1/new/inner", "");
  row("receive file: a folder that cannot be made", receive, "", "protocol", "z",
      "ZMODEM (the sender's names)", "folder", "%1/data.bin/inner", "%1/data.bin/inner");
  const Command log = Command::kLogToFile;
  row("log to file: a file", log, "", "path", "%1/log.txt", "%1/log.txt", "", "", "");
  row("log to file: a folder that is not there", log, "", "path", "%1/none/log.txt",
      "%1/none/log.txt", "", "", "%1/none/log.txt");
  row("log to file: a folder", log, "", "path", "%1", "%1", "", "", "%1");
  row("log to file: nothing named", log, "", "path", "", "", "", "", "Name the log file");
  row("save session: a folder that is not there", Command::kSaveSession, "", "path",
      "%1/none/session.txt", "%1/none/session.txt", "", "", "%1/none/session.txt");
  row("add network port: no port number", Command::kAddNetworkPort, "", "host", "lab-pi", "lab-pi",
      "", "", "The port number");
  row("answer rules", Command::kAnswerRules, "", "enabled", " ", "on", "", "", "");
  row("view settings", Command::kViewSettings, "", "stamps", "t", "Time of day (hh:mm:ss.mmm)", "",
      "", "");
  row("send list entry", none, "Add…", "name", "ping", "ping", "content", "AT", "");
  row("plot settings", none, "Plot settings…", "xAxis", "s", "sample number", "", "", "");
}

void DialogKeysTest::aDialogTakesTypingAtOnceAndEnter() {
  QFETCH(int, command);
  QFETCH(QString, button);
  QFETCH(QString, field);
  QFETCH(QString, typed);
  QFETCH(QString, holds);
  QFETCH(QString, other);
  QFETCH(QString, otherText);
  QFETCH(QString, told);
  quorvel::testing::TempDir scratch;
  const QString folder = QString::fromStdString(scratch.path().string());
  quorvel::testing::WriteFile(scratch / "data.bin", "payload");
  quorvel::testing::WriteFile(scratch / "empty.bin", "");
  auto inFolder = [&](const QString& text) { return QString(text).replace("%1", folder); };

  TerminalHarness harness(kIni);
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QString focused, held, besideFields;
  bool ran = false, openAfterEnter = false;
  ModalWatcher answer(
      ModalWatcher::Kind::kDialog,
      [&](QWidget* open) {
        ran = true;
        if (!QTest::qWaitForWindowActive(open)) return;
        // The focus moves in once the activation has been delivered.
        auto inside = [open] {
          QWidget* at = QApplication::focusWidget();
          return at && at->window() == open;
        };
        QWidget* at = QTest::qWaitFor(inside) ? QApplication::focusWidget() : nullptr;
        focused = at ? at->objectName() : QStringLiteral("(none)");
        // Typed as a user types: into whatever has the focus.
        if (at && !typed.isEmpty()) QTest::keyClicks(at, inFolder(typed));
        if (auto* target = open->findChild<QWidget*>(field)) held = Held(target);
        if (!other.isEmpty()) Fill(open->findChild<QWidget*>(other), inFolder(otherText));
        if (QWidget* now = QApplication::focusWidget()) QTest::keyClick(now, Qt::Key_Return);
        openAfterEnter = open->isVisible();
        if (auto* problem = open->findChild<QLabel*>(QStringLiteral("problem"))) {
          besideFields = problem->text();
        }
        if (open->isVisible()) static_cast<QDialog*>(open)->reject();
      },
      std::chrono::seconds(10));
  auto opening = static_cast<Command>(command);
  if (!button.isEmpty()) {
    QPushButton* push = ButtonOf(&window, button);
    QVERIFY2(push, qPrintable(button));
    push->click();
  } else if (QKeySequence key = window.Commands().Action(opening)->shortcut(); !key.isEmpty()) {
    QTest::keySequence(&window, key);
  } else {
    window.Commands().Action(opening)->trigger();
  }
  QTRY_VERIFY(ran);
  QCOMPARE(focused, field);
  QCOMPARE(held, inFolder(holds));
  QCOMPARE(openAfterEnter, !told.isEmpty());
  if (told.isEmpty()) {
    QVERIFY2(harness.Messages().isEmpty(), qPrintable(harness.Messages().join("\n")));
  } else if (opening == Command::kAddNetworkPort) {
    QVERIFY2(besideFields.contains(told), qPrintable(besideFields));
  } else {
    QCOMPARE(harness.Messages().size(), 1);
    QVERIFY2(harness.Messages().front().contains(inFolder(told)),
             qPrintable(harness.Messages().front()));
  }
  // What a dialog took, it did.
  if (opening == Command::kSendFile && told.isEmpty()) {
    QCOMPARE(harness.Receive(0, 7), (std::vector<uint8_t>{'p', 'a', 'y', 'l', 'o', 'a', 'd'}));
  }
  if (opening == Command::kLogToFile && told.isEmpty()) {
    QTRY_VERIFY(QFile::exists(inFolder("%1/log.txt")));
  }
  if (opening == Command::kReceiveFile && told.isEmpty()) {
    QVERIFY(QDir(inFolder("%1/new/inner")).exists());
  }
  // A refused choice leaves nothing behind.
  if (opening == Command::kLogToFile && !told.isEmpty()) {
    QCOMPARE(quorvel::testing::Listing(scratch.path()),
             (std::vector<std::string>{"data.bin", "empty.bin"}));
  }
}

QTEST_MAIN(DialogKeysTest)
#include "dialog_keys_test.moc"
