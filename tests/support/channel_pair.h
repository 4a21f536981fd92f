// Both ends of a line for protocol tests: two pseudo-terminals joined by the
// test relay, each opened raw by a DescriptorChannel, so two sides (or a
// side and the test playing the other) talk as over a serial cable, damage
// included when the relay is told to make it.
#pragma once

#include "support/descriptor_channel.h"
#include "support/line_relay.h"
#include "support/pty_device.h"

namespace quorvel::testing {

class ChannelPair {
 public:
  explicit ChannelPair(RelayOptions options = {});

  DescriptorChannel& A() { return a_; }
  DescriptorChannel& B() { return b_; }
  LineRelay& Relay() { return relay_; }

 private:
  PtyDevice left_;
  PtyDevice right_;
  bool raw_;
  LineRelay relay_;
  DescriptorChannel a_;
  DescriptorChannel b_;
};

}  // namespace quorvel::testing
