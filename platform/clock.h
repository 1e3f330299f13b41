// Milliseconds on the monotonic clock, for time-outs and deadlines: a step of
// the wall clock neither stretches nor cuts them.
#pragma once

#include <cstdint>
#include <ctime>

inline int64_t monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
