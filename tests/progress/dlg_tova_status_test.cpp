// The progress dialog of a document, driven through CTOVAFile's progress hook
// with a hand-moved counter and a fake window: when the window appears, what
// it shows, how often it is refreshed, how a Cancel comes back, and what
// happens when no window can be created.
#include "progress/dlg_tova_status.h"

#include <gtest/gtest.h>

#include <string>

#include "model/tova_file.h"
#include "progress/progress_test_support.h"

namespace tova::progress {
namespace {

using tova::testing::FakeCounter;
using tova::testing::FakeWindowFactory;
using tova::testing::FakeWindowLog;

constexpr int64_t kTicksPerMs = 1000;  // the fake counter runs at 1 MHz

std::u16string Decimal(uint32_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

class ProgressDialogTest : public ::testing::Test {
 protected:
  ProgressDialogTest() { doc.path = u"C:\\Messung\\ofen.tova"; }

  // Moves the clock to ms milliseconds (plus extra microseconds) after the
  // dialog was created.
  void At(int64_t ms, int64_t extra_us = 0) { counter.Set(ms * kTicksPerMs + extra_us); }

  std::u16string Text(const char16_t* action, uint32_t shown_number) const {
    return doc.path + u"\r" + action + u" [Section: " + Decimal(shown_number) + u"]";
  }

  FakeCounter counter{1000000, 0};
  FakeWindowLog log;
  FakeWindowFactory factory{log};
  CTOVAFile doc;
};

TEST_F(ProgressDialogTest, NoWindowBefore250Milliseconds) {
  doc.CreateProgressDialog(u"Analysing");
  ASSERT_TRUE(doc.HasProgressDialog());
  for (int64_t ms : {0, 1, 100, 249}) {
    At(ms);
    EXPECT_EQ(doc.ProgressStep(static_cast<uint32_t>(ms)), 1);
  }
  At(249, 999);  // 249.999 ms still reads 249
  log.cancel_pressed = true;  // nothing could have pressed it: there is no window
  EXPECT_EQ(doc.ProgressStep(7), 1);
  doc.CloseProgressDialog();
  EXPECT_FALSE(doc.HasProgressDialog());
  EXPECT_EQ(log.windows_made, 0);
  EXPECT_TRUE(log.calls.empty());
}

TEST_F(ProgressDialogTest, FirstStepAt250CreatesTheWindowAndShowsTheTextAtOnce) {
  doc.CreateProgressDialog(u"Analysing");
  At(250);
  EXPECT_EQ(doc.ProgressStep(0), 1);
  EXPECT_EQ(log.windows_made, 1);
  ASSERT_GE(log.calls.size(), 1u);
  EXPECT_EQ(log.calls.front(), "Create");
  EXPECT_EQ(log.Count("Pump"), 1);
  ASSERT_FALSE(log.texts.empty());
  EXPECT_EQ(log.texts.back(), Text(u"Analysing", 1));
  // The text is repainted after it is set.
  EXPECT_EQ(log.calls.back(), "Repaint");
}

TEST_F(ProgressDialogTest, ShowsTheNumberPlusOneAsTheSection) {
  struct Case {
    uint32_t number;
    uint32_t shown;
  };
  for (const Case& c : {Case{4, 5}, Case{0, 1}, Case{999, 1000}}) {
    SCOPED_TRACE(c.number);
    counter.Set(0);
    CTOVAFile file;
    file.path = u"/data/rec.tova";
    file.CreateProgressDialog(u"Adding");
    At(300);
    EXPECT_EQ(file.ProgressStep(c.number), 1);
    ASSERT_FALSE(log.texts.empty());
    EXPECT_EQ(log.texts.back(), u"/data/rec.tova\rAdding [Section: " + Decimal(c.shown) + u"]");
  }
}

TEST_F(ProgressDialogTest, RefreshesAtMostEvery50MillisecondsButPumpsAtEveryStep) {
  doc.CreateProgressDialog(u"Adding");
  At(250);
  ASSERT_EQ(doc.ProgressStep(0), 1);  // refresh at 250
  const size_t texts_after_first = log.texts.size();

  struct Step {
    int64_t ms;
    int64_t extra_us;
    uint32_t number;
    bool refreshes;
  };
  const Step steps[] = {
      {260, 0, 1, false},
      {300, 0, 2, false},    // exactly 50 ms: no refresh
      {300, 999, 3, false},  // 50.999 ms reads 50
      {301, 0, 4, true},     // 51 ms: refresh, restarts the 50 ms
      {351, 0, 5, false},
      {352, 0, 6, true},
      {2000, 0, 7, true},
  };
  size_t texts = texts_after_first;
  int pumps = log.Count("Pump");
  for (const Step& s : steps) {
    SCOPED_TRACE(s.number);
    At(s.ms, s.extra_us);
    EXPECT_EQ(doc.ProgressStep(s.number), 1);
    EXPECT_EQ(log.Count("Pump"), ++pumps);
    if (s.refreshes) {
      ASSERT_EQ(log.texts.size(), ++texts);
      EXPECT_EQ(log.texts.back(), Text(u"Adding", s.number + 1));
    } else {
      EXPECT_EQ(log.texts.size(), texts);
    }
  }
  EXPECT_EQ(log.windows_made, 1);
  EXPECT_EQ(log.Count("Create"), 1);
}

TEST_F(ProgressDialogTest, CancelIsReportedByTheFirstStepMoreThan50MsAfterTheLastRefresh) {
  doc.CreateProgressDialog(u"Analysing");
  At(250);
  ASSERT_EQ(doc.ProgressStep(0), 1);  // refresh at 250
  At(270);
  ASSERT_EQ(doc.ProgressStep(1), 1);
  const size_t texts = log.texts.size();

  log.cancel_pressed = true;  // between two refreshes
  for (int64_t ms : {271, 290, 300}) {
    At(ms);
    EXPECT_EQ(doc.ProgressStep(2), 1) << ms;
  }
  At(300, 999);
  EXPECT_EQ(doc.ProgressStep(2), 1);
  At(301);
  EXPECT_EQ(doc.ProgressStep(3), 0);
  // The refresh stopwatch is not restarted by a cancel: later due steps say 0
  // too, and the text no longer changes.
  At(500);
  EXPECT_EQ(doc.ProgressStep(4), 0);
  EXPECT_EQ(log.texts.size(), texts);

  doc.CloseProgressDialog();
  EXPECT_EQ(log.Count("Destroy"), 1);
  EXPECT_EQ(log.calls.back(), "Destroy");
}

TEST_F(ProgressDialogTest, AWindowThatCannotBeCreatedIsNeverAskedAnythingAndNeverCancels) {
  log.create_succeeds = false;
  log.cancel_pressed = true;
  doc.CreateProgressDialog(u"Adding");
  for (int64_t ms : {250, 251, 400, 1000, 100000}) {
    At(ms);
    EXPECT_EQ(doc.ProgressStep(static_cast<uint32_t>(ms)), 1) << ms;
  }
  doc.CloseProgressDialog();
  // Created once, not retried; no text, paint, pump, cancel query or destroy.
  EXPECT_EQ(log.windows_made, 1);
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0], "Create");
}

TEST_F(ProgressDialogTest, TheWindowGoesWithTheDocument) {
  {
    CTOVAFile file;
    file.path = u"x.tova";
    file.CreateProgressDialog(u"Analysing");
    At(250);
    ASSERT_EQ(file.ProgressStep(0), 1);
    EXPECT_EQ(log.Count("Destroy"), 0);
  }
  EXPECT_EQ(log.Count("Destroy"), 1);

  // Closing twice destroys once; a new dialog starts its own 250 ms.
  doc.CreateProgressDialog(u"Adding");
  At(600);
  ASSERT_EQ(doc.ProgressStep(0), 1);
  doc.CloseProgressDialog();
  doc.CloseProgressDialog();
  EXPECT_EQ(log.Count("Destroy"), 2);
  doc.CreateProgressDialog(u"Adding");
  At(849);
  EXPECT_EQ(doc.ProgressStep(0), 1);
  EXPECT_EQ(log.windows_made, 2);
  At(850);
  EXPECT_EQ(doc.ProgressStep(0), 1);
  EXPECT_EQ(log.windows_made, 3);
}

}  // namespace
}  // namespace tova::progress
