// CDlgTOVAStatus: the modeless progress dialog of a document operation.
#pragma once

#include <cstdint>
#include <string>

namespace tova::progress {

class CDlgTOVAStatus {
 public:
  explicit CDlgTOVAStatus(std::u16string action_text);
  ~CDlgTOVAStatus();
  CDlgTOVAStatus(const CDlgTOVAStatus&) = delete;
  CDlgTOVAStatus& operator=(const CDlgTOVAStatus&) = delete;

  // One unit of work of the operation on the document at document_path;
  // 1 to go on, 0 when the user cancelled.
  int Step(const std::u16string& document_path, uint32_t number);

 private:
  std::u16string action_text_;
};

}  // namespace tova::progress
