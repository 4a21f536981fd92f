// A link for script tests that is no line: it answers each send as a device
// would (fed back before the send returns, so a script's next call sees the
// answer), writes down every call the script made in words, and can refuse
// or block a call. Any thread may feed it bytes.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_link.h"

namespace quorvel::testing {

class FakeScriptLink : public ScriptLink {
 public:
  // The device: what it answers to the bytes of one send ("" for nothing).
  std::function<std::string(const std::string& sent)> device;
  // Given back by every call but Send and Note when set.
  LinkFailure refuse;
  // Sends wait for Interrupt, as a write to a stalled line would.
  bool sendsBlock = false;

  LinkFailure Send(const std::vector<uint8_t>& bytes) override;
  LinkFailure SetLines(const ScriptLineLevels& levels) override;
  LinkFailure SendBreak(int ms) override;
  LinkFailure ApplyLine(const ScriptLineSettings& settings) override;
  LinkFailure Transfer(const ScriptTransfer& transfer) override;
  void Note(const std::string& text) override;
  void Attach(ScriptReceiver* receiver) override;
  void Detach(ScriptReceiver* receiver) override;
  void Interrupt() override;
  void Resume() override;

  // Bytes from the device to whoever is attached (dropped when nobody is).
  void Feed(std::string_view bytes);

  // Every call, in order: "send 41 54 0D", "lines dtr=1 rts=-", "break 250",
  // "set baud=115200 data=8 parity=2 stop=1", "transfer send 2 fw.bin",
  // "transfer receive 3 dir/", "note text".
  std::vector<std::string> Calls() const;
  bool Attached() const;

 private:
  LinkFailure Called(std::string call);

  mutable std::mutex mutex_;
  std::condition_variable interrupted_;
  bool interrupt_ = false;
  ScriptReceiver* receiver_ = nullptr;
  std::vector<std::string> calls_;
};

}  // namespace quorvel::testing
