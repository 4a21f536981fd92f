// One line's parts without a session around them, as the receive worker,
// the door and a transfer see them: the port, its hub, the door, the
// terminal state and a worker, for tests that drive these parts directly.
#pragma once

#include <string>

#include "core/link_hub.h"
#include "core/terminal_state.h"
#include "engine/receive_worker.h"
#include "engine/send_writer.h"
#include "link/serial_port.h"

namespace quorvel::testing {

struct LineRig {
  LineRig() { state.AttachLine(&port); }
  explicit LineRig(ModemControl& modem) : port(modem) { state.AttachLine(&port); }
  ~LineRig() { worker.StopAndWait(); }

  // Opens the device at `path`.
  bool Open(const std::string& path, const LineParameters& line = {}) {
    return static_cast<bool>(port.Open(PortTarget::Device(path), line));
  }
  // A worker for the terminal state (null: a line without one).
  void StartWorker(bool withTerminal = true) {
    worker.Start({hub, door, withTerminal ? &state : nullptr});
  }
  CounterValues Counters() const { return hub.counters.Read(); }

  SerialPort port;
  LinkHub hub{port};
  SendWriter door{hub};
  TerminalState state;
  WorkerThread worker;
};

}  // namespace quorvel::testing
