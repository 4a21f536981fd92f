// The receive box: what it shows after appends equals what it shows after
// showing the same text at once, in pixels too; hex lines; paced repaints.
#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "engine/render.h"
#include "ui/dialog_template.h"
#include "ui/receive_box.h"

using namespace quorvel;

namespace {

std::string Log(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    text += "line " + std::to_string(i) + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
  }
  return text;
}

std::string Hex(const std::string& bytes) {
  return RenderReceiveText(reinterpret_cast<const uint8_t*>(bytes.data()),
                           static_cast<int>(bytes.size()), true);
}

// A receive box as the window has it, as a window of its own.
struct Box {
  Box() : box(nullptr) {
    box.setFont(DialogFont(9));
    box.resize(DialogUnits(box.font()).ToPixels(DluRect{0, 0, 257, 194}).size());
    box.show();
  }
  // Waits until every held repaint has been made.
  bool Settle() {
    return QTest::qWaitFor([&] { return box.Settled(); });
  }
  QImage Pixels() { return box.screen()->grabWindow(box.winId()).toImage(); }
  ReceiveBox box;
};

}  // namespace

class ReceiveBoxTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void appendsShowWhatShowingAtOnceShows_data();
  void appendsShowWhatShowingAtOnceShows();
  void breaksLinesAtCrLfCrAndLf();
  void showsHexOneLineOfTheBoxPerParagraph();
  void appendsOnlyWhatFollowsTheShownText();
};

void ReceiveBoxTest::appendsShowWhatShowingAtOnceShows_data() {
  QTest::addColumn<bool>("hex");
  QTest::newRow("text") << false;
  QTest::newRow("hex") << true;
}

void ReceiveBoxTest::appendsShowWhatShowingAtOnceShows() {
  QFETCH(bool, hex);
  std::string log = Log(400);
  std::string text = hex ? Hex(log.substr(0, 3000)) : log;
  Box appended;
  Box atOnce;
  QVERIFY(QTest::qWaitForWindowExposed(&appended.box));
  QVERIFY(QTest::qWaitForWindowExposed(&atOnce.box));
  // In pieces: the first ones in view, later ones below it, some splitting a
  // CR LF or a hex group; some painted at once, some held for a frame's end.
  appended.box.Show(text.substr(0, 7), hex);
  size_t at = 7;
  bool settle = false;
  for (size_t piece : {5, 1, 40, 3, 300, 2, 999, 1, 4000}) {
    piece = std::min(piece, text.size() - at);
    std::string next = text.substr(0, at + piece);
    QVERIFY(appended.box.CanAppend(next, hex));
    appended.box.Append(std::string_view(text).substr(at, piece));
    at += piece;
    if ((settle = !settle)) QVERIFY(appended.Settle());
  }
  appended.box.Append(std::string_view(text).substr(at));
  atOnce.box.Show(text, hex);
  QVERIFY(appended.Settle());
  QVERIFY(atOnce.Settle());
  QCOMPARE(appended.box.Shown(), text);
  QCOMPARE(appended.box.toPlainText(), atOnce.box.toPlainText());
  QCOMPARE(appended.box.verticalScrollBar()->maximum(), atOnce.box.verticalScrollBar()->maximum());
  QVERIFY(appended.box.verticalScrollBar()->maximum() > 0);
  QCOMPARE(appended.box.verticalScrollBar()->value(), 0);
  QImage pixels = appended.Pixels();
  QVERIFY(!pixels.isNull());
  QCOMPARE(pixels, atOnce.Pixels());
}

void ReceiveBoxTest::breaksLinesAtCrLfCrAndLf() {
  Box shown;
  shown.box.Show("a\r\nb\nc\rd\r", false);
  shown.box.Append("\ne\n\rf");
  QCOMPARE(shown.box.toPlainText(), QStringLiteral("a\nb\nc\nd\ne\n\nf"));
  QCOMPARE(shown.box.Bytes(), std::string("a\r\nb\r\nc\r\nd\r\ne\r\n\r\nf"));
  QVERIFY(!shown.box.Edited());
}

void ReceiveBoxTest::showsHexOneLineOfTheBoxPerParagraph() {
  Box shown;
  QVERIFY(QTest::qWaitForWindowExposed(&shown.box));
  std::string bytes(2000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 37);
  std::string hex = Hex(bytes);
  shown.box.Show(hex, true);
  QVERIFY(shown.Settle());
  int groups = shown.box.GroupsPerLine();
  QVERIFY(groups >= 16);
  QString plain = shown.box.toPlainText();
  QCOMPARE(plain.count(u'\n'), (2000 - 1) / groups);
  QCOMPARE(plain.remove(u'\n'), QString::fromLatin1(hex.data(), hex.size()));
  // Each paragraph is one line of the box: as wide as the wrapping allows.
  QTextBlock block = shown.box.document()->firstBlock();
  for (int i = 0; i < 10; ++i, block = block.next()) {
    QVERIFY(block.layout()->lineCount() == 1);
  }
}

void ReceiveBoxTest::appendsOnlyWhatFollowsTheShownText() {
  Box shown;
  shown.box.Show("abc", false);
  QVERIFY(shown.box.CanAppend("abcd", false));
  QVERIFY(shown.box.CanAppend("abc", false));
  QVERIFY(!shown.box.CanAppend("abd", false));
  QVERIFY(!shown.box.CanAppend("ab", false));
  QVERIFY(!shown.box.CanAppend("abcd", true));
  // Typing into the box makes the next refresh show the whole text anew.
  shown.box.setFocus();
  QTest::keyClicks(&shown.box, "x");
  QVERIFY(shown.box.Edited());
  QVERIFY(!shown.box.CanAppend("abcd", false));
}

QTEST_MAIN(ReceiveBoxTest)
#include "receive_box_test.moc"
