// Exports of opening for writing, appending and saving.
#include "api/export_frame.h"
#include "format/appender.h"

using tova::CTOVAFile;
using namespace tova::api;

namespace {

// Two-document exports: target looked up first, then source; locked in that
// order and released in reverse. The same document twice takes its
// re-entrant lock twice.
template <typename Op>
int32_t WithTwoDocuments(uint64_t target, uint64_t source, Op&& op) {
  return Guarded([&]() -> int32_t {
    std::shared_ptr<CTOVAFile> t = TheRegistry().Find(target);
    if (!t) return TOVA_ERR_HANDLE;
    std::shared_ptr<CTOVAFile> s = TheRegistry().Find(source);
    if (!s) return TOVA_ERR_HANDLE;
    tova::platform::DocumentLockGuard target_guard(t->lock);
    tova::platform::DocumentLockGuard source_guard(s->lock);
    return op(*t, *s);
  });
}

uint64_t OpenWriting(const std::u16string& path, uint32_t append, uint32_t read_write) {
  return OpenDocument([&](CTOVAFile& d) { return tova::format::OpenForWriting(d, path, append, read_write); });
}

}  // namespace

extern "C" {

uint64_t TOVADLL_OPEN_FILE_WRITE(const char* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(tova::platform::NarrowPathToUtf16(path), append, 0);
}

uint64_t TOVADLL_OPEN_FILE_WRITE_UC(const TOVA_WCHAR* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(WidePath(path), append, 0);
}

uint64_t TOVADLL_OPEN_FILE_READWRITE(const char* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(tova::platform::NarrowPathToUtf16(path), append, 1);
}

uint64_t TOVADLL_OPEN_FILE_READWRITE_UC(const TOVA_WCHAR* path, uint32_t append) {
  if (!path) return kInvalidHandle;
  return OpenWriting(WidePath(path), append, 1);
}

int32_t TOVADLL_ADD_TOVA(uint64_t target, uint64_t source, uint32_t all) {
  const uint32_t show = TheRegistry().show_dialog.load();
  return WithTwoDocuments(target, source, [&](CTOVAFile& t, CTOVAFile& s) {
    return tova::format::AddTova(t, s, all, show);
  });
}

int32_t TOVADLL_ADD_TOVA_BUFFERED_WRITE(uint64_t target, uint64_t source, void* buffer, uint32_t bufferSize,
                                        uint32_t* written) {
  return WithTwoDocuments(target, source, [&](CTOVAFile& t, CTOVAFile& s) {
    if (!written || (bufferSize > 0 && !buffer)) return TOVA_ERR_NULL_POINTER;
    return tova::format::AddTovaBufferedWrite(t, s, static_cast<uint8_t*>(buffer), bufferSize, *written);
  });
}

int32_t TOVADLL_SAVE_FILE_UC(uint64_t h, const TOVA_WCHAR* path) {
  const uint32_t show = TheRegistry().show_dialog.load();
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!path) return TOVA_ERR_NULL_POINTER;
    return tova::format::SaveFile(d, WidePath(path), show);
  });
}

int32_t TOVADLL_SAVE_FILE(uint64_t h, const char* path) {
  const uint32_t show = TheRegistry().show_dialog.load();
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!path) return TOVA_ERR_NULL_POINTER;
    return tova::format::SaveFile(d, tova::platform::NarrowPathToUtf16(path), show);
  });
}

}  // extern "C"
