// Progress test doubles, installed through the platform seams for their lifetime: a counter moved by hand and a
// progress window that records what it is asked to do and can press Cancel.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/performance_counter.h"
#include "platform/progress_window.h"

namespace tova::testing {

// A counter that stands still until the test moves it.
class FakeCounter final : public platform::PerformanceCounter {
 public:
  explicit FakeCounter(int64_t frequency, int64_t now = 0) : frequency_(frequency), now_(now) {
    platform::SetPerformanceCounterForTesting(this);
  }
  ~FakeCounter() override { platform::SetPerformanceCounterForTesting(nullptr); }
  int64_t Frequency() override { return frequency_; }
  int64_t Now() override { return now_; }
  void Set(int64_t ticks) { now_ = ticks; }
  void Advance(int64_t ticks) { now_ += ticks; }

 private:
  int64_t frequency_, now_;
};

// What the fake windows were asked to do; outlives them.
struct FakeWindowLog {
  int windows_made = 0;
  std::vector<std::string> calls;     // "Create", "SetText", "Repaint", "Pump", "IsCancelled", "Destroy"
  std::vector<std::u16string> texts;  // every text set, in order
  bool cancel_pressed = false;        // the user pressed Cancel
  int Count(const std::string& call) const { return static_cast<int>(std::count(calls.begin(), calls.end(), call)); }
};

class FakeProgressWindow final : public platform::ProgressWindow {
 public:
  explicit FakeProgressWindow(FakeWindowLog& log) : log_(log) {}
  bool Create() override { return Log("Create"), true; }
  void SetText(const std::u16string& text) override { Log("SetText"), log_.texts.push_back(text); }
  void Repaint() override { Log("Repaint"); }
  void PumpOwnMessages() override { Log("Pump"); }
  bool IsCancelled() const override { return Log("IsCancelled"), log_.cancel_pressed; }
  void Destroy() override { Log("Destroy"); }

 private:
  void Log(const char* call) const { log_.calls.push_back(call); }
  FakeWindowLog& log_;
};

// Installs a factory of fake windows that report into log.
struct FakeWindowFactory {
  explicit FakeWindowFactory(FakeWindowLog& log) {
    platform::SetProgressWindowFactoryForTesting([&log]() -> std::unique_ptr<platform::ProgressWindow> {
      ++log.windows_made;
      return std::make_unique<FakeProgressWindow>(log);
    });
  }
  ~FakeWindowFactory() { platform::SetProgressWindowFactoryForTesting({}); }
};

}  // namespace tova::testing
