// The counter seam: the system's counter unless a test installed its own.
#include "platform/performance_counter.h"

#include <atomic>

namespace tova::platform {

PerformanceCounter& SystemPerformanceCounter();  // per platform

namespace {
std::atomic<PerformanceCounter*> g_counter{nullptr};
}

PerformanceCounter& GetPerformanceCounter() {
  PerformanceCounter* c = g_counter.load(std::memory_order_acquire);
  return c ? *c : SystemPerformanceCounter();
}

void SetPerformanceCounterForTesting(PerformanceCounter* counter) {
  g_counter.store(counter, std::memory_order_release);
}

}  // namespace tova::platform
