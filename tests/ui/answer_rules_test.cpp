// The send box's options and the answer rules in the window: loaded from the
// settings file at start, the rules switched from the context menu, a bad
// pattern refused in the rule's dialog.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "sending/send_composer.h"
#include "terminal_harness.h"
#include "ui/answer_rules_dialog.h"
#include "ui/byte_text_box.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TerminalHarness;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kStoredRule[] =
    "[AnswerRules]\nEnabled=1\nCount=1\nRule1Match=hex\nRule1Pattern=01 03 ?? ??\n"
    "Rule1Content=01 03 00\nRule1Hex=1\nRule1Checksum=modbus-crc16\n";

QAction* Entry(MainWindow& window, const QString& prefix) {
  return quorvel::testing::MenuEntry(window.WindowMenu(), prefix);
}

}  // namespace

class AnswerRulesWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void storedSendOptionsApplyToTheSendButton();
  void storedRulesAnswerFromTheStartAndSwitchOff();
  void badPatternIsRefusedWithAMessage();
  void theRuleDialogChoosesTheLineItAnswers();
};

void AnswerRulesWindowTest::storedSendOptionsApplyToTheSendButton() {
  TerminalHarness harness("[SendOptions]\nLineEnding=crlf\nEscapes=1\nChecksum=xor8\n");
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("\\x01\\x03"));
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 5), (Bytes{0x01, 0x03, 0x02, 0x0d, 0x0a}));
}

void AnswerRulesWindowTest::storedRulesAnswerFromTheStartAndSwitchOff() {
  TerminalHarness harness(kStoredRule);
  harness.Window();
  harness.Device().Send(Bytes{0x01, 0x03, 0x00, 0x10});
  Bytes expected =
      ComposeSend("01 03 00", true, {LineEnding::kNone, false, ChecksumKind::kModbusCrc16});
  QCOMPARE(harness.Receive(0, expected.size()), expected);

  QAction* on = Entry(harness.Window(), QStringLiteral("Answer rules on"));
  QVERIFY(on);
  QVERIFY(Entry(harness.Window(), QStringLiteral("Answer rules…")));
  QVERIFY(on->isChecked());
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kRules),
           QStringLiteral("answer rules: 1"));
  on->trigger();
  QVERIFY(!on->isChecked());
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kRules), QString());
  harness.Device().Send(Bytes{0x01, 0x03, 0x00, 0x10});
  QCOMPARE(harness.Drain(0), Bytes{});
  QVERIFY(harness.IniText().find("Enabled=0") != std::string::npos);
  QVERIFY(harness.Messages().isEmpty());
}

void AnswerRulesWindowTest::badPatternIsRefusedWithAMessage() {
  TerminalHarness harness;
  bool stayedOpen = false;
  ModalWatcher watcher(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    open->findChild<QComboBox*>(QStringLiteral("match"))->setCurrentIndex(2);
    open->findChild<QLineEdit*>(QStringLiteral("pattern"))->setText(QStringLiteral("(ab"));
    auto* box = open->findChild<QDialogButtonBox*>();
    box->button(QDialogButtonBox::Ok)->click();
    stayedOpen = open->isVisible();
    static_cast<QDialog*>(open)->reject();
  });
  QVERIFY(!EditAnswerRule(&harness.Window(), AnswerRule{}));
  QVERIFY(watcher.Ran());
  QVERIFY(stayedOpen);
  QCOMPARE(harness.Messages().size(), 1);
  QVERIFY(harness.Messages()[0].contains(QStringLiteral("regular expression")));
}

// The rule's "Answers" box shows the line it answers and gives back the one
// chosen; its tooltip says a monitor keeps bridge rules silent.
void AnswerRulesWindowTest::theRuleDialogChoosesTheLineItAnswers() {
  TerminalHarness harness;
  AnswerRule rule;
  rule.pattern = "x";
  rule.line = RuleLine::kB;
  int shown = -1;
  QString tip;
  ModalWatcher watcher(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    auto* line = open->findChild<QComboBox*>(QStringLiteral("line"));
    shown = line->currentIndex();
    tip = line->toolTip();
    line->setCurrentIndex(static_cast<int>(RuleLine::kA));
    open->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  std::optional<AnswerRule> edited = EditAnswerRule(&harness.Window(), rule);
  QVERIFY(watcher.Ran());
  QCOMPARE(shown, static_cast<int>(RuleLine::kB));
  QVERIFY2(tip.contains(QStringLiteral("monitor")), qPrintable(tip));
  QVERIFY(edited);
  QVERIFY(edited->line == RuleLine::kA);
}

QTEST_MAIN(AnswerRulesWindowTest)
#include "answer_rules_test.moc"
