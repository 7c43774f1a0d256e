// Progress on a hand-moved counter: CHRTimeSpan, and the progress dialog on a fake window (when it appears, what it
// shows, how often it refreshes, how a Cancel returns) and the real one on Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "progress/dialog_progress.h"
#include "progress/hr_time.h"
#include "progress/progress_test_support.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/progress_window.h"
#endif

namespace tova::progress {
namespace {

using tova::testing::FakeCounter;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Microseconds truncate toward zero; milliseconds that are negative or need more than 32 bits read 0x7FFFFFFF; spans
// whose tick count times 1,000,000 exceeds 64 bits neither overflow nor wrap. Restart starts a new span.
TEST(HRTimeSpan, ElapsedTimes) {
  constexpr int64_t k3h = 3LL * 3600 * 1000000000;
  const int64_t cases[][5] = {  // frequency, from, to, microseconds, milliseconds
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
  for (const auto& [frequency, from, to, us, ms] : cases) {
    SCOPED_TRACE(::testing::Message() << from << " to " << to << " at " << frequency);
    FakeCounter counter(frequency, from);
    CHRTimeSpan span;
    counter.Set(to);
    int64_t out = 0;
    EXPECT_EQ(span.GetElapsedMicroseconds(out), us);
    EXPECT_EQ(span.GetElapsedMilliseconds(), static_cast<uint32_t>(ms));
    span.Restart();
    EXPECT_TRUE(span.GetElapsedMicroseconds(out) == 0 && span.GetElapsedMilliseconds() == 0u);
  }
#ifdef __SIZEOF_INT128__
  // Against ticks * 1,000,000 / frequency formed in 128 bits, over spans of every magnitude and both signs.
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
#endif
}

class ProgressDialogTest : public ::testing::Test {
 protected:
  // Moves the clock to ms milliseconds (plus us microseconds) after the start.
  void At(int64_t ms, int64_t us = 0) { counter.Set(ms * 1000 + us); }
  std::u16string Text(const char16_t* action, uint32_t shown) const {
    const std::string n = std::to_string(shown);
    return path + u"\r" + action + u" [Section: " + std::u16string(n.begin(), n.end()) + u"]";
  }

  FakeCounter counter{1000000, 0};  // 1 MHz
  testing::FakeWindowLog log;
  testing::FakeWindowFactory factory{log};
  const std::u16string path = u"C:\\Messung\\ofen.tova";
  DialogProgress doc;
};

// No window (and so no Cancel) before 250 ms; the first step after creates it and shows the step's number plus one; the
// text changes at most every 50 ms, every step pumps the window's messages, and a Cancel is reported by the first step
// more than 50 ms after the last refresh, and by every step after it.
TEST_F(ProgressDialogTest, AppearsAfter250MsRefreshesAtMostEvery50AndReportsCancel) {
  doc.Begin(u"Adding", path);
  log.cancel_pressed = true;
  for (int64_t ms : {0, 100, 249}) {
    At(ms, ms == 249 ? 999 : 0);  // 249.999 ms still reads 249
    EXPECT_TRUE(doc.Step(7));
  }
  EXPECT_TRUE(log.calls.empty());
  log.cancel_pressed = false;
  At(250);
  ASSERT_TRUE(doc.Step(0));
  EXPECT_EQ(log.calls.front() + " " + log.calls.back(), "Create Repaint");
  EXPECT_EQ(log.texts.back(), Text(u"Adding", 1));
  const int steps[][5] = {  // ms, us, Cancel pressed, result, refreshed; 50.999 ms reads 50
      {260, 0, 0, 1, 0},  {300, 0, 0, 1, 0},    {300, 999, 0, 1, 0}, {301, 0, 0, 1, 1}, {351, 0, 0, 1, 0},
      {352, 0, 0, 1, 1},  {2000, 0, 0, 1, 1},   {2001, 0, 1, 1, 0},  {2050, 999, 1, 1, 0},
      {2051, 0, 1, 0, 0}, {2300, 0, 1, 0, 0}};
  size_t texts = log.texts.size();
  uint32_t number = 0;
  for (const auto& [ms, us, pressed, result, refreshed] : steps) {
    At(ms, us);
    log.cancel_pressed = pressed;
    const int pumps = log.Count("Pump");
    EXPECT_EQ(doc.Step(++number), result != 0) << ms;
    EXPECT_EQ(log.texts.size(), texts += refreshed) << ms;
    if (refreshed) EXPECT_EQ(log.texts.back(), Text(u"Adding", number + 1));
    if (!pressed) EXPECT_EQ(log.Count("Pump"), pumps + 1) << ms;
  }
  doc.End();
  EXPECT_EQ(log.Count("Create") + log.Count("Destroy"), 2);
  EXPECT_EQ(log.calls.back(), "Destroy");
}

#ifdef _WIN32
// The real window (needs a display, under Wine too): the step text, and a click on Cancel seen by the next due step.
TEST(ProgressWindowWin32, ShowsTheStepReportsCancelAndLeavesOtherMessagesQueued) {
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (other == nullptr) GTEST_SKIP() << "no display: windows cannot be created";
  constexpr UINT kProbe = WM_APP + 7;
  ASSERT_TRUE(PostMessageW(other, kProbe, 0, 0));
  platform::SetProgressWindowFactoryForTesting({});  // the system's window
  FakeCounter counter(1000000, 0);
  DialogProgress doc;
  doc.Begin(u"Analysing", u"C:\\Messung\\ofen.tova");
  counter.Set(250000);
  ASSERT_TRUE(doc.Step(4));
  HWND dialog = FindWindowW(nullptr, L"VEKOTOVA.DLL");
  ASSERT_TRUE(dialog && IsWindowVisible(dialog));
  const auto text = [=](int id) { wchar_t t[512] = {}; GetDlgItemTextW(dialog, id, t, 512); return std::wstring(t); };
  EXPECT_EQ(text(10001), L"C:\\Messung\\ofen.tova\rAnalysing [Section: 5]");  // the step text control
  EXPECT_EQ(text(2), L"Abbrechen");  // the Cancel button
  // Cancel between two refreshes: the window hides at once, the first step 50 ms after the last refresh says stop.
  SetActiveWindow(dialog);
  SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowVisible(dialog));
  counter.Set(290000);
  EXPECT_TRUE(doc.Step(5));
  counter.Set(301000);
  EXPECT_FALSE(doc.Step(6));
  doc.End();
  EXPECT_FALSE(IsWindow(dialog));
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, other, kProbe, kProbe, PM_REMOVE)) << "a message of another window was pumped";
  DestroyWindow(other);
}
#endif  // _WIN32

}  // namespace
}  // namespace tova::progress
