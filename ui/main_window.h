// The terminal's only working window (template 102). It owns the terminal
// state and the link, lays out the controls from the template table below
// its menu bar, runs the form exchange, turns control events and the
// window's commands into link, transmit and log operations, keeps the three
// automatic send modes exclusive, and saves the settings when it is asked to
// close.
//
// The receive worker reaches it through WindowServices: every call is handed
// to the UI thread through state.uiCalls and returns once it has run there,
// except the news of a burst, which the window publishes at its own pace
// (PublishPacer). The worker captures before a burst only after a bound
// control changed.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>

#include "connection/link_control.h"
#include "connection/link_sender.h"
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
class DemoSession;
class WindowCommands;
class WindowContextMenu;
class FormExchange;
class LineTools;
class ModemMenu;
class PlotViewer;
class PortList;
class PublishPacer;
class SessionViewer;
class SendTools;
class StatusLine;
class WindowLayout;
class TransferTools;

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
  void ShowTxCount(uint32_t txCount) override;
  void ShowMessage(StringId text) override;

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
  // The send history, the send options and the send list.
  SendTools& Sending() const { return *sendTools_; }
  TerminalState& State() { return state_; }
  SerialPort& Device() { return port_; }
  LinkControl& Link() { return link_; }
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
  void SaveSettingsOnClose();
  void EnsureSettingsDirectory() const;
  void HandleRefresh(RefreshPhase phase);
  void PublishReceived();
  void ShowLinkStatus(const LinkStatus& status);
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
  SerialPort port_;
  TerminalState state_{port_};
  LinkControl link_;
  LinkSender sender_{link_, state_, *this};  // the Send button's and the send tools' door
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
  QTimer* sendTimer_ = nullptr;
  QSocketNotifier* callsWaiting_ = nullptr;  // the worker's calls wait for the UI thread
  QSocketNotifier* linkWaiting_ = nullptr;   // the link has something to look at
  QString baseTitle_;
  std::unique_ptr<DemoSession> demo_;  // --demo: the device this run plays
  uint32_t typedBaud_ = 0;             // a rate typed into the baud selector that its list lacks
  LineSelection applied_;              // the line settings the driver took last
};

}  // namespace quorvel
