// Test doubles for the progress tests: a performance counter moved by hand and
// a progress window that records what it is asked to do and can press Cancel.
// Both are installed through the platform seams for the life of the object.
#pragma once

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
  FakeCounter(const FakeCounter&) = delete;
  FakeCounter& operator=(const FakeCounter&) = delete;

  int64_t Frequency() override { return frequency_; }
  int64_t Now() override { return now_; }

  void Set(int64_t ticks) { now_ = ticks; }
  void Advance(int64_t ticks) { now_ += ticks; }

 private:
  int64_t frequency_;
  int64_t now_;
};

// What the windows made by a FakeWindowFactory were asked to do. Outlives the
// windows, so a test can still look after the dialog destroyed its window.
struct FakeWindowLog {
  int windows_made = 0;
  std::vector<std::string> calls;     // "Create", "SetText", "Repaint", "Pump", "Destroy"
  std::vector<std::u16string> texts;  // every text set, in order
  bool create_succeeds = true;        // false: the window cannot be created
  bool cancel_pressed = false;        // the user pressed Cancel

  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += (c == call);
    return n;
  }
};

class FakeProgressWindow final : public platform::ProgressWindow {
 public:
  explicit FakeProgressWindow(FakeWindowLog& log) : log_(log) {}
  bool Create() override {
    log_.calls.push_back("Create");
    return log_.create_succeeds;
  }
  void SetText(const std::u16string& text) override {
    log_.calls.push_back("SetText");
    log_.texts.push_back(text);
  }
  void Repaint() override { log_.calls.push_back("Repaint"); }
  void PumpOwnMessages() override { log_.calls.push_back("Pump"); }
  bool IsCancelled() const override {
    log_.calls.push_back("IsCancelled");
    return log_.cancel_pressed;
  }
  void Destroy() override { log_.calls.push_back("Destroy"); }

 private:
  FakeWindowLog& log_;
};

// Installs a factory of fake windows that report into log.
class FakeWindowFactory {
 public:
  explicit FakeWindowFactory(FakeWindowLog& log) {
    platform::SetProgressWindowFactoryForTesting([&log]() -> std::unique_ptr<platform::ProgressWindow> {
      ++log.windows_made;
      return std::make_unique<FakeProgressWindow>(log);
    });
  }
  ~FakeWindowFactory() { platform::SetProgressWindowFactoryForTesting({}); }
  FakeWindowFactory(const FakeWindowFactory&) = delete;
  FakeWindowFactory& operator=(const FakeWindowFactory&) = delete;
};

}  // namespace tova::testing
