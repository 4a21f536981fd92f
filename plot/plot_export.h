// "Export CSV…": the kept rows as comma-separated values, one row per line
// received: the time in seconds since the plot started, then every series in
// order of first appearance, an empty cell where a series had no value in
// that line. Values are written in the shortest form that reads back as the
// same double. Runs on any thread, from a snapshot, so the plot goes on
// meanwhile; the file is written whole or, on failure, removed.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "plot/plot_store.h"

namespace quorvel {

// False with `error` set when the file cannot be written, or when `stop` is
// set before the end.
bool ExportPlotCsv(const PlotSnapshot& snapshot, const std::filesystem::path& path,
                   std::string& error, const std::atomic<bool>* stop = nullptr);

// The header line's cell for a series name: quoted when it needs it.
std::string CsvCell(std::string_view text);

}  // namespace quorvel
