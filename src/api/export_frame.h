// The frame every export runs: handle lookup, the document lock where the
// export takes it, and no exception ever leaving the library.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "platform/text.h"

namespace tova::api {

inline constexpr uint64_t kInvalidHandle = UINT64_MAX;

// Runs op(doc) for the document of handle h; unknown handles give `unknown`.
template <typename Op>
int32_t WithDocument(uint64_t h, bool take_lock, Op&& op, int32_t unknown = TOVA_ERR_HANDLE) {
  try {
    std::shared_ptr<CTOVAFile> doc = TheRegistry().Find(h);
    if (!doc) return unknown;
    if (!take_lock) return op(*doc);
    platform::DocumentLockGuard guard(doc->lock);
    return op(*doc);
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  } catch (...) {
    return TOVA_ERR_NO_MEMORY;
  }
}

// Creates a document, runs its open operation and registers it on success.
template <typename Open>
uint64_t OpenDocument(Open&& open) {
  try {
    auto doc = std::make_shared<CTOVAFile>();
    if (open(*doc) != 0) return kInvalidHandle;
    return TheRegistry().Add(std::move(doc));
  } catch (...) {
    return kInvalidHandle;
  }
}

// Runs op with no document (the path exports), catching every exception.
template <typename Op>
int32_t Guarded(Op&& op) {
  try {
    return op();
  } catch (...) {
    return TOVA_ERR_NO_MEMORY;
  }
}

// The _UC path of an export as the library's UTF-16 string.
inline std::u16string WidePath(const TOVA_WCHAR* path) {
  std::u16string out;
  if (path)
    for (const TOVA_WCHAR* p = path; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

}  // namespace tova::api
