// The progress dialog behind the reporter interface of the document model.
#include "progress/dialog_progress.h"

namespace tova::progress {

void DialogProgress::Begin(const std::u16string& action, const std::u16string& document_path) {
  document_path_ = document_path;
  dialog_ = std::make_unique<CDlgTOVAStatus>(action);
}

bool DialogProgress::Step(uint32_t number) { return !dialog_ || dialog_->Step(document_path_, number) != 0; }

void DialogProgress::End() { dialog_.reset(); }

}  // namespace tova::progress
