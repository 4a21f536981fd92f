// Everyday sending in the window: the history of the send box and its
// recall keys, the send list panel's keys and buttons on a pseudo-terminal,
// "Send all in order", the panel growing the window, and import files that
// must leave the list as it was.
#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "sending/checksum.h"
#include "settings/send_store.h"
#include "terminal_harness.h"
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

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

void SendFromBox(TerminalHarness& harness, const QString& text, bool hex) {
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(text);
  auto* hexCheck = harness.Get<QCheckBox>(kSendAsHexCheck);
  if (hexCheck->isChecked() != hex) harness.Click(kSendAsHexCheck);
  harness.Click(kSendButton);
}

std::vector<SendListEntry> ThreeEntries(int delayMs) {
  return {{"a", "a", false, {}, delayMs},
          {"b", "b", false, {}, delayMs},
          {"c", "c", false, {}, delayMs}};
}

}  // namespace

class SendToolsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void historyKeepsSendsNewestFirstAcrossARestart();
  void recallKeysWalkTheHistory_data();
  void recallKeysWalkTheHistory();
  void historyMenuPutsASendBack();
  void anEntryGoesOutByteForByte_data();
  void anEntryGoesOutByteForByte();
  void sendAllInOrderKeepsOrderAndStops();
  void panelGrowsTheWindowAndIsRemembered();
  void hostileImportLeavesTheListAsItWas();
  void statusLineShowsTheSendOptions();
  void answerRulesAnswerWithTheListsEntryAsItIsNow();
  void entryDialogRefusesBadHexAndKeepsTheEntry();
  void listSendsWithoutADeviceActAsTheSendButton_data();
  void listSendsWithoutADeviceActAsTheSendButton();
};

void SendToolsTest::historyKeepsSendsNewestFirstAcrossARestart() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  SendFromBox(harness, QStringLiteral("AT"), false);
  SendFromBox(harness, QStringLiteral("01 02"), true);
  SendFromBox(harness, QStringLiteral("AT"), false);
  QCOMPARE(harness.Drain(0), Bytes("AT\x01\x02"
                                   "AT"));
  std::vector<HistoryEntry> expected{{"AT", false}, {"01 02", true}};
  QCOMPARE(harness.Window().Sending().History().Entries(), expected);
  harness.Window().close();  // saves
  harness.CloseWindow();
  QCOMPARE(harness.Window().Sending().History().Entries(), expected);
}

void SendToolsTest::recallKeysWalkTheHistory_data() {
  QTest::addColumn<QString>("keys");  // U: Ctrl+Up, D: Ctrl+Down, u: Up
  QTest::addColumn<QString>("box");
  QTest::addColumn<bool>("hex");
  QTest::addRow("newest") << "U"
                          << "second" << false;
  QTest::addRow("older") << "UU"
                         << "01 02" << true;
  QTest::addRow("stays at the oldest") << "UUUU"
                                       << "01 02" << true;
  QTest::addRow("back down") << "UUD"
                             << "second" << false;
  QTest::addRow("past the newest: the draft") << "UUDD"
                                              << "draft" << false;
  QTest::addRow("plain Up edits") << "u"
                                  << "draft" << false;
}

void SendToolsTest::recallKeysWalkTheHistory() {
  QFETCH(QString, keys);
  QFETCH(QString, box);
  QFETCH(bool, hex);
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  SendFromBox(harness, QStringLiteral("01 02"), true);
  SendFromBox(harness, QStringLiteral("second"), false);
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setPlainText(QStringLiteral("draft"));
  sendBox->setFocus();
  for (QChar key : keys) {
    QTest::keyClick(sendBox, key.toLower() == 'u' ? Qt::Key_Up : Qt::Key_Down,
                    key.isUpper() ? Qt::ControlModifier : Qt::NoModifier);
  }
  QCOMPARE(sendBox->toPlainText(), box);
  QCOMPARE(harness.Get<QCheckBox>(kSendAsHexCheck)->isChecked(), hex);
  QCOMPARE(harness.Field([](auto& s) { return s.sendAsHex != 0; }), hex);
}

void SendToolsTest::historyMenuPutsASendBack() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  SendFromBox(harness, QStringLiteral("01 02"), true);
  SendFromBox(harness, QStringLiteral("a&b\r\n"), false);
  QAction* entry = quorvel::testing::MenuEntry(harness.Window().WindowMenu(), "Send history");
  QVERIFY(entry);
  QMenu* history = entry->menu();
  QVERIFY(history);
  Q_EMIT history->aboutToShow();
  QStringList labels;
  for (QAction* action : history->actions()) labels << action->text();
  QCOMPARE(labels, (QStringList{QStringLiteral("a&&b \u21b5 "), QStringLiteral("[hex] 01 02"),
                                QString(), QStringLiteral("Clear send history")}));
  history->actions()[1]->trigger();
  QCOMPARE(harness.Text(kSendBox), QStringLiteral("01 02"));
  QVERIFY(harness.Get<QCheckBox>(kSendAsHexCheck)->isChecked());
  history->actions()[3]->trigger();
  QVERIFY(harness.Window().Sending().History().Entries().empty());
}

void SendToolsTest::anEntryGoesOutByteForByte_data() {
  QTest::addColumn<QString>("how");
  for (const char* how : {"Alt+1", "Alt+2", "Enter", "Send button", "double click"}) {
    QTest::newRow(how) << QString::fromLatin1(how);
  }
}

void SendToolsTest::anEntryGoesOutByteForByte() {
  QFETCH(QString, how);
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  SendListPanel* panel = harness.Window().Sending().Panel();
  SendListEntry modbus{"Read 10 registers", "\\x01\\x03\\x00\\x00\\x00\\x0A", false, {}, 0};
  modbus.options = {LineEnding::kCrLf, true, ChecksumKind::kModbusCrc16};
  panel->SetCurrent(-1);
  panel->AddEntry(modbus);
  panel->AddEntry({"second",
                   "01 03 00 00 00 0A",
                   true,
                   {LineEnding::kCrLf, false, ChecksumKind::kModbusCrc16},
                   0});
  // The same request either way; a hex send never gets the line ending.
  std::vector<uint8_t> expected{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD, 0x0D, 0x0A};
  if (how == "Alt+2") expected.resize(8);
  harness.Window().Sending().ShowPanel(true);
  auto* list = panel->findChild<QListWidget*>();
  panel->SetCurrent(0);
  if (how.startsWith("Alt")) {
    QTest::keyClick(QApplication::focusWidget(), how == "Alt+1" ? Qt::Key_1 : Qt::Key_2,
                    Qt::AltModifier);
  } else if (how == "Enter") {
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
  } else if (how == "Send button") {
    for (auto* button : panel->findChildren<QPushButton*>()) {
      if (button->text() == "Send") button->click();
    }
  } else {
    QTRY_VERIFY(list->isVisible() && !list->visualItemRect(list->item(0)).isEmpty());
    QRect item = list->visualItemRect(list->item(0));
    // A double click as the platform delivers it: a click, then the second press.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item.center());
  }
  QCOMPARE(harness.Receive(0, expected.size()), expected);
  QCOMPARE(harness.Drain(0, std::chrono::milliseconds(50)).size(), 0u);  // once only
}

void SendToolsTest::sendAllInOrderKeepsOrderAndStops() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  SendListPanel* panel = harness.Window().Sending().Panel();
  for (const SendListEntry& entry : ThreeEntries(0)) panel->AddEntry(entry);
  panel->SendAll(false);
  QCOMPARE(harness.Receive(0, 3), Bytes("abc"));
  QTRY_VERIFY(!panel->SendingAll());
  QCOMPARE(harness.Drain(0).size(), 0u);

  auto txCount = [&] { return harness.Counters().txCount; };
  uint32_t before = txCount();
  // Round after round from its key, until its stop key.
  panel->SetRepeat(true);
  const auto keys = Qt::ControlModifier | Qt::ShiftModifier;
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_G, keys);
  std::vector<uint8_t> got = harness.Receive(0, 30);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, keys);
  QVERIFY(!panel->SendingAll());
  QTRY_VERIFY(!harness.Window().Link().Door().Busy());
  uint32_t sent = txCount() - before;
  std::vector<uint8_t> rest = harness.Drain(0);
  got.insert(got.end(), rest.begin(), rest.end());
  QCOMPARE(got.size(), size_t(sent));  // what was queued before Stop, and no more
  QCOMPARE(txCount() - before, sent);
  for (size_t i = 0; i < got.size(); ++i) QCOMPARE(char(got[i]), "abc"[i % 3]);
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kSend), QString());
}

void SendToolsTest::panelGrowsTheWindowAndIsRemembered() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QSize base = window.size();
  QPoint sendButton = window.Control(kSendButton)->mapTo(&window, QPoint(0, 0));
  int receiveWidth = window.Control(kReceiveBox)->width();
  window.Sending().ShowPanel(true);
  // The window grows by the panel (and its splitter's handle); the
  // template's controls keep their places and sizes.
  int grown = window.width() - base.width();
  QVERIFY(grown >= SendListPanel::kWidth);
  QCOMPARE(window.height(), base.height());
  QCOMPARE(window.Control(kSendButton)->mapTo(&window, QPoint(0, 0)), sendButton);
  QCOMPARE(window.Control(kReceiveBox)->width(), receiveWidth);
  QVERIFY(window.Sending().Panel()->isVisible());
  harness.CloseWindow();
  QVERIFY(harness.Window().Sending().PanelShown());
  QCOMPARE(harness.Window().width(), base.width() + grown);
  harness.Window().Sending().ShowPanel(false);
  QCOMPARE(harness.Window().size(), base);
}

void SendToolsTest::hostileImportLeavesTheListAsItWas() {
  TerminalHarness harness;
  SendListPanel* panel = harness.Window().Sending().Panel();
  for (const SendListEntry& entry : ThreeEntries(5)) panel->AddEntry(entry);
  std::string before = harness.IniText();
  QString bad = harness.Directory() + "/bad.ini";
  QFile file(bad);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("[SendList]\nName1=fine\nName2=broken\nContent2=zz\nHex2=1\n");
  file.close();
  QVERIFY(!panel->ImportFrom(bad.toStdString()));
  QCOMPARE(harness.Messages().size(), 1);
  QVERIFY(harness.Messages()[0].contains("Entry 2"));
  QCOMPARE(panel->Entries(), ThreeEntries(5));
  QCOMPARE(harness.IniText(), before);

  QString shared = harness.Directory() + "/shared.ini";
  QVERIFY(panel->ExportTo(shared.toStdString()));
  QVERIFY(panel->ImportFrom(shared.toStdString()));  // added after, nothing replaced
  QCOMPARE(panel->Entries().size(), 6u);
  harness.CloseWindow();
  QCOMPARE(harness.Window().Sending().Panel()->Entries().size(), 6u);
}

void SendToolsTest::statusLineShowsTheSendOptions() {
  TerminalHarness harness;
  StatusLine* status = harness.Window().Status();
  QCOMPARE(status->Text(StatusLine::Field::kSend), QString());
  harness.Window().Sending().Options()->Choose(
      {LineEnding::kCrLf, true, ChecksumKind::kModbusCrc16});
  QCOMPARE(status->Text(StatusLine::Field::kSend),
           QStringLiteral("send: CR LF \u00b7 Modbus CRC-16 \u00b7 escapes"));
  SendFromBox(harness, QStringLiteral("\\x01"), false);
  uint8_t one = 0x01;
  uint16_t crc = Crc16Modbus({&one, 1});
  std::vector<uint8_t> expected{0x01, uint8_t(crc & 0xFF), uint8_t(crc >> 8), 0x0D, 0x0A};
  QCOMPARE(harness.Receive(0, expected.size()), expected);
  harness.CloseWindow();  // chosen options are kept at once, not at close
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kSend),
           QStringLiteral("send: CR LF \u00b7 Modbus CRC-16 \u00b7 escapes"));
}

void SendToolsTest::answerRulesAnswerWithTheListsEntryAsItIsNow() {
  TerminalHarness harness(
      "[AnswerRules]\nEnabled=1\nCount=1\nRule1Match=text\nRule1Pattern=PING\n"
      "Rule1Entry=pong\n[SendList]\nName1=pong\nContent1=PONG\nEnding1=crlf\n");
  harness.Window();
  harness.Device().Send(Bytes("PING"));
  QCOMPARE(harness.Receive(0, 6), Bytes("PONG\r\n"));
  SendListPanel* panel = harness.Window().Sending().Panel();
  panel->SetCurrent(0);
  panel->Delete();
  panel->AddEntry({"pong", "PONG2", false, {}, 0});
  harness.Device().Send(Bytes("PING"));
  QCOMPARE(harness.Receive(0, 5), Bytes("PONG2"));
}

void SendToolsTest::entryDialogRefusesBadHexAndKeepsTheEntry() {
  TerminalHarness harness;
  QWidget* parent = &harness.Window();
  SendListEntry bad{"frame", "01 0x03", true, {}, 0};
  bool stayedOpen = false;
  ModalWatcher watcher(ModalWatcher::Kind::kDialog, [&](QWidget* dialog) {
    auto* edit = static_cast<SendEntryDialog*>(dialog);
    edit->accept();  // refused: the message, and the dialog stays
    stayedOpen = edit->isVisible();
    edit->findChild<ByteTextBox*>()->setPlainText(QStringLiteral("01 03"));
    edit->accept();
  });
  std::optional<SendListEntry> entry = AskSendEntry(parent, QStringLiteral("Edit"), bad);
  QVERIFY(watcher.Ran());
  QVERIFY(stayedOpen);
  QCOMPARE(harness.Messages().size(), 1);
  QVERIFY(entry);
  QCOMPARE(entry->content, std::string("01 03"));
  QCOMPARE(entry->name, std::string("frame"));
  QVERIFY(entry->hex);
}

void SendToolsTest::listSendsWithoutADeviceActAsTheSendButton_data() {
  QTest::addColumn<bool>("away");
  QTest::newRow("link closed: nothing, silently") << false;
  QTest::newRow("device away: Write com fail!") << true;
}

void SendToolsTest::listSendsWithoutADeviceActAsTheSendButton() {
  QFETCH(bool, away);
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  SendListPanel* panel = harness.Window().Sending().Panel();
  for (const SendListEntry& entry : ThreeEntries(0)) panel->AddEntry(entry);
  if (away) {
    harness.Device().Hangup();
    QTRY_VERIFY(harness.Window().Link().Waiting());
  } else {
    harness.Click(kOpenCloseButton);
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_1, Qt::AltModifier);
  panel->SendAll(true);
  QVERIFY(!panel->SendingAll());
  QCOMPARE(harness.Messages(),
           away ? QStringList(2, QStringLiteral("Write com fail!")) : QStringList());
  QCOMPARE(harness.Counters().txCount, 0u);
}

QTEST_MAIN(SendToolsTest)
#include "send_tools_test.moc"
