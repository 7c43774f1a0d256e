// Placeholder until the progress dialog lands: never shows, never cancels.
#include "progress/dlg_tova_status.h"

namespace tova::progress {

CDlgTOVAStatus::CDlgTOVAStatus(std::u16string action_text) : action_text_(std::move(action_text)) {}
CDlgTOVAStatus::~CDlgTOVAStatus() = default;
int CDlgTOVAStatus::Step(const std::u16string&, uint32_t) { return 1; }

}  // namespace tova::progress
