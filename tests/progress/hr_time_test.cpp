// CHRTimeSpan on a counter moved by hand: Restart, truncation, the 32-bit millisecond clamp, and spans that must not
// overflow.
#include "progress/hr_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "progress/progress_test_support.h"

namespace tova::progress {
namespace {

using tova::testing::FakeCounter;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Microseconds truncate toward zero; milliseconds that are negative or need more than 32 bits read 0x7FFFFFFF; spans
// whose tick count times 1,000,000 exceeds 64 bits neither overflow nor wrap. Restart starts a new span.
TEST(HRTimeSpan, ElapsedTimes) {
  constexpr int64_t k3h = 3LL * 3600 * 1000000000;
  struct Case {
    int64_t frequency, from, to, us;
    uint32_t ms;
  };
  const Case cases[] = {
      {1000000, 0, 250000, 250000, 250},          {1000000, 0, 259999, 259999, 259},
      {3000000, 1000, 1005, 1, 0},  // 5 ticks at 3 MHz are 1.67 us: 1, not 2
      {3000000, 1000, 995, -1, 0},
      {1000000, 0, -999, -999, 0},                {1000000, 0, -1000, -1000, 0x7FFFFFFFu},
      {1000000, 0, 3000000000000LL, 3000000000000LL, 3000000000u},  // above 0x7FFFFFFF: unchanged
      {1000000, 0, 4294967295999LL, 4294967295999LL, 4294967295u},
      {1000000, 0, 4294967296000LL, 4294967296000LL, 0x7FFFFFFFu},
      {1000000000, 5, 5 + k3h, k3h / 1000, 3u * 3600 * 1000},  // 3 h at 1 GHz
      {1000000, kMin, kMax, kMax, 0x7FFFFFFFu},  {1, kMax, kMin, kMin, 0x7FFFFFFFu},  // saturated
      {0, 0, 1000000, 0, 0},                     // a counter without a frequency
  };
  for (const Case& c : cases) {
    FakeCounter counter(c.frequency, c.from);
    CHRTimeSpan span;
    counter.Set(c.to);
    int64_t us = 0;
    EXPECT_EQ(span.GetElapsedMicroseconds(us), c.us) << c.from << " to " << c.to << " at " << c.frequency;
    EXPECT_EQ(span.GetElapsedMilliseconds(), c.ms) << c.from << " to " << c.to << " at " << c.frequency;
    span.Restart();
    EXPECT_TRUE(span.GetElapsedMicroseconds(us) == 0 && span.GetElapsedMilliseconds() == 0u);
  }
}

#ifdef __SIZEOF_INT128__
// Against ticks * 1,000,000 / frequency formed in 128 bits, over spans of every magnitude and both signs, saturated
// where 64 bits end.
TEST(HRTimeSpan, ConversionEqualsTheTruncatedProductWhereverItFits) {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int64_t frequency : {1LL, 3LL, 1193182LL, 3000000LL, 14318180LL, 1000000000LL, 2987654321LL, 9000000000000LL}) {
    for (int i = 0; i < 2000; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      const int64_t magnitude = static_cast<int64_t>((state >> 1) >> (state >> 58));
      const int64_t ticks = (state & 1) ? -magnitude : magnitude;
      const __int128 exact = static_cast<__int128>(ticks) * 1000000 / frequency;
      const int64_t expected = exact > kMax ? kMax : exact < kMin ? kMin : static_cast<int64_t>(exact);
      ASSERT_EQ(TicksToMicroseconds(ticks, frequency), expected) << ticks << " at " << frequency;
    }
  }
}
#endif

}  // namespace
}  // namespace tova::progress
