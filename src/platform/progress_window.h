// The progress window: the small modeless window of a long document operation
// (dialog template 10000: the document path and the step reached in control
// 10001, and a Cancel button). On Windows it is a real dialog; elsewhere it is
// headless. Tests install a factory of their own and get a window that
// records its texts and can press Cancel.
//
// A window lives on the thread that created it; every call below is made on
// that thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tova::platform {

class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;

  // Creates the window from the dialog template as a top-level window without
  // an owner, centres it on the screen, shows it and gives it the keyboard
  // focus. False when it cannot be created (no display, no template); the
  // caller then calls nothing else on it.
  virtual bool Create() = 0;
  // Sets the text of control 10001 (CR starts a new line).
  virtual void SetText(const std::u16string& text) = 0;
  // Repaints the window at once (pending paints of it and its controls).
  virtual void Repaint() = 0;
  // Translates and dispatches the messages queued for this window and its
  // controls; messages of other windows stay queued. Never blocks.
  virtual void PumpOwnMessages() = 0;
  // True once the user pressed Cancel (the window then hides itself and stays
  // until Destroy).
  virtual bool IsCancelled() const = 0;
  // Destroys the window.
  virtual void Destroy() = 0;
};

// The window for a new progress dialog: the system's own, unless a test
// installed a factory. Never null.
std::unique_ptr<ProgressWindow> CreateProgressWindow();

using ProgressWindowFactory = std::function<std::unique_ptr<ProgressWindow>()>;
// Installs factory; an empty function restores the system's own window. A
// factory that returns null gets the system's window too.
void SetProgressWindowFactoryForTesting(ProgressWindowFactory factory);

}  // namespace tova::platform
