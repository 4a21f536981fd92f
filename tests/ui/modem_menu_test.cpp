// The modem lines in the window: the context-menu entries and their keys, the
// status line's lines and flow control, the "Lines at open" choice across a
// restart, and a pseudo-terminal that has no modem lines at all.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "support/fake_modem.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/modem_menu.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::FakeModem;
using quorvel::testing::TerminalHarness;
using Entry = ModemMenu::Entry;

namespace {

QString Field(TerminalHarness& harness, StatusLine::Field field) {
  return harness.Window().Status()->Text(field);
}

QAction* ActionOf(TerminalHarness& harness, Entry entry) {
  return harness.Window().Modem()->Action(entry);
}

constexpr Entry kLineEntries[] = {Entry::kDtr, Entry::kRts, Entry::kPulseDtr, Entry::kPulseRts,
                                  Entry::kBreak};

bool LineEntriesEnabled(TerminalHarness& harness, bool enabled) {
  for (Entry entry : kLineEntries) {
    if (ActionOf(harness, entry)->isEnabled() != enabled) return false;
  }
  return ActionOf(harness, Entry::kDtrAtOpen)->isEnabled();
}

}  // namespace

class ModemMenuTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void portMenuHoldsTheLinesWithTheirKeys();
  void pseudoTerminalShowsLinesNotAvailableAndKeepsItsLink();
  void keysCommandTheLinesAndTheStatusFollowsThem();
  void linesAtOpenChoiceIsKeptAndAppliedAtTheNextOpen();
};

void ModemMenuTest::portMenuHoldsTheLinesWithTheirKeys() {
  TerminalHarness harness;
  QMenu* port = harness.Window().findChild<QMenuBar*>()->actions().front()->menu();
  QStringList entries;
  for (QAction* action : port->actions()) {
    entries << action->text() + QLatin1Char('|') + action->shortcut().toString();
  }
  QCOMPARE(entries,
           (QStringList{"Close com|", QString::fromUtf8("Add &network port…|"), "|",
                        QString::fromUtf8("Open &second port…|Ctrl+Shift+N"),
                        "Close second port|Ctrl+Shift+W",
                        QString::fromUtf8("&Monitor two ports as one link…|Ctrl+Shift+M"),
                        QString::fromUtf8("&Bridge two ports…|Ctrl+Shift+J"),
                        "Stop monitor or bridge|Ctrl+Shift+K", "|", "DTR|Ctrl+Shift+D",
                        "RTS|Ctrl+Shift+R", "Pulse DTR|Ctrl+Shift+T", "Pulse RTS|Ctrl+Shift+Y",
                        "Send break|Ctrl+Shift+B", "Lines at open|", "|", "&Quit|Ctrl+Q"}));
  QMenu* atOpen = port->actions()[14]->menu();
  QVERIFY(atOpen);
  QCOMPARE(atOpen->actions().size(), 2);
  QCOMPARE(atOpen->actions()[0]->text(), QStringLiteral("DTR active"));
  QCOMPARE(atOpen->actions()[1]->text(), QStringLiteral("RTS active"));
}

void ModemMenuTest::pseudoTerminalShowsLinesNotAvailableAndKeepsItsLink() {
  TerminalHarness harness;
  harness.Window();
  QCOMPARE(Field(harness, StatusLine::Field::kLines), QStringLiteral("lines: not available"));
  QCOMPARE(Field(harness, StatusLine::Field::kFlow), QStringLiteral("flow: none"));
  QVERIFY(LineEntriesEnabled(harness, false));
  QVERIFY(harness.Window().Link().Port().IsOpen());
  ActionOf(harness, Entry::kPulseDtr)->trigger();  // disabled: nothing happens
  harness.Device().Send(std::string("still here"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("10"));
  QVERIFY(harness.Messages().isEmpty());

  harness.Click(kOpenCloseButton);
  QVERIFY(!harness.Window().Link().Port().IsOpen());
  QCOMPARE(Field(harness, StatusLine::Field::kLines), QString());
  QCOMPARE(Field(harness, StatusLine::Field::kFlow), QString());
  QVERIFY(LineEntriesEnabled(harness, false));
}

void ModemMenuTest::keysCommandTheLinesAndTheStatusFollowsThem() {
  FakeModem modem;
  TerminalHarness harness;
  harness.UseModem(&modem);
  QVERIFY(harness.ShowActive());
  QCOMPARE(Field(harness, StatusLine::Field::kLines),
           QString::fromUtf8("DTR● RTS● CTS○ DSR○ DCD○ RI○"));
  QVERIFY(LineEntriesEnabled(harness, true));
  QVERIFY(ActionOf(harness, Entry::kDtr)->isChecked());

  // From the send box: the keys command the lines and type nothing.
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setFocus();
  sendBox->setPlainText(QStringLiteral("x"));
  modem.ClearCalls();
  QTest::keyClick(sendBox, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
  QTRY_VERIFY(!ActionOf(harness, Entry::kDtr)->isChecked());
  QTRY_COMPARE(Field(harness, StatusLine::Field::kLines),
               QString::fromUtf8("DTR○ RTS● CTS○ DSR○ DCD○ RI○"));
  QTest::keyClick(sendBox, Qt::Key_Y, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(sendBox, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
  QTRY_COMPARE(modem.Calls().size(), size_t(4));
  std::vector<FakeModem::Call> calls = modem.Calls();
  QCOMPARE(int(calls[0].kind), int(FakeModem::Kind::kDrop));
  QCOMPARE(calls[0].lines, kLineDtr);
  QCOMPARE(int(calls[1].kind), int(FakeModem::Kind::kDrop));
  QCOMPARE(calls[1].lines, kLineRts);
  QCOMPARE(int(calls[2].kind), int(FakeModem::Kind::kRaise));
  QCOMPARE(int(calls[3].kind), int(FakeModem::Kind::kBreak));
  QCOMPARE(sendBox->toPlainText(), QStringLiteral("x"));

  modem.SetInputs(kLineCts | kLineRi);
  QTRY_COMPARE(Field(harness, StatusLine::Field::kLines),
               QString::fromUtf8("DTR○ RTS● CTS● DSR○ DCD○ RI●"));
  modem.SetInputs(kLineDcd);
  QTRY_COMPARE(Field(harness, StatusLine::Field::kLines),
               QString::fromUtf8("DTR○ RTS● CTS○ DSR○ DCD● RI○"));
}

void ModemMenuTest::linesAtOpenChoiceIsKeptAndAppliedAtTheNextOpen() {
  FakeModem modem;
  TerminalHarness harness;
  harness.UseModem(&modem);
  harness.Window();
  ActionOf(harness, Entry::kDtrAtOpen)->trigger();
  QVERIFY(!ActionOf(harness, Entry::kDtrAtOpen)->isChecked());
  harness.Window().close();
  harness.CloseWindow();
  QVERIFY(QString::fromStdString(harness.IniText()).contains("[LinesAtOpen]\nDTR=0\nRTS=1\n"));

  modem.ClearCalls();
  harness.Window();
  QVERIFY(!ActionOf(harness, Entry::kDtrAtOpen)->isChecked());
  QVERIFY(ActionOf(harness, Entry::kRtsAtOpen)->isChecked());
  QVERIFY(!modem.Calls().empty());
  QCOMPARE(int(modem.Calls()[0].kind), int(FakeModem::Kind::kDrop));
  QCOMPARE(modem.Calls()[0].lines, kLineDtr);
  QVERIFY(!harness.Device().Line().hangUpOnClose);
  QTRY_VERIFY(!ActionOf(harness, Entry::kDtr)->isChecked());
}

QTEST_MAIN(ModemMenuTest)
#include "modem_menu_test.moc"
