// Helpers shared by the tests of the exported interface: UTF-16 path
// arguments, memory documents of several datasets, closing a handle at the
// end of a test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "model/tova_file.h"
#include "platform/document_lock.h"

namespace tova_test {

// The path as the _UC exports take it.
inline std::basic_string<TOVA_WCHAR> WidePath(const std::u16string& p) { return {p.begin(), p.end()}; }

// A memory document (data unit 2, calibration 0x0100) of `datasets` datasets;
// its global header holds 0x0100 "v1" so that the datasets count. The appends
// that grow a memory document belong to another unit, so the later datasets
// are added as empty sections, under the document lock.
inline uint64_t OpenMemoryDocument(uint32_t datasets) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
  if (h == TOVADLL_INVALID_HANDLE || datasets == 0) return h;
  TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0100, 2, "v1");
  std::shared_ptr<tova::CTOVAFile> doc = tova::api::TheRegistry().Find(h);
  tova::platform::DocumentLockGuard guard(doc->lock);
  for (uint32_t i = 1; i < datasets; ++i) doc->CreateFirstDatasetSections();
  return h;
}

// A handle that is closed when the test ends; it passes for the handle itself.
class ScopedHandle {
 public:
  explicit ScopedHandle(uint64_t h) : h_(h) {}
  ~ScopedHandle() { TOVADLL_CLOSE_FILE(h_); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  operator uint64_t() const { return h_; }

 private:
  uint64_t h_;
};

}  // namespace tova_test
