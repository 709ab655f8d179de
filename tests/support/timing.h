// Time bounds of the tests: a bound is written for a plain build on an idle machine and scaled by how
// much slower this run may be. Sanitizer builds run the code several times slower (the build says by
// how much, NIMBO_TEST_SLOWDOWN); a machine shared with other builds may be slower still
// (NIMBO_TEST_TIME_SCALE in the environment, a number from 1 to 100, multiplies). Write each bound well
// above what the plain build needs and well below what the fault it guards against costs (a stall of
// seconds, a pass that grows with the square of the input), so that scaled it still tells them apart.
#pragma once

#include <chrono>
#include <cstdlib>

#ifndef NIMBO_TEST_SLOWDOWN
#define NIMBO_TEST_SLOWDOWN 1
#endif

namespace testsupport {

inline double timeScale() {
  static const double scale = [] {
    double s = NIMBO_TEST_SLOWDOWN;
    if (const char* v = std::getenv("NIMBO_TEST_TIME_SCALE")) {
      char* end = nullptr;
      const double factor = std::strtod(v, &end);
      if (end != v && factor >= 1 && factor <= 100) s *= factor;
    }
    return s;
  }();
  return scale;
}

template <class Rep, class Period>
std::chrono::milliseconds scaled(std::chrono::duration<Rep, Period> bound) {
  return std::chrono::milliseconds(
      static_cast<long long>(std::chrono::duration<double, std::milli>(bound).count() * timeScale()));
}

}  // namespace testsupport
