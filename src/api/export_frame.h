// The frame every export runs: handle lookup, the document lock where the
// export takes it, and no exception ever leaving the library.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "catalog/catalog.h"
#include "model/progress.h"
#include "model/result.h"
#include "progress/dialog_progress.h"
#include "platform/text.h"

namespace tova::api {

inline constexpr uint64_t kInvalidHandle = UINT64_MAX;

// Whether an export holds the document lock for its whole call.
enum class DocLock { kTake, kNone };

// Runs op(doc) for the document of handle h and returns its code as the
// public value; unknown handles give `unknown`, exhausted memory
// TOVA_ERR_NO_MEMORY.
template <typename Op>
int32_t WithDocument(uint64_t h, DocLock lock, Op&& op, Code unknown = Code::kHandle) {
  try {
    std::shared_ptr<CTOVAFile> doc = TheRegistry().Find(h);
    if (!doc) return ToInt(unknown);
    if (lock == DocLock::kNone) return ToInt(op(*doc));
    platform::DocumentLockGuard guard(doc->lock);
    return ToInt(op(*doc));
  } catch (...) {
    return ToInt(Code::kNoMemory);
  }
}

// Creates a document, runs its open operation and registers it on success.
// The operation's code stays inside: a failed open is the invalid handle.
template <typename Open>
uint64_t OpenDocument(Open&& open) {
  try {
    auto doc = std::make_shared<CTOVAFile>(catalog::Rules());
    if (Failed(open(*doc))) return kInvalidHandle;
    return TheRegistry().Add(std::move(doc));
  } catch (...) {
    return kInvalidHandle;
  }
}

// Runs op with no document (the path exports), catching every exception.
template <typename Op>
int32_t Guarded(Op&& op) {
  try {
    return ToInt(op());
  } catch (...) {
    return ToInt(Code::kNoMemory);
  }
}

// The reporter of a long operation: the progress dialog when shown, else
// none. One per call.
class OperationProgress {
 public:
  explicit OperationProgress(bool show) : show_(show) {}
  Progress& get() { return show_ ? static_cast<Progress&>(dialog_) : NoProgress(); }

 private:
  bool show_;
  progress::DialogProgress dialog_;
};

// The progress-dialog setting of TOVADLL_SET_DLG_SHOW.
inline bool DialogSetting() { return TheRegistry().show_dialog.load() != 0; }

// The _UC path of an export as the library's UTF-16 string.
inline std::u16string WidePath(const TOVA_WCHAR* path) {
  std::u16string out;
  if (path)
    for (const TOVA_WCHAR* p = path; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

}  // namespace tova::api
