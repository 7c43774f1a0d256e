// Exports of reading files.
#include "api/export_frame.h"
#include "format/file_reader.h"

using tova::Code;
using tova::CTOVAFile;
using namespace tova::api;

extern "C" {

int32_t TOVADLL_READ_FROM_FILE(uint64_t h, uint32_t readAll, uint32_t showProgress) {
  tova::api::OperationProgress progress(showProgress != 0);
  const auto scope = readAll ? tova::format::ReadScope::kAll : tova::format::ReadScope::kFirstDataset;
  return WithDocument(h, DocLock::kTake,
                      [&](CTOVAFile& d) { return tova::format::ReadFromFile(d, scope, progress.get()); });
}

int32_t TOVADLL_READ_FROM_FILE_AFTER_FIRST(uint64_t h, const volatile uint8_t* cancel) {
  return WithDocument(h, DocLock::kNone, [&](CTOVAFile& d) { return tova::format::ReadAfterFirst(d, cancel); });
}

}  // extern "C"
