// The window that grows: at every size from the minimum to a 4K screen, at
// scale 1 and 2 (CTest runs this twice, once with QT_SCALE_FACTOR=2), every
// control of the template is inside the window and clear of the others,
// and what the window gains goes to the view and the send box. Its size,
// place, panes and text size survive a restart; a stored place no screen
// shows falls back. The offscreen platform plays two screens side by side
// (screens.json): a 1920 x 1080 laptop and a 3840 x 2160 monitor.
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSplitter>
#include <QTest>
#include <QTextBlock>

#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/receive_box.h"
#include "ui/session_view.h"
#include "ui/session_viewer.h"
#include "ui/status_line.h"
#include "ui/window_layout.h"
#include "ui/window_placement.h"

using namespace quorvel;
using namespace quorvel::testing;

namespace {

const std::string kSessionViewOn = "[View]\nSessionView=1\n";

QRect InWindow(QWidget* widget) {
  return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

// The receive box, or the session view in its place.
QWidget* ViewIn(MainWindow& window) {
  return window.Session().On() ? static_cast<QWidget*>(window.Session().View())
                               : window.Control(kReceiveBox);
}

// The template's controls (the session view for the receive box while it
// shows), labels and group boxes.
std::vector<QWidget*> TemplateWidgets(MainWindow& window) {
  std::vector<QWidget*> widgets;
  for (const ControlTemplate& item : MainDialogTemplate()) {
    if (item.id != kNoControl) {
      widgets.push_back(item.id == kReceiveBox ? ViewIn(window) : window.Control(item.id));
    }
  }
  QWidget* form = window.Control(kPortSelector)->parentWidget();
  for (QWidget* child : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (qobject_cast<QLabel*>(child) || qobject_cast<QGroupBox*>(child)) widgets.push_back(child);
  }
  return widgets;
}

QSplitter* SendBoxSplitter(MainWindow& window) {
  // The send box's row is the lower pane of the splitter below the view.
  return qobject_cast<QSplitter*>(window.Control(kSendBox)->parentWidget()->parentWidget());
}

// A size given in the screen's pixels, in the window's logical ones.
QSize Logical(QSize pixels, const QWidget& window) {
  qreal scale = window.devicePixelRatioF();
  return QSize(qRound(pixels.width() / scale), qRound(pixels.height() / scale));
}

// Closes the window as the user does, which stores the layout, and starts
// the terminal again.
MainWindow& Restart(TerminalHarness& harness) {
  harness.Window().close();
  harness.CloseWindow();
  return harness.Window();
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void theScaleIsTheOneAskedFor();
  void templateFitsAndTheViewGrows_data();
  void templateFitsAndTheViewGrows();
  void maximisedViewFillsALargeScreen();
  void layoutIsKeptAcrossARestart_data();
  void layoutIsKeptAcrossARestart();
  void storedPlaceNoScreenShowsFallsBack_data();
  void storedPlaceNoScreenShowsFallsBack();
  void storedGeometryIsFittedToTheScreens_data();
  void storedGeometryIsFittedToTheScreens();
  void zoomSizesTheViewAndTheBoxes();
  void zoomKeys_data();
  void zoomKeys();
  void hexLinesFollowTheBoxWidth();
};

void WindowLayoutTest::theScaleIsTheOneAskedFor() {
  TerminalHarness harness;
  qreal asked = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
  QCOMPARE(harness.Window().devicePixelRatioF(), asked);
  QCOMPARE(QGuiApplication::screens().size(), 2);
}

void WindowLayoutTest::templateFitsAndTheViewGrows_data() {
  QTest::addColumn<QSize>("pixels");  // an empty size: the minimum
  QTest::addColumn<bool>("sessionView");
  for (bool view : {false, true}) {
    const char* shown = view ? "session view" : "receive box";
    QTest::addRow("minimum, %s", shown) << QSize() << view;
    QTest::addRow("1600 x 1000, %s", shown) << QSize(1600, 1000) << view;
    QTest::addRow("3840 x 2160, %s", shown) << QSize(3840, 2160) << view;
  }
}

void WindowLayoutTest::templateFitsAndTheViewGrows() {
  QFETCH(QSize, pixels);
  QFETCH(bool, sessionView);
  TerminalHarness harness(sessionView ? kSessionViewOn : "");
  MainWindow& window = harness.Window();
  QSize minimum = window.minimumSize();
  QCOMPARE(window.size(), minimum);
  QSize view0 = ViewIn(window)->size();
  QRect sendBox0 = InWindow(window.Control(kSendBox));
  auto rightMargin = [&](ControlId id) {
    return window.width() - InWindow(window.Control(id)).right();
  };
  int sendButtonMargin0 = rightMargin(kSendButton);
  int resetMargin0 = rightMargin(kResetButton);

  QSize size = pixels.isEmpty() ? minimum : Logical(pixels, window).expandedTo(minimum);
  window.resize(size);
  QTRY_COMPARE(window.size(), size);

  std::vector<QWidget*> widgets = TemplateWidgets(window);
  QCOMPARE(widgets.size(), MainDialogTemplate().size());
  QRect above(0, 0, window.width(), window.Status()->y());
  for (QWidget* widget : widgets) {
    QRect rect = InWindow(widget);
    QVERIFY2(widget->isVisibleTo(&window), qPrintable(widget->objectName()));
    QVERIFY2(above.contains(rect), qPrintable(widget->objectName()));
    for (QWidget* other : widgets) {
      if (other == widget) continue;
      QRect otherRect = InWindow(other);
      if (qobject_cast<QGroupBox*>(other)) {
        // A group holds a control whole or not at all.
        QVERIFY(otherRect.contains(rect) || !otherRect.intersects(rect) ||
                qobject_cast<QGroupBox*>(widget));
      } else if (!qobject_cast<QGroupBox*>(widget)) {
        QVERIFY2(
            !rect.intersects(otherRect),
            qPrintable(QStringLiteral("%1 and %2").arg(widget->objectName(), other->objectName())));
      }
    }
  }
  // What the window gains goes to the view, both ways, and to the send box
  // across; the Send button and the counters keep to the right edge.
  QSize gained = size - minimum;
  QCOMPARE(ViewIn(window)->size(), view0 + gained);
  QRect sendBox = InWindow(window.Control(kSendBox));
  QCOMPARE(sendBox.size(), sendBox0.size() + QSize(gained.width(), 0));
  QCOMPARE(sendBox.top(), sendBox0.top() + gained.height());
  QCOMPARE(rightMargin(kSendButton), sendButtonMargin0);
  QCOMPARE(rightMargin(kResetButton), resetMargin0);
  // The status line spans the whole window.
  QCOMPARE(InWindow(window.Status()), QRect(0, size.height() - window.Status()->height(),
                                            size.width(), window.Status()->height()));
}

void WindowLayoutTest::maximisedViewFillsALargeScreen() {
  TerminalHarness harness(kSessionViewOn);
  MainWindow& window = harness.Window();
  QSize minimum = window.minimumSize();
  QSize view0 = ViewIn(window)->size();
  SessionStore& store = window.Session().Store();
  for (int i = 0; i < 5000; ++i) {
    std::string line = "boot line " + std::to_string(i) + "\r\n";
    store.Received(reinterpret_cast<const uint8_t*>(line.data()), static_cast<int>(line.size()));
  }
  QScreen* monitor = QGuiApplication::screens().at(1);
  window.move(monitor->availableGeometry().topLeft() + QPoint(40, 40));
  window.showMaximized();
  QTRY_VERIFY(window.width() > monitor->availableGeometry().width() * 9 / 10);
  QTRY_VERIFY(window.height() > monitor->availableGeometry().height() * 9 / 10);

  SessionView& view = *window.Session().View();
  QCOMPARE(view.size(), view0 + (window.size() - minimum));
  view.Sync();
  QStringList rows = view.ShownRows();
  int fit = view.viewport()->height() / view.fontMetrics().lineSpacing();
  QCOMPARE(rows.size(), fit);
  QVERIFY2(rows.last().endsWith(QStringLiteral("boot line 4999")), qPrintable(rows.last()));
}

void WindowLayoutTest::layoutIsKeptAcrossARestart_data() {
  QTest::addColumn<bool>("maximised");
  QTest::newRow("normal") << false;
  QTest::newRow("maximised") << true;
}

void WindowLayoutTest::layoutIsKeptAcrossARestart() {
  QFETCH(bool, maximised);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QRect laptop = QGuiApplication::screens().at(0)->availableGeometry();
  QRect place(laptop.topLeft() + QPoint(30, 20),
              (window.minimumSize() + QSize(150, 90)).boundedTo(laptop.size()));
  window.setGeometry(place);
  QTRY_COMPARE(window.geometry(), place);
  QSplitter* splitter = SendBoxSplitter(window);
  splitter->setSizes({1, 120});
  int sendBoxHeight = window.Control(kSendBox)->height();
  window.ZoomIn();
  window.ZoomIn();
  if (maximised) {
    window.showMaximized();
    QTRY_VERIFY(window.width() > place.width());
  }

  MainWindow& again = Restart(harness);
  QCOMPARE(again.isMaximized(), maximised);
  if (maximised) QTRY_VERIFY(again.width() > place.width());
  QCOMPARE(again.normalGeometry(), place);
  QCOMPARE(again.Control(kSendBox)->height(), sendBoxHeight);
  QCOMPARE(again.Layout().TextPoints(), kDefaultTextPoints + 2);
  std::string ini = harness.IniText();
  QVERIFY(ini.find("[Window]\nGeometry=") != std::string::npos);
  QVERIFY(ini.find(maximised ? "Maximized=1" : "Maximized=0") != std::string::npos);
}

void WindowLayoutTest::storedPlaceNoScreenShowsFallsBack_data() {
  QTest::addColumn<QString>("geometry");
  QTest::newRow("right of every screen") << "30000,100,800,600";
  QTest::newRow("in the gap below the laptop") << "100,1500,800,600";
  QTest::newRow("title bar above the top") << "100,-300,800,600";
  QTest::newRow("a word in it") << "100,100,wide,600";
  QTest::newRow("three numbers") << "100,100,800";
}

void WindowLayoutTest::storedPlaceNoScreenShowsFallsBack() {
  QFETCH(QString, geometry);
  TerminalHarness harness("[Window]\nGeometry=" + geometry.toStdString() + "\n");
  MainWindow& window = harness.Window();
  QRect primary = QGuiApplication::primaryScreen()->availableGeometry();
  QCOMPARE(window.geometry(), CentredOn(primary, window.minimumSize()));
}

void WindowLayoutTest::storedGeometryIsFittedToTheScreens_data() {
  QTest::addColumn<QRect>("stored");
  QTest::addColumn<QRect>("expected");  // an empty rectangle: none fits
  QTest::newRow("on the first") << QRect(100, 100, 800, 600) << QRect(100, 100, 800, 600);
  QTest::newRow("on the second") << QRect(2500, 300, 1800, 1200) << QRect(2500, 300, 1800, 1200);
  QTest::newRow("across both") << QRect(1500, 100, 1000, 600) << QRect(1500, 100, 1000, 600);
  QTest::newRow("mostly off the right, grabbable")
      << QRect(5600, 100, 800, 600) << QRect(5600, 100, 800, 600);
  QTest::newRow("larger than its screen: cut")
      << QRect(0, 0, 3000, 2000) << QRect(0, 0, 1920, 1080);
  QTest::newRow("below the minimum: grown")
      << QRect(100, 100, 600, 400) << QRect(100, 100, 674, 487);
  QTest::newRow("only a sliver on screen") << QRect(5720, 100, 800, 600) << QRect();
  QTest::newRow("below the laptop, left of the monitor's bottom")
      << QRect(100, 1200, 800, 600) << QRect();
  QTest::newRow("above the top") << QRect(100, -30, 800, 600) << QRect();
}

void WindowLayoutTest::storedGeometryIsFittedToTheScreens() {
  QFETCH(QRect, stored);
  QFETCH(QRect, expected);
  QList<QRect> screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 3840, 2160)};
  std::optional<QRect> fitted = FitStoredGeometry(stored, QSize(674, 487), screens);
  QCOMPARE(fitted.value_or(QRect()), expected);
}

void WindowLayoutTest::zoomSizesTheViewAndTheBoxes() {
  TerminalHarness harness(kSessionViewOn);
  MainWindow& window = harness.Window();
  SessionView& view = *window.Session().View();
  // The system's fixed-width font, whatever size the text has.
  QString fixed = QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
  QCOMPARE(QFontInfo(view.font()).family(), fixed);
  auto points = [&](QWidget* widget) { return widget->font().pointSize(); };
  const struct {
    void (MainWindow::*zoom)();
    int times;
    int expected;
  } steps[] = {
      {&MainWindow::ZoomIn, 3, kDefaultTextPoints + 3},
      {&MainWindow::ResetZoom, 1, kDefaultTextPoints},
      {&MainWindow::ZoomOut, 1, kDefaultTextPoints - 1},
      {&MainWindow::ZoomOut, 20, kMinTextPoints},
      {&MainWindow::ZoomIn, 60, kMaxTextPoints},
  };
  int rowHeight = view.fontMetrics().lineSpacing();
  for (const auto& step : steps) {
    for (int i = 0; i < step.times; ++i) (window.*step.zoom)();
    QCOMPARE(points(&view), step.expected);
    QCOMPARE(points(window.Control(kReceiveBox)), step.expected);
    QCOMPARE(points(window.Control(kSendBox)), step.expected);
    QCOMPARE(QFontInfo(view.font()).family(), fixed);
  }
  QVERIFY(view.fontMetrics().lineSpacing() > rowHeight);
  // The template's other controls keep the dialog font.
  QCOMPARE(points(window.Control(kSendButton)), kDefaultTextPoints);
  QCOMPARE(points(window.Control(kTxBox)), kDefaultTextPoints);
}

void WindowLayoutTest::zoomKeys_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("expected");
  // From a stored size one point above the default.
  QTest::newRow("Ctrl+Plus") << int(Qt::Key_Plus) << kDefaultTextPoints + 2;
  QTest::newRow("Ctrl+=") << int(Qt::Key_Equal) << kDefaultTextPoints + 2;
  QTest::newRow("Ctrl+Minus") << int(Qt::Key_Minus) << kDefaultTextPoints;
  QTest::newRow("Ctrl+0") << int(Qt::Key_0) << kDefaultTextPoints;
}

void WindowLayoutTest::zoomKeys() {
  QFETCH(int, key);
  QFETCH(int, expected);
  TerminalHarness harness("[View]\nTextSize=" + std::to_string(kDefaultTextPoints + 1) + "\n");
  QVERIFY(harness.ShowActive());
  // From the send box, which has keys of its own.
  harness.Window().Control(kSendBox)->setFocus();
  QTest::keyClick(harness.Window().Control(kSendBox), Qt::Key(key), Qt::ControlModifier);
  QCOMPARE(harness.Window().Layout().TextPoints(), expected);
}

void WindowLayoutTest::hexLinesFollowTheBoxWidth() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  harness.Click(kHexDisplayCheck);
  harness.Device(0).Send(std::string(600, 'U'));
  auto* box = harness.Get<ReceiveBox>(kReceiveBox);
  QTRY_VERIFY(harness.Field([](TerminalState& s) { return s.rxLength; }) == 600);
  QTRY_VERIFY(box->toPlainText().size() > 1500);
  int groups = box->GroupsPerLine();
  window.resize(window.minimumSize() + QSize(400, 0));
  QVERIFY(box->GroupsPerLine() > groups);
  QString first = box->document()->firstBlock().text();
  QCOMPARE(first.size(), 3 * box->GroupsPerLine());
}

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
