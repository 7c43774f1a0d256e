// The progress dialog as the reporter of a document operation: each report
// (Begin to End) gets a CDlgTOVAStatus of its own, which appears only when
// the operation lasts.
#pragma once

#include <memory>
#include <string>

#include "model/progress.h"
#include "progress/dlg_tova_status.h"

namespace tova::progress {

class DialogProgress final : public Progress {
 public:
  void Begin(const std::u16string& action, const std::u16string& document_path) override;
  bool Step(uint32_t number) override;
  void End() override;

 private:
  std::u16string document_path_;
  std::unique_ptr<CDlgTOVAStatus> dialog_;  // null outside a report
};

}  // namespace tova::progress
