#include "link/network_connector.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

std::string Describe(const NetworkAddress& address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + address.port;
}

}  // namespace

struct NetworkConnector::Attempt {
  std::mutex mutex;
  bool finished = false;
  bool abandoned = false;
  UniqueFd socket;
  int error = 0;
  std::string reason;
  EventFd stop;   // signalled when the attempt is abandoned
  UniqueFd done;  // the port's "attempt over" signal, our own copy of it
  Clock::time_point deadline;
};

namespace {

// Waits for a non-blocking connect to end, the deadline or the attempt's
// stop; returns 0 when connected, else an errno value.
int AwaitConnect(const NetworkConnector::Attempt& attempt, int socket) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(attempt.deadline - Clock::now());
  pollfd fds[2] = {{socket, POLLOUT, 0}, {attempt.stop.Descriptor(), POLLIN, 0}};
  int ready;
  do {
    ready = ::poll(fds, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return ETIMEDOUT;
  if (fds[1].revents & POLLIN) return ECANCELED;
  int soError = 0;
  socklen_t size = sizeof soError;
  ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &soError, &size);
  return soError;
}

// On the attempt's own thread: resolve, then try each address in turn until
// one connects, the deadline passes or the attempt is abandoned.
void RunAttempt(const std::shared_ptr<NetworkConnector::Attempt>& attempt, NetworkAddress address) {
  UniqueFd connected;
  int error = 0;
  std::string reason;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int resolved = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &list);
  if (resolved != 0) {
    error = EHOSTUNREACH;
    reason = "cannot resolve " + address.host + ": " + ::gai_strerror(resolved);
  }
  for (addrinfo* at = list; at != nullptr && !connected; at = at->ai_next) {
    UniqueFd socket(
        ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol));
    if (!socket) {
      error = errno;
      continue;
    }
    int result = ::connect(socket.Get(), at->ai_addr, at->ai_addrlen) == 0 ? 0 : errno;
    if (result == EINPROGRESS) result = AwaitConnect(*attempt, socket.Get());
    if (result == 0) {
      connected = std::move(socket);
      break;
    }
    error = result;
    if (error == ETIMEDOUT || error == ECANCELED) break;
  }
  if (list != nullptr) ::freeaddrinfo(list);
  if (connected) {
    int on = 1;
    // A byte typed goes at once.
    ::setsockopt(connected.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(connected.Get(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    error = 0;
  } else if (reason.empty()) {
    reason = Describe(address) + ": " +
             (error == ETIMEDOUT ? std::string("no answer within 5 s") : std::strerror(error));
  }
  std::lock_guard guard(attempt->mutex);
  attempt->finished = true;
  attempt->error = connected ? 0 : (error != 0 ? error : EIO);
  attempt->reason = reason;
  // An abandoned attempt closes what it connected, with nobody to take it,
  // and says nothing: its end would wake the port's owner for nothing. Told
  // under the lock, so that Abandon either comes first or finds it said.
  if (attempt->abandoned) return;
  attempt->socket = std::move(connected);
  uint64_t one = 1;
  if (attempt->done) {
    [[maybe_unused]] ssize_t ignored = ::write(attempt->done.Get(), &one, sizeof one);
  }
}

}  // namespace

void NetworkConnector::Start(const NetworkAddress& address, const EventFd& done) {
  Abandon();
  auto attempt = std::make_shared<Attempt>();
  attempt->deadline = Clock::now() + kLimit;
  attempt->done.Reset(::fcntl(done.Descriptor(), F_DUPFD_CLOEXEC, 0));
  attempt_ = attempt;
  std::thread([attempt, address] { RunAttempt(attempt, address); }).detach();
}

void NetworkConnector::Abandon() {
  if (!attempt_) return;
  std::shared_ptr<Attempt> attempt = std::move(attempt_);
  std::lock_guard guard(attempt->mutex);
  attempt->abandoned = true;
  attempt->stop.Signal();
  attempt->socket.Reset();
}

NetworkConnector::Outcome NetworkConnector::Finish() {
  Outcome outcome;
  if (!attempt_) {
    outcome.error = ENOTCONN;
    return outcome;
  }
  bool overdue = false;
  {
    std::lock_guard guard(attempt_->mutex);
    if (attempt_->finished) {
      outcome.socket = std::move(attempt_->socket);
      outcome.error = attempt_->error;
      outcome.reason = attempt_->reason;
    } else if (Clock::now() < attempt_->deadline) {
      outcome.error = EINPROGRESS;
      return outcome;
    } else {
      overdue = true;
    }
  }
  if (overdue) {
    Abandon();
    outcome.error = ETIMEDOUT;
    outcome.reason = "no answer within 5 s";
    return outcome;
  }
  attempt_.reset();
  return outcome;
}

}  // namespace quorvel
