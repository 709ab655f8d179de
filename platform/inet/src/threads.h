// The layer's threads: each runs one function and ends by itself; a census lets tests see that none hangs.
#pragma once

#include <functional>

namespace inet {

// Starts fn on a thread of its own. False when the system gives no thread.
bool spawn(std::function<void()> fn);

}  // namespace inet
