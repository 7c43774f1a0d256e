// Exports of file housekeeping: deletion, renaming and size of a stored
// document with its continuation files, and the deletion of old documents.
// Each narrow form converts its paths and then behaves as its _UC form.
#include "api/export_frame.h"
#include "housekeeping/housekeeping.h"
#include "model/document_files.h"

using tova::Code;
using namespace tova::api;
namespace hk = tova::housekeeping;
using tova::platform::NarrowPathToUtf16;

namespace {

Code Delete(const std::u16string& path) {
  return tova::DeleteWithContinuations(path) ? Code::kOk : Code::kDelete;
}

Code Rename(const std::u16string& old_path, const std::u16string& new_path) {
  return hk::RenameWithContinuations(old_path, new_path) ? Code::kOk : Code::kRename;
}

// The export sets the output to 0.0 first, so that it holds 0.0 whenever the
// size cannot be given (also when memory runs out on the way).
Code Size(const std::u16string& path, double* size_mb) {
  double size = 0.0;
  RETURN_IF(!hk::GetSizeWithContinuations(path, size), Code::kFileSize);
  *size_mb = size;
  return Code::kOk;
}

Code DeleteOld(const std::u16string& pattern, uint32_t age, const volatile uint32_t* stop) {
  return hk::DeleteOldFiles(pattern, age, stop) ? Code::kOk : Code::kDelete;
}

}  // namespace

extern "C" {

int32_t TOVADLL_FILE_DELETE(const char* path) {
  if (!path) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return Delete(NarrowPathToUtf16(path)); });
}

int32_t TOVADLL_FILE_DELETE_UC(const TOVA_WCHAR* path) {
  if (!path) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return Delete(WidePath(path)); });
}

int32_t TOVADLL_FILE_RENAME(const char* oldPath, const char* newPath) {
  if (!oldPath || !newPath) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return Rename(NarrowPathToUtf16(oldPath), NarrowPathToUtf16(newPath)); });
}

int32_t TOVADLL_FILE_RENAME_UC(const TOVA_WCHAR* oldPath, const TOVA_WCHAR* newPath) {
  if (!oldPath || !newPath) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return Rename(WidePath(oldPath), WidePath(newPath)); });
}

int32_t TOVADLL_GET_FILE_SIZE(const char* path, double* sizeMB) {
  if (!path || !sizeMB) return TOVA_ERR_NULL_POINTER;
  *sizeMB = 0.0;
  return Guarded([&] { return Size(NarrowPathToUtf16(path), sizeMB); });
}

int32_t TOVADLL_GET_FILE_SIZE_UC(const TOVA_WCHAR* path, double* sizeMB) {
  if (!path || !sizeMB) return TOVA_ERR_NULL_POINTER;
  *sizeMB = 0.0;
  return Guarded([&] { return Size(WidePath(path), sizeMB); });
}

int32_t TOVADLL_FILE_DELETE_ALL_OLD(const char* pattern, uint32_t ageSeconds) {
  if (!pattern) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return DeleteOld(NarrowPathToUtf16(pattern), ageSeconds, nullptr); });
}

int32_t TOVADLL_FILE_DELETE_ALL_OLD_UC(const TOVA_WCHAR* pattern, uint32_t ageSeconds) {
  if (!pattern) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return DeleteOld(WidePath(pattern), ageSeconds, nullptr); });
}

int32_t TOVADLL_FILE_DELETE_ALL_OLD_EX(const char* pattern, uint32_t ageSeconds, const volatile uint32_t* stop) {
  if (!pattern) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return DeleteOld(NarrowPathToUtf16(pattern), ageSeconds, stop); });
}

int32_t TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(const TOVA_WCHAR* pattern, uint32_t ageSeconds,
                                          const volatile uint32_t* stop) {
  if (!pattern) return TOVA_ERR_NULL_POINTER;
  return Guarded([&] { return DeleteOld(WidePath(pattern), ageSeconds, stop); });
}

}  // extern "C"
