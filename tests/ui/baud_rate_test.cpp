// Any baud rate in the window: the fast rates at the end of the list, a rate
// typed into the selector (taken on Enter and when the focus leaves, checked,
// kept in the settings file under its own key), a start on a typed rate.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "link/line_settings.h"
#include "settings/settings.h"
#include "terminal_harness.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

namespace {

// Types `text` into the baud selector's edit, as the user would, and ends
// with `key` (Enter), or with the focus going elsewhere when `key` is 0.
void TypeRate(TerminalHarness& harness, const QString& text, int key = Qt::Key_Return) {
  auto* baud = harness.Get<QComboBox>(kBaudSelector);
  baud->setFocus();
  baud->lineEdit()->selectAll();
  TerminalHarness::TypeKeys(baud->lineEdit(), text);
  if (key != 0) {
    QTest::keyClick(baud->lineEdit(), static_cast<Qt::Key>(key));
  } else {
    harness.Get<QLineEdit>(kPeriodBox)->setFocus();
    Q_EMIT baud->lineEdit()->editingFinished();  // what the focus leaving does with a display
  }
}

}  // namespace

class BaudRateTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void fastRatesFollowTheOldOnesInTheList();
  void aTypedRateReachesTheLineAndIsSaved();
  void aTypedListedRateSelectsItsEntry();
  void whatIsNoRateIsRefusedWithAMessage();
  void aStoredTypedRateWinsAtStart();
  void aRateFromTheCommandLineReachesTheLine();
};

void BaudRateTest::fastRatesFollowTheOldOnesInTheList() {
  TerminalHarness harness;
  auto* baud = harness.Get<QComboBox>(kBaudSelector);
  QCOMPARE(baud->count(), 26);
  QCOMPARE(baud->itemText(15), QStringLiteral("115200"));
  QCOMPARE(baud->itemText(20), QStringLiteral("921600"));
  harness.Choose(kBaudSelector, 20);
  QCOMPARE(harness.Device().Line().outputSpeed, 921600u);
  harness.Choose(kBaudSelector, 25);
  QCOMPARE(harness.Device().Line().outputSpeed, 4000000u);
  harness.Window().close();
  QCOMPARE(LoadSettings(harness.Directory().toStdString()).selection.baudPos, 25);
}

void BaudRateTest::aTypedRateReachesTheLineAndIsSaved() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  TypeRate(harness, QStringLiteral("250000"));
  QCOMPARE(harness.Device().Line().outputSpeed, 250000u);
  QCOMPARE(harness.Device().Line().inputSpeed, 250000u);
  auto* baud = harness.Get<QComboBox>(kBaudSelector);
  QCOMPARE(baud->currentText(), QStringLiteral("250000"));
  QCOMPARE(baud->count(), 26);  // never inserted into the list
  QCOMPARE(harness.Window().CurrentSelection().typedBaud, 250000u);
  // Taken when the focus leaves, too.
  TypeRate(harness, QStringLiteral("74880"), 0);
  QCOMPARE(harness.Device().Line().outputSpeed, 74880u);
  QVERIFY(harness.Messages().isEmpty());

  harness.Window().close();
  Settings saved = LoadSettings(harness.Directory().toStdString());
  QCOMPARE(saved.selection.typedBaud, 74880u);
  QVERIFY(harness.IniText().find("[TypedRate]") != std::string::npos);

  // An entry chosen from the list replaces the typed rate.
  harness.CloseWindow();
  // The saved file without its port map (the next harness maps its own device).
  std::string ini = harness.IniText();
  size_t map = ini.find("[PortMap]");
  ini.erase(map, ini.find('[', map + 1) - map);
  TerminalHarness again(ini);
  again.Window();
  QCOMPARE(again.Get<QComboBox>(kBaudSelector)->currentText(), QStringLiteral("74880"));
  QCOMPARE(again.Device().Line().outputSpeed, 74880u);
  again.Choose(kBaudSelector, 16);
  QCOMPARE(again.Device().Line().outputSpeed, 230400u);
  QCOMPARE(again.Window().CurrentSelection().typedBaud, 0u);
  again.Window().close();
  QCOMPARE(LoadSettings(again.Directory().toStdString()).selection.typedBaud, 0u);
  QCOMPARE(LoadSettings(again.Directory().toStdString()).selection.baudPos, 16);
}

void BaudRateTest::aTypedListedRateSelectsItsEntry() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  TypeRate(harness, QStringLiteral("921600"));
  QCOMPARE(harness.Get<QComboBox>(kBaudSelector)->currentIndex(), 20);
  QCOMPARE(harness.Window().CurrentSelection().typedBaud, 0u);
  QCOMPARE(harness.Device().Line().outputSpeed, 921600u);
  // No completion: 1000 is 1000 baud, not the listed 1000000.
  TypeRate(harness, QStringLiteral("1000"));
  QCOMPARE(harness.Device().Line().outputSpeed, 1000u);
}

void BaudRateTest::whatIsNoRateIsRefusedWithAMessage() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  harness.Choose(kBaudSelector, 7);
  for (const char* bad : {"fast", "0", "-9600", "4294967296", "96 00"}) {
    harness.ClearMessages();
    TypeRate(harness, QString::fromLatin1(bad));
    QCOMPARE(harness.Messages().size(), 1);
    QVERIFY2(harness.Messages().front().contains(QStringLiteral("from 1 to 4294967295")), bad);
    // The line and the selector keep the rate they had.
    QCOMPARE(harness.Device().Line().outputSpeed, 9600u);
    QCOMPARE(harness.Get<QComboBox>(kBaudSelector)->currentText(), QStringLiteral("9600"));
  }
}

void BaudRateTest::aStoredTypedRateWinsAtStart() {
  TerminalHarness harness("[COMConfig]\nBRATE=7\n[TypedRate]\nRATE=31250\n");
  harness.Window();
  QCOMPARE(harness.Device().Line().outputSpeed, 31250u);
  QCOMPARE(harness.Get<QComboBox>(kBaudSelector)->currentText(), QStringLiteral("31250"));
  QCOMPARE(harness.Get<QComboBox>(kBaudSelector)->currentIndex(), -1);
}

void BaudRateTest::aRateFromTheCommandLineReachesTheLine() {
  TerminalHarness harness("[TypedRate]\nRATE=31250\n");
  harness.Options().typedBaud = 74880;
  harness.Window();
  QCOMPARE(harness.Device().Line().outputSpeed, 74880u);
  TerminalHarness listed("[TypedRate]\nRATE=31250\n");
  listed.Options().baudPos = 20;
  listed.Window();
  QCOMPARE(listed.Device().Line().outputSpeed, 921600u);
  QCOMPARE(listed.Window().CurrentSelection().typedBaud, 0u);
}

QTEST_MAIN(BaudRateTest)
#include "baud_rate_test.moc"
