// CDlgTOVAStatus: the modeless progress dialog of a long document operation
// (reading a file's sections, appending datasets, saving). The document owns
// it while the operation runs and calls Step once per unit of work.
//
// No window exists during the first 250 ms of the operation; the first step at
// or after 250 ms creates it and shows the text at once. From then on every
// step pumps the window's own messages, the text is refreshed at most every
// 50 ms, and a Cancel pressed by the user is reported by the first step more
// than 50 ms after the last refresh.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "progress/hr_time.h"

namespace tova::platform {
class ProgressWindow;
}

namespace tova::progress {

class CDlgTOVAStatus {
 public:
  // action_text names the operation ("Adding", "Analysing"). Both stopwatches
  // start now; no window yet.
  explicit CDlgTOVAStatus(std::u16string action_text);
  // Destroys the window if it was created.
  ~CDlgTOVAStatus();
  CDlgTOVAStatus(const CDlgTOVAStatus&) = delete;
  CDlgTOVAStatus& operator=(const CDlgTOVAStatus&) = delete;

  // One unit of work of the operation on the document at document_path;
  // number is shown plus 1 as the section reached. true to go on, false when the user
  // cancelled.
  bool Step(const std::u16string& document_path, uint32_t number);

 private:
  // Creates, shows and fills the window; a window that cannot be created is
  // dropped and the operation goes on without one.
  void ShowWindowNow();

  std::u16string action_text_;
  std::u16string display_text_;  // the text of control 10001
  CHRTimeSpan appearance_;       // since construction; decides when the window appears
  CHRTimeSpan refresh_;          // since construction, restarted at every refresh
  bool shown_ = false;           // once the window was created (or found impossible)
  bool cancelled_ = false;       // once the user pressed Cancel
  std::unique_ptr<platform::ProgressWindow> window_;  // null before 250 ms or when none could be created
};

}  // namespace tova::progress
