// The session view's colours stand out from its background in light and
// dark palettes alike, and the read-only value boxes follow a palette that
// changes while the window is open.
#include <QApplication>
#include <QLineEdit>
#include <QStyle>
#include <QTest>
#include <cmath>

#include "terminal_harness.h"
#include "ui/session_colours.h"

using namespace quorvel;
using namespace quorvel::testing;

namespace {

QPalette Dark(QColor window, QColor base, QColor text) {
  QPalette palette(window);
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Highlight, QColor(0x3d, 0x7a, 0xd6));
  return palette;
}

}  // namespace

class SessionColoursTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void linesAreReadableOnTheBase_data();
  void linesAreReadableOnTheBase();
  void valueBoxesFollowAPaletteChange();
  void contrastIsTheWcagRatio();
};

void SessionColoursTest::linesAreReadableOnTheBase_data() {
  QTest::addColumn<QPalette>("palette");
  QTest::newRow("the style's light palette") << QApplication::style()->standardPalette();
  QTest::newRow("a light grey base")
      << Dark(QColor(0xe8, 0xe8, 0xe8), QColor(0xf6, 0xf5, 0xf4), QColor(0x24, 0x1f, 0x31));
  QTest::newRow("a near-black base")
      << Dark(QColor(0x2d, 0x2d, 0x2d), QColor(0x1e, 0x1e, 0x1e), QColor(0xe0, 0xe0, 0xe0));
  QTest::newRow("a mid-dark grey base")
      << Dark(QColor(0x35, 0x35, 0x35), QColor(0x42, 0x42, 0x42), QColor(0xff, 0xff, 0xff));
  QTest::newRow("dark text left on a dark base")
      << Dark(QColor(0x20, 0x20, 0x20), QColor(0x20, 0x20, 0x20), QColor(0x30, 0x30, 0x30));
}

void SessionColoursTest::linesAreReadableOnTheBase() {
  QFETCH(QPalette, palette);
  QColor base = palette.color(QPalette::Base);
  SessionColours colours = SessionColoursFor(palette);
  const std::pair<const char*, QColor> lines[] = {
      {"RX", colours.received}, {"TX", colours.sent},     {"event", colours.event},
      {"stamp", colours.stamp}, {"valid", colours.valid}, {"bad", colours.bad},
  };
  for (const auto& [name, colour] : lines) {
    QVERIFY2(ContrastRatio(colour, base) >= kReadableContrast,
             qPrintable(QStringLiteral("%1 %2 on %3: %4:1")
                            .arg(name, colour.name(), base.name())
                            .arg(ContrastRatio(colour, base))));
  }
  // Each kind keeps a colour of its own.
  QVERIFY(colours.sent != colours.received && colours.event != colours.received);
}

void SessionColoursTest::valueBoxesFollowAPaletteChange() {
  TerminalHarness harness;
  QPalette before = QApplication::palette();
  QPalette dark =
      Dark(QColor(0x2d, 0x2d, 0x2d), QColor(0x1e, 0x1e, 0x1e), QColor(0xe0, 0xe0, 0xe0));
  QApplication::setPalette(dark);
  auto* tx = harness.Get<QLineEdit>(kTxBox);
  // The toolkit hands the change to the widgets at the next pass of the loop.
  QTRY_COMPARE(tx->palette().color(QPalette::Base), dark.color(QPalette::Window));
  QCOMPARE(tx->palette().color(QPalette::Text), dark.color(QPalette::Text));
  QApplication::setPalette(before);
  QTRY_COMPARE(tx->palette().color(QPalette::Base), before.color(QPalette::Window));
}

void SessionColoursTest::contrastIsTheWcagRatio() {
  // Every channel value, a grey on black, against the formula itself.
  for (int value = 0; value <= 255; ++value) {
    double c = value / 255.0;
    double linear = c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    double expected = (linear + 0.05) / 0.05;
    QColor grey(value, value, value);
    QVERIFY2(std::abs(ContrastRatio(grey, Qt::black) - expected) < 1e-6 * expected,
             qPrintable(QString::number(value)));
  }
  // The weights of red, green and blue, and the ratio's order not mattering.
  QCOMPARE(qRound(ContrastRatio(Qt::white, Qt::black) * 100), 2100);
  QCOMPARE(qRound(ContrastRatio(QColor(0x77, 0x77, 0x77), Qt::white) * 100), 448);
  QCOMPARE(qRound(ContrastRatio(Qt::white, QColor(0xff, 0, 0)) * 100), 400);
  QCOMPARE(qRound(ContrastRatio(QColor(0, 0, 0xff), Qt::black) * 100), 244);
}

QTEST_MAIN(SessionColoursTest)
#include "session_colours_test.moc"
