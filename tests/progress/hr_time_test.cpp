// CHRTimeSpan on a counter moved by hand: readings right after construction
// and Restart, truncation of microseconds and milliseconds, the 32-bit clamp,
// and long or wild spans that must not overflow.
#include "progress/hr_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "progress/progress_test_support.h"

namespace tova::progress {
namespace {

using tova::testing::FakeCounter;

TEST(HRTimeSpan, ReadsZeroAfterConstructionAndAfterRestart) {
  FakeCounter counter(10000000, 123456789);
  CHRTimeSpan span;
  EXPECT_EQ(span.GetElapsedMilliseconds(), 0u);
  int64_t us = -1;
  EXPECT_EQ(span.GetElapsedMicroseconds(us), 0);
  EXPECT_EQ(us, 0);

  counter.Advance(7 * 10000000);  // 7 s
  EXPECT_EQ(span.GetElapsedMilliseconds(), 7000u);
  span.Restart();
  EXPECT_EQ(span.GetElapsedMilliseconds(), 0u);
  counter.Advance(10000);  // 1 ms
  EXPECT_EQ(span.GetElapsedMilliseconds(), 1u);
}

TEST(HRTimeSpan, EveryQueryMovesTheEndToNow) {
  FakeCounter counter(1000000);
  CHRTimeSpan span;
  counter.Advance(250000);
  EXPECT_EQ(span.GetElapsedMilliseconds(), 250u);
  counter.Advance(9999);  // 259.999 ms truncates to 259
  EXPECT_EQ(span.GetElapsedMilliseconds(), 259u);
  int64_t us = 0;
  EXPECT_EQ(span.GetElapsedMicroseconds(us), 259999);
}

TEST(HRTimeSpan, MicrosecondsTruncateTowardZero) {
  // 5 ticks at 3 MHz are 1.67 us: 1, not 2; backwards the same, -1.
  FakeCounter counter(3000000, 1000);
  CHRTimeSpan span;
  counter.Advance(5);
  int64_t us = 0;
  EXPECT_EQ(span.GetElapsedMicroseconds(us), 1);
  counter.Advance(-10);
  EXPECT_EQ(span.GetElapsedMicroseconds(us), -1);
}

TEST(HRTimeSpan, MillisecondsOutside32BitsOrNegativeReadAsMaxInt32) {
  // At 1 MHz one tick is one microsecond.
  struct Case {
    int64_t ticks;
    uint32_t ms;
  };
  const Case cases[] = {
      {999, 0},
      {1000, 1},
      {-999, 0},  // -0.999 ms truncates to 0, which is in range
      {-1000, 0x7FFFFFFFu},
      {-5000000000000LL, 0x7FFFFFFFu},
      {3000000000000LL, 3000000000u},  // above 0x7FFFFFFF, still 32 bits: unchanged
      {4294967295999LL, 4294967295u},
      {4294967296000LL, 0x7FFFFFFFu},
      {9000000000000LL, 0x7FFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    FakeCounter counter(1000000, 0);
    CHRTimeSpan span;
    counter.Set(c.ticks);
    EXPECT_EQ(span.GetElapsedMilliseconds(), c.ms);
  }
}

TEST(HRTimeSpan, LongSpansOnANanosecondCounterDoNotOverflow) {
  // Three hours at 1 GHz: the tick count times 1,000,000 exceeds 64 bits.
  FakeCounter counter(1000000000, 5);
  CHRTimeSpan span;
  counter.Advance(3LL * 3600 * 1000000000);
  int64_t us = 0;
  EXPECT_EQ(span.GetElapsedMicroseconds(us), 3LL * 3600 * 1000000);
  EXPECT_EQ(span.GetElapsedMilliseconds(), 3u * 3600 * 1000);
}

TEST(HRTimeSpan, ACounterJumpingAcrossTheWholeRangeSaturates) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  FakeCounter counter(1000000, kMin);
  CHRTimeSpan span;
  counter.Set(kMax);
  int64_t us = 0;
  EXPECT_EQ(span.GetElapsedMicroseconds(us), kMax);
  EXPECT_EQ(span.GetElapsedMilliseconds(), 0x7FFFFFFFu);

  FakeCounter backwards(1, kMax);
  CHRTimeSpan back_span;
  backwards.Set(kMin);
  EXPECT_EQ(back_span.GetElapsedMicroseconds(us), kMin);
  EXPECT_EQ(back_span.GetElapsedMilliseconds(), 0x7FFFFFFFu);
}

#ifdef __SIZEOF_INT128__
TEST(HRTimeSpan, ConversionEqualsTheTruncatedProductWhereverItFits) {
  // Against ticks * 1,000,000 / frequency formed in 128 bits, over a spread of
  // frequencies and spans of both signs; saturation where 64 bits end.
  const int64_t frequencies[] = {1, 3, 1000, 1193182, 3000000, 10000000, 14318180,
                                 1000000000, 2987654321LL, 9000000000000LL};
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int64_t frequency : frequencies) {
    for (int i = 0; i < 2000; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      const int shift = static_cast<int>(state >> 58);  // 0..63: spans of every magnitude
      int64_t ticks = static_cast<int64_t>((state >> 1) >> shift);
      if (state & 1) ticks = -ticks;
      const __int128 exact = static_cast<__int128>(ticks) * 1000000 / frequency;
      int64_t expected;
      if (exact > std::numeric_limits<int64_t>::max()) {
        expected = std::numeric_limits<int64_t>::max();
      } else if (exact < std::numeric_limits<int64_t>::min()) {
        expected = std::numeric_limits<int64_t>::min();
      } else {
        expected = static_cast<int64_t>(exact);
      }
      ASSERT_EQ(TicksToMicroseconds(ticks, frequency), expected)
          << "ticks " << ticks << " frequency " << frequency;
    }
  }
}
#endif

TEST(HRTimeSpan, ANonPositiveFrequencyReadsZero) {
  FakeCounter counter(0);
  CHRTimeSpan span;
  counter.Advance(1000000);
  EXPECT_EQ(span.GetElapsedMilliseconds(), 0u);
}

}  // namespace
}  // namespace tova::progress
