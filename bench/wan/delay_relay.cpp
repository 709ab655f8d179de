#include "delay_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <list>
#include <map>

namespace wan {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in addressOf(const std::string& host, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  return a;
}

void quick(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

struct Chunk {
  Clock::time_point due;
  std::string bytes;  // empty: the end of the stream
  size_t sent = 0;
};

// One direction of one connection.
struct Pipe {
  int from = -1, to = -1;
  std::deque<Chunk> held;
  size_t bytesHeld = 0;
  bool ended = false;      // `from` said its last
  bool delivered = false;  // and `to` has been told
};

struct Link {
  Pipe up, down;
  bool broken = false;
};

}  // namespace

DelayRelay::DelayRelay(std::string from, std::string to, std::vector<uint16_t> ports,
                       std::chrono::milliseconds oneWay, size_t window)
    : to_(std::move(to)), delay_(oneWay), window_(window), ports_(std::move(ports)) {
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  for (uint16_t port : ports_) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = addressOf(from, port);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
      error_ = "cannot listen on " + from + ":" + std::to_string(port) + ": " + std::strerror(errno);
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
    listeners_.push_back(fd);
  }
  thread_ = std::thread([this] { run(); });
}

DelayRelay::~DelayRelay() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
  thread_.join();
  for (int fd : listeners_)
    if (fd >= 0) ::close(fd);
  ::close(stop_);
}

void DelayRelay::run() {
  std::list<Link> links;
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({stop_, POLLIN, 0});
    for (int fd : listeners_) fds.push_back({fd, static_cast<short>(fd >= 0 ? POLLIN : 0), 0});
    const size_t firstLink = fds.size();
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + std::chrono::seconds(1);
    for (Link& l : links) {
      for (Pipe* p : {&l.up, &l.down}) {
        short events = 0;
        if (!p->ended && p->bytesHeld < window_) events |= POLLIN;
        fds.push_back({p->from, events, 0});
        if (!p->held.empty()) {
          if (p->held.front().due <= now)
            fds.push_back({p->to, POLLOUT, 0});
          else
            next = std::min(next, p->held.front().due);
        }
      }
    }
    auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    bool anyDue = false;
    for (Link& l : links)
      for (Pipe* p : {&l.up, &l.down}) anyDue |= !p->held.empty() && p->held.front().due <= now;
    if (::poll(fds.data(), fds.size(), anyDue ? 0 : static_cast<int>(waitMs)) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;

    // What came in is held for the delay; what is due goes out.
    const Clock::time_point arrived = Clock::now();
    size_t at = firstLink;
    for (Link& l : links) {
      for (Pipe* p : {&l.up, &l.down}) {
        const pollfd& pf = fds[at++];
        if (!p->held.empty() && p->held.front().due <= now) ++at;  // its POLLOUT entry
        if (p->ended || p->bytesHeld >= window_ || !(pf.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::read(p->from, buffer.data(), std::min(buffer.size(), window_ - p->bytesHeld));
        if (n > 0) {
          p->held.push_back({arrived + delay_, std::string(buffer.data(), static_cast<size_t>(n)), 0});
          p->bytesHeld += static_cast<size_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          p->ended = true;
          p->held.push_back({arrived + delay_, {}, 0});
        }
      }
    }
    const Clock::time_point sending = Clock::now();
    for (Link& l : links) {
      for (Pipe* p : {&l.up, &l.down}) {
        while (!p->held.empty() && p->held.front().due <= sending) {
          Chunk& c = p->held.front();
          if (c.bytes.empty()) {
            ::shutdown(p->to, SHUT_WR);
            p->delivered = true;
            p->held.pop_front();
            continue;
          }
          ssize_t n = ::send(p->to, c.bytes.data() + c.sent, c.bytes.size() - c.sent, MSG_NOSIGNAL);
          if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) l.broken = true;
            break;
          }
          c.sent += static_cast<size_t>(n);
          if (c.sent < c.bytes.size()) break;
          p->bytesHeld -= c.bytes.size();
          p->held.pop_front();
        }
      }
    }
    for (size_t i = 0; i < listeners_.size(); ++i) {
      if (!(fds[1 + i].revents & POLLIN)) continue;
      int client = ::accept4(listeners_[i], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (client < 0) continue;
      int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a = addressOf(to_, ports_[i]);
      if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(client);
        if (server >= 0) ::close(server);
        continue;
      }
      ::fcntl(server, F_SETFL, O_NONBLOCK);
      quick(client);
      quick(server);
      Link l;
      l.up.from = l.down.to = client;
      l.up.to = l.down.from = server;
      links.push_back(std::move(l));
    }

    for (auto it = links.begin(); it != links.end();) {
      if (it->broken || (it->up.delivered && it->down.delivered)) {
        ::close(it->up.from);
        ::close(it->up.to);
        it = links.erase(it);
      } else {
        ++it;
      }
    }
  }
}

}  // namespace wan
