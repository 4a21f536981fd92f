// What the window does with the sends a user keeps: send list entries and
// history sends at their byte limits, stored entries the list cannot take,
// a settings file too large to read, and the encoding of typed text.
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>

#include "engine/transmit.h"
#include "settings/profile_file.h"
#include "settings/send_store.h"
#include "terminal_harness.h"
#include "ui/answer_rules_dialog.h"
#include "ui/byte_text_box.h"
#include "ui/send_entry_dialog.h"
#include "ui/send_list_panel.h"
#include "ui/send_options_menu.h"
#include "ui/send_tools.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TerminalHarness;

namespace {

std::string HexText(std::size_t bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes; ++i) text += "5A ";
  return text;
}

void SendFromBox(TerminalHarness& harness, const QString& text, bool hex) {
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(text);
  auto* hexCheck = harness.Get<QCheckBox>(kSendAsHexCheck);
  if (hexCheck->isChecked() != hex) harness.Click(kSendAsHexCheck);
  harness.Click(kSendButton);
}

}  // namespace

class StoredSendsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void hexSendsAreCountedInBytes();
  void storedEntriesTheListCannotTakeStayInTheFile();
  void theListWorksBeforeItsPanelIsMade();
  void aSettingsFileOverOneMebibyteIsRead();
  void aSettingsFileTooLargeIsLeftAloneAndTheSessionKeptBeside();
  void typedTextGoesOutInTheChosenEncoding_data();
  void typedTextGoesOutInTheChosenEncoding();
  void theEncodingIsKeptAndReachesTheHistory();
  void aSwitchTheSendBoxCannotTakeIsRefused();
  void aPasteTheEncodingCannotCarryIsRefusedWhole();
  void theListAndTheRulesTakeTheEncoding();
};

// A 400-byte hex entry in the file is in the list and goes out whole by its
// key; a 342-byte hex send from the box is kept in the history.
void StoredSendsTest::hexSendsAreCountedInBytes() {
  TerminalHarness harness("[SendList]\nName1=long\nHex1=1\nContent1=" + HexText(400) + "\n");
  QVERIFY(harness.ShowActive());
  SendListPanel* panel = harness.Window().Sending().Panel();
  QCOMPARE(panel->Entries().size(), 1u);
  QTest::keyClick(&harness.Window(), Qt::Key_1, Qt::AltModifier);
  QCOMPARE(harness.Receive(0, 400), std::vector<uint8_t>(400, 0x5A));
  SendFromBox(harness, QString::fromStdString(HexText(342)), true);
  QCOMPARE(harness.Receive(0, 342).size(), 342u);
  QCOMPARE(harness.Window().Sending().History().Entries().size(), 1u);
  QCOMPARE(harness.Messages(), QStringList());
}

// An entry with a check this version does not know is named at start, and
// stays in the file through the list's changes.
void StoredSendsTest::storedEntriesTheListCannotTakeStayInTheFile() {
  TerminalHarness harness(
      "[SendList]\nName1=first\nContent1=a\nName2=future\nContent2=b\nChecksum2=crc-99\n");
  SendListPanel* panel = harness.Window().Sending().Panel();
  QCOMPARE(panel->Entries().size(), 1u);
  QTRY_COMPARE(harness.Messages().size(), 1);
  QVERIFY2(harness.Messages()[0].contains(
               QStringLiteral("Entry 2 \"future\": The check \"crc-99\" is not known.")),
           qPrintable(harness.Messages()[0]));
  panel->AddEntry({"added", "c", false, {}, 0});
  StoredSendList stored = LoadSendList(harness.Directory().toStdString() + "/Quorvel.ini");
  QCOMPARE(stored.entries.size(), 2u);
  QCOMPARE(stored.kept.size(), 1u);
  QCOMPARE(stored.kept[0].fields.at("Checksum"), std::string("crc-99"));
  QCOMPARE(stored.kept[0].fields.at("Content"), std::string("b"));
}

// The panel is made when first wanted; until then the stored list answers
// the Alt+digit keys, and an entry it cannot take is named at start all the
// same.
void StoredSendsTest::theListWorksBeforeItsPanelIsMade() {
  TerminalHarness harness(
      "[SendList]\nName1=first\nContent1=abc\nName2=future\nContent2=b\nChecksum2=crc-99\n");
  QVERIFY(harness.ShowActive());
  // The panel has no meta-object of its own: looked for by its C++ type.
  const QList<QWidget*> widgets = harness.Window().findChildren<QWidget*>();
  QVERIFY(std::none_of(widgets.begin(), widgets.end(),
                       [](QWidget* widget) { return dynamic_cast<SendListPanel*>(widget); }));
  QTRY_COMPARE(harness.Messages().size(), 1);
  QVERIFY(harness.Messages()[0].contains(QStringLiteral("\"future\"")));
  QTest::keyClick(&harness.Window(), Qt::Key_1, Qt::AltModifier);
  QCOMPARE(harness.Receive(0, 3), std::vector<uint8_t>({'a', 'b', 'c'}));
  QTest::keyClick(&harness.Window(), Qt::Key_2, Qt::AltModifier);  // no second entry
  QCOMPARE(harness.Window().Sending().Panel()->Entries().size(), 1u);
  QCOMPARE(harness.Messages().size(), 1);  // the panel does not name it again
  QTRY_COMPARE(harness.Counters().txCount, 3u);
}

// A send list and history near their limits make a file past 1 MiB.
void StoredSendsTest::aSettingsFileOverOneMebibyteIsRead() {
  std::string padding(1'049'118, ';');
  padding += "\n";
  TerminalHarness harness(padding + "[SendList]\nName1=kept\nContent1=a\n");
  QCOMPARE(harness.Window().Sending().Panel()->Entries().size(), 1u);
  QCOMPARE(harness.Messages(), QStringList());
}

// The user's file stays exactly as it was; the session's changes go to
// Quorvel.ini.new, which the message and the status line name.
void StoredSendsTest::aSettingsFileTooLargeIsLeftAloneAndTheSessionKeptBeside() {
  TerminalHarness harness;
  QString ini = harness.Directory() + "/Quorvel.ini";
  {
    QFile file(ini);
    QVERIFY(file.open(QIODevice::Append));
    file.write(QByteArray(9 * 1024 * 1024, ';'));
  }
  QByteArray before = harness.IniText().c_str();
  QDateTime modified = QFileInfo(ini).lastModified();
  harness.Window().Sending().Panel()->AddEntry({"new", "x", false, {}, 0});
  QTRY_VERIFY(!harness.Messages().isEmpty());
  QVERIFY2(harness.Messages()[0].startsWith(ini + " is larger than 8 MiB or 100,000 lines") &&
               harness.Messages()[0].contains(ini + ".new"),
           qPrintable(harness.Messages()[0]));
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kSettings),
           QStringLiteral("settings: Quorvel.ini.new (Quorvel.ini not read)"));
  harness.Window().close();
  harness.CloseWindow();
  QCOMPARE(QByteArray(harness.IniText().c_str()), before);
  QCOMPARE(QFileInfo(ini).lastModified(), modified);
  StoredSendList session = LoadSendList((ini + ".new").toStdString());
  QCOMPARE(session.entries.size(), 1u);
  QVERIFY(ReadProfileString((ini + ".new").toStdString(), "COMConfig", "BRATE").has_value());
}

void StoredSendsTest::typedTextGoesOutInTheChosenEncoding_data() {
  QTest::addColumn<int>("encoding");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QByteArray>("sent");
  QTest::addColumn<QString>("refused");  // a part of the message, "" for none
  const int latin1 = int(TextEncoding::kLatin1);
  const int utf8 = int(TextEncoding::kUtf8);
  QTest::newRow("Latin-1") << latin1 << QStringLiteral("\u00e9") << QByteArray("\xe9") << QString();
  QTest::newRow("UTF-8") << utf8 << QStringLiteral("\u00e9\u20ac")
                         << QByteArray("\xc3\xa9\xe2\x82\xac") << QString();
  QTest::newRow("UTF-8, beyond 16 bits")
      << utf8 << QStringLiteral("\U0001F600") << QByteArray("\xf0\x9f\x98\x80") << QString();
  QTest::newRow("Latin-1 refuses the euro, never a '?'")
      << latin1 << QStringLiteral("\u00e9\u20ac") << QByteArray("\xe9")
      << QStringLiteral("The send box takes no \"\u20ac\" (U+20AC), which Latin-1 cannot carry.");
}

// Typed key by key into the send box and sent with the Send button.
void StoredSendsTest::typedTextGoesOutInTheChosenEncoding() {
  QFETCH(int, encoding);
  QFETCH(QString, typed);
  QFETCH(QByteArray, sent);
  QFETCH(QString, refused);
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  QVERIFY(harness.Window().Sending().Options()->ChooseEncoding(TextEncoding(encoding)));
  auto* box = harness.Get<ByteTextBox>(kSendBox);
  box->setFocus();
  TerminalHarness::TypeKeys(box, typed);
  harness.Click(kSendButton);
  std::vector<uint8_t> expected(sent.begin(), sent.end());
  QCOMPARE(harness.Receive(0, expected.size()), expected);
  QCOMPARE(harness.Drain(0, std::chrono::milliseconds(50)).size(), 0u);
  if (refused.isEmpty()) {
    QCOMPARE(harness.Messages(), QStringList());
  } else {
    QCOMPARE(harness.Messages().size(), 1);
    QVERIFY2(harness.Messages()[0].startsWith(refused), qPrintable(harness.Messages()[0]));
  }
}

// Kept in [SendOptions], shown in the status line; a send recalled from the
// history shows as it was typed.
void StoredSendsTest::theEncodingIsKeptAndReachesTheHistory() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  QVERIFY(harness.Window().Sending().Options()->ChooseEncoding(TextEncoding::kUtf8));
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kSend),
           QStringLiteral("send: UTF-8"));
  SendFromBox(harness, QStringLiteral("\u00e9\u20ac"), false);
  QCOMPARE(harness.Receive(0, 5).size(), 5u);
  harness.Window().close();
  harness.CloseWindow();
  QVERIFY(ReadProfileString(harness.Directory().toStdString() + "/Quorvel.ini", "SendOptions",
                            "Encoding") == std::string("utf8"));
  QVERIFY(harness.ShowActive());
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kSend),
           QStringLiteral("send: UTF-8"));
  auto* box = harness.Get<ByteTextBox>(kSendBox);
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Up, Qt::ControlModifier);
  QCOMPARE(box->toPlainText(), QStringLiteral("\u00e9\u20ac"));
}

// Back to Latin-1 while the box holds a euro: refused, and UTF-8 stays.
void StoredSendsTest::aSwitchTheSendBoxCannotTakeIsRefused() {
  TerminalHarness harness;
  SendOptionsMenu* options = harness.Window().Sending().Options();
  QVERIFY(options->ChooseEncoding(TextEncoding::kUtf8));
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("\u20ac"));
  QVERIFY(!options->ChooseEncoding(TextEncoding::kLatin1));
  QCOMPARE(harness.Messages().size(), 1);
  QVERIFY2(harness.Messages()[0].startsWith(
               QStringLiteral("Latin-1 was not chosen: the send box holds \"\u20ac\"")),
           qPrintable(harness.Messages()[0]));
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kSend),
           QStringLiteral("send: UTF-8"));
  QCOMPARE(SendEncodingOf(harness.Window().State()), TextEncoding::kUtf8);
}

// Pasted text with a character Latin-1 cannot carry goes in not at all;
// under UTF-8 the same paste goes in whole.
void StoredSendsTest::aPasteTheEncodingCannotCarryIsRefusedWhole() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  auto* box = harness.Get<ByteTextBox>(kSendBox);
  box->setFocus();
  QGuiApplication::clipboard()->setText(QStringLiteral("5 \u20ac"));
  box->paste();
  QCOMPARE(box->toPlainText(), QString());
  QCOMPARE(harness.Messages().size(), 1);
  QVERIFY(harness.Window().Sending().Options()->ChooseEncoding(TextEncoding::kUtf8));
  box->paste();
  QCOMPARE(box->toPlainText(), QStringLiteral("5 \u20ac"));
  QCOMPARE(harness.Messages().size(), 1);
}

// An entry typed in UTF-8 is its UTF-8 bytes; a rule's pattern likewise, and
// Latin-1 refuses what it cannot carry in both, with the dialog kept open.
void StoredSendsTest::theListAndTheRulesTakeTheEncoding() {
  TerminalHarness harness;
  QWidget* parent = &harness.Window();
  auto typeContent = [](QWidget* dialog) {
    auto* content = dialog->findChild<ByteTextBox*>();
    content->setFocus();
    TerminalHarness::TypeKeys(content, QStringLiteral("\u00e9\u20ac"));
    static_cast<QDialog*>(dialog)->accept();
  };
  {
    ModalWatcher watcher(ModalWatcher::Kind::kDialog, typeContent);
    auto entry =
        AskSendEntry(parent, QStringLiteral("Add"), {"e", "", false, {}, 0}, TextEncoding::kUtf8);
    QVERIFY(entry);
    QCOMPARE(entry->content, std::string("\xc3\xa9\xe2\x82\xac"));
  }
  {
    ModalWatcher watcher(ModalWatcher::Kind::kDialog, typeContent);
    auto entry =
        AskSendEntry(parent, QStringLiteral("Add"), {"e", "", false, {}, 0}, TextEncoding::kLatin1);
    QVERIFY(entry);
    QCOMPARE(entry->content, std::string("\xe9"));
    QCOMPARE(harness.Messages().size(), 1);
  }
  bool stayedOpen = false;
  ModalWatcher watcher(ModalWatcher::Kind::kDialog, [&](QWidget* dialog) {
    auto* pattern = dialog->findChild<QLineEdit*>(QStringLiteral("pattern"));
    pattern->setText(QStringLiteral("\u20ac"));
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    stayedOpen = dialog->isVisible();
    pattern->setText(QStringLiteral("\u00e9"));
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  auto rule = EditAnswerRule(parent, AnswerRule{}, TextEncoding::kLatin1);
  QVERIFY(stayedOpen);
  QVERIFY(rule);
  QCOMPARE(rule->pattern, std::string("\xe9"));
  QCOMPARE(harness.Messages().size(), 2);
  QVERIFY2(harness.Messages()[1].startsWith(QStringLiteral("The pattern holds \"\u20ac\"")),
           qPrintable(harness.Messages()[1]));
}

QTEST_MAIN(StoredSendsTest)
#include "stored_sends_test.moc"
