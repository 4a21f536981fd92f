// Keys that must not end the window, Enter on push buttons, and the About box
// from the context menu and from the help key.
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "terminal_harness.h"
#include "ui/about_dialog.h"
#include "ui/byte_text_box.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TerminalHarness;

class KeysAndAboutTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void enterAndEscapeLeaveTheWindowOpen_data();
  void enterAndEscapeLeaveTheWindowOpen();
  void enterClicksTheFocusedButton();
  void aboutOpensFromTheContextMenu();
  void aboutOpensOnTheHelpKey();
  void aboutBoxClosesOnEnterAndEscape_data();
  void aboutBoxClosesOnEnterAndEscape();
  void messagesAreModalWarningsWithOnlyOk();
};

void KeysAndAboutTest::enterAndEscapeLeaveTheWindowOpen_data() {
  QTest::addColumn<int>("control");
  QTest::addColumn<int>("key");
  for (ControlId id : {kSendBox, kReceiveBox, kPeriodBox, kFrameEndBox, kHexDisplayCheck,
                       kBaudSelector, kSendButton}) {
    QTest::addRow("Enter in %d", int(id)) << int(id) << int(Qt::Key_Return);
    QTest::addRow("Escape in %d", int(id)) << int(id) << int(Qt::Key_Escape);
  }
  QTest::addRow("keypad Enter in send box") << int(kSendBox) << int(Qt::Key_Enter);
}

void KeysAndAboutTest::enterAndEscapeLeaveTheWindowOpen() {
  QFETCH(int, control);
  QFETCH(int, key);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setPlainText(QStringLiteral("x"));
  bool hexBefore = harness.Get<QCheckBox>(kHexDisplayCheck)->isChecked();
  QWidget* target = window.Control(ControlId(control));
  target->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
  QVERIFY(window.isVisible());
  QCOMPARE(sendBox->toPlainText(), QStringLiteral("x"));  // no line break inserted
  QCOMPARE(harness.Get<QCheckBox>(kHexDisplayCheck)->isChecked(), hexBefore);
  QVERIFY(harness.Messages().isEmpty());
  // Enter on "Send" sends; nowhere else does it.
  bool sent = control == kSendButton && key == Qt::Key_Return;
  QCOMPARE(harness.Drain(0, std::chrono::milliseconds(20)).size(), sent ? 1u : 0u);
}

void KeysAndAboutTest::enterClicksTheFocusedButton() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  window.Control(kOpenCloseButton)->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  // Ctrl+Enter in the send box is a line break.
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setFocus();
  QTest::keyClicks(sendBox, QStringLiteral("a"));
  QTest::keyClick(sendBox, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClicks(sendBox, QStringLiteral("b"));
  QCOMPARE(sendBox->Bytes(), std::string("a\r\nb"));
  QVERIFY(window.isVisible());
}

void KeysAndAboutTest::aboutOpensFromTheContextMenu() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QStringList entries;
  bool separatorAbove = false;
  ModalWatcher onAbout(ModalWatcher::Kind::kDialog,
                       [&](QWidget* about) { static_cast<QDialog*>(about)->accept(); });
  ModalWatcher onMenu(ModalWatcher::Kind::kPopupMenu, [&](QWidget* popup) {
    auto* menu = qobject_cast<QMenu*>(popup);
    QList<QAction*> actions = menu->actions();
    for (QAction* action : actions) entries << action->text();
    QAction* about = actions.back();
    separatorAbove = actions.size() >= 2 && actions[actions.size() - 2]->isSeparator();
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(about).center());
  });
  // A right click on the window's background (a group box frames it).
  QWidget* background = window.findChild<QGroupBox*>();
  QPoint at(2, background->height() / 2);
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, background->mapToGlobal(at));
  QApplication::sendEvent(background, &event);
  QTRY_VERIFY(onAbout.Ran());
  QCOMPARE(entries.back(), QStringLiteral("About Quorvel(&A)..."));
  QVERIFY(separatorAbove);
  QCOMPARE(onAbout.SeenClass(), QStringLiteral("quorvel::AboutDialog"));
  QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
  QVERIFY(window.isVisible());
}

void KeysAndAboutTest::aboutOpensOnTheHelpKey() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QString title;
  QStringList lines;
  ModalWatcher onAbout(ModalWatcher::Kind::kDialog, [&](QWidget* about) {
    title = about->windowTitle();
    for (QLabel* label : about->findChildren<QLabel*>()) lines << label->text();
    // Centred over the main window.
    QPoint offset = about->geometry().center() - window.geometry().center();
    if (offset.manhattanLength() > 2) lines << QStringLiteral("not centred");
    QTest::mouseClick(about->findChild<QPushButton*>(), Qt::LeftButton);
  });
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
  QTRY_VERIFY(onAbout.Ran());
  QCOMPARE(title, QStringLiteral("About Quorvel"));
  QVERIFY(lines.join('|').contains(QStringLiteral("V1.12")));
  QVERIFY(!lines.contains(QStringLiteral("not centred")));
  QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
  QVERIFY(window.isVisible());
}

void KeysAndAboutTest::aboutBoxClosesOnEnterAndEscape_data() {
  QTest::addColumn<int>("key");
  QTest::newRow("Enter") << int(Qt::Key_Return);
  QTest::newRow("Escape") << int(Qt::Key_Escape);
}

void KeysAndAboutTest::aboutBoxClosesOnEnterAndEscape() {
  QFETCH(int, key);
  QWidget parent;
  AboutDialog about(&parent);
  about.show();
  QVERIFY(QTest::qWaitForWindowActive(&about));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
  QVERIFY(!about.isVisible());
  QCOMPARE(about.result(), key == Qt::Key_Return ? int(QDialog::Accepted) : int(QDialog::Rejected));
}

void KeysAndAboutTest::messagesAreModalWarningsWithOnlyOk() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  MessagePresenter recording = SetMessagePresenter(nullptr);  // the real message box
  QString title, text;
  bool modal = false, warning = false, onlyOk = false;
  ModalWatcher onMessage(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    auto* box = qobject_cast<QMessageBox*>(open);
    if (!box) return;
    title = box->windowTitle();
    text = box->text();
    modal = box->isModal();
    warning = box->icon() == QMessageBox::Warning;
    onlyOk = box->buttons().size() == 1 && box->standardButtons() == QMessageBox::Ok;
    QTest::keyClick(box, Qt::Key_Return);
  });
  // As the link's threads post it: the window shows it from its event loop.
  window.Link().Hub().news.PostMessage("Write com fail!");
  QTRY_VERIFY(onMessage.Ran());
  SetMessagePresenter(std::move(recording));
  QCOMPARE(text, QStringLiteral("Write com fail!"));
  QCOMPARE(title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  QVERIFY(modal);
  QVERIFY(warning);
  QVERIFY(onlyOk);
  QVERIFY(window.isVisible());
}

QTEST_MAIN(KeysAndAboutTest)
#include "keys_and_about_test.moc"
