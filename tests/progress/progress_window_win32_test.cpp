// The real progress window on Windows (needs a display, under Wine too): the step text in control 10001 and a click on
// Cancel (2) reported by the next due step.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "progress/dialog_progress.h"
#include "platform/progress_window.h"
#include "progress/progress_test_support.h"

namespace tova::progress {
namespace {

std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, id, text, 512);
  return text;
}

TEST(ProgressWindowWin32, ShowsTheStepReportsCancelAndLeavesOtherMessagesQueued) {
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (other == nullptr) GTEST_SKIP() << "no display: windows cannot be created";
  constexpr UINT kProbe = WM_APP + 7;
  ASSERT_TRUE(PostMessageW(other, kProbe, 0, 0));
  platform::SetProgressWindowFactoryForTesting({});  // the system's window
  testing::FakeCounter counter(1000000, 0);
  DialogProgress doc;
  doc.Begin(u"Analysing", u"C:\\Messung\\ofen.tova");

  counter.Set(250000);
  ASSERT_TRUE(doc.Step(4));
  HWND dialog = FindWindowW(nullptr, L"VEKOTOVA.DLL");
  ASSERT_TRUE(dialog && IsWindowVisible(dialog));
  EXPECT_EQ(ControlText(dialog, 10001), L"C:\\Messung\\ofen.tova\rAnalysing [Section: 5]");
  EXPECT_EQ(ControlText(dialog, 2), L"Abbrechen");

  // Cancel between two refreshes: the window hides at once, a step within 50 ms of the last refresh goes on, the first
  // one after says stop.
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

}  // namespace
}  // namespace tova::progress

#endif  // _WIN32
