#include "ui/plot_viewer.h"

#include <QAction>

#include "settings/plot_settings.h"
#include "ui/command_table.h"
#include "ui/plot_pane.h"
#include "ui/session_viewer.h"
#include "ui/window_commands.h"
#include "ui/window_layout.h"

namespace quorvel {

PlotViewer::PlotViewer(WindowLayout& layout, LineListeners& listeners, SessionViewer& session,
                       std::filesystem::path settingsFile)
    : QObject(&layout),
      layout_(layout),
      listeners_(listeners),
      session_(session),
      settingsFile_(std::move(settingsFile)) {
  // Taps the line now, so the link's opening is its first marker.
  if (LoadPlotSettings(settingsFile_).shown) SetShown(true);
}

PlotViewer::~PlotViewer() {
  if (pane_) KeepSize();
  delete pane_;  // its feed leaves the line: the link is shut down by now
}

void PlotViewer::BindCommands(WindowCommands& commands) {
  action_ = commands.Action(Command::kPlot);
  action_->setChecked(Shown());
  commands.Bind(Command::kPlot, this, [this](bool on) {
    if (on != Shown()) SetShown(on);
  });
}

bool PlotViewer::Shown() const {
  return pane_ && !pane_->isHidden();
}

void PlotViewer::EnsurePane() {
  if (pane_) return;
  const SessionStore* history = session_.On() ? &session_.Store() : nullptr;
  pane_ = new PlotPane(listeners_, history, settingsFile_, nullptr);
  pane_->hide();
  layout_.AddBesideView(pane_, pane_->Settings().width);
}

void PlotViewer::SetShown(bool shown) {
  if (shown) EnsurePane();
  if (pane_ && shown != Shown()) {
    if (!shown) KeepSize();
    layout_.ShowBesideView(pane_, shown);
  }
  if (action_) action_->setChecked(shown);
  PlotSettings stored = LoadPlotSettings(settingsFile_);
  if (stored.shown != shown) {
    stored.shown = shown;
    SavePlotSettings(stored, settingsFile_);
  }
}

void PlotViewer::KeepSize() {
  if (pane_->isHidden()) return;
  PlotSettings stored = LoadPlotSettings(settingsFile_);
  stored.width = pane_->width();
  SavePlotSettings(stored, settingsFile_);
}

}  // namespace quorvel
