// The window's commands: every row of the command table in the menu bar and
// in the context menu over the background, the receive box and the session
// view, with its key; checkable entries that follow their state however it
// changes; the keyboard shortcut list; "Add network port…" refusing bad
// input and opening a ser2net port.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTest>

#include "core/strings.h"
#include "support/ser2net_server.h"
#include "terminal_harness.h"
#include "ui/command_table.h"
#include "ui/network_port_dialog.h"
#include "ui/port_list.h"
#include "ui/session_view.h"
#include "ui/session_viewer.h"
#include "ui/shortcuts_dialog.h"
#include "ui/status_line.h"
#include "ui/window_commands.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::Ser2NetServer;
using quorvel::testing::TerminalHarness;

namespace {

// A menu as the user sees it: each entry's path ("Port/Lines at open/DTR
// active"), text and key, and the action behind it.
struct Seen {
  QString path;
  QString text;
  QKeySequence key;
  QAction* action;
};

void Walk(const QMenu* menu, const QString& path, QList<Seen>& seen) {
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    // A text box's own entries carry their key after a tab.
    QString text = action->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&'));
    seen.append({path + text, action->text(), action->shortcut(), action});
    if (action->menu()) Walk(action->menu(), path + text + QLatin1Char('/'), seen);
  }
}

QList<Seen> BarEntries(MainWindow& window) {
  QList<Seen> seen;
  for (QAction* menu : window.findChild<QMenuBar*>()->actions()) {
    Walk(menu->menu(), menu->text().remove(QLatin1Char('&')) + QLatin1Char('/'), seen);
  }
  return seen;
}

// Right-clicks `target` and reads the context menu that opens.
QList<Seen> ContextEntries(QWidget* target) {
  QList<Seen> seen;
  ModalWatcher onMenu(ModalWatcher::Kind::kPopupMenu, [&](QWidget* popup) {
    Walk(qobject_cast<QMenu*>(popup), QString(), seen);
    popup->close();
  });
  QPoint at(target->width() / 2, target->height() / 2);
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
  QApplication::sendEvent(target, &event);
  return seen;
}

const Seen* Find(const QList<Seen>& seen, const QString& path) {
  for (const Seen& entry : seen) {
    if (entry.path == path) return &entry;
  }
  return nullptr;
}

// The row's text as the menus show it now: the link's entry reads as its
// button, "Close com" while the link is open.
QString TextOf(const CommandRow& row) {
  return row.command == Command::kOpenClose
             ? QString::fromLatin1(LoadString(StringId::kCloseCaption))
             : QString::fromUtf8(row.text);
}

QKeySequence KeyOf(QKeyCombination key) {
  return key == QKeyCombination() ? QKeySequence() : QKeySequence(key);
}

// Where a row stands: "View/Session view", "Port/Lines at open/DTR active".
QString PathOf(const CommandRow& row, bool context) {
  auto plain = [](const QString& text) { return QString(text).remove(QLatin1Char('&')); };
  if (context && row.context == ContextPlace::kAtEnd) {
    return plain(row.contextText ? QString::fromUtf8(row.contextText) : TextOf(row));
  }
  QString path = plain(QString::fromLatin1(MenuGroupTitle(row.group))) + QLatin1Char('/');
  if (row.parent != Command::kCount) path += plain(TextOf(RowOf(row.parent))) + QLatin1Char('/');
  return path + plain(TextOf(row));
}

}  // namespace

class WindowCommandsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void everyCommandIsInTheBarAndEveryContextMenu();
  void checkableEntriesFollowTheirState_data();
  void checkableEntriesFollowTheirState();
  void keyboardShortcutsListEveryKey();
  void networkPortInputIsChecked_data();
  void networkPortInputIsChecked();
  void addNetworkPortOpensAndStoresIt();
};

void WindowCommandsTest::everyCommandIsInTheBarAndEveryContextMenu() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QList<Seen> bar = BarEntries(window);
  QList<Seen> background = ContextEntries(window.findChild<QGroupBox*>());
  QList<Seen> receiveBox = ContextEntries(window.Control(kReceiveBox));
  window.Session().SetOn(true);
  QList<Seen> view = ContextEntries(window.Session().View()->viewport());
  for (const QList<Seen>* context : {&background, &receiveBox, &view}) QVERIFY(!context->isEmpty());

  for (const CommandRow& row : CommandTable()) {
    QAction* action = window.Commands().Action(row.command);
    const Seen* inBar = Find(bar, PathOf(row, false));
    QVERIFY2(inBar && inBar->action == action, qPrintable(PathOf(row, false)));
    QCOMPARE(inBar->text, TextOf(row));
    QCOMPARE(inBar->key, KeyOf(row.key));
    for (const QList<Seen>* context : {&background, &receiveBox, &view}) {
      const Seen* inMenu = Find(*context, PathOf(row, true));
      QVERIFY2(inMenu, qPrintable(PathOf(row, true)));
      bool ownEntry = row.context == ContextPlace::kAtEnd && row.contextText;
      QCOMPARE(inMenu->key, KeyOf(ownEntry ? row.contextKey : row.key));
      if (ownEntry) continue;
      // An entry of the context menu's own (a reader could not follow the
      // bar's action shown there too), reading as the action does.
      QVERIFY(inMenu->action != action);
      QCOMPARE(inMenu->text, TextOf(row));
      QCOMPARE(inMenu->action->isCheckable(), action->isCheckable());
      QCOMPARE(inMenu->action->isChecked(), action->isChecked());
      QCOMPARE(inMenu->action->isEnabled(), action->isEnabled());
    }
  }
  // The box's own entries top the menu over a box; the About entry ends it.
  auto first = [](const QList<Seen>& seen) { return QStringList{seen[0].path, seen[1].path}; };
  QCOMPARE(first(receiveBox), (QStringList{"Copy", "Select All"}));
  QCOMPARE(first(view), (QStringList{"Copy", "Select All"}));
  QCOMPARE(background.front().path, QStringLiteral("Port"));
  QCOMPARE(background.back().text, QString::fromLatin1(LoadString(StringId::kAboutMenu)));
}

void WindowCommandsTest::checkableEntriesFollowTheirState_data() {
  QTest::addColumn<QString>("ini");
  QTest::addColumn<int>("key");      // pressed in the window; 0: none
  QTest::addColumn<int>("control");  // clicked; 0: none
  QTest::addColumn<int>("command");
  QTest::addColumn<bool>("checked");
  auto row = [](const char* name, const char* ini, QKeyCombination key, ControlId control,
                Command command, bool checked) {
    QTest::newRow(name) << QString::fromLatin1(ini) << key.toCombined() << int(control)
                        << int(command) << checked;
  };
  const auto none = QKeyCombination(Qt::Key_unknown);
  row("session view on its key", "", Qt::CTRL | Qt::SHIFT | Qt::Key_V, kNoControl,
      Command::kSessionView, true);
  row("session view from the settings", "[View]\nSessionView=1\n", none, kNoControl,
      Command::kSessionView, true);
  row("send list on its key", "", Qt::CTRL | Qt::SHIFT | Qt::Key_E, kNoControl, Command::kSendList,
      true);
  row("answer rules on their key", "", Qt::CTRL | Qt::SHIFT | Qt::Key_O, kNoControl,
      Command::kAnswerRulesOn, true);
  row("hex display by its check box", "", none, kHexDisplayCheck, Command::kHexDisplay, true);
  row("hex display from the settings", "[RecvConfig]\nRECVHEX=1\n", none, kNoControl,
      Command::kHexDisplay, true);
  row("hex display off by its check box", "[RecvConfig]\nRECVHEX=1\n", none, kHexDisplayCheck,
      Command::kHexDisplay, false);
}

void WindowCommandsTest::checkableEntriesFollowTheirState() {
  QFETCH(QString, ini);
  QFETCH(int, key);
  QFETCH(int, control);
  QFETCH(int, command);
  QFETCH(bool, checked);
  TerminalHarness harness(ini.toStdString());
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  if (key != Qt::Key_unknown) {
    QKeyCombination keys = QKeyCombination::fromCombined(key);
    QTest::keyClick(&window, keys.key(), keys.keyboardModifiers());
  }
  if (control != kNoControl) harness.Click(ControlId(control));
  QAction* entry = window.Commands().Action(Command(command));
  QCOMPARE(entry->isChecked(), checked);
  // And the entry works the other way.
  entry->trigger();
  QCOMPARE(entry->isChecked(), !checked);
  if (Command(command) == Command::kHexDisplay) {
    QCOMPARE(harness.Get<QAbstractButton>(kHexDisplayCheck)->isChecked(), !checked);
  }
}

void WindowCommandsTest::keyboardShortcutsListEveryKey() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QList<QKeySequence> listed;
  for (const ShortcutLine& line : KeyboardShortcuts()) listed += line.keys;
  QList<QKeySequence> known;
  for (QAction* action : window.findChildren<QAction*>()) known += action->shortcuts();
  for (QShortcut* shortcut : window.findChildren<QShortcut*>()) known += shortcut->keys();
  QVERIFY(known.size() > 20);
  for (const QKeySequence& key : known) QVERIFY2(listed.contains(key), qPrintable(key.toString()));

  int rows = 0;
  ModalWatcher onList(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    rows = open->findChild<QTableWidget*>(QStringLiteral("shortcuts"))->rowCount();
    static_cast<QDialog*>(open)->reject();
  });
  window.Commands().Action(Command::kKeyboardShortcuts)->trigger();
  QVERIFY(onList.Ran());
  QCOMPARE(rows, KeyboardShortcuts().size());
}

void WindowCommandsTest::networkPortInputIsChecked_data() {
  QTest::addColumn<QString>("host");
  QTest::addColumn<QString>("port");
  QTest::addColumn<bool>("taken");
  QTest::newRow("name") << "lab-pi"
                        << "7001" << true;
  QTest::newRow("dotted name, spaces around") << " lab-pi.example.org "
                                              << " 4001 " << true;
  QTest::newRow("IPv4") << "10.0.0.5"
                        << "65535" << true;
  QTest::newRow("IPv6") << "::1"
                        << "1" << true;
  QTest::newRow("IPv6 in brackets") << "[fe80::1]"
                                    << "7001" << true;
  QTest::newRow("no host") << ""
                           << "7001" << false;
  QTest::newRow("space in name") << "lab pi"
                                 << "7001" << false;
  QTest::newRow("hyphen first") << "-lab"
                                << "7001" << false;
  QTest::newRow("empty label") << "lab..pi"
                               << "7001" << false;
  QTest::newRow("IPv4 out of range") << "999.1.1.1"
                                     << "7001" << false;
  QTest::newRow("IPv4 too short") << "10.0.5"
                                  << "7001" << false;
  QTest::newRow("bad IPv6") << "fe80:::1:"
                            << "7001" << false;
  QTest::newRow("scheme typed as host") << "tcp://lab-pi"
                                        << "7001" << false;
  QTest::newRow("no port") << "lab-pi"
                           << "" << false;
  QTest::newRow("port 0") << "lab-pi"
                          << "0" << false;
  QTest::newRow("port too high") << "lab-pi"
                                 << "65536" << false;
  QTest::newRow("port not a number") << "lab-pi"
                                     << "telnet" << false;
  QTest::newRow("port negative") << "lab-pi"
                                 << "-7" << false;
}

void WindowCommandsTest::networkPortInputIsChecked() {
  QFETCH(QString, host);
  QFETCH(QString, port);
  QFETCH(bool, taken);
  std::string problem = NetworkPortProblem(host.toStdString(), port.toStdString());
  QVERIFY2(problem.empty() == taken, problem.c_str());
  if (!taken) return;
  // What is taken makes a port path the link reads back the same.
  NetworkAddress address{NetworkKind::kRfc2217,
                         host.trimmed().remove(QLatin1Char('[')).remove(']').toStdString(),
                         port.trimmed().toStdString()};
  std::optional<NetworkAddress> read = ParseNetworkAddress(NetworkPortPath(address));
  QVERIFY(read);
  QCOMPARE(*read, address);
}

void WindowCommandsTest::addNetworkPortOpensAndStoresIt() {
  if (!Ser2NetServer::Available()) QSKIP("ser2net is not installed: tools/install-deps.sh");
  Ser2NetServer server;
  QVERIFY(server.Start());
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QString refusal;
  bool stayedOpen = false;
  ModalWatcher onDialog(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    auto* ok = open->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    open->findChild<QLineEdit*>(QStringLiteral("host"))->setText(QStringLiteral("127.0.0.1"));
    open->findChild<QLineEdit*>(QStringLiteral("port"))->setText(QStringLiteral("70000"));
    ok->click();
    refusal = open->findChild<QLabel*>(QStringLiteral("problem"))->text();
    stayedOpen = open->isVisible();
    open->findChild<QLineEdit*>(QStringLiteral("port"))->setText(QString::number(server.Port()));
    ok->click();
  });
  window.Commands().Action(Command::kAddNetworkPort)->trigger();
  QVERIFY(onDialog.Ran());
  QVERIFY(stayedOpen);
  QVERIFY2(refusal.contains(QStringLiteral("65535")), qPrintable(refusal));

  int number = window.CurrentSelection().portPos + 1;
  QVERIFY(number > 1);  // COM1 is the harness's device
  QCOMPARE(window.Names().DevicePath(number), server.Url());
  QTRY_VERIFY(window.Link().Port().IsOpen());
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kLink),
               QString::fromStdString(server.Url()) + QStringLiteral(" open"));
  QCOMPARE(harness.Get<QComboBox>(kPortSelector)->itemData(number - 1, PortList::kLineRole),
           QVariant(QString::fromStdString(server.Url()) + QStringLiteral("   network")));
  // Stored at once, before any close.
  std::string entry = "COM" + std::to_string(number) + "=" + server.Url() + "\n";
  QVERIFY2(harness.IniText().find(entry) != std::string::npos, harness.IniText().c_str());
  server.Device().Send(std::string("hi"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("2"));
  QVERIFY(harness.Messages().isEmpty());
}

QTEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
