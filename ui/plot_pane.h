// The plot pane: the chart of what the device measures, fed from the line
// from the moment the pane is first shown (and from the session view's
// history when it holds one), with its commands: "Pause" / "Resume", "Reset
// zoom", "Clear plot", "Export CSV…", "Save image…" and "Plot settings…",
// and a line that counts the lines plotted and skipped.
//
// Owns the plot's store and feed; the feed listens to the line while the pane
// lives, hidden or not, so hiding it loses nothing. The chart is refreshed
// when the feed has news, at most once per display frame. An export runs on
// a thread of its own; the pane waits for it when it goes. UI thread.
#pragma once

#include <QWidget>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "core/line_listeners.h"
#include "plot/plot_feed.h"
#include "plot/plot_store.h"
#include "settings/plot_settings.h"

class QLabel;
class QPushButton;
class QSocketNotifier;

namespace quorvel {

class PlotChart;
class RepaintPacer;
class SessionStore;

class PlotPane : public QWidget {
  Q_OBJECT

 public:
  // Starts the feed (after `history`, which may be null and must outlive the
  // pane) and joins the line's listeners, early.
  PlotPane(LineListeners& listeners, const SessionStore* history,
           std::filesystem::path settingsFile, QWidget* parent);
  // Leaves the listeners, stops the feed, waits for an export.
  ~PlotPane() override;

  const PlotSettings& Settings() const { return settings_; }
  // Applies `settings` (the pattern, the kept points, the axes) and stores them.
  void Apply(const PlotSettings& settings);

  // The commands.
  void TogglePause();
  void ResetZoom();
  void Clear();
  void AskExport();
  void AskSaveImage();
  void AskSettings();

  PlotChart& Chart() const { return *chart_; }
  PlotStore& Store() { return store_; }
  PlotFeed& Feed() { return feed_; }
  // An export is being written.
  bool Exporting() const { return exporter_.joinable(); }
  // Writes the CSV on the export thread; what AskExport does once it has a name.
  void ExportTo(const QString& path);

 private:
  void Refresh();
  void ShowState();
  void FinishExport(bool written, const std::string& error);

  LineListeners& listeners_;
  std::filesystem::path settingsFile_;
  PlotSettings settings_;
  PlotStore store_;
  PlotFeed feed_{store_};
  PlotChart* chart_;
  QLabel* tally_;
  QPushButton* pause_;
  QPushButton* export_;
  QSocketNotifier* news_;
  RepaintPacer* pacer_;
  std::thread exporter_;
  std::atomic<bool> stopExport_{false};
};

}  // namespace quorvel
