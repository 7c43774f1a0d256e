// The real progress window on Windows: made from dialog template 10000 of the
// module, showing the step text in control 10001, and reporting a click on
// Cancel (control 2) through the next due step. The clock is a fake; the
// window is real (under Wine it needs a display, as the Windows test run
// provides).
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "model/tova_file.h"
#include "platform/progress_window.h"
#include "progress/progress_test_support.h"

namespace tova::progress {
namespace {

using tova::testing::FakeCounter;

struct Found {
  HWND hwnd = nullptr;
};

BOOL CALLBACK FindProgressWindow(HWND hwnd, LPARAM param) {
  wchar_t caption[64] = {};
  GetWindowTextW(hwnd, caption, 64);
  if (std::wstring(caption) == L"VEKOTOVA.DLL") {
    reinterpret_cast<Found*>(param)->hwnd = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND ProgressWindowOfThisThread() {
  Found found;
  EnumThreadWindows(GetCurrentThreadId(), &FindProgressWindow, reinterpret_cast<LPARAM>(&found));
  return found.hwnd;
}

// True when this process can create windows at all (Wine without a display
// cannot).
bool WindowsCanBeCreated() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, id, text, 512);
  return text;
}

TEST(ProgressWindowWin32, WithoutADisplayTheOperationGoesOnAndIsNeverCancelled) {
  if (WindowsCanBeCreated()) GTEST_SKIP() << "a display is present";
  platform::SetProgressWindowFactoryForTesting({});
  FakeCounter counter(1000000, 0);
  CTOVAFile doc;
  doc.path = u"a.tova";
  doc.CreateProgressDialog(u"Adding");
  for (int64_t ms : {250, 320, 400, 5000}) {
    counter.Set(ms * 1000);
    EXPECT_EQ(doc.ProgressStep(1), 1) << ms;
  }
  EXPECT_EQ(ProgressWindowOfThisThread(), nullptr);
  doc.CloseProgressDialog();
}

TEST(ProgressWindowWin32, ShowsTheStepAndReportsCancel) {
  if (!WindowsCanBeCreated()) GTEST_SKIP() << "no display: windows cannot be created";
  // The template must be linked into the module that holds the library code.
  ASSERT_NE(FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(10000),
                          MAKEINTRESOURCEW(5) /* RT_DIALOG */),
            nullptr);
  platform::SetProgressWindowFactoryForTesting({});  // the system's window
  FakeCounter counter(1000000, 0);
  CTOVAFile doc;
  doc.path = u"C:\\Messung\\ofen.tova";
  doc.CreateProgressDialog(u"Analysing");

  counter.Set(100000);
  ASSERT_EQ(doc.ProgressStep(0), 1);
  EXPECT_EQ(ProgressWindowOfThisThread(), nullptr) << "no window before 250 ms";

  counter.Set(250000);
  ASSERT_EQ(doc.ProgressStep(4), 1);
  HWND dialog = ProgressWindowOfThisThread();
  ASSERT_NE(dialog, nullptr) << "the window was not created (no display?)";
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
  const LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_FALSE(style & WS_SYSMENU) << "no system menu, no close box";
  EXPECT_EQ(ControlText(dialog, 10001), L"C:\\Messung\\ofen.tova\rAnalysing [Section: 5]");
  EXPECT_EQ(ControlText(dialog, 2), L"Abbrechen");

  // Centred on the screen's work area (to a pixel of rounding).
  RECT window{};
  ASSERT_TRUE(GetWindowRect(dialog, &window));
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor));
  const RECT& area = monitor.rcWork;
  if (window.right - window.left <= area.right - area.left) {
    EXPECT_NEAR((window.left + window.right) / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (area.top + area.bottom) / 2, 1);
  }

  counter.Set(320000);
  ASSERT_EQ(doc.ProgressStep(9), 1);
  EXPECT_EQ(ControlText(dialog, 10001), L"C:\\Messung\\ofen.tova\rAnalysing [Section: 10]");

  // Cancel between two refreshes: the window hides at once, the steps within
  // 50 ms of the last refresh go on, the first one after says stop.
  SetActiveWindow(dialog);
  SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowVisible(dialog));
  counter.Set(330000);
  EXPECT_EQ(doc.ProgressStep(10), 1);
  counter.Set(371000);
  EXPECT_EQ(doc.ProgressStep(11), 0);
  EXPECT_EQ(ControlText(dialog, 10001), L"C:\\Messung\\ofen.tova\rAnalysing [Section: 10]");

  doc.CloseProgressDialog();
  EXPECT_FALSE(IsWindow(dialog));
}

TEST(ProgressWindowWin32, MessagesOfOtherWindowsStayQueued) {
  // A window of the caller's on the same thread: its posted message must
  // survive the steps that pump the progress window.
  if (!WindowsCanBeCreated()) GTEST_SKIP() << "no display: windows cannot be created";
  platform::SetProgressWindowFactoryForTesting({});
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  FakeCounter counter(1000000, 0);
  CTOVAFile doc;
  doc.path = u"a.tova";
  doc.CreateProgressDialog(u"Adding");
  constexpr UINT kProbe = WM_APP + 7;
  ASSERT_TRUE(PostMessageW(other, kProbe, 0, 0));
  counter.Set(250000);
  ASSERT_EQ(doc.ProgressStep(0), 1);
  ASSERT_NE(ProgressWindowOfThisThread(), nullptr);
  counter.Set(400000);
  ASSERT_EQ(doc.ProgressStep(1), 1);
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, other, kProbe, kProbe, PM_REMOVE));
  doc.CloseProgressDialog();
  DestroyWindow(other);
}

}  // namespace
}  // namespace tova::progress

#endif  // _WIN32
