// The part file size limit and its test seam.
#include "format/part_limit.h"

#include <atomic>

namespace tova::format {

namespace {
std::atomic<uint32_t> g_limit{0};
}

uint32_t PartSizeLimit() {
  const uint32_t limit = g_limit.load(std::memory_order_relaxed);
  return limit ? limit : kPartSizeLimit;
}

void SetPartSizeLimitForTesting(uint32_t limit) { g_limit.store(limit, std::memory_order_relaxed); }

}  // namespace tova::format
