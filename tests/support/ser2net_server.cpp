#include "support/ser2net_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace quorvel::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Whether something listens on the port: a connection that is closed at once.
bool Listening(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool Ser2NetServer::Available() {
  return ::access(kProgram, X_OK) == 0;
}

int Ser2NetServer::FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

Ser2NetServer::Ser2NetServer(bool telnet) : telnet_(telnet), port_(FreePort()) {
  std::ofstream config(dir_ / "ser2net.yaml");
  config << "connection: &dev\n"
         << "  accepter: " << (telnet_ ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1," << port_
         << "\n"
         << "  enable: on\n"
         << "  connector: serialdev," << device_.Path() << ",9600n81,local\n";
}

Ser2NetServer::~Ser2NetServer() {
  Stop();
}

std::string Ser2NetServer::Url() const {
  return std::string(telnet_ ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

bool Ser2NetServer::Start() {
  Stop();
  std::string config = (dir_ / "ser2net.yaml").string();
  std::string pidFile = (dir_ / "ser2net.pid").string();
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
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Listening(port_)) {
      // The probe's connection opened and closed the device; let that settle.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Ser2NetServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace quorvel::testing
