// CHRTimePoint and CHRTimeSpan on the performance counter seam.
#include "progress/hr_time.h"

#include <limits>

#include "platform/performance_counter.h"

namespace tova::progress {

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

// end - start, saturating: a counter that jumps across the int64 range (only
// a test counter can) must not overflow.
int64_t TickDifference(int64_t end, int64_t start) {
  if (start < 0 && end > kInt64Max + start) return kInt64Max;
  if (start > 0 && end < kInt64Min + start) return kInt64Min;
  return end - start;
}

}  // namespace

int64_t TicksToMicroseconds(int64_t ticks, int64_t frequency) {
  if (frequency <= 0) return 0;
  // Whole seconds and the remaining ticks (C++ division truncates toward zero,
  // so the remainder carries the sign of ticks). Both parts truncated toward
  // zero and of the same sign add up to exactly the truncated value of
  // ticks * 1,000,000 / frequency; unlike forming that product first, this
  // does not overflow for spans of more than 2^63 / 1,000,000 ticks (about
  // 2.5 hours at a nanosecond counter).
  const int64_t seconds = ticks / frequency;
  const int64_t rest = ticks % frequency;
  constexpr int64_t kMaxSeconds = kInt64Max / kMicrosecondsPerSecond;
  if (seconds > kMaxSeconds) return kInt64Max;
  if (seconds < -kMaxSeconds) return kInt64Min;
  int64_t fraction;  // |fraction| < 1,000,000
  if (rest <= kMaxSeconds && rest >= -kMaxSeconds) {
    fraction = rest * kMicrosecondsPerSecond / frequency;
  } else {
    // Only a counter above 9.2 * 10^12 ticks per second gets here.
    fraction = static_cast<int64_t>(static_cast<long double>(rest) * kMicrosecondsPerSecond /
                                    static_cast<long double>(frequency));
  }
  const int64_t whole = seconds * kMicrosecondsPerSecond;
  if (fraction > 0 && whole > kInt64Max - fraction) return kInt64Max;
  if (fraction < 0 && whole < kInt64Min - fraction) return kInt64Min;
  return whole + fraction;
}

// ---- CHRTimePoint

CHRTimePoint::CHRTimePoint() { SetNow(); }

void CHRTimePoint::SetNow() {
  const int64_t now = platform::GetPerformanceCounter().Now();
  std::lock_guard<std::mutex> hold(lock_);
  counter_value_ = now;
}

int64_t& CHRTimePoint::GetTime(int64_t& out) const {
  std::lock_guard<std::mutex> hold(lock_);
  out = counter_value_;
  return out;
}

void CHRTimePoint::SetTime(int64_t value) {
  std::lock_guard<std::mutex> hold(lock_);
  counter_value_ = value;
}

// ---- CHRTimeSpan

CHRTimeSpan::CHRTimeSpan() : frequency_(platform::GetPerformanceCounter().Frequency()) {
  int64_t start = 0;
  end_.SetTime(start_.GetTime(start));
}

void CHRTimeSpan::Restart() {
  start_.SetNow();
  int64_t start = 0;
  end_.SetTime(start_.GetTime(start));
}

int64_t& CHRTimeSpan::GetElapsedMicroseconds(int64_t& out) {
  if (stopped_ == 0) end_.SetNow();
  int64_t start = 0;
  int64_t end = 0;
  start_.GetTime(start);
  end_.GetTime(end);
  out = TicksToMicroseconds(TickDifference(end, start), frequency_);
  return out;
}

uint32_t CHRTimeSpan::GetElapsedMilliseconds() {
  int64_t microseconds = 0;
  const int64_t milliseconds = GetElapsedMicroseconds(microseconds) / 1000;
  if (milliseconds < 0 || milliseconds > 0xFFFFFFFFLL) return 0x7FFFFFFFu;
  return static_cast<uint32_t>(milliseconds);
}

}  // namespace tova::progress
