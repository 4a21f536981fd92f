// The network rows: turnaround and throughput with the pseudo-terminal that
// plays the device behind Debian's ser2net on 127.0.0.1, reached through
// rfc2217:// (telnet, IAC escapes, RFC 2217) and tcp:// (raw bytes). Each
// measurement starts its own ser2net on a free port and kills it after.
#include <memory>

#include "measures.h"
#include "support/ser2net_process.h"

namespace quorvel::bench {
namespace {

using testing::Ser2NetProcess;

// A route through a fresh ser2net for every pseudo-terminal, at 115200 baud,
// sending what it reads at once (it otherwise waits a few character times for
// more bytes); the last one is killed when the next starts or the route goes.
Route ThroughSer2Net(bool telnet) {
  auto server = std::make_shared<std::unique_ptr<Ser2NetProcess>>();
  return {std::string(", through ser2net, ") + (telnet ? "rfc2217" : "raw tcp"),
          [server, telnet](const std::string& ptyPath) {
            server->reset();
            if (!Ser2NetProcess::Available()) return std::string();
            *server = std::make_unique<Ser2NetProcess>(ptyPath, telnet,
                                                       testing::Ser2NetTuning{"115200n81", false});
            return (*server)->Start() ? (*server)->Url() : std::string();
          }};
}

}  // namespace

std::vector<Measure> NetworkMeasures() {
  using O = const BenchOptions&;
  using F = const HostFactory&;
  std::vector<Measure> measures;
  measures.push_back({"Idle, no traffic, network rfc2217", [](F make, O options) {
                        Route route = ThroughSer2Net(true);
                        return Idle(make, options, false, &route);
                      }});
  for (bool telnet : {true, false}) {
    std::string via = telnet ? "rfc2217" : "raw tcp";
    measures.push_back({"Echo turnaround, empty log, network " + via, [telnet](F make, O options) {
                          Route route = ThroughSer2Net(telnet);
                          return Turnaround(make, options, Answer::kEcho, false, std::nullopt,
                                            &route);
                        }});
    measures.push_back({"Receive throughput, network " + via, [telnet](F make, O options) {
                          Route route = ThroughSer2Net(telnet);
                          return Throughput(make, options, std::nullopt, &route);
                        }});
  }
  return measures;
}

}  // namespace quorvel::bench
