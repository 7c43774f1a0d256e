// The seven file and text services, on top of the file layer in force.
#include "platform/file_services.h"

#include "platform/file_system.h"
#include "platform/text.h"

namespace tova::platform {

bool FileExists(const std::u16string& path) { return !path.empty() && GetFileSystem().Exists(path); }

bool FileDelete(const std::u16string& path) { return !path.empty() && GetFileSystem().Delete(path); }

uint32_t FileSize32(const std::u16string& path) {
  uint64_t size = 0;
  if (path.empty() || !GetFileSystem().Size(path, size) || size > UINT32_MAX) return 0;
  return static_cast<uint32_t>(size);
}

bool FileRename(const std::u16string& old_path, const std::u16string& new_path) {
  return !old_path.empty() && !new_path.empty() && GetFileSystem().Rename(old_path, new_path);
}

std::u16string FileExtension(const std::u16string& path, size_t capacity) {
  // The last dot of the file name (a dot in a directory name is no extension).
  size_t name_start = path.find_last_of(u"/\\");
  name_start = name_start == std::u16string::npos ? 0 : name_start + 1;
  const size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || dot < name_start) return std::u16string();
  std::u16string ext = path.substr(dot);
  if (capacity == 0) return std::u16string();
  if (ext.size() > capacity - 1) ext.resize(capacity - 1);
  return ext;
}

bool FileHasExtension(const std::u16string& path, std::u16string_view ext) {
  const std::u16string have = FileExtension(path);
  if (have.size() != ext.size() + 1) return false;
  return ToUpper(std::u16string_view(have).substr(1)) == ToUpper(ext);
}

std::u16string NarrowToWide(std::string_view narrow) { return NarrowTextToUtf16(narrow); }

}  // namespace tova::platform
