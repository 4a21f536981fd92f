#include "support/ser2net_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "core/clock.h"
#include "core/unique_fd.h"

namespace quorvel::testing {
namespace {

constexpr int kStartMs = 5000;

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Whether something listens on the port: a connection that is closed at once.
bool Listening(int port) {
  UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(port);
  return probe &&
         ::connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

std::filesystem::path MakeDirectory() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "quorvel-ser2net-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

}  // namespace

bool Ser2NetProcess::Available() {
  return ::access(kProgram, X_OK) == 0;
}

int Ser2NetProcess::FreePort() {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (!socket || ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

Ser2NetProcess::Ser2NetProcess(const std::string& devicePath, bool telnet,
                               const Ser2NetTuning& tuning)
    : telnet_(telnet), port_(FreePort()), directory_(MakeDirectory()) {
  if (directory_.empty()) return;
  std::ofstream config(directory_ / "ser2net.yaml");
  config << "connection: &dev\n"
         << "  accepter: " << (telnet_ ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1," << port_
         << "\n"
         << "  enable: on\n"
         << "  connector: serialdev," << devicePath << "," << tuning.line << ",local\n";
  if (!tuning.waitForMoreBytes) config << "  options:\n    chardelay: false\n";
}

Ser2NetProcess::~Ser2NetProcess() {
  Stop();
  std::error_code ignored;
  if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
}

std::string Ser2NetProcess::Url() const {
  return std::string(telnet_ ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

bool Ser2NetProcess::Start() {
  Stop();
  if (directory_.empty() || port_ == 0) return false;
  std::string config = (directory_ / "ser2net.yaml").string();
  std::string pidFile = (directory_ / "ser2net.pid").string();
  pid_ = ::fork();
  if (pid_ == 0) {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    // -n: stay in the foreground; -u: no UUCP lock files.
    ::execl(kProgram, kProgram, "-n", "-u", "-P", pidFile.c_str(), "-c", config.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  int64_t deadline = SteadyNowMs() + kStartMs;
  while (RemainingMs(deadline) > 0) {
    if (Listening(port_)) {
      // The probe's connection opened and closed the device; let that settle.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return true;
    }
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {  // it gave up (a bad file, a port taken)
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Ser2NetProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace quorvel::testing
