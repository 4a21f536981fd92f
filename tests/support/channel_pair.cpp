#include "support/channel_pair.h"

#include "support/lrzsz_peer.h"

namespace quorvel::testing {

ChannelPair::ChannelPair(RelayOptions options)
    : raw_((MakeRaw(left_.Path()), MakeRaw(right_.Path()), true)),
      relay_(left_.Master(), right_.Master(), options),
      a_(left_.Path()),
      b_(right_.Path()) {}

}  // namespace quorvel::testing
