// A slow link between two loopback addresses, for benchmarks: every byte that comes in on one side is
// held for a fixed delay before it goes out on the other, both ways, so a round trip costs twice the
// delay. It listens on `from` at each given port (the control port and the server's passive ports) and
// connects each accepted connection to `to` at the same port. Each direction holds at most a window of
// bytes in flight, as a TCP window over a long path would.
//
// The TCP handshake is the kernel's and is not held: connecting costs no round trip here, while on a
// real link each new connection costs one more.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace wan {

class DelayRelay {
 public:
  DelayRelay(std::string from, std::string to, std::vector<uint16_t> ports, std::chrono::milliseconds oneWay,
             size_t window = 4u << 20);
  ~DelayRelay();
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  // Empty when every port is listening.
  const std::string& error() const { return error_; }

 private:
  void run();

  std::string to_;
  std::chrono::milliseconds delay_;
  size_t window_;
  std::vector<int> listeners_;
  std::vector<uint16_t> ports_;
  int stop_ = -1;
  std::string error_;
  std::thread thread_;
};

}  // namespace wan
