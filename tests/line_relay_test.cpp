// The test relay itself: bytes cross in order, a noisy line damages about
// as many as asked, and lrzsz talks to lrzsz through it.
#include "support/line_relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/descriptor_channel.h"
#include "support/lrzsz_peer.h"
#include "support/pty_device.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"

namespace quorvel::testing {
namespace {

struct NoiseCase {
  const char* name;
  RelayNoise noise;
  bool damaged;
};

class RelayNoiseTest : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(RelayNoiseTest, CarriesEveryByteOrDamagesAboutOneInN) {
  PtyDevice left;
  PtyDevice right;
  DescriptorChannel ours(left.Path());
  DescriptorChannel theirs(right.Path());
  RelayOptions options;
  options.towardPeer = GetParam().noise;
  constexpr size_t kSize = 100000;
  std::vector<uint8_t> sent = SeededBytes(kSize, 7);
  LineRelay relay(left.Master(), right.Master(), options);
  std::thread writer([&] { ours.Write(sent.data(), static_cast<int>(sent.size())); });
  std::vector<uint8_t> got;
  uint8_t buffer[4096];
  int n;
  while ((n = theirs.Read(buffer, sizeof buffer, 500)) > 0)
    got.insert(got.end(), buffer, buffer + n);
  writer.join();
  LineRelay::Counts counts = relay.TowardPeer();
  EXPECT_EQ(counts.bytes, kSize);
  if (!GetParam().damaged) {
    EXPECT_EQ(got, sent);
  } else {
    uint64_t damaged = counts.dropped + counts.flipped;
    EXPECT_GT(damaged, kSize / GetParam().noise.oneIn / 2);
    EXPECT_LT(damaged, kSize / GetParam().noise.oneIn * 2);
    EXPECT_EQ(got.size(), kSize - counts.dropped);
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, RelayNoiseTest,
                         ::testing::Values(NoiseCase{"Clean", {}, false},
                                           NoiseCase{"Noisy", {1000, true, true}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::testing

namespace quorvel::testing {
namespace {

// sb to rb, a YMODEM batch of one file.
TEST(RelayPeers, LrzszSendsToLrzszThroughTheRelay) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  TempDir from;
  TempDir to;
  std::vector<uint8_t> bytes = SeededBytes(50000, 3);
  WriteFile(from / "data.bin", std::string(bytes.begin(), bytes.end()));
  LrzszPeer sender({"sb", "-q", "data.bin"}, from.path());
  LrzszProcess receiver({"rb", "-q"}, to.path(), sender.DevicePath());
  // sb may go on waiting for the answer to its closing header after rb has
  // left: only the receiver's end is the test's.
  EXPECT_EQ(receiver.WaitExit(std::chrono::seconds(60)), 0) << receiver.ErrorText();
  EXPECT_EQ(ReadAll(to / "data.bin"), std::string(bytes.begin(), bytes.end()));
}

}  // namespace
}  // namespace quorvel::testing
