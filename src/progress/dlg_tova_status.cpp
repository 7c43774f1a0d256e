// CDlgTOVAStatus: when the progress window appears, how often it is refreshed
// and how a Cancel reaches the operation.
#include "progress/dlg_tova_status.h"

#include <utility>

#include "platform/progress_window.h"
#include "platform/text.h"

namespace tova::progress {

namespace {

constexpr uint32_t kAppearanceDelayMs = 250;  // operations shorter than this show no window
constexpr uint32_t kRefreshIntervalMs = 50;   // the text changes at most this often

}  // namespace

CDlgTOVAStatus::CDlgTOVAStatus(std::u16string action_text)
    : action_text_(std::move(action_text)) {}

CDlgTOVAStatus::~CDlgTOVAStatus() {
  if (window_) window_->Destroy();
}

void CDlgTOVAStatus::ShowWindowNow() {
  shown_ = true;
  window_ = platform::CreateProgressWindow();
  if (!window_->Create()) {
    // No display or no template: the operation runs on without a window and
    // cannot be cancelled. Nothing more is asked of the window, and creation
    // is not retried at later steps.
    window_.reset();
    return;
  }
  window_->SetText(display_text_);
  window_->Repaint();
}

bool CDlgTOVAStatus::Step(const std::u16string& document_path, uint32_t number) {
  if (!shown_) {
    if (appearance_.GetElapsedMilliseconds() < kAppearanceDelayMs) return true;
    ShowWindowNow();
  }
  if (window_) {
    window_->PumpOwnMessages();
    if (window_->IsCancelled()) cancelled_ = true;
  }
  if (refresh_.GetElapsedMilliseconds() <= kRefreshIntervalMs) return true;
  if (cancelled_) return false;
  display_text_ = platform::FormatU16("%s\r%s [Section: %u]", document_path.c_str(),
                                      action_text_.c_str(), number + 1);
  if (window_) {
    window_->SetText(display_text_);
    window_->Repaint();
  }
  refresh_.Restart();
  return true;
}

}  // namespace tova::progress
