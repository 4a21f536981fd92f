// The terminal with its real window, offscreen in a QApplication. The window
// starts as the application shell starts it: from ./Quorvel.ini (in a
// directory of its own, mapping the benchmark's pseudo-terminal), which also
// opens the link. The device thread works its controls on the UI thread
// through the link's uiCalls, as the receive worker reaches the window.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "link/network_address.h"
#include "terminal_host.h"
#include "ui/byte_text_box.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/plot_pane.h"
#include "ui/plot_viewer.h"
#include "ui/session_viewer.h"
#include "window_bench.h"

namespace quorvel::bench {
namespace {

std::atomic<int> messagesShown{0};

class WindowHost : public TerminalHost {
 public:
  WindowHost() {
    EnsureApplication();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvel_bench.XXXXXX").string();
    if (mkdtemp(pattern.data())) directory_ = pattern;
  }

  ~WindowHost() override {
    window_.reset();
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
  }

  // Offscreen unless run on an X server (bench/run.sh uses Xvfb for that).
  std::string Name() const override { return WindowTerminalName(); }

  // A network port connects in the background: the events are served until
  // it is open (or the attempt is over).
  void Serve(std::chrono::milliseconds period) {
    auto by = std::chrono::steady_clock::now() + period;
    while (std::chrono::steady_clock::now() < by) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
  }

  void WaitForConnection() {
    auto by = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (window_->Link().Status().connecting && std::chrono::steady_clock::now() < by) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
  }

  bool Run(const std::string& devicePath, const std::function<void()>& scenario) override {
    if (directory_.empty() || !WriteBenchSettings(directory_, devicePath)) return false;
    {
      // The window reads its settings from the current directory.
      std::filesystem::path previous = std::filesystem::current_path();
      std::filesystem::current_path(directory_);
      window_ = std::make_unique<MainWindow>();
      std::filesystem::current_path(previous);
    }
    WaitForConnection();
    if (!window_->Link().Port().IsOpen()) return false;
    // The worker is the one thread that a close and reopen of the link
    // replaces; no other thread of the process comes or goes then.
    auto* openClose = static_cast<QAbstractButton*>(window_->Control(kOpenCloseButton));
    openClose->click();
    // A server lets go of its end of the closed connection before it takes
    // the next one (ser2net's single connection is otherwise "in use").
    if (IsNetworkPath(devicePath)) Serve(std::chrono::milliseconds(300));
    std::vector<pid_t> before = Tasks();
    openClose->click();
    WaitForConnection();
    for (pid_t tid : Tasks()) {
      if (std::find(before.begin(), before.end(), tid) == before.end()) workerTid_ = tid;
    }
    if (!window_->Link().Port().IsOpen()) return false;
    window_->show();

    auto* rxBox = static_cast<QLineEdit*>(window_->Control(kRxBox));
    QObject::connect(rxBox, &QLineEdit::textChanged, window_.get(), [this](const QString& text) {
      {
        std::lock_guard guard(shownMutex_);
        shownRx_ = text.toUInt();
      }
      shownChanged_.notify_all();
    });

    QEventLoop loop;
    std::thread device([&] {
      scenario();
      QMetaObject::invokeMethod(
          &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    device.join();
    window_->Shutdown();
    return true;
  }

  TerminalState& State() override { return window_->State(); }
  LinkHub& Hub() override { return window_->Link().Hub(); }
  WindowServices& Window() override { return *window_; }
  pid_t WorkerTid() const override { return workerTid_; }

  void OnUi(const std::function<void()>& call) override { window_->Link().Hub().uiCalls.Run(call); }

  void SetHexDisplay(bool on) override {
    OnUi([&] { SetCheck(kHexDisplayCheck, on); });
  }

  void EnableAutoReply(const std::string& sendText, bool sendAsHex,
                       const std::string& frameEndText) override {
    OnUi([&] {
      static_cast<ByteTextBox*>(window_->Control(kSendBox))->SetBytes(sendText);
      SetCheck(kSendAsHexCheck, sendAsHex);
      static_cast<QLineEdit*>(window_->Control(kFrameEndBox))
          ->setText(QString::fromStdString(frameEndText));
      SetCheck(kReplyCheck, true);
    });
  }

  void EnableEcho(const std::string& frameEndText) override {
    OnUi([&] {
      static_cast<QLineEdit*>(window_->Control(kFrameEndBox))
          ->setText(QString::fromStdString(frameEndText));
      SetCheck(kEchoCheck, true);
    });
  }

  void ShowSessionView() override {
    OnUi([&] {
      ViewSettings settings = window_->Session().Settings();
      settings.sessionView = true;
      settings.stamps = StampKind::kTimeOfDay;
      settings.showTx = true;
      window_->Session().Apply(settings);
    });
  }

  PlotStore& ShowPlot() override {
    PlotStore* store = nullptr;
    OnUi([&] {
      window_->Plot().SetShown(true);
      store = &window_->Plot().Pane()->Store();
    });
    return *store;
  }

  void ClearReceive() override {
    OnUi([&] { static_cast<QAbstractButton*>(window_->Control(kClearReceiveButton))->click(); });
  }

  bool WaitShownRxCount(uint32_t count, std::chrono::milliseconds timeout) override {
    std::unique_lock lock(shownMutex_);
    return shownChanged_.wait_for(lock, timeout, [&] { return shownRx_ >= count; });
  }

  std::string ShownReceiveText() override {
    std::string text;
    OnUi([&] { text = static_cast<ByteTextBox*>(window_->Control(kReceiveBox))->Bytes(); });
    return text;
  }

  int MessagesShown() const override { return messagesShown.load(); }

  bool LinkWaiting() override {
    bool waiting = false;
    OnUi([&] { waiting = window_->Link().Waiting(); });
    return waiting;
  }

 private:
  // Clicks a check box when its mark differs, as a user would.
  void SetCheck(ControlId id, bool on) {
    auto* box = static_cast<QCheckBox*>(window_->Control(id));
    if (box->isChecked() != on) box->click();
  }

  std::filesystem::path directory_;
  std::unique_ptr<MainWindow> window_;
  pid_t workerTid_ = 0;
  std::mutex shownMutex_;
  std::condition_variable shownChanged_;
  uint32_t shownRx_ = 0;
};

}  // namespace

std::string WindowTerminalName() {
  return QGuiApplication::platformName() == QStringLiteral("xcb") ? "window, X server" : "window";
}

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "quorvel_bench";
  static char* argv[] = {name, nullptr};
  if (QApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Never destroyed: at exit it would outlive Qt's own globals, and tearing
  // down what it still holds (the desktop's widget on xcb) would crash.
  new QApplication(argc, argv);
  // A message box would wait for a user who is not there; count it instead.
  SetMessagePresenter([](QWidget*, const QString&) { messagesShown.fetch_add(1); });
}

bool WriteBenchSettings(const std::filesystem::path& directory, const std::string& devicePath) {
  std::ofstream out(directory / "Quorvel.ini", std::ios::binary | std::ios::trunc);
  // COM 9 at 115200 baud, 8 data bits, 1 stop bit, no parity.
  out << "[COMConfig]\nCOM=" << kBenchPort - 1
      << "\nBRATE=15\nBYTESIZE=3\nSTOPBITS=0\nPARITY=0\nFLOWCONTROL=0\n"
      << "[PortMap]\nCOM" << kBenchPort << "=" << devicePath << "\n";
  return static_cast<bool>(out.flush());
}

std::unique_ptr<TerminalHost> MakeWindowHost() {
  return std::make_unique<WindowHost>();
}

}  // namespace quorvel::bench
