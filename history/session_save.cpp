#include "history/session_save.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>

namespace quorvel {
namespace {

constexpr size_t kWriteBatch = size_t{1} << 16;
constexpr char kCsvHeader[] = "time,seconds,direction,gap_ms,length,hex,text\n";

// Writes what `fill` puts out for each run into `path`, in batches.
bool WriteRuns(const SessionStore& store, const std::string& path, std::string_view header,
               const std::function<void(const SessionStore::Run&, std::string&)>& fill,
               std::string& error, const std::atomic<bool>* stop) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string out(header);
  bool stopped = false;
  bool written = store.ForEachRun([&](const SessionStore::Run& run) {
    if (stop && stop->load(std::memory_order_relaxed)) {
      stopped = true;
      return false;
    }
    fill(run, out);
    if (out.size() < kWriteBatch) return true;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    out.clear();
    return ok;
  });
  if (written && !out.empty()) written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  int writeErrno = errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    writeErrno = errno;
  }
  if (stopped) {
    error = "Saving " + path + " was stopped";
  } else if (!written) {
    error = "Cannot write " + path + ": " + std::strerror(writeErrno);
  }
  return written;
}

void AppendLocalTime(int64_t wallMs, std::string& out) {
  int64_t second = wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000;
  std::time_t time = static_cast<std::time_t>(second);
  std::tm local{};
  localtime_r(&time, &local);
  char text[40];
  size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03d",
                static_cast<int>(wallMs - second * 1000));
  out += text;
}

}  // namespace

bool SaveSession(const SessionStore& store, const std::string& path, LogFormat format,
                 std::string& error, const std::atomic<bool>* stop) {
  return SaveSession(store, path, format, LogLabels{}, error, stop);
}

bool SaveSession(const SessionStore& store, const std::string& path, LogFormat format,
                 const LogLabels& labels, std::string& error, const std::atomic<bool>* stop) {
  LogFormatter formatter(format, true, labels);
  return WriteRuns(
      store, path, {},
      [&](const SessionStore::Run& run, std::string& out) {
        if (run.kind == SessionKind::kEvent) return;
        auto direction =
            run.kind == SessionKind::kSent ? LogDirection::kSent : LogDirection::kReceived;
        formatter.Append(direction, run.wallMs, run.bytes.data(), run.bytes.size(), out);
      },
      error, stop);
}

bool SaveSessionCsv(const SessionStore& store, const std::string& path, const LogLabels& labels,
                    std::string& error, const std::atomic<bool>* stop) {
  bool first = true;
  int64_t firstMonoNs = 0;
  // The other direction's last run, for the gap at a change of direction.
  SessionKind lastKind = SessionKind::kEvent;
  int64_t lastMonoNs = 0;
  return WriteRuns(
      store, path, kCsvHeader,
      [&](const SessionStore::Run& run, std::string& out) {
        if (first) firstMonoNs = run.monoNs;
        first = false;
        int64_t gapNs = -1;
        if (run.kind != SessionKind::kEvent) {
          if (lastKind != SessionKind::kEvent && lastKind != run.kind) {
            gapNs = run.monoNs - lastMonoNs;
          }
          lastKind = run.kind;
          lastMonoNs = run.monoNs;
        }
        AppendCsvRow(run, firstMonoNs, gapNs, labels, out);
      },
      error, stop);
}

void AppendCsvRow(const SessionStore::Run& run, int64_t firstMonoNs, int64_t gapNs,
                  const LogLabels& labels, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  AppendLocalTime(run.wallMs, out);
  char number[64];
  int64_t sinceUs = (run.monoNs - firstMonoNs) / 1000;
  std::snprintf(number, sizeof number, ",%" PRId64 ".%06" PRId64 ",", sinceUs / 1'000'000,
                sinceUs % 1'000'000);
  out += number;
  bool event = run.kind == SessionKind::kEvent;
  out += event ? "event"
               : labels.Of(run.kind == SessionKind::kSent ? LogDirection::kSent
                                                          : LogDirection::kReceived);
  out += ',';
  if (gapNs >= 0) {
    std::snprintf(number, sizeof number, "%" PRId64 ".%03" PRId64, gapNs / 1'000'000,
                  gapNs / 1000 % 1000);
    out += number;
  }
  out += ',';
  out += std::to_string(event ? 0 : run.bytes.size());
  out += ',';
  if (!event) {
    for (size_t i = 0; i < run.bytes.size(); ++i) {
      if (i > 0) out += ' ';
      out += kDigits[run.bytes[i] >> 4];
      out += kDigits[run.bytes[i] & 15];
    }
  }
  out += ",\"";
  for (uint8_t byte : run.bytes) {
    if (byte == '"') {
      out += "\"\"";
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
    } else {
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 15];
    }
  }
  out += "\"\n";
}

}  // namespace quorvel
