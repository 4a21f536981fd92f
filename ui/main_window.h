// The terminal's working window (template 102). It holds the link session it
// shows and the terminal state of that line, lays out the controls from the
// template table below its menu bar, runs the form exchange, turns control
// events and the window's commands into link, transmit and log operations,
// keeps the three automatic send modes exclusive, and saves the settings
// when it is asked to close. Each tool is handed the session it acts on.
//
// The receive worker reaches it through WindowServices: a refresh is handed
// to the UI thread through the hub's uiCalls and returns once it has run
// there; the news of a burst the window publishes at its own pace
// (PublishPacer). The worker captures before a burst only after a bound
// control changed. What the link's threads have to say (messages, the TX
// count) comes as the hub's news, which the window takes on its own thread.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "connection/link_session.h"
#include "core/terminal_state.h"
#include "core/window_services.h"
#include "ui/dialog_template.h"
#include "ui/startup_options.h"

class QComboBox;
class QSocketNotifier;
class QMenu;
class QTimer;

namespace quorvel {

class AnswerRulesControl;
class ConsoleViewer;
class MessageHold;
class DemoSession;
class WindowCommands;
class WindowContextMenu;
class FormExchange;
class LineTools;
class ModemMenu;
class PlotViewer;
class ScriptViewer;
class PortList;
class PublishPacer;
class SessionViewer;
class SendTools;
class StatusLine;
class WindowLayout;
class TransferTools;
class TwoPorts;

// The period a send timer really runs with for a requested period: below
// 10 ms it runs every 10 ms, and a negative period never fires in practice.
int PlatformTimerPeriod(int32_t requestedMs);

class MainWindow : public QDialog, public WindowServices {
  Q_OBJECT

 public:
  // Initialises the whole terminal before the window is shown: fills the
  // selectors, applies the settings file (./Quorvel.ini unless `options` say
  // otherwise) and its port map, then the port and rate that `options` ask
  // for, and opens the link on them, showing "Open com fail!" when that fails.
  // `modem` carries the devices' modem lines and break.
  explicit MainWindow(const StartupOptions& options = {},
                      ModemControl& modem = KernelModemControl());
  ~MainWindow() override;

  // WindowServices; any thread.
  void Refresh(RefreshPhase phase) override;
  bool CaptureDue() override;
  void ReceivedChanged() override;
  void ReceivedQuiet() override;

  // For after the modal run: stops the timer, stops and waits for the worker
  // and closes the port. Also done on destruction.
  void Shutdown();

  // Shows the About box modally.
  void ShowAbout();
  // "Add network port…": asks for the address, gives it the lowest free COM
  // number in [PortMap] (or the one it has there), stores the entry, selects
  // it and opens it. Cancelled or refused, nothing changes.
  void AddNetworkPort();

  // The control with template id `id`.
  QWidget* Control(ControlId id) const;

  // For the tests and the benchmarks, which look at the window's parts and
  // drive them; the parts themselves get only the services they use.
  //
  // Every command of the window: its action, as the menu bar, the context
  // menu and the keys share it.
  WindowCommands& Commands() const { return *commands_; }
  // The context menu's commands (built on first use): a submenu for each
  // menu of the bar, "Close", a separator and the About entry.
  QMenu* WindowMenu() const;
  // Shows the context menu as a right click on `target` does.
  void ShowContextMenu(QWidget* target, QPoint globalPos);
  ModemMenu* Modem() const { return modemMenu_; }
  // The port selector's devices.
  PortList* Ports() const { return portList_; }
  // The line across the bottom of the window.
  StatusLine* Status() const { return statusLine_; }
  // The panes and their sizes, the window's place and the text size.
  WindowLayout& Layout() const { return *layout_; }
  // The text size of the session view and the boxes: a point larger, a
  // point smaller, and back to the default.
  void ZoomIn();
  void ZoomOut();
  void ResetZoom();
  // File send and logging.
  LineTools& Tools() const { return *tools_; }
  // XMODEM and YMODEM transfers.
  TransferTools& Transfers() const { return *transfers_; }
  // The session view mode, its menu entries and its history.
  SessionViewer& Session() const { return *session_; }
  // The plot pane and its "Plot" entry.
  PlotViewer& Plot() const { return *plot_; }
  // The Script pane, its commands and the script running on this line.
  ScriptViewer& Script() const { return *script_; }
  // The console mode, its commands and the console itself.
  ConsoleViewer& ConsoleMode() const { return *console_; }
  // The send history, the send options and the send list.
  SendTools& Sending() const { return *sendTools_; }
  // The second port and a monitored or bridged link, in panes of their own.
  TwoPorts& Panes() const { return *twoPorts_; }
  TerminalState& State() { return state_; }
  // The line this window shows, and where each COM number leads.
  LinkSession& Link() { return link_; }
  PortNames& Names() { return names_; }
  // The selectors' positions now, -1 for a selector with nothing selected.
  LineSelection CurrentSelection() const;
  // The send timer (id 1) and the period it runs with, for inspection.
  const QTimer& SendTimer() const { return *sendTimer_; }
  // The worker's bursts shown, none waiting for a frame's end.
  bool PublishSettled() const;

  // The Enter (OK) and Escape (Cancel) commands: neither ends the window.
  void accept() override {}
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  enum class Notification { kClicked, kSelectionChanged };
  struct EventEntry {
    ControlId id;
    Notification notification;
    void (MainWindow::*handler)();
  };

  void ConnectEvents();
  // The menu bar above the template.
  void AddMenuBar();
  // The window's own commands (the link, the template's controls, the text
  // size, Quit, Help), then the tools' and the context menu.
  void BindCommands();
  void FillSelectors();
  void ApplyStoredSettings();
  // What the start had to tell (a settings file not read, stored entries
  // that cannot be used, a refused device, a port that did not open): in the
  // status line, then each in its message, once the window is up.
  void TellStartNotices();
  void SaveSettingsOnClose();
  void EnsureSettingsDirectory() const;
  void HandleRefresh(RefreshPhase phase);
  void PublishReceived();
  void ShowLinkStatus(const LinkStatus& status);
  // Opens the selected port with the selected line settings.
  LinkStatus OpenSelected();
  // Shows what the link's threads posted: messages, each once, then the
  // TX count.
  void TakeLinkNews();
  void Enable(ControlId id, bool enabled);
  QComboBox* Selector(ControlId id) const;

  // The event table's handlers.
  void OnSend();
  void OnOpenClose();
  void OnClearReceive();
  void OnEchoToggled();
  void OnLineSettingChanged();
  void OnBaudChosen();
  void OnBaudTyped();
  // Shows the selectors as `selection` has them, the typed rate included.
  void ShowSelection(const LineSelection& selection);
  void OnPortChanged();
  void OnFlowControlChanged();
  void OnSendAsHexToggled();
  void OnHexDisplayToggled();
  void OnTimerToggled();
  void OnResetCounters();
  void OnReplyToggled();
  void OnTimer();

  StartupOptions options_;
  PortNames names_;
  LinkSession link_;
  TerminalState state_;
  ModemMenu* modemMenu_ = nullptr;
  std::map<int, QWidget*> controls_;
  std::unique_ptr<FormExchange> exchange_;
  std::unique_ptr<PublishPacer> publisher_;  // the worker's bursts, shown at the display's pace
  WindowCommands* commands_ = nullptr;
  WindowContextMenu* contextMenu_ = nullptr;
  StatusLine* statusLine_ = nullptr;
  WindowLayout* layout_ = nullptr;
  LineTools* tools_ = nullptr;
  TransferTools* transfers_ = nullptr;
  AnswerRulesControl* answerRules_ = nullptr;
  SendTools* sendTools_ = nullptr;
  PortList* portList_ = nullptr;
  SessionViewer* session_ = nullptr;
  PlotViewer* plot_ = nullptr;
  ScriptViewer* script_ = nullptr;
  TwoPorts* twoPorts_ = nullptr;
  ConsoleViewer* console_ = nullptr;
  QTimer* sendTimer_ = nullptr;
  QSocketNotifier* callsWaiting_ = nullptr;  // the worker's calls wait for the UI thread
  QSocketNotifier* linkWaiting_ = nullptr;   // the link has something to look at
  QSocketNotifier* linkNews_ = nullptr;      // the link's threads posted news
  QString baseTitle_;
  std::unique_ptr<DemoSession> demo_;    // --demo: the device this run plays
  uint32_t typedBaud_ = 0;               // a rate typed into the baud selector that its list lacks
  std::deque<std::string> messagesDue_;  // the link's messages, shown one after the other
  bool showingMessages_ = false;
  LineSelection applied_;                   // the line settings the driver took last
  std::unique_ptr<MessageHold> startHold_;  // the start's messages, while it runs
  QStringList startNotices_;                // and once it ran, until told
};

}  // namespace quorvel
