#include "plot/plot_export.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quorvel {
namespace {

constexpr size_t kBufferBytes = 1 << 20;

void AppendNumber(std::string& out, double value) {
  char text[32];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  if (error == std::errc()) out.append(text, end);
}

void AppendTime(std::string& out, double seconds) {
  char text[40];
  int length = std::snprintf(text, sizeof text, "%.6f", seconds);
  if (length > 0) out.append(text, static_cast<size_t>(length));
}

}  // namespace

std::string CsvCell(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string cell = "\"";
  for (char c : text) {
    if (c == '"') cell += '"';
    cell += c;
  }
  return cell + "\"";
}

bool ExportPlotCsv(const PlotSnapshot& snapshot, const std::filesystem::path& path,
                   std::string& error, const std::atomic<bool>* stop) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) {
    error = path.string() + ": " + std::strerror(errno);
    return false;
  }
  auto fail = [&](std::string why) {
    error = std::move(why);
    file.reset();
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
  };
  std::string out = "time";
  int series = static_cast<int>(snapshot.Names().size());
  for (const std::string& name : snapshot.Names()) out += "," + CsvCell(name);
  out += "\n";
  for (uint64_t row = snapshot.FirstRow(); row < snapshot.EndRow(); ++row) {
    AppendTime(out, snapshot.Time(row));
    for (int s = 0; s < series; ++s) {
      out += ',';
      double value = snapshot.Value(s, row);
      if (!std::isnan(value)) AppendNumber(out, value);
    }
    out += '\n';
    if (out.size() < kBufferBytes) continue;
    if (std::fwrite(out.data(), 1, out.size(), file.get()) != out.size()) {
      return fail(path.string() + ": " + std::strerror(errno));
    }
    out.clear();
    if (stop && stop->load()) return fail("the export was stopped");
  }
  if (std::fwrite(out.data(), 1, out.size(), file.get()) != out.size() ||
      std::fflush(file.get()) != 0) {
    return fail(path.string() + ": " + std::strerror(errno));
  }
  if (std::fclose(file.release()) != 0) return fail(path.string() + ": " + std::strerror(errno));
  return true;
}

}  // namespace quorvel
