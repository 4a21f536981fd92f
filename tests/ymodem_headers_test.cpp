// What a hostile or broken YMODEM sender can put in its header: a path, a
// name longer than any file system takes, control characters, a size the
// disk cannot hold or no number can. Each gives a safe name or a clear
// refusal (with the cancel sequence), never a file outside the folder.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "support/temp_files.h"
#include "transfer/folder_sink.h"
#include "transfer/xmodem_block.h"
#include "transfer/xymodem.h"

namespace quorvel {
namespace {

using testing::Listing;
using testing::ReadAll;
using testing::TempDir;

// Plays a sender from a script: each Read hands over the next piece, and
// silence once the script is done.
class ScriptedChannel : public TransferChannel {
 public:
  void Add(std::vector<uint8_t> bytes) { script_.push_back(std::move(bytes)); }
  int Read(uint8_t* buffer, int capacity, int) override {
    if (script_.empty()) return kTimedOut;
    std::vector<uint8_t>& next = script_.front();
    int n = std::min(capacity, static_cast<int>(next.size()));
    std::copy(next.begin(), next.begin() + n, buffer);
    next.erase(next.begin(), next.begin() + n);
    if (next.empty()) script_.pop_front();
    return n;
  }
  bool Write(const uint8_t* bytes, int count) override {
    written.insert(written.end(), bytes, bytes + count);
    return true;
  }
  void DiscardInput() override {}
  bool CancelRequested() const override { return false; }
  std::vector<uint8_t> written;

 private:
  std::deque<std::vector<uint8_t>> script_;
};

class NoObserver : public TransferObserver {
  void Progressed(const TransferProgress&) override {}
  void Noted(std::string_view) override {}
};

struct HeaderCase {
  const char* name;
  std::string header;  // block 0's bytes
  std::string kept;    // the file it gives; "" for a refusal
  const char* why;     // a word of the refusal
};

class HostileHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HostileHeader, GivesASafeNameOrAClearRefusal) {
  const HeaderCase& c = GetParam();
  TempDir dir;
  ScriptedChannel channel;
  size_t size = c.header.size() <= 128 ? 128 : 1024;
  auto block = [](uint8_t number, const std::string& bytes, size_t size) {
    return MakeBlock(number, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), size,
                     BlockCheck::kCrc, 0);
  };
  channel.Add(block(0, c.header, size));
  channel.Add(block(1, "hello", 128));
  channel.Add({xmodem::kEot});
  channel.Add({xmodem::kEot});
  channel.Add(block(0, "", 128));
  FolderSink sink({dir.path().string(), ExistingFiles::kNumber, ""});
  NoObserver observer;
  TransferOutcome outcome = YmodemReceive(channel, sink, observer, {500, 100, 2});
  if (c.kept.empty()) {
    EXPECT_EQ(outcome.status, TransferStatus::kFileRefused);
    EXPECT_NE(outcome.detail.find(c.why), std::string::npos) << outcome.detail;
    EXPECT_NE(std::find(channel.written.begin(), channel.written.end(), xmodem::kCan),
              channel.written.end());
    EXPECT_TRUE(Listing(dir.path()).empty());
  } else {
    EXPECT_EQ(outcome.status, TransferStatus::kDone) << outcome.detail;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{c.kept});
    std::string expected = c.header.find('\0') == std::string::npos
                               ? std::string("hello") + std::string(123, '\0')
                               : "hello";
    EXPECT_EQ(ReadAll(dir / c.kept.c_str()), expected);
  }
}

// The end of a file where a header is due: a repeat of the last file's end
// (our ACK of it was lost) is answered and passed; an end before any file
// is a file never announced.
TEST(YmodemEnds, ARepeatedEndIsPassedAndAnEndBeforeAnyFileIsAProtocolError) {
  struct Case {
    bool fileFirst;
    TransferStatus expected;
  };
  for (const Case& c :
       {Case{true, TransferStatus::kDone}, Case{false, TransferStatus::kProtocolError}}) {
    TempDir dir;
    ScriptedChannel channel;
    auto block = [](uint8_t number, const std::string& bytes) {
      return MakeBlock(number, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 128,
                       BlockCheck::kCrc, 0);
    };
    if (c.fileFirst) {
      channel.Add(block(0, std::string("a.txt") + std::string(1, '\0') + "5"));
      channel.Add(block(1, "hello"));
      channel.Add({xmodem::kEot});
      channel.Add({xmodem::kEot});
    }
    channel.Add({xmodem::kEot});
    channel.Add({xmodem::kEot});
    channel.Add(block(0, ""));
    FolderSink sink({dir.path().string(), ExistingFiles::kNumber, ""});
    NoObserver observer;
    TransferOutcome outcome = YmodemReceive(channel, sink, observer, {500, 100, 2});
    EXPECT_EQ(outcome.status, c.expected) << outcome.detail;
    if (c.fileFirst) {
      EXPECT_EQ(ReadAll(dir / "a.txt"), "hello");
    } else {
      EXPECT_NE(outcome.detail.find("never announced"), std::string::npos) << outcome.detail;
    }
  }
}

std::string Header(const std::string& name, const std::string& fields) {
  return name + std::string(1, '\0') + fields;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileHeader,
    ::testing::Values(
        HeaderCase{"Path", Header("../../x", "5"), "x", ""},
        HeaderCase{"AbsolutePath", Header("/etc/cron.d/job", "5 14000000000 644"), "job", ""},
        HeaderCase{"ControlCharacters",
                   Header("a\x01"
                          "b\x1b[2J",
                          "5"),
                   "a_b_[2J", ""},
        // No terminating zero: the whole block is the name, and no size.
        HeaderCase{"NameFillingTheBlock", std::string(1024, 'n'), std::string(255, 'n'), ""},
        HeaderCase{"NoUsableName", Header("..", "5"), "", "safe"},
        HeaderCase{"SizeBeyondTheDisk", Header("big.bin", "9223372036854775808"), "", "free"},
        HeaderCase{"SizeBeyondAnyNumber", Header("big.bin", "99999999999999999999999"), "",
                   "too large"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
