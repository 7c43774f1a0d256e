// Helpers shared by the tests of the exported interface and the document
// model: paths in the form of the _UC exports and memory documents of several
// datasets.
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
inline std::basic_string<TOVA_WCHAR> WidePath(const std::u16string& p) {
  return std::basic_string<TOVA_WCHAR>(p.begin(), p.end());
}

// Gives a memory document one more (empty) dataset. The appends that grow a
// memory document through the interface belong to another unit, so the
// tests of this one add the sections directly, under the document lock.
inline void AddMemoryDataset(uint64_t h) {
  std::shared_ptr<tova::CTOVAFile> doc = tova::api::TheRegistry().Find(h);
  if (!doc) return;
  tova::platform::DocumentLockGuard guard(doc->lock);
  doc->data_headers.push_back(std::make_unique<tova::CTOVASection>(tova::kSectDataHeader));
  doc->images.push_back(std::make_unique<tova::CTOVASection>(tova::kSectImage));
}

// A memory document (data unit 2, calibration 0x0100) of `datasets` datasets;
// its global header holds 0x0100 "v1" so that the datasets count.
inline uint64_t OpenMemoryDocument(uint32_t datasets) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
  if (h == TOVADLL_INVALID_HANDLE || datasets == 0) return h;
  TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0100, 2, "v1");
  for (uint32_t i = 1; i < datasets; ++i) AddMemoryDataset(h);
  return h;
}

// Closes a handle when the test ends.
class DocumentCloser {
 public:
  explicit DocumentCloser(uint64_t h) : h_(h) {}
  ~DocumentCloser() { TOVADLL_CLOSE_FILE(h_); }
  DocumentCloser(const DocumentCloser&) = delete;
  DocumentCloser& operator=(const DocumentCloser&) = delete;

 private:
  uint64_t h_;
};

}  // namespace tova_test
