// The performance counter outside Windows: the monotonic clock in nanoseconds.
#include <time.h>

#include "platform/performance_counter.h"

namespace tova::platform {

namespace {

class MonotonicCounter final : public PerformanceCounter {
 public:
  int64_t Frequency() override { return 1000000000; }
  int64_t Now() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
};

}  // namespace

PerformanceCounter& SystemPerformanceCounter() {
  static MonotonicCounter counter;
  return counter;
}

}  // namespace tova::platform
