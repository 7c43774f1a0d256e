// The progress window on Windows: a modeless dialog made from template 10000,
// a resource of the module that holds this code (the library, or a program
// linking the library statically). Cancel sets the cancelled flag and hides
// the window; the window stays until Destroy.
//
// The window has no owner: it is a top-level window of its own, the window
// that the desktop as parent gives too. No framework main window exists in
// this library, so there is no owner to choose between.
#include <windows.h>

#include <memory>

#include "platform/progress_window.h"

namespace tova::platform {

namespace {

constexpr int kDialogTemplateId = 10000;
constexpr int kTextControlId = 10001;
// Posted to a window whose object went away on another thread: the window's
// own thread destroys it at its next message pump.
constexpr UINT kDestroyFromOwnThread = WM_APP + 0x2A0;

HMODULE ModuleOfThisCode() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleOfThisCode), &module)) {
    return nullptr;
  }
  return module;
}

const wchar_t* Wide(const std::u16string& text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

class Win32ProgressWindow final : public ProgressWindow {
 public:
  Win32ProgressWindow() = default;
  ~Win32ProgressWindow() override { Destroy(); }
  Win32ProgressWindow(const Win32ProgressWindow&) = delete;
  Win32ProgressWindow& operator=(const Win32ProgressWindow&) = delete;

  bool Create() override {
    if (hwnd_ != nullptr) return true;
    HMODULE module = ModuleOfThisCode();
    if (module == nullptr) return false;
    HWND hwnd = CreateDialogParamW(module, MAKEINTRESOURCEW(kDialogTemplateId), nullptr,
                                   &Win32ProgressWindow::DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) return false;
    hwnd_ = hwnd;
    CenterOnScreen();
    ShowWindow(hwnd_, SW_SHOW);
    SetFocus(hwnd_);
    return true;
  }

  void SetText(const std::u16string& text) override {
    if (hwnd_ != nullptr) SetDlgItemTextW(hwnd_, kTextControlId, Wide(text));
  }

  void Repaint() override {
    if (hwnd_ != nullptr) UpdateWindow(hwnd_);
  }

  void PumpOwnMessages() override {
    if (hwnd_ == nullptr) return;
    // The window filter takes the dialog's messages and those of its
    // controls; other windows of the thread keep theirs queued.
    MSG msg;
    while (hwnd_ != nullptr && PeekMessageW(&msg, hwnd_, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  bool IsCancelled() const override { return cancelled_; }

  void Destroy() override {
    if (hwnd_ == nullptr) return;
    HWND hwnd = hwnd_;
    hwnd_ = nullptr;
    // The window no longer reaches this object, whatever happens below.
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(hwnd);
    } else {
      // A window can be destroyed only by its own thread (a document closed
      // from another thread than the operation's): ask that thread to do it.
      PostMessageW(hwnd, kDestroyFromOwnThread, 0, 0);
    }
  }

 private:
  void CenterOnScreen() {
    RECT window{};
    if (!GetWindowRect(hwnd_, &window)) return;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT area{};
    if (GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
      area = monitor.rcWork;
    } else if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
      return;
    }
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    LONG x = area.left + (area.right - area.left - width) / 2;
    LONG y = area.top + (area.bottom - area.top - height) / 2;
    // Keep the caption on the screen when the window is larger than the area.
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
      return TRUE;  // default focus: the first control with a tab stop
    }
    if (message == kDestroyFromOwnThread) {
      DestroyWindow(hwnd);
      return TRUE;
    }
    auto* self = reinterpret_cast<Win32ProgressWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
      // The Cancel button, Escape, or BM_CLICK on control 2: remember it and
      // hide the window as a dialog's end would; it stays until Destroy.
      if (self != nullptr) self->cancelled_ = true;
      ShowWindow(hwnd, SW_HIDE);
      return TRUE;
    }
    return FALSE;
  }

  HWND hwnd_ = nullptr;
  bool cancelled_ = false;
};

}  // namespace

std::unique_ptr<ProgressWindow> CreateSystemProgressWindow() {
  return std::make_unique<Win32ProgressWindow>();
}

}  // namespace tova::platform
