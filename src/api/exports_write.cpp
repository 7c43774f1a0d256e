// Exports of opening for writing, appending and saving.
#include "api/export_frame.h"
#include "format/appender.h"
#include "format/open_for_writing.h"
#include "format/safe_save.h"

using tova::Code;
using tova::CTOVAFile;
using namespace tova::api;

namespace {

// Two-document exports: target looked up first, then source; locked in that
// order and released in reverse. The same document twice takes its
// re-entrant lock twice.
template <typename Op>
int32_t WithTwoDocuments(uint64_t target, uint64_t source, Op&& op) {
  return Guarded([&]() -> Code {
    std::shared_ptr<CTOVAFile> t = TheRegistry().Find(target);
    RETURN_IF(!t, Code::kHandle);
    std::shared_ptr<CTOVAFile> s = TheRegistry().Find(source);
    RETURN_IF(!s, Code::kHandle);
    tova::platform::DocumentLockGuard target_guard(t->lock);
    tova::platform::DocumentLockGuard source_guard(s->lock);
    return op(*t, *s);
  });
}

using tova::format::Access;

uint64_t OpenWriting(const std::u16string& path, uint32_t append, Access access) {
  // A read-write document reads an existing file with the dialog.
  OperationProgress progress(true);
  const auto start = append ? tova::format::WriteStart::kAppend : tova::format::WriteStart::kNew;
  return OpenDocument(
      [&](CTOVAFile& d) { return tova::format::OpenForWriting(d, path, start, access, progress.get()); });
}

}  // namespace

extern "C" {

uint64_t TOVADLL_OPEN_FILE_WRITE(const char* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(tova::platform::NarrowPathToUtf16(path), append, Access::kWrite);
}

uint64_t TOVADLL_OPEN_FILE_WRITE_UC(const TOVA_WCHAR* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(WidePath(path), append, Access::kWrite);
}

uint64_t TOVADLL_OPEN_FILE_READWRITE(const char* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(tova::platform::NarrowPathToUtf16(path), append, Access::kReadWrite);
}

uint64_t TOVADLL_OPEN_FILE_READWRITE_UC(const TOVA_WCHAR* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(WidePath(path), append, Access::kReadWrite);
}

int32_t TOVADLL_ADD_TOVA(uint64_t target, uint64_t source, uint32_t all) {
  OperationProgress progress(DialogSetting());
  const auto scope = all ? tova::format::AddScope::kAll : tova::format::AddScope::kCurrent;
  return WithTwoDocuments(target, source,
                          [&](CTOVAFile& t, CTOVAFile& s) { return tova::format::AddTova(t, s, scope, progress.get()); });
}

int32_t TOVADLL_ADD_TOVA_BUFFERED_WRITE(uint64_t target, uint64_t source, void* buffer, uint32_t bufferSize,
                                        uint32_t* written) {
  return WithTwoDocuments(target, source, [&](CTOVAFile& t, CTOVAFile& s) {
    if (!written || (bufferSize > 0 && !buffer)) return Code::kNullPointer;
    return tova::format::AddTovaBufferedWrite(t, s, static_cast<uint8_t*>(buffer), bufferSize, *written);
  });
}

int32_t TOVADLL_SAVE_FILE_UC(uint64_t h, const TOVA_WCHAR* path) {
  OperationProgress progress(DialogSetting());
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    RETURN_IF(!path, Code::kNullPointer);
    return tova::format::SaveFile(d, WidePath(path), progress.get());
  });
}

int32_t TOVADLL_SAVE_FILE(uint64_t h, const char* path) {
  OperationProgress progress(DialogSetting());
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    RETURN_IF(!path, Code::kNullPointer);
    return tova::format::SaveFile(d, tova::platform::NarrowPathToUtf16(path), progress.get());
  });
}

}  // extern "C"
