// Connects to a serial port served over the network without ever blocking
// the caller: the name is resolved and each of its addresses tried in turn on
// a short-lived thread of its own, within kLimit, and a descriptor turns
// readable when the attempt is over. One attempt at a time; the thread that
// opens and closes the port calls every operation, and the attempt's thread
// touches nothing but the Attempt it shares with it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "core/event_fd.h"
#include "core/unique_fd.h"
#include "link/network_address.h"

namespace quorvel {

class NetworkConnector {
 public:
  static constexpr std::chrono::milliseconds kLimit{5000};

  NetworkConnector() = default;
  ~NetworkConnector() { Abandon(); }
  NetworkConnector(const NetworkConnector&) = delete;
  NetworkConnector& operator=(const NetworkConnector&) = delete;

  // Starts connecting to `address`; `done` is signalled when the attempt is
  // over. An attempt still going is abandoned first.
  void Start(const NetworkAddress& address, const EventFd& done);
  bool Running() const { return attempt_ != nullptr; }

  struct Outcome {
    UniqueFd socket;  // connected and non-blocking, when error is 0
    int error = 0;    // an errno value; EINPROGRESS while the attempt goes on
    std::string reason;
  };
  // How the attempt ended. An attempt past kLimit (a name lookup that hangs)
  // is given up here with ETIMEDOUT; without one, ENOTCONN.
  Outcome Finish();

  // Leaves an attempt to end on its own; what it connects is closed.
  void Abandon();

  struct Attempt;  // one attempt, shared with its thread

 private:
  std::shared_ptr<Attempt> attempt_;
};

}  // namespace quorvel
