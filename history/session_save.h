// "Save session…": the whole kept history written in one of the formats of
// "Log to file", both directions, with the stamps the bytes had when they
// came. Events are not written (the formats have no place for them). Or as
// CSV, one row per run (a read, a write, an event) with its time and
// direction, for a spreadsheet or a script:
//
//   time,seconds,direction,gap_ms,length,hex,text
//   2026-12-07T14:15:28.123,0.000000,RX,,3,41 42 0D,"AB\r"
//
// `time` is the local time of day to the millisecond, `seconds` the steady
// time since the first run kept (to the microsecond: the order and spacing
// of the runs, which the time of day can blur), `direction` the received or
// sent label (or "event"), `gap_ms` on a run that changes direction the
// milliseconds since the other direction's last run (empty otherwise),
// `length` the bytes, `hex` them in hex and `text` them as text in quotes
// (printable ASCII as it is, a quote doubled, every other byte as \xHH, a
// backslash as \\); an event's row has its text and no bytes.
#pragma once

#include <atomic>
#include <string>

#include "history/session_store.h"
#include "logging/log_format.h"

namespace quorvel {

// Any thread but the receive worker's (it writes a file). Replaces the file
// at `path`; false with `error` set when it cannot be written, in which case
// the file may hold part of the history. `stop`, when given and set, ends
// the writing early (false, the file holding part of the history).
bool SaveSession(const SessionStore& store, const std::string& path, LogFormat format,
                 std::string& error, const std::atomic<bool>* stop = nullptr);
// The same with the directions named by `labels` (a linked pair's sides).
bool SaveSession(const SessionStore& store, const std::string& path, LogFormat format,
                 const LogLabels& labels, std::string& error,
                 const std::atomic<bool>* stop = nullptr);

// The history as CSV (above), on the same terms.
bool SaveSessionCsv(const SessionStore& store, const std::string& path, const LogLabels& labels,
                    std::string& error, const std::atomic<bool>* stop = nullptr);

// One run's CSV row, line feed included; `firstMonoNs` is the first run's
// steady stamp, `gapNs` the gap since the other direction (-1: none).
void AppendCsvRow(const SessionStore::Run& run, int64_t firstMonoNs, int64_t gapNs,
                  const LogLabels& labels, std::string& out);

}  // namespace quorvel
