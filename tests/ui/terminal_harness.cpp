#include "terminal_harness.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "ui/byte_text_box.h"

namespace quorvel::testing {

TerminalHarness::TerminalHarness(const std::string& ini, int devices)
    : previousDirectory_(QDir::currentPath()) {
  QDir::setCurrent(directory_.path());
  std::string text = ini;
  if (!text.empty() && text.back() != '\n') text += '\n';
  // The devices join a [PortMap] that `ini` ends with: the settings file
  // reads one section of a name, so a second one would leave COM1 on the
  // machine's own /dev/ttyS0.
  std::size_t lastSection = text.rfind('[');
  bool endsInPortMap =
      lastSection != std::string::npos && text.compare(lastSection, 10, "[PortMap]\n") == 0;
  if (devices > 0 && !endsInPortMap) text += "[PortMap]\n";
  for (int i = 0; i < devices; ++i) {
    devices_.push_back(std::make_unique<PtyDevice>());
    text += "COM" + std::to_string(i + 1) + "=" + devices_.back()->Path() + "\n";
  }
  QFile file(QStringLiteral("Quorvel.ini"));
  if (file.open(QIODevice::WriteOnly)) file.write(text.data(), static_cast<qint64>(text.size()));
  previousPresenter_ =
      SetMessagePresenter([this](QWidget*, const QString& message) { messages_.append(message); });
}

TerminalHarness::~TerminalHarness() {
  CloseWindow();
  SetMessagePresenter(std::move(previousPresenter_));
  QDir::setCurrent(previousDirectory_);
}

MainWindow& TerminalHarness::Window() {
  if (!window_) {
    window_ = std::make_unique<MainWindow>(options_, modem_ ? *modem_ : KernelModemControl());
    window_->show();
  }
  return *window_;
}

bool TerminalHarness::ShowActive() {
  MainWindow& window = Window();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

void TerminalHarness::CloseWindow() {
  window_.reset();
}

QString AnnouncedName(QWidget* widget) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  return accessible ? accessible->text(QAccessible::Name) : QString();
}

QAction* MenuEntry(const QWidget* menu, const QString& prefix) {
  for (QAction* action : menu->actions()) {
    if (action->text().remove(QLatin1Char('&')).startsWith(prefix)) return action;
    if (QMenu* submenu = action->menu()) {
      if (QAction* found = MenuEntry(submenu, prefix)) return found;
    }
  }
  return nullptr;
}

std::string TerminalHarness::IniText() const {
  QFile file(QDir(directory_.path()).filePath(QStringLiteral("Quorvel.ini")));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

QString TerminalHarness::Text(ControlId id) {
  QWidget* control = Window().Control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
  if (auto* box = qobject_cast<ByteTextBox*>(control)) return box->toPlainText();
  if (auto* selector = qobject_cast<QComboBox*>(control)) return selector->currentText();
  return {};
}

void TerminalHarness::Click(ControlId id) {
  QTest::mouseClick(Window().Control(id), Qt::LeftButton);
}

void TerminalHarness::Choose(ControlId selector, int index) {
  // What a pick from the opened list does: the entry becomes current and the
  // box reports the user's choice.
  auto* box = Get<QComboBox>(selector);
  box->setCurrentIndex(index);
  Q_EMIT box->activated(index);
}

void TerminalHarness::Type(ControlId id, const QString& text) {
  auto* edit = Get<QLineEdit>(id);
  edit->setFocus();
  edit->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(edit, Qt::Key_Delete);
  } else {
    TypeKeys(edit, text);
  }
}

void TerminalHarness::TypeKeys(QWidget* widget, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    // A character beyond 16 bits is one key press with both its halves.
    qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    QString key = text.mid(i, length);
    i += length - 1;
    QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, key, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, key, Qt::NoModifier);
  }
}

std::vector<uint8_t> TerminalHarness::Receive(int device, size_t count,
                                              std::chrono::milliseconds timeout) {
  std::vector<uint8_t> got;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::vector<uint8_t> part =
        Device(device).Receive(count - got.size(), std::chrono::milliseconds(5));
    got.insert(got.end(), part.begin(), part.end());
  }
  return got;
}

std::vector<uint8_t> TerminalHarness::Drain(int device, std::chrono::milliseconds quiet) {
  std::vector<uint8_t> got;
  auto quietSince = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - quietSince < quiet) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::vector<uint8_t> part = Device(device).Receive(4096, std::chrono::milliseconds(5));
    if (!part.empty()) {
      got.insert(got.end(), part.begin(), part.end());
      quietSince = std::chrono::steady_clock::now();
    }
  }
  return got;
}

ModalWatcher::ModalWatcher(Kind kind, std::function<void(QWidget*)> action,
                           std::chrono::milliseconds timeout)
    : timer_(new QTimer) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  auto ran = ran_;
  auto seenClass = seenClass_;
  QTimer* timer = timer_;
  QObject::connect(timer_, &QTimer::timeout, [=] {
    QWidget* open = kind == Kind::kPopupMenu            ? QApplication::activePopupWidget()
                    : QApplication::activePopupWidget() ? nullptr
                                                        : QApplication::activeModalWidget();
    if (open && !*ran) {
      *ran = true;
      *seenClass = QString::fromLatin1(open->metaObject()->className());
      timer->stop();
      action(open);
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      timer->stop();
      if (open) open->close();
    }
  });
  timer_->start(5);
}

ModalWatcher::~ModalWatcher() {
  delete timer_;
}

}  // namespace quorvel::testing
