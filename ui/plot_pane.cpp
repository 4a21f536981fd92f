#include "ui/plot_pane.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSocketNotifier>
#include <QVBoxLayout>

#include "plot/plot_export.h"
#include "ui/message_box.h"
#include "ui/plot_chart.h"
#include "ui/plot_settings_dialog.h"
#include "ui/repaint_pacer.h"

namespace quorvel {
namespace {

PlotViewOptions ViewOptionsOf(const PlotSettings& settings) {
  return {settings.sampleAxis ? PlotXAxis::kSample : PlotXAxis::kTime, settings.window,
          settings.autoY, PlotRange{settings.yMin, settings.yMax}};
}

std::shared_ptr<const PlotPattern> PatternOf(const std::string& regex) {
  std::string error;
  if (regex.empty()) return nullptr;
  std::optional<PlotPattern> pattern = PlotPattern::Compile(regex, error);
  // A stored expression that no longer compiles reads lines as without one.
  return pattern ? std::make_shared<const PlotPattern>(std::move(*pattern)) : nullptr;
}

}  // namespace

PlotPane::PlotPane(LineListeners& listeners, const SessionStore* history,
                   std::filesystem::path settingsFile, QWidget* parent)
    : QWidget(parent), listeners_(listeners), settingsFile_(std::move(settingsFile)) {
  settings_ = LoadPlotSettings(settingsFile_);
  chart_ = new PlotChart(this);
  tally_ = new QLabel(this);
  auto button = [this](const QString& text, void (PlotPane::*command)()) {
    auto* made = new QPushButton(text, this);
    made->setFocusPolicy(Qt::TabFocus);
    connect(made, &QPushButton::clicked, this, command);
    return made;
  };
  pause_ = button(QStringLiteral("&Pause"), &PlotPane::TogglePause);
  QPushButton* reset = button(QStringLiteral("Reset &zoom"), &PlotPane::ResetZoom);
  QPushButton* clear = button(QStringLiteral("Clear plot"), &PlotPane::Clear);
  export_ = button(QStringLiteral("Export CSV…"), &PlotPane::AskExport);
  QPushButton* image = button(QStringLiteral("Save image…"), &PlotPane::AskSaveImage);
  QPushButton* options = button(QStringLiteral("Plot settings…"), &PlotPane::AskSettings);
  auto* commands = new QHBoxLayout;
  commands->setContentsMargins(0, 0, 0, 0);
  for (QPushButton* each : {pause_, reset, clear, export_, image, options}) {
    commands->addWidget(each);
  }
  commands->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(commands);
  layout->addWidget(chart_, 1);
  layout->addWidget(tally_);

  pacer_ = new RepaintPacer(this);
  news_ = new QSocketNotifier(feed_.NewsDescriptor(), QSocketNotifier::Read, this);
  connect(news_, &QSocketNotifier::activated, this, [this] {
    // The news stays pending until the refresh takes it: one wake-up a frame.
    pacer_->AtFrameEnd([this] { Refresh(); });
  });
  connect(chart_, &PlotChart::ViewChanged, this, &PlotPane::ShowState);

  store_.SetLimit(settings_.maxPoints);
  feed_.SetPattern(PatternOf(settings_.regex));
  chart_->SetOptions(ViewOptionsOf(settings_));
  // The feed listens first: a run the history has not taken yet is then one
  // the feed hears too (it tells the two apart by their stamps).
  listeners_.Add(feed_, {.early = true});
  feed_.Start(history);
  Refresh();
}

PlotPane::~PlotPane() {
  listeners_.Remove(feed_);
  feed_.Stop();
  if (exporter_.joinable()) {
    stopExport_.store(true);
    exporter_.join();
  }
  delete news_;  // before the feed closes the descriptor it watches
}

void PlotPane::Refresh() {
  feed_.TakeNews();
  chart_->Show(store_.Snapshot());
  ShowState();
}

void PlotPane::ShowState() {
  const PlotSnapshot* snapshot = chart_->Snapshot();
  QLocale locale;
  QString text;
  if (snapshot) {
    const PlotTally& tally = snapshot->Tally();
    text = QStringLiteral("%1 lines plotted").arg(locale.toString(qulonglong(tally.lines)));
    if (tally.skippedLines > 0) {
      text += QStringLiteral(" · skipped: %1 line%2")
                  .arg(locale.toString(qulonglong(tally.skippedLines)))
                  .arg(tally.skippedLines == 1 ? QString() : QStringLiteral("s"));
    }
    if (tally.refusedValues > 0) {
      text += QStringLiteral(" · %1 values left out")
                  .arg(locale.toString(qulonglong(tally.refusedValues)));
    }
  }
  if (chart_->Viewport().Paused()) text += QStringLiteral(" · paused");
  tally_->setText(text);
  pause_->setText(chart_->Viewport().Paused() ? QStringLiteral("Res&ume")
                                              : QStringLiteral("&Pause"));
  export_->setEnabled(!Exporting());
  export_->setText(Exporting() ? QStringLiteral("Exporting…") : QStringLiteral("Export CSV…"));
}

void PlotPane::TogglePause() {
  if (chart_->Viewport().Paused()) {
    chart_->Resume();
  } else {
    chart_->Pause();
  }
}

void PlotPane::ResetZoom() {
  chart_->ResetZoom();
}

void PlotPane::Clear() {
  feed_.Clear();
  chart_->Resume();
}

void PlotPane::Apply(const PlotSettings& settings) {
  if (settings.regex != settings_.regex) feed_.SetPattern(PatternOf(settings.regex));
  if (settings.maxPoints != settings_.maxPoints) store_.SetLimit(settings.maxPoints);
  settings_ = settings;
  chart_->SetOptions(ViewOptionsOf(settings_));
  // Whether the pane shows and its size are its viewer's to keep.
  PlotSettings stored = LoadPlotSettings(settingsFile_);
  PlotSettings saved = settings_;
  saved.shown = stored.shown;
  saved.width = stored.width;
  saved.height = stored.height;
  SavePlotSettings(saved, settingsFile_);
  Refresh();
}

void PlotPane::AskSettings() {
  if (std::optional<PlotSettings> chosen = AskPlotSettings(this, settings_)) Apply(*chosen);
}

void PlotPane::AskExport() {
  if (Exporting()) return;
  QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("plot.csv"),
                                   QStringLiteral("CSV files (*.csv);;All files (*)"));
  if (!path.isEmpty()) ExportTo(path);
}

void PlotPane::ExportTo(const QString& path) {
  if (Exporting()) return;
  stopExport_.store(false);
  exporter_ = std::thread([this, path, snapshot = store_.Snapshot()] {
    std::string error;
    bool written = ExportPlotCsv(*snapshot, path.toStdString(), error, &stopExport_);
    // Posted to the pane: dropped with it if it goes first (it waits for this thread).
    QMetaObject::invokeMethod(
        this, [this, written, error] { FinishExport(written, error); }, Qt::QueuedConnection);
  });
  ShowState();
}

void PlotPane::FinishExport(bool written, const std::string& error) {
  exporter_.join();
  ShowState();
  if (!written) {
    ShowWarning(this,
                QStringLiteral("Cannot export the plot: %1").arg(QString::fromStdString(error)));
  }
}

void PlotPane::AskSaveImage() {
  QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Save image"), QStringLiteral("plot.png"),
                                   QStringLiteral("PNG images (*.png)"));
  if (path.isEmpty()) return;
  if (!chart_->grab().save(path, "PNG")) {
    ShowWarning(this, QStringLiteral("Cannot save the image to %1").arg(path));
  }
}

}  // namespace quorvel
