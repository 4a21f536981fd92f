// Two ports at once in the window: the second port's pane ("Open second
// port…", "Close second port") and the pane of a monitored or bridged link
// ("Monitor two ports as one link…", "Bridge two ports…", "Stop monitor or
// bridge"), each beside the first port's view. Their commands live in the
// Port menu, the context menu and the keys; [Port2] keeps the second port
// (opened again at start when it was open at the end), [Pair] the last
// link's ports and settings. `quorvel --monitor A B` and `--bridge A B`
// start straight into the link (Start).
//
// It also tracks which pane has the focus: while the second port's or the
// link's pane has it, the commands that act on "the port" act on that pane
// (WindowCommands' taker), and the status line says which ("port 2"). UI
// thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <array>
#include <filesystem>
#include <memory>

#include "link/modem_control.h"
#include "link/port_names.h"
#include "pairing/link_pair.h"
#include "ui/startup_options.h"
#include "ui/window_commands.h"

class QWidget;

namespace quorvel {

class PairPane;
class SecondPort;
class StatusLine;
class WindowLayout;

class TwoPorts : public QObject, public CommandTaker {
 public:
  struct Parts {
    QWidget* window;
    WindowLayout& layout;
    WindowCommands& commands;
    StatusLine& status;
    const PortNames& names;  // of the window: a COM name means the same port everywhere
    std::filesystem::path settingsFile;
    ModemControl& modem;
  };
  // Takes its commands of the command table.
  explicit TwoPorts(Parts parts);
  ~TwoPorts() override;

  // At start, before the window takes its stored size: the panes that the
  // start will show (the second port when [Port2] says it was open, the
  // link the command line asks for), so the stored size counts them.
  void Prepare(const StartupOptions& options);
  // After the first port opened: opens them.
  void Start(const StartupOptions& options);
  // The window is closing: the second port's transfer ends now, told in
  // the status line only.
  void EndForClose();
  // Closes every port of the panes; for the window's end.
  void Shutdown();

  // The commands.
  void AskSecondPort();
  void CloseSecondPort();
  void AskLink(PairMode mode);
  void StopLink();

  // The answer rules of what a bridge's sides read (null: none), the
  // frame-end byte `frameEnd`'s, which outlives this; kept for every link
  // the pane starts.
  void SetAnswerRules(std::shared_ptr<const AnswerRuleTable> a,
                      std::shared_ptr<const AnswerRuleTable> b, const TerminalState* frameEnd);

  // Null while not shown.
  SecondPort* Second() const;
  PairPane* Link() const;

  // The pane the port's commands act on now.
  enum class Focus { kFirst, kSecond, kLink };
  Focus Focused() const { return focus_; }

  // CommandTaker: hands the command to the pane with the focus.
  bool Take(Command command, bool checked) override;

 private:
  SecondPort* EnsureSecond();
  PairPane* EnsureLink();
  void StartLink(PairMode mode, const PairEnd& a, const PairEnd& b);
  void FocusMoved(QWidget* now);
  void SetFocus(Focus focus);
  void ShowLinkStatus();
  void ClosePane(QWidget* pane);
  void GiveAnswerRules();

  Parts parts_;
  QPointer<SecondPort> second_;
  QPointer<PairPane> pair_;
  Focus focus_ = Focus::kFirst;
  std::array<std::shared_ptr<const AnswerRuleTable>, 2> answerRules_;  // by PairSide
  const TerminalState* frameEnd_ = nullptr;
  // While a pane has the focus "Cancel file send" is on; the first port's
  // state of it, given back when the focus returns.
  bool paneCancels_ = false;
  bool firstCancels_ = false;
};

}  // namespace quorvel
