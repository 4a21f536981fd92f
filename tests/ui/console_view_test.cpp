// The console view offscreen: it paints at any size, its grid follows its
// size and the text size, keys reach the device as typed while the window's
// clashing shortcuts move aside, a selection copies as text, a paste goes
// out in pieces, find shows a match in the scrollback, and the screen reads
// through the accessibility interface row by row; a row painted by runs
// keeps every glyph on its cell at every text size.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <mutex>

#include "ui/console_painter.h"
#include "ui/console_view.h"
#include "ui/session_colours.h"

using namespace quorvel;

namespace {

// What the console sent, as the line would have carried it.
class Line {
 public:
  void Take(const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    sent_.append(bytes.begin(), bytes.end());
  }
  std::string Sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    sent_.clear();
  }

 private:
  std::mutex mutex_;
  std::string sent_;
};

// A window holding a console view, with shortcuts of its own that clash.
struct Window {
  Window() {
    console = std::make_unique<Console>(
        24, 80, ConsoleOptions{}, [this](std::vector<uint8_t> bytes) { line.Take(bytes); },
        [this](std::vector<uint8_t> piece, Console::PieceWritten written) {
          line.Take(piece);
          written(true);
        });
    auto* column = new QVBoxLayout(&top);
    other = new QLineEdit(&top);
    column->addWidget(other);
    view = new ConsoleView(*console, &top);
    column->addWidget(view);
    quit = new QAction(&top);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    top.addAction(quit);
    QObject::connect(quit, &QAction::triggered, [this] { ++quits; });
    sendBreak = new QAction(&top);
    sendBreak->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    top.addAction(sendBreak);
    QObject::connect(sendBreak, &QAction::triggered, [this] { ++breaks; });
    top.resize(700, 500);
  }
  bool ShowActive() {
    top.show();
    top.activateWindow();
    if (!QTest::qWaitForWindowActive(&top)) return false;
    view->setFocus();
    return view->hasFocus();
  }
  void Receive(const std::string& bytes) {
    console->Received(reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<int>(bytes.size()));
  }

  Line line;
  std::unique_ptr<Console> console;
  QWidget top;
  QLineEdit* other = nullptr;
  ConsoleView* view = nullptr;
  QAction* quit = nullptr;
  QAction* sendBreak = nullptr;
  int quits = 0, breaks = 0;
};

QString ScreenText(const ConsoleView& view) {
  QStringList rows;
  for (const ConsoleRow& row : view.Screen().screen) rows << QString::fromStdString(RowText(row));
  return rows.join(QLatin1Char('\n'));
}

}  // namespace

class ConsoleViewTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void paintsAtAnySize_data();
  void paintsAtAnySize();
  void gridFollowsTheSizeAndTheTextSize();
  void keysReachTheDevice_data();
  void keysReachTheDevice();
  void windowShortcutsThatClashMoveAside();
  void selectionCopiesAsText();
  void pasteIsBracketedWhenAsked();
  void findShowsAMatchInTheScrollback();
  void accessibleTextIsTheScreenByRows();
  void coloursReadOnLightAndDark_data();
  void coloursReadOnLightAndDark();
  void rowKeepsToTheGrid_data();
  void rowKeepsToTheGrid();
  void keptRowsPaintAsFresh();
  void cursorBlinksOnlyWhileTyping();
};

void ConsoleViewTest::paintsAtAnySize_data() {
  QTest::addColumn<QSize>("size");
  QTest::newRow("tiny") << QSize(30, 20);
  QTest::newRow("usual") << QSize(640, 400);
  QTest::newRow("wide") << QSize(1900, 1000);
}

void ConsoleViewTest::paintsAtAnySize() {
  QFETCH(QSize, size);
  Window window;
  window.top.resize(size);
  window.top.show();
  window.Receive(
      "\x1b[1;31mred\x1b[0m \x1b[38;5;208mamber\x1b[48;2;0;80;0m green \x1b[0m\x1b[4;7munder\x1b[0m"
      "\r\n\xe4\xb8\xad\xe6\x96\x87 e\xcc\x81 \x1b[9mstruck\x1b[0m\r\n\x1b[?1049h\x1b[5;5Halt");
  QTRY_VERIFY(window.view->Screen().altScreen);
  QImage image(window.view->viewport()->size(), QImage::Format_ARGB32);
  window.view->viewport()->render(&image);
  window.Receive("\x1b[?1049l");
  QTRY_VERIFY(!window.view->Screen().altScreen);
  window.view->viewport()->render(&image);
  QVERIFY(ScreenText(*window.view).contains(QStringLiteral("red amber green under")) ||
          window.view->Columns() < 21);
}

void ConsoleViewTest::gridFollowsTheSizeAndTheTextSize() {
  Window window;
  window.top.show();
  QSignalSpy sized(window.view, &ConsoleView::SizeChanged);
  window.top.resize(900, 700);
  QTRY_VERIFY(!sized.isEmpty());
  int rows = window.view->Rows(), columns = window.view->Columns();
  QFontMetricsF metrics(window.view->font());
  QCOMPARE(columns, static_cast<int>(window.view->viewport()->width() /
                                     metrics.horizontalAdvance(QLatin1Char('0'))));
  QCOMPARE(rows,
           window.view->viewport()->height() / QFontMetrics(window.view->font()).lineSpacing());
  QCOMPARE(sized.last().at(0).toInt(), rows);
  QCOMPARE(sized.last().at(1).toInt(), columns);

  // A larger text size, as the window's zoom sets it on the view's pane.
  QFont larger = window.top.font();
  larger.setPointSize(larger.pointSize() * 2);
  window.top.setFont(larger);
  QTRY_VERIFY(window.view->Columns() < columns);
  QVERIFY(window.view->Rows() < rows);

  window.view->SendSize();
  QTRY_COMPARE(window.line.Sent(), QStringLiteral("stty rows %1 cols %2\r")
                                       .arg(window.view->Rows())
                                       .arg(window.view->Columns())
                                       .toStdString());
}

void ConsoleViewTest::keysReachTheDevice_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QByteArray>("sent");
  QTest::newRow("letter") << int(Qt::Key_A) << 0 << "a" << QByteArray("a");
  QTest::newRow("enter") << int(Qt::Key_Return) << 0 << "\r" << QByteArray("\r");
  QTest::newRow("tab stays") << int(Qt::Key_Tab) << 0 << "\t" << QByteArray("\t");
  QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << "" << QByteArray("\x7f");
  QTest::newRow("up") << int(Qt::Key_Up) << 0 << "" << QByteArray("\x1b[A");
  QTest::newRow("ctrl c") << int(Qt::Key_C) << int(Qt::ControlModifier) << "\x03"
                          << QByteArray("\x03");
  QTest::newRow("ctrl bracket") << int(Qt::Key_BracketLeft) << int(Qt::ControlModifier) << ""
                                << QByteArray("\x1b");
  QTest::newRow("alt letter") << int(Qt::Key_F) << int(Qt::AltModifier) << "f"
                              << QByteArray(
                                     "\x1b"
                                     "f");
  QTest::newRow("f5") << int(Qt::Key_F5) << 0 << "" << QByteArray("\x1b[15~");
}

void ConsoleViewTest::keysReachTheDevice() {
  QFETCH(int, key);
  QFETCH(int, modifiers);
  QFETCH(QString, text);
  QFETCH(QByteArray, sent);
  Window window;
  QVERIFY(window.ShowActive());
  QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
  QApplication::sendEvent(window.view, &press);
  QTRY_COMPARE(window.line.Sent(), sent.toStdString());
  QVERIFY(window.view->hasFocus());  // Tab included
}

void ConsoleViewTest::windowShortcutsThatClashMoveAside() {
  Window window;
  QVERIFY(window.ShowActive());
  QTest::keyClick(window.view, Qt::Key_Q, Qt::ControlModifier);
  QTRY_COMPARE(window.line.Sent(), std::string("\x11"));
  QCOMPARE(window.quits, 0);
  QTest::keyClick(window.view, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
  QTRY_COMPARE(window.breaks, 1);
  QCOMPARE(window.line.Sent(), std::string("\x11"));
  // Elsewhere in the window the shortcut is the window's again.
  window.other->setFocus();
  QTest::keyClick(window.other, Qt::Key_Q, Qt::ControlModifier);
  QTRY_COMPARE(window.quits, 1);
}

void ConsoleViewTest::selectionCopiesAsText() {
  Window window;
  QVERIFY(window.ShowActive());
  window.Receive("first row  \r\n\xe4\xb8\xad\xe6\x96\x87 second\r\n");
  QTRY_VERIFY(ScreenText(*window.view).contains(QStringLiteral("second")));
  // A drag from the second cell of the first row to past the s of the second.
  QPoint from = window.view->CellRect(0, 1).topLeft() + QPoint(1, 2);
  QPoint to = window.view->CellRect(1, 6).topLeft() + QPoint(1, 2);
  QTest::mousePress(window.view->viewport(), Qt::LeftButton, {}, from);
  QTest::mouseMove(window.view->viewport(), to);
  QMouseEvent move(QEvent::MouseMove, to, window.view->viewport()->mapToGlobal(to), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.view->viewport(), &move);
  QTest::mouseRelease(window.view->viewport(), Qt::LeftButton, {}, to);
  QCOMPARE(window.view->SelectedText(), QStringLiteral("irst row\n中文 s"));
  QTest::keyClick(window.view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("irst row\n中文 s"));
  QCOMPARE(window.line.Sent(), std::string());  // the copy keys sent nothing
}

void ConsoleViewTest::pasteIsBracketedWhenAsked() {
  Window window;
  QVERIFY(window.ShowActive());
  QApplication::clipboard()->setText(QStringLiteral("ls\nexit"));
  QTest::keyClick(window.view, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
  QTRY_COMPARE(window.line.Sent(), std::string("ls\rexit"));
  window.line.Clear();
  window.Receive("\x1b[?2004h");
  QTRY_VERIFY(window.view->Screen().bracketedPaste);
  QTest::keyClick(window.view, Qt::Key_Insert, Qt::ShiftModifier);
  QTRY_COMPARE(window.line.Sent(), std::string("\x1b[200~ls\rexit\x1b[201~"));
}

void ConsoleViewTest::findShowsAMatchInTheScrollback() {
  Window window;
  QVERIFY(window.ShowActive());
  std::string lines = "needle at the top\r\n";
  for (int i = 0; i < 300; ++i) lines += "filler " + std::to_string(i) + "\r\n";
  window.Receive(lines);
  QTRY_VERIFY(ScreenText(*window.view).contains(QStringLiteral("filler 299")));
  QVERIFY(window.view->Following());
  QVERIFY(window.view->Find(QStringLiteral("NEEDLE"), false, false));
  QVERIFY(!window.view->Following());
  QVERIFY(window.view->ShownRows().contains(QStringLiteral("needle at the top")));
  QCOMPARE(window.view->Match()->columns, 6);
  QVERIFY(!window.view->Find(QStringLiteral("NEEDLE"), false, true));
  // A key for the device brings the screen back.
  QTest::keyClick(window.view, Qt::Key_X);
  QTRY_VERIFY(window.view->Following());
  QVERIFY(window.view->ShownRows().join(QLatin1Char('\n')).contains(QStringLiteral("filler 299")));
}

void ConsoleViewTest::accessibleTextIsTheScreenByRows() {
  Window window;
  QVERIFY(window.ShowActive());
  window.Receive("\x1b[2J\x1b[Hlogin: root\r\n\xe4\xb8\xad wide\r\n# ");
  QTRY_VERIFY(window.view->Screen().cursor.row == 2 && window.view->Screen().cursor.column == 2);
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(window.view);
  QVERIFY(accessible);
  QCOMPARE(accessible->role(), QAccessible::Terminal);
  QAccessibleTextInterface* text = accessible->textInterface();
  QVERIFY(text);
  QString all = text->text(0, text->characterCount());
  QStringList lines = all.split(QLatin1Char('\n'));
  QCOMPARE(lines.size(), window.view->Rows());
  QCOMPARE(lines[0], QStringLiteral("login: root"));
  QCOMPARE(lines[1], QStringLiteral("中 wide"));
  QCOMPARE(lines[2], QStringLiteral("# "));  // as far as the cursor
  int start = 0, end = 0;
  QCOMPARE(text->textAtOffset(3, QAccessible::LineBoundary, &start, &end),
           QStringLiteral("login: root\n"));
  QCOMPARE(text->cursorPosition(), static_cast<int>(lines[0].size() + lines[1].size() + 2 + 2));
  QCOMPARE(text->textAtOffset(text->cursorPosition() - 1, QAccessible::CharBoundary, &start, &end),
           QStringLiteral(" "));
  QRect cell = text->characterRect(0);
  QVERIFY(cell.isValid());
  QCOMPARE(text->offsetAtPoint(cell.center()), 0);
}

void ConsoleViewTest::coloursReadOnLightAndDark_data() {
  QTest::addColumn<QColor>("base");
  QTest::addColumn<QColor>("text");
  QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black);
  QTest::newRow("dark") << QColor(0x1e, 0x1e, 0x1e) << QColor(0xdd, 0xdd, 0xdd);
}

void ConsoleViewTest::coloursReadOnLightAndDark() {
  QFETCH(QColor, base);
  QFETCH(QColor, text);
  QPalette palette;
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::Text, text);
  ConsoleColours colours = ConsoleColoursFor(palette);
  for (int i = 0; i < 16; ++i) {
    QColor shown = colours.Resolve(CellColour::Indexed(static_cast<uint8_t>(i)), true, false);
    QVERIFY2(ContrastRatio(shown, base) >= 2.9, qPrintable(QString::number(i)));
  }
  QCOMPARE(colours.Resolve(CellColour{}, true, false), text);
  QCOMPARE(colours.Resolve(CellColour{}, false, false), base);
  QCOMPARE(colours.Resolve(CellColour{}, true, true), base);  // a reverse screen
  QCOMPARE(colours.Resolve(CellColour::Rgb(1, 2, 3), true, false), QColor(1, 2, 3));
  QCOMPARE(colours.Resolve(CellColour::Indexed(196), false, false), QColor(255, 0, 0));
}

// Text sizes across the window's zoom (whole points, 6 to 48), at which the
// fixed font's advance is fractional: a row painted by runs must put every
// glyph where drawing each cell's character at its own place puts it.
void ConsoleViewTest::rowKeepsToTheGrid_data() {
  QTest::addColumn<qreal>("points");
  for (qreal points : {6.0, 9.0, 11.0, 14.0, 20.0, 48.0}) {
    QTest::newRow(qPrintable(QString::number(points))) << points;
  }
}

void ConsoleViewTest::rowKeepsToTheGrid() {
  QFETCH(qreal, points);
  Window window;
  window.top.show();
  window.Receive(
      "\x1b[2J\x1b[Hplain \x1b[1mbold run\x1b[0;31m red\x1b[1;3;32m bold italic\x1b[0;3m it"
      "\x1b[0m \xe4\xb8\xad\xe6\x96\x87 after e\xcc\x81 \xc2\xb5s \x1b[1m0123456789abcdef"
      "ghijklmnopqrstuvwxyz\x1b[0m end");
  QTRY_VERIFY(window.view->Screen().cursor.column > 60);
  const ConsoleRow& row = window.view->Screen().screen[0];
  QFont font = window.view->font();
  font.setPointSizeF(points);
  ConsolePainter cells;
  cells.SetFont(font);
  ConsoleColours colours = ConsoleColoursFor(window.view->palette());
  QSize size(static_cast<int>(row.cells.size() * cells.CellWidth()) + 20, cells.LineHeight());
  QImage byRuns(size, QImage::Format_ARGB32_Premultiplied);
  byRuns.fill(colours.base);
  QImage byCells = byRuns;
  {
    QPainter painter(&byRuns);
    cells.PaintRow(painter, row, 0, colours, false, nullptr, 0);
  }
  QPainter painter(&byCells);
  int ascent = QFontMetrics(font).ascent();
  for (size_t c = 0; c < row.cells.size(); ++c) {
    const Cell& cell = row.cells[c];
    if (cell.ch == 0 || cell.ch == U' ' || cell.ch == kWideTail) continue;
    std::u32string text(1, cell.ch);
    text += row.MarksAt(static_cast<int>(c));
    QFont face = font;
    face.setBold(cell.style.attrs & kCellBold);
    face.setItalic(cell.style.attrs & kCellItalic);
    painter.setFont(face);
    painter.setPen(colours.Resolve(cell.style.fg, true, false));
    painter.drawText(QPointF(static_cast<qreal>(c) * cells.CellWidth(), ascent),
                     QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size())));
  }
  painter.end();
  QCOMPARE(byRuns, byCells);
}

// The view paints the rows it has seen from images it kept: after a change
// in place and after the rows moved up, it must look as painting every row
// afresh does.
void ConsoleViewTest::keptRowsPaintAsFresh() {
  Window window;
  window.top.show();
  QWidget* viewport = window.view->viewport();
  auto fresh = [&] {
    ConsolePainter cells;
    cells.SetFont(window.view->font());
    ConsoleColours colours = ConsoleColoursFor(window.view->palette());
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(colours.base);
    QPainter painter(&image);
    const std::vector<ConsoleRow>& rows = window.view->Screen().screen;
    for (size_t r = 0; r < rows.size(); ++r) {
      int y = static_cast<int>(r) * cells.LineHeight();
      painter.setClipRect(0, y, image.width(), cells.LineHeight());
      cells.PaintRow(painter, rows[r], y, colours, false, nullptr, 0);
    }
    return image;
  };
  auto shown = [&] {
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    viewport->render(&image);
    return image;
  };
  std::string rows = "\x1b[?25l";
  for (int i = 0; i < 30; ++i) {
    rows += "\r\n\x1b[" + std::to_string(31 + i % 7) + ";4" + std::to_string(i % 8) + "mrow " +
            std::to_string(i) + "\x1b[0m _gjpqy|";
  }
  const std::pair<std::string, QString> steps[] = {
      {rows, QStringLiteral("row 29")},
      {"\x1b[2;1H\x1b[1mchanged", QStringLiteral("changed")},
      {"\x1b[24;1H\r\nscrolled", QStringLiteral("scrolled")},
  };
  for (const auto& [bytes, seen] : steps) {
    window.Receive(bytes);
    QTRY_VERIFY(ScreenText(*window.view).contains(seen));
    QCOMPARE(shown(), fresh());
    QCOMPARE(shown(), fresh());  // the second from the kept rows
  }
}

void ConsoleViewTest::cursorBlinksOnlyWhileTyping() {
  Window window;
  QVERIFY(window.ShowActive());
  // Focused by the window, with the device talking: steady, no wake-ups.
  window.Receive("boot> ");
  QTRY_VERIFY(ScreenText(*window.view).startsWith(QStringLiteral("boot>")));
  QVERIFY(!window.view->CursorBlinking());
  QTest::keyClick(window.view, Qt::Key_X);
  QVERIFY(window.view->CursorBlinking());
  // The device's echo keeps it blinking; leaving the view ends it.
  window.Receive("x");
  QTRY_VERIFY(ScreenText(*window.view).startsWith(QStringLiteral("boot> x")));
  QVERIFY(window.view->CursorBlinking());
  window.other->setFocus(Qt::TabFocusReason);
  QVERIFY(!window.view->CursorBlinking());
  window.view->setFocus(Qt::MouseFocusReason);
  QVERIFY(window.view->CursorBlinking());
}

QTEST_MAIN(ConsoleViewTest)
#include "console_view_test.moc"
