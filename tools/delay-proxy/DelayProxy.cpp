#include "tools/delay-proxy/DelayProxy.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <deque>
#include <list>
#include <optional>
#include <vector>

namespace tarvok::delayproxy {

namespace {

using Clock = std::chrono::steady_clock;

// A side stops being read while this much waits to go the other way.
constexpr size_t kMaxQueued = 4 * 1024 * 1024;

// What one read brought, and when it is due at the other side; `end` is the side's end.
struct Chunk {
  Clock::time_point due;
  std::vector<uint8_t> bytes;
  bool end = false;
};

// One direction of a connection: from one socket to the other, through the queue.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Chunk> queue;
  size_t queued = 0;
  size_t written = 0;       // of the front chunk
  bool readEnded = false;   // the end (or a failure) came from `from`
  bool writeEnded = false;  // and has been passed on
  bool blocked = false;     // `to` took no more: wait until it can
  bool Readable() const { return !readEnded && queued < kMaxQueued; }
};

struct Connection {
  int client = -1;
  int server = -1;
  Direction up;    // client to server
  Direction down;  // server to client
  bool broken = false;
};

void SetNoDelay(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// A connected socket to host:port (blocking while it connects, non-blocking after), or -1.
int ConnectTo(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return -1;
  }
  int fd = -1;
  for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    SetNoDelay(fd);
  }
  return fd;
}

bool CanResolve(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0;
  if (ok) {
    freeaddrinfo(found);
  }
  return ok;
}

void ReadInto(Direction& d, Clock::duration oneWay) {
  std::array<uint8_t, 65536> buffer;
  const ssize_t n = read(d.from, buffer.data(), buffer.size());
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
    return;
  }
  Chunk chunk{Clock::now() + oneWay, {}, n <= 0};
  if (n > 0) {
    chunk.bytes.assign(buffer.begin(), buffer.begin() + n);
    d.queued += static_cast<size_t>(n);
  } else {
    d.readEnded = true;
  }
  d.queue.push_back(std::move(chunk));
}

// Hands on what is due; false when the receiving side is gone.
bool Flush(Direction& d) {
  d.blocked = false;
  const auto now = Clock::now();
  while (!d.queue.empty() && d.queue.front().due <= now) {
    Chunk& front = d.queue.front();
    if (front.end) {
      shutdown(d.to, SHUT_WR);
      d.writeEnded = true;
      d.queue.pop_front();
      continue;
    }
    const ssize_t n =
        send(d.to, front.bytes.data() + d.written, front.bytes.size() - d.written, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      d.blocked = true;
      return true;
    }
    if (n < 0) {
      return false;
    }
    d.written += static_cast<size_t>(n);
    if (d.written < front.bytes.size()) {
      d.blocked = true;
      return true;
    }
    d.queued -= front.bytes.size();
    d.written = 0;
    d.queue.pop_front();
  }
  return true;
}

// The poll entry of a socket that `in` reads from and `out` writes to; ignored (fd -1) when
// neither needs it, so that a socket whose both halves are shut does not wake the loop.
pollfd EntryFor(int fd, const Direction& in, const Direction& out) {
  const short events =
      static_cast<short>((in.Readable() ? POLLIN : 0) | (out.blocked ? POLLOUT : 0));
  return pollfd{events != 0 ? fd : -1, events, 0};
}

// When the loop must next wake for a due chunk; nothing when no chunk waits for time.
std::optional<Clock::time_point> NextDue(const std::list<Connection>& connections) {
  std::optional<Clock::time_point> next;
  for (const Connection& c : connections) {
    for (const Direction* d : {&c.up, &c.down}) {
      if (!d->blocked && !d->queue.empty() && (!next || d->queue.front().due < *next)) {
        next = d->queue.front().due;
      }
    }
  }
  return next;
}

void Accept(int listener, const ProxyConfig& config, std::list<Connection>& connections) {
  const int client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (client < 0) {
    return;
  }
  const int server = ConnectTo(config.targetHost, config.targetPort);
  if (server < 0) {
    close(client);
    return;
  }
  SetNoDelay(client);
  Connection& c = connections.emplace_back();
  c.client = client;
  c.server = server;
  c.up.from = c.down.to = client;
  c.up.to = c.down.from = server;
}

}  // namespace

std::unique_ptr<DelayProxy> DelayProxy::Start(const ProxyConfig& config, ProxyStart& result) {
  if (!CanResolve(config.targetHost)) {
    result = ProxyStart::kNoTarget;
    return nullptr;
  }
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int wake[2] = {-1, -1};
  if (listener < 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (listener >= 0) {
      close(listener);
    }
    result = ProxyStart::kNoSocket;
    return nullptr;
  }
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(config.listenPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(listener);
    close(wake[0]);
    close(wake[1]);
    result = ProxyStart::kNoListen;
    return nullptr;
  }
  result = ProxyStart::kOk;
  return std::unique_ptr<DelayProxy>(
      new DelayProxy(config, listener, ntohs(address.sin_port), wake[0], wake[1]));
}

DelayProxy::DelayProxy(const ProxyConfig& config, int listener, uint16_t port, int wakeRead,
                       int wakeWrite)
    : config_(config),
      listener_(listener),
      port_(port),
      wakeRead_(wakeRead),
      wakeWrite_(wakeWrite),
      thread_([this] { Run(); }) {}

DelayProxy::~DelayProxy() {
  const uint8_t stop = 1;
  [[maybe_unused]] const ssize_t n = write(wakeWrite_, &stop, 1);
  thread_.join();
  close(listener_);
  close(wakeRead_);
  close(wakeWrite_);
}

// The loop: wait for a socket or the next due chunk, take in what arrived, hand on what is
// due, and drop the connections that are over.
void DelayProxy::Run() {
  const auto oneWay = std::chrono::microseconds(config_.addedRoundTripUs / 2);
  std::list<Connection> connections;
  std::vector<pollfd> entries;
  for (;;) {
    entries = {{wakeRead_, POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const Connection& c : connections) {
      entries.push_back(EntryFor(c.client, c.up, c.down));
      entries.push_back(EntryFor(c.server, c.down, c.up));
    }
    const auto next = NextDue(connections);
    timespec wait{};
    if (next) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*next - Clock::now());
      const int64_t left = std::max<int64_t>(ns.count(), 0);
      wait = {static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    }
    ppoll(entries.data(), entries.size(), next ? &wait : nullptr, nullptr);
    if (entries[0].revents != 0) {
      break;
    }
    size_t i = 2;
    for (auto c = connections.begin(); c != connections.end(); i += 2) {
      if (entries[i].revents != 0 && c->up.Readable()) {
        ReadInto(c->up, oneWay);
      }
      if (entries[i + 1].revents != 0 && c->down.Readable()) {
        ReadInto(c->down, oneWay);
      }
      c->broken = c->broken || !Flush(c->up) || !Flush(c->down);
      if (c->broken || (c->up.writeEnded && c->down.writeEnded)) {
        close(c->client);
        close(c->server);
        c = connections.erase(c);
      } else {
        ++c;
      }
    }
    if (entries[1].revents & POLLIN) {  // after the loop above, which has no entry for it
      Accept(listener_, config_, connections);
    }
  }
  for (const Connection& c : connections) {
    close(c.client);
    close(c.server);
  }
}

}  // namespace tarvok::delayproxy
