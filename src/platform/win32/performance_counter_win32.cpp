// The performance counter on Windows: QueryPerformanceCounter and its
// frequency, which the system fixes at boot.
#include <windows.h>

#include "platform/performance_counter.h"

namespace tova::platform {

namespace {

class QpcCounter final : public PerformanceCounter {
 public:
  QpcCounter() {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    frequency_ = f.QuadPart > 0 ? f.QuadPart : 1;
  }
  int64_t Frequency() override { return frequency_; }
  int64_t Now() override {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
  }

 private:
  int64_t frequency_;
};

}  // namespace

PerformanceCounter& SystemPerformanceCounter() {
  static QpcCounter counter;
  return counter;
}

}  // namespace tova::platform
