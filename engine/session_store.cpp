#include "engine/session_store.h"

namespace quorvel {

struct SessionStore::Impl {
  uint64_t limit = kSessionLimitDefault;
  SessionSplit split;
};
struct SessionStore::Snapshot {};

SessionStore::SessionStore(uint64_t limitBytes) : impl_(std::make_unique<Impl>()) {
  impl_->limit = limitBytes;
}
SessionStore::~SessionStore() = default;
void SessionStore::Received(const uint8_t*, int) {}
void SessionStore::Sent(const uint8_t*, int) {}
void SessionStore::RecordEvent(SessionEvent, std::string_view) {}
void SessionStore::AppendAt(SessionKind, SessionEvent, const uint8_t*, size_t, int64_t, int64_t) {}
void SessionStore::Clear() {}
void SessionStore::SetLimit(uint64_t limitBytes) {
  impl_->limit = limitBytes;
}
uint64_t SessionStore::Limit() const {
  return impl_->limit;
}
void SessionStore::SetSplit(const SessionSplit& split) {
  impl_->split = split;
}
SessionSplit SessionStore::Split() const {
  return impl_->split;
}
void SessionStore::SetFrameCheck(ChecksumKind) {}
SessionCounts SessionStore::Counts(SessionDisplay) const {
  return {};
}
bool SessionStore::Line(SessionDisplay, uint64_t, SessionLine&) const {
  return false;
}
uint64_t SessionStore::LineAt(SessionDisplay, uint64_t) const {
  return 0;
}
void SessionStore::CopyBytes(uint64_t, size_t, std::vector<uint8_t>& out) const {
  out.clear();
}
std::optional<SessionMatch> SessionStore::Find(SessionDisplay, const SessionQuery&, uint64_t,
                                               FindWay) const {
  return std::nullopt;
}
std::shared_ptr<const SessionStore::Snapshot> SessionStore::TakeSnapshot() const {
  return std::make_shared<Snapshot>();
}
size_t SessionStore::RunCount(const Snapshot&) {
  return 0;
}
void SessionStore::RunOf(const Snapshot&, size_t, Run&) {}

}  // namespace quorvel
