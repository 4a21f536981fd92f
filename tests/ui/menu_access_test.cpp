// The window as a screen reader reads it: every entry of a shown submenu of
// the context menu reports itself showing and placed on the screen inside
// its menu, as the menu bar's entries do, even after the reader walked the
// whole bar first (as it does when the window appears); a key still chooses
// its command once, and the context menu's entry follows; and the buttons
// that read "Send" are told apart by their names. Read through Qt's
// accessibility interfaces here, and over AT-SPI itself, as a reader gets
// them, where tests/ui/atspi_session.sh gives the test a display and the
// buses (ui_menu_access_test_atspi).
#include <QAccessible>
#include <QAction>
#include <QEventLoop>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "terminal_harness.h"
#include "ui/command_table.h"
#include "ui/send_list_panel.h"
#include "ui/send_tools.h"
#include "ui/window_commands.h"

using namespace quorvel;
using quorvel::testing::AnnouncedName;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TerminalHarness;

namespace {

// Asks about every node under `node`, as a reader walking the tree does.
void ReadTree(QAccessibleInterface* node, int depth = 0) {
  if (node == nullptr || depth > 8) return;
  (void)node->text(QAccessible::Name);
  (void)node->state();
  (void)node->rect();
  for (int i = 0; i < node->childCount(); ++i) ReadTree(node->child(i), depth + 1);
}

QString Describe(const QRect& rect) {
  return QStringLiteral("%1,%2 %3x%4")
      .arg(rect.x())
      .arg(rect.y())
      .arg(rect.width())
      .arg(rect.height());
}

QAction* EntryNamed(const QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions()) {
    if (action->text().remove(QLatin1Char('&')) == text) return action;
  }
  return nullptr;
}

// How the entries of the shown `menu` read wrong; empty when none does.
QStringList MisreadEntries(QMenu* menu) {
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(menu);
  if (list == nullptr) return {QStringLiteral("the menu has no accessible interface")};
  QStringList wrong;
  const QRect shown = menu->geometry();  // a popup's geometry is on the screen
  for (int i = 0; i < list->childCount(); ++i) {
    QAccessibleInterface* entry = list->child(i);
    if (entry == nullptr || entry->role() == QAccessible::Separator) continue;
    QString name = entry->text(QAccessible::Name);
    QAccessible::State state = entry->state();
    if (state.invisible) wrong << name + QStringLiteral(": invisible");
    if (state.offscreen) wrong << name + QStringLiteral(": offscreen");
    if (!shown.contains(entry->rect())) {
      wrong << name + QStringLiteral(": at ") + Describe(entry->rect()) +
                   QStringLiteral(", the menu at ") + Describe(shown);
    }
    QAccessibleInterface* parent = entry->parent();
    if (parent == nullptr || parent->object() != menu) {
      wrong << name + QStringLiteral(": its parent is not the menu it shows in");
    }
  }
  if (list->childCount() == 0) wrong << QStringLiteral("no entries");
  return wrong;
}

// Opens the context menu over the window's background, then the submenus
// along `path` ("Send/Send options"), and hands the last one shown to
// `look`; what went wrong on the way comes back.
QStringList InContextSubmenu(MainWindow& window, const QString& path,
                             const std::function<QStringList(QMenu*)>& look) {
  QStringList wrong;
  bool ran = false;
  ModalWatcher onMenu(ModalWatcher::Kind::kPopupMenu, [&](QWidget* popup) {
    ran = true;
    QList<QMenu*> chain{qobject_cast<QMenu*>(popup)};
    for (const QString& step : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
      QAction* entry = EntryNamed(chain.back(), step);
      if (entry == nullptr || entry->menu() == nullptr) {
        wrong << step + QStringLiteral(": no such submenu");
        break;
      }
      chain.back()->setActiveAction(entry);
      QMenu* submenu = entry->menu();
      if (!QTest::qWaitFor([submenu] { return submenu->isVisible(); })) {
        wrong << step + QStringLiteral(": did not open");
        break;
      }
      chain << submenu;
    }
    if (wrong.isEmpty()) wrong = look(chain.back());
    for (auto menu = chain.rbegin(); menu != chain.rend(); ++menu) (*menu)->close();
  });
  QWidget* background = window.findChild<QGroupBox*>();
  window.ShowContextMenu(background, background->mapToGlobal(background->rect().center()));
  if (!ran) wrong << QStringLiteral("the context menu did not open");
  return wrong;
}

// "x y width height" as the probe prints a place.
QRect PlaceOf(const QString& text) {
  QStringList parts = text.split(QLatin1Char(' '));
  if (parts.size() != 4) return {};
  return QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
}

}  // namespace

class MenuAccessTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void contextSubmenuEntriesReadAsShown_data();
  void contextSubmenuEntriesReadAsShown();
  void contextSubmenuReadsOverAtSpi();
  void aKeyChoosesOnceAndTheContextEntryFollows();
  void buttonsReadingSendHaveNamesOfTheirOwn_data();
  void buttonsReadingSendHaveNamesOfTheirOwn();
};

void MenuAccessTest::contextSubmenuEntriesReadAsShown_data() {
  QTest::addColumn<QString>("path");  // the submenus opened; "" is the context menu itself
  QTest::addColumn<bool>("barReadFirst");
  const char* paths[] = {"",
                         "Port",
                         "Send",
                         "View",
                         "Log",
                         "Help",
                         "Port/Lines at open",
                         "Send/Send options",
                         "Send/Send options/Check",
                         "Send/Send history"};
  for (const char* path : paths) {
    for (bool barFirst : {true, false}) {
      QByteArray name = QByteArray(*path ? path : "(context menu)") +
                        (barFirst ? ", the bar read first" : ", nothing read before");
      QTest::newRow(name.constData()) << QString::fromLatin1(path) << barFirst;
    }
  }
}

void MenuAccessTest::contextSubmenuEntriesReadAsShown() {
  QFETCH(QString, path);
  QFETCH(bool, barReadFirst);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  if (barReadFirst) ReadTree(QAccessible::queryAccessibleInterface(window.findChild<QMenuBar*>()));
  QStringList wrong = InContextSubmenu(window, path, MisreadEntries);
  QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("\n"))));
  // The bar reads as it did, once the context menu was read too.
  QMenu* send =
      window.findChild<QMenuBar*>()->actions().at(static_cast<int>(MenuGroup::kSend))->menu();
  send->popup(window.mapToGlobal(QPoint(0, 0)));
  QVERIFY(QTest::qWaitFor([send] { return send->isVisible(); }));
  wrong = MisreadEntries(send);
  send->close();
  QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("\n"))));
}

void MenuAccessTest::contextSubmenuReadsOverAtSpi() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    QSKIP("AT-SPI is read on a display: tests/ui/atspi_session.sh runs this");
  }
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QProcess probe;
  QByteArray said;
  // Runs the window until `done`, the probe's end or 30 s, answering the
  // probe's questions at once; `step` runs every 200 ms meanwhile.
  auto until = [&](const std::function<bool()>& done, const std::function<void()>& step = {}) {
    QEventLoop loop;
    auto check = [&] {
      said += probe.readAllStandardOutput();
      if (done() || probe.state() == QProcess::NotRunning) loop.quit();
    };
    QObject::connect(&probe, &QProcess::readyReadStandardOutput, &loop, check);
    QObject::connect(&probe, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer steps;
    if (step) QObject::connect(&steps, &QTimer::timeout, &loop, step);
    steps.start(200);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    QTimer::singleShot(0, &loop, check);
    loop.exec();
  };
  const QString followed = QString::fromUtf8("Send file…");
  probe.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(QUORVEL_TESTS_DIR "/ui/atspi_probe.py"),
               QString::number(QCoreApplication::applicationPid()), followed});
  until([&] { return said.contains("ready\n"); });
  if (probe.state() == QProcess::NotRunning && probe.exitCode() == 77) {
    QSKIP("the window is not on the accessibility bus");
  }
  QVERIFY2(said.contains("ready\n"), probe.readAllStandardError().constData());
  QRect shown;
  qsizetype entries = 0;
  QStringList wrong = InContextSubmenu(window, QStringLiteral("Send"), [&](QMenu* send) {
    shown = send->geometry();
    for (QAction* action : send->actions()) entries += action->isSeparator() ? 0 : 1;
    // The focus moves as a user's arrow keys move it, until the probe,
    // which may have joined the bus after the window, heard it.
    QAction* other = EntryNamed(send, QStringLiteral("Send list"));
    QAction* entry = EntryNamed(send, followed);
    if (other == nullptr || entry == nullptr) return QStringList{QStringLiteral("no entries")};
    auto move = [&] {
      send->setActiveAction(other);
      send->setActiveAction(entry);
    };
    move();
    until([] { return false; }, move);
    return QStringList();
  });
  QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("\n"))));
  QVERIFY2(probe.exitCode() == 0, probe.readAllStandardError().constData());
  // The menu the focused entry says it is in is the one shown, and every
  // entry of it is showing, on the screen inside it.
  QStringList lines = QString::fromUtf8(said).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  lines.removeAll(QStringLiteral("ready"));
  QCOMPARE(lines.size(), entries + 1);
  for (const QString& line : lines) {
    QStringList fields = line.split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), 4);
    QVERIFY2(fields[2] == QLatin1String("1"), qPrintable(line + QStringLiteral(": not showing")));
    QRect place = PlaceOf(fields[3]);
    if (fields[0] == QLatin1String("menu")) {
      QCOMPARE(place, shown);
    } else {
      QVERIFY2(shown.contains(place), qPrintable(line + QStringLiteral(": outside the menu")));
    }
  }
}

void MenuAccessTest::aKeyChoosesOnceAndTheContextEntryFollows() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QAction* command = window.Commands().Action(Command::kSendList);
  QVERIFY(!command->isChecked());
  QStringList wrong =
      InContextSubmenu(window, QStringLiteral("Send"), [](QMenu*) { return QStringList(); });
  QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("\n"))));
  // With the context menu built, the key has one command to choose. The
  // window's shortcuts take keys once it is the active window again (the
  // offscreen platform may leave the closed menu active for a while).
  window.activateWindow();
  QTRY_VERIFY(QApplication::activeWindow() == &window);
  QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  QVERIFY(command->isChecked());
  QVERIFY(window.Sending().Panel()->isVisible());
  bool checked = false;
  wrong = InContextSubmenu(window, QStringLiteral("Send"), [&](QMenu* send) {
    QAction* entry = EntryNamed(send, QStringLiteral("Send list"));
    if (entry == nullptr) return QStringList{QStringLiteral("no Send list entry")};
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(send)->child(
        static_cast<int>(send->actions().indexOf(entry)));
    checked = entry->isChecked() && read != nullptr && read->state().checked;
    // Chosen from the context menu, it is the command.
    entry->trigger();
    return QStringList();
  });
  QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("\n"))));
  QVERIFY(checked);
  QVERIFY(!command->isChecked());
  QVERIFY(!window.Sending().Panel()->isVisible());
}

void MenuAccessTest::buttonsReadingSendHaveNamesOfTheirOwn_data() {
  QTest::addColumn<bool>("inList");  // the send list's button, else the send box's
  QTest::addColumn<QString>("name");
  QTest::newRow("the send box's") << false << "Send";
  QTest::newRow("the send list's") << true << "Send entry";
}

void MenuAccessTest::buttonsReadingSendHaveNamesOfTheirOwn() {
  QFETCH(bool, inList);
  QFETCH(QString, name);
  TerminalHarness harness("[SendListPanel]\nShown=1\n");
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QList<QPushButton*> reading;
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->isVisible() && button->text().remove(QLatin1Char('&')) == QLatin1String("Send")) {
      reading << button;
    }
  }
  QCOMPARE(reading.size(), 2);
  SendListPanel* panel = window.Sending().Panel();
  QPushButton* button = nullptr;
  for (QPushButton* each : reading) {
    if (panel->isAncestorOf(each) == inList) button = each;
  }
  QVERIFY(button);
  QCOMPARE(AnnouncedName(button), name);
  QCOMPARE(button->text(), QStringLiteral("Send"));  // what shows stays
}

QTEST_MAIN(MenuAccessTest)
#include "menu_access_test.moc"
