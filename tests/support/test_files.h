// File helpers for tests: fresh temporary directories removed at the end of
// the scope, whole-file reads and writes, sparse files of a given size and
// modification times. Paths are UTF-16 with the platform's separator, as the
// library takes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tova::testing {

// A fresh, empty, uniquely named directory below the system's temporary
// directory, removed with everything in it when the holder goes out of scope.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  // The directory itself, without a trailing separator.
  const std::u16string& path() const { return path_; }
  // path() + separator + relative ('/' in relative becomes the platform's separator).
  std::u16string Path(std::u16string_view relative) const;

 private:
  std::u16string path_;
};

// Writes the bytes as the whole file (created or truncated). False on failure.
bool WriteFileBytes(const std::u16string& path, const void* data, size_t size);
inline bool WriteFileBytes(const std::u16string& path, const std::vector<uint8_t>& b) {
  return WriteFileBytes(path, b.data(), b.size());
}
inline bool WriteFileBytes(const std::u16string& path, std::string_view b) {
  return WriteFileBytes(path, b.data(), b.size());
}
// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::u16string& path);
// Creates (or cuts) the file to size bytes of zeroes, sparse where the file system allows.
bool MakeFileOfSize(const std::u16string& path, uint64_t size);
bool MakeDirectory(const std::u16string& path);
// A regular file or a directory of that name exists.
bool PathExists(const std::u16string& path);
bool SetModificationTime(const std::u16string& path, int64_t seconds_since_1970);
// The path as a narrow path argument of the plain exports (UTF-8 outside
// Windows, the ANSI code page on Windows).
std::string NarrowPath(const std::u16string& path);

}  // namespace tova::testing
