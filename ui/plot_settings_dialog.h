// "Plot settings…": the x axis, the rolling window, the y limits, the
// regular expression lines are read with, and the points kept. Modal, UI
// thread.
#pragma once

#include <optional>

#include "settings/plot_settings.h"

class QWidget;

namespace quorvel {

// The settings chosen; nullopt when cancelled. An expression that cannot be
// used is named and the dialog stays open.
std::optional<PlotSettings> AskPlotSettings(QWidget* parent, const PlotSettings& current);

}  // namespace quorvel
