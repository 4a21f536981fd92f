// A monitored or bridged link in a pane beside the first port's view
// (pairing/link_pair.h): both sides' state and counters (and, for a bridge,
// what went across each way and what did not), one session view of both
// directions marked "A→" and "B→" with the gap at each change of direction,
// a plot of either side's lines, and Stop. While it has the focus it takes
// the port's commands that apply to a history (find, copy as hex, save
// session, clear) and the log file, which then records both sides in the
// timeline's order; the commands that would write (modem lines, break, send
// file) are refused with a word, since a monitor writes nothing and a bridge
// writes only what it forwards. UI thread.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>

#include "pairing/link_pair.h"
#include "ui/window_commands.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSocketNotifier;

namespace quorvel {

class HistoryPane;
class PlotPane;

class PairPane : public QWidget, public CommandTaker {
 public:
  // `changed` hears every change of either side's state (for the window's
  // status line). `settingsFile` keeps the file dialogs' and the plot's
  // choices.
  PairPane(std::filesystem::path settingsFile, ModemControl& modem, std::function<void()> changed,
           QWidget* parent);
  ~PairPane() override;

  // Stops what runs and starts `mode` on the two ends.
  void Start(PairMode mode, const PairEnd& a, const PairEnd& b);
  // Stops the link (the pane stays, with its history).
  void Stop();

  bool Take(Command command, bool checked) override;

  // What "Close" does once the pane's link is stopped: its owner hides it.
  void SetCloser(std::function<void()> closer) { closer_ = std::move(closer); }

  // "bridge: A /dev/ttyUSB0 open · B /dev/ttyUSB1 waiting"; "bridge stopped".
  QString StatusText() const;
  QString SideText(PairSide side) const;
  // Plots the lines `side` reads (labelled), or none.
  void PlotSide(std::optional<PairSide> side);
  PlotPane* Plot() const { return plot_; }

  LinkPair& Pair() { return pair_; }
  HistoryPane* History() const { return history_; }

 private:
  void ShowState();
  void TakeNews(PairSide side);
  void Say(const QString& text);
  void AskAndStartLog();

  std::filesystem::path settingsFile_;
  std::function<void()> changed_;
  std::function<void()> closer_;
  LinkPair pair_;
  QLabel* title_;
  QLabel* sides_[2];
  QLabel* said_;
  QPushButton* stop_;
  QComboBox* plotChoice_;
  QLabel* plotTitle_;
  HistoryPane* history_;
  PlotPane* plot_ = nullptr;
  QWidget* plotHolder_;
  QSocketNotifier* waiting_[2];
  QSocketNotifier* news_[2];
  QSocketNotifier* timeline_;
  QTimer refresh_;  // counters and state, a few times a second while bytes move
};

}  // namespace quorvel
