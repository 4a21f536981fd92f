// "Save session…": the whole kept history written in one of the formats of
// "Log to file", both directions, with the stamps the bytes had when they
// came. Events are not written (the formats have no place for them).
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

}  // namespace quorvel
