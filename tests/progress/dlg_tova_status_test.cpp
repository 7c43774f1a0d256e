// The progress dialog, as the reporter of a document operation, on a hand-moved counter and a fake window: when it
// appears, what it shows, how often it refreshes, how a Cancel returns.
#include "progress/dlg_tova_status.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "progress/dialog_progress.h"
#include "progress/progress_test_support.h"

namespace tova::progress {
namespace {

class ProgressDialogTest : public ::testing::Test {
 protected:
  // Moves the clock to ms milliseconds (plus us microseconds) after the start.
  void At(int64_t ms, int64_t us = 0) { counter.Set(ms * 1000 + us); }
  std::u16string Text(const char16_t* action, uint32_t shown) const {
    const std::string n = std::to_string(shown);
    return path + u"\r" + action + u" [Section: " + std::u16string(n.begin(), n.end()) + u"]";
  }

  testing::FakeCounter counter{1000000, 0};  // 1 MHz
  testing::FakeWindowLog log;
  testing::FakeWindowFactory factory{log};
  const std::u16string path = u"C:\\Messung\\ofen.tova";
  DialogProgress doc;
};

// No window (and so no Cancel) before 250 ms; the first step after creates it and shows the step's number plus one; the
// text changes at most every 50 ms, but every step pumps the window's messages.
TEST_F(ProgressDialogTest, AppearsAfter250MillisecondsAndRefreshesAtMostEvery50) {
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
  const std::tuple<int64_t, int64_t, bool> steps[] = {  // ms, us, refreshes
      {260, 0, false}, {300, 0, false},  {300, 999, false},  // 50.999 ms reads 50: no refresh
      {301, 0, true},  {351, 0, false},  {352, 0, true},      {2000, 0, true}};
  size_t texts = log.texts.size();
  int pumps = log.Count("Pump");
  EXPECT_EQ(log.texts.back(), Text(u"Adding", 1));
  uint32_t number = 0;
  for (const auto& [ms, us, refreshes] : steps) {
    At(ms, us);
    EXPECT_TRUE(doc.Step(++number));
    EXPECT_EQ(log.Count("Pump"), ++pumps);
    EXPECT_EQ(log.texts.size(), texts += refreshes) << ms;
    if (refreshes) EXPECT_EQ(log.texts.back(), Text(u"Adding", number + 1));
  }
  EXPECT_EQ(log.Count("Create"), 1);
}

TEST_F(ProgressDialogTest, CancelIsReportedByTheFirstStepMoreThan50MsAfterTheLastRefresh) {
  doc.Begin(u"Analysing", path);
  At(250);
  ASSERT_TRUE(doc.Step(0));  // refresh at 250
  const size_t texts = log.texts.size();
  log.cancel_pressed = true;
  // ms, us, result; a cancel does not restart the refresh stopwatch.
  const int steps[][3] = {{251, 0, 1}, {290, 0, 1}, {300, 999, 1}, {301, 0, 0}, {500, 0, 0}};
  for (const auto& step : steps) {
    At(step[0], step[1]);
    EXPECT_EQ(doc.Step(1), step[2] != 0) << step[0];
  }
  EXPECT_EQ(log.texts.size(), texts);
  doc.End();
  EXPECT_EQ(log.calls.back(), "Destroy");
  EXPECT_EQ(log.Count("Destroy"), 1);
}

// A window that cannot be created is not retried, asked nothing, and never cancels.
TEST_F(ProgressDialogTest, AWindowThatCannotBeCreatedIsNeverAskedAnything) {
  log.create_succeeds = false;
  log.cancel_pressed = true;
  doc.Begin(u"Adding", path);
  for (int64_t ms : {250, 251, 400, 100000}) {
    At(ms);
    EXPECT_TRUE(doc.Step(1)) << ms;
  }
  doc.End();
  EXPECT_EQ(log.calls, std::vector<std::string>{"Create"});
}

TEST_F(ProgressDialogTest, TheWindowGoesWithTheReportAndANewReportWaitsAgain) {
  {
    DialogProgress file;
    file.Begin(u"Analysing", path);
    At(250);
    ASSERT_TRUE(file.Step(0));
  }  // a report still open ends with its reporter
  EXPECT_EQ(log.Count("Destroy"), 1);
  doc.Begin(u"Adding", path);  // started at 250
  At(499);
  EXPECT_TRUE(doc.Step(0));
  EXPECT_EQ(log.windows_made, 1);
  At(500);
  EXPECT_TRUE(doc.Step(0));
  EXPECT_EQ(log.windows_made, 2);
  doc.End();
  doc.End();
  EXPECT_EQ(log.Count("Destroy"), 2);
}

}  // namespace
}  // namespace tova::progress
