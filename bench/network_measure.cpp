// The network rows: turnaround and throughput with the pseudo-terminal that
// plays the device behind Debian's ser2net on 127.0.0.1, reached through
// rfc2217:// (telnet, IAC escapes, RFC 2217) and tcp:// (raw bytes). Each
// measurement starts its own ser2net on a free port and kills it after.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "measures.h"

namespace quorvel::bench {
namespace {

constexpr char kSer2Net[] = "/usr/sbin/ser2net";

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Listening(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// One ser2net in front of one pseudo-terminal, for as long as it lives.
class Ser2NetFront {
 public:
  Ser2NetFront(const std::string& ptyPath, bool telnet) {
    char pattern[] = "/tmp/quorvel-bench-ser2net-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    directory_ = pattern;
    port_ = FreePort();
    std::string config = directory_ + "/ser2net.yaml";
    std::ofstream(config) << "connection: &dev\n  accepter: "
                          << (telnet ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1," << port_
                          << "\n  enable: on\n  connector: serialdev," << ptyPath
                          << ",115200n81,local\n"
                          // ser2net otherwise waits a few character times
                          // for more bytes before it sends what it read.
                          << "  options:\n    chardelay: false\n";
    std::string pidFile = directory_ + "/ser2net.pid";
    pid_ = ::fork();
    if (pid_ == 0) {
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(kSer2Net, kSer2Net, "-n", "-u", "-P", pidFile.c_str(), "-c", config.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      if (Listening(port_)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        url_ = std::string(telnet ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Ser2NetFront() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
  }
  Ser2NetFront(const Ser2NetFront&) = delete;
  Ser2NetFront& operator=(const Ser2NetFront&) = delete;

  const std::string& Url() const { return url_; }  // "" when it did not start

 private:
  std::string directory_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::string url_;
};

// A route through a fresh ser2net for every pseudo-terminal; the last one
// is killed when the next starts or the route goes.
Route ThroughSer2Net(bool telnet) {
  auto front = std::make_shared<std::unique_ptr<Ser2NetFront>>();
  return {std::string(", through ser2net, ") + (telnet ? "rfc2217" : "raw tcp"),
          [front, telnet](const std::string& ptyPath) {
            front->reset();
            if (::access(kSer2Net, X_OK) != 0) return std::string();
            *front = std::make_unique<Ser2NetFront>(ptyPath, telnet);
            return (*front)->Url();
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
