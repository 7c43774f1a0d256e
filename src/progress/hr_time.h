// CHRTimePoint and CHRTimeSpan: an instant and a stopwatch on the
// high-resolution performance counter (platform/performance_counter.h).
// Values stay in counter ticks until a query converts them to microseconds or
// milliseconds.
#pragma once

#include <cstdint>
#include <mutex>

namespace tova::progress {

// One reading of the performance counter. Each point has its own lock, held
// only for the single read or write of its value, so a point may be read and
// set from several threads.
class CHRTimePoint {
 public:
  // Reads the counter (SetNow).
  CHRTimePoint();
  CHRTimePoint(const CHRTimePoint&) = delete;
  CHRTimePoint& operator=(const CHRTimePoint&) = delete;

  void SetNow();
  // Copies the value into out and returns out.
  int64_t& GetTime(int64_t& out) const;
  void SetTime(int64_t value);

 private:
  int64_t counter_value_ = 0;  // ticks
  mutable std::mutex lock_;    // guards counter_value_
};

// A stopwatch: a start point and an end point. A new span reads 0 and runs;
// while it is not stopped every query first moves the end point to now.
//
// The span's operations take the two points' locks one after the other, never
// both at once, so a Restart racing with a query may pair a new start with an
// old end. The progress dialog uses its spans from one thread.
class CHRTimeSpan {
 public:
  CHRTimeSpan();
  CHRTimeSpan(const CHRTimeSpan&) = delete;
  CHRTimeSpan& operator=(const CHRTimeSpan&) = delete;

  // Start := now, end := start: the span reads 0 again and runs on.
  void Restart();
  // (end - start) * 1,000,000 / frequency, truncated toward zero; writes out
  // and returns it.
  int64_t& GetElapsedMicroseconds(int64_t& out);
  // The microseconds divided by 1000, truncated toward zero; a negative count
  // or one needing more than 32 bits reads as 0x7FFFFFFF.
  uint32_t GetElapsedMilliseconds();

 private:
  int64_t frequency_;  // ticks per second, read once at construction
  CHRTimePoint start_;
  int32_t stopped_ = 0;  // while 0, queries move end_ to now; nothing sets it
  CHRTimePoint end_;
};

// The conversion behind GetElapsedMicroseconds: ticks * 1,000,000 / frequency,
// truncated toward zero, saturating at the int64 limits instead of
// overflowing. 0 for a frequency that is not positive.
int64_t TicksToMicroseconds(int64_t ticks, int64_t frequency);

}  // namespace tova::progress
