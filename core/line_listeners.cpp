#include "core/line_listeners.h"

#include <algorithm>
#include <thread>

namespace quorvel {

LineListeners::LineListeners() : current_(new Snapshot) {}

LineListeners::~LineListeners() {
  delete current_.load();
}

LineListeners::Reading::Reading(const LineListeners& list) : list_(list) {
  side_ = list.epoch_.load() & 1;
  list.readers_[side_].fetch_add(1);
  // Loaded after the announcement: a change that drains this side after
  // publishing has either seen the announcement or published before this load.
  snapshot_ = list.current_.load();
}

LineListeners::Reading::~Reading() {
  list_.readers_[side_].fetch_sub(1);
}

void LineListeners::Add(LineListener& listener, Hearing hearing) {
  std::lock_guard guard(changes_);
  auto* next = new Snapshot(*current_.load());
  std::erase_if(*next, [&](const Entry& entry) { return entry.listener == &listener; });
  auto place = next->end();
  if (hearing.early) {
    place = std::find_if(next->begin(), next->end(),
                         [](const Entry& entry) { return !entry.hearing.early; });
  }
  next->insert(place, Entry{&listener, hearing});
  Replace(next);
}

void LineListeners::Remove(LineListener& listener) {
  std::lock_guard guard(changes_);
  if (!Contains(listener)) return;
  auto* next = new Snapshot(*current_.load());
  std::erase_if(*next, [&](const Entry& entry) { return entry.listener == &listener; });
  Replace(next);
}

bool LineListeners::Contains(const LineListener& listener) const {
  Reading reading(*this);
  const Snapshot& entries = reading.Listeners();
  return std::any_of(entries.begin(), entries.end(),
                     [&](const Entry& entry) { return entry.listener == &listener; });
}

void LineListeners::Replace(Snapshot* next) {
  const Snapshot* old = current_.exchange(next);
  // Readers that may hold `old` announced themselves before the exchange, on
  // either side (one that read the epoch before an earlier change may sit on
  // the other). Send new readers to the other side, drain this one; then the
  // same the other way round.
  int side = epoch_.fetch_add(1) & 1;
  WaitForReaders(side);
  epoch_.fetch_add(1);
  WaitForReaders(side ^ 1);
  delete old;
}

void LineListeners::WaitForReaders(int side) const {
  while (readers_[side].load() != 0) std::this_thread::yield();
}

template <typename Call>
void LineListeners::ForEach(bool transfersOnly, Call call) const {
  Reading reading(*this);
  for (const Entry& entry : reading.Listeners()) {
    if (!transfersOnly || entry.hearing.transfers) call(*entry.listener);
  }
}

void LineListeners::Received(const uint8_t* bytes, int count) const {
  ForEach(false, [&](LineListener& listener) { listener.Received(bytes, count); });
}

void LineListeners::Sent(const uint8_t* bytes, int count) const {
  ForEach(false, [&](LineListener& listener) { listener.Sent(bytes, count); });
}

void LineListeners::Noted(LineEvent event, std::string_view text) const {
  ForEach(false, [&](LineListener& listener) { listener.Noted(event, text); });
}

void LineListeners::TransferReceived(const uint8_t* bytes, int count) const {
  ForEach(true, [&](LineListener& listener) { listener.Received(bytes, count); });
}

void LineListeners::TransferSent(const uint8_t* bytes, int count) const {
  ForEach(true, [&](LineListener& listener) { listener.Sent(bytes, count); });
}

}  // namespace quorvel
