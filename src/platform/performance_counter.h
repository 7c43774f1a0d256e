// The high-resolution performance counter: QueryPerformanceCounter on Windows,
// the monotonic clock elsewhere. Tests replace it with a counter they move by
// hand, so that timing behaviour is tested without sleeping.
#pragma once

#include <cstdint>

namespace tova::platform {

class PerformanceCounter {
 public:
  virtual ~PerformanceCounter() = default;
  virtual int64_t Frequency() = 0;  // ticks per second
  virtual int64_t Now() = 0;        // ticks
};

// The counter in force: the system's own, unless a test installed another.
PerformanceCounter& GetPerformanceCounter();
// Installs counter (not owned); null restores the system's own.
void SetPerformanceCounterForTesting(PerformanceCounter* counter);

}  // namespace tova::platform
