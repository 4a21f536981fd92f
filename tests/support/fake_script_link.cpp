#include "support/fake_script_link.h"

#include <cstdio>

namespace quorvel::testing {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char digits[4];
  for (uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", byte);
    text += digits;
  }
  return text;
}

template <typename T>
std::string Field(const char* name, const std::optional<T>& value) {
  return std::string(" ") + name + "=" +
         (value ? std::to_string(static_cast<int64_t>(*value)) : std::string("-"));
}

}  // namespace

LinkFailure FakeScriptLink::Called(std::string call) {
  std::lock_guard guard(mutex_);
  calls_.push_back(std::move(call));
  if (interrupt_) return "interrupted";
  return refuse;
}

LinkFailure FakeScriptLink::Send(const std::vector<uint8_t>& bytes) {
  {
    std::unique_lock lock(mutex_);
    calls_.push_back("send " + Hex(bytes));
    if (sendsBlock) interrupted_.wait(lock, [&] { return interrupt_; });
    if (interrupt_) return "interrupted";
  }
  if (device) Feed(device(std::string(bytes.begin(), bytes.end())));
  return std::nullopt;
}

LinkFailure FakeScriptLink::SetLines(const ScriptLineLevels& levels) {
  return Called("lines" + Field("dtr", levels.dtr) + Field("rts", levels.rts));
}

LinkFailure FakeScriptLink::SendBreak(int ms) {
  return Called("break " + std::to_string(ms));
}

LinkFailure FakeScriptLink::ApplyLine(const ScriptLineSettings& settings) {
  return Called("set" + Field("baud", settings.baud) + Field("data", settings.dataBits) +
                Field("parity", settings.parity) + Field("stop", settings.stopBits));
}

LinkFailure FakeScriptLink::Transfer(const ScriptTransfer& transfer) {
  std::string call = std::string("transfer ") + (transfer.send ? "send " : "receive ") +
                     std::to_string(static_cast<int>(transfer.protocol));
  if (transfer.send) {
    for (const std::string& file : transfer.files) call += " " + file;
  } else {
    call += " " + transfer.folder;
  }
  return Called(call);
}

void FakeScriptLink::Note(const std::string& text) {
  std::lock_guard guard(mutex_);
  calls_.push_back("note " + text);
}

void FakeScriptLink::Attach(ScriptReceiver* receiver) {
  std::lock_guard guard(mutex_);
  receiver_ = receiver;
}

void FakeScriptLink::Detach(ScriptReceiver* receiver) {
  std::lock_guard guard(mutex_);
  if (receiver_ == receiver) receiver_ = nullptr;
}

void FakeScriptLink::Interrupt() {
  {
    std::lock_guard guard(mutex_);
    interrupt_ = true;
  }
  interrupted_.notify_all();
}

void FakeScriptLink::Resume() {
  std::lock_guard guard(mutex_);
  interrupt_ = false;
}

void FakeScriptLink::Feed(std::string_view bytes) {
  if (bytes.empty()) return;
  // Under the lock, so that Detach cannot return while a feed is running,
  // as the link's contract says.
  std::lock_guard guard(mutex_);
  if (receiver_) {
    receiver_->Received(reinterpret_cast<const uint8_t*>(bytes.data()),
                        static_cast<int>(bytes.size()));
  }
}

std::vector<std::string> FakeScriptLink::Calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

bool FakeScriptLink::Attached() const {
  std::lock_guard guard(mutex_);
  return receiver_ != nullptr;
}

}  // namespace quorvel::testing
