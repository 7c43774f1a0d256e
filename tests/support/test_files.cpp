// File helpers for tests, built on std::filesystem so that they work the same
// natively and in the Windows build.
#include "support/test_files.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/file_system.h"
#include "platform/text.h"

namespace tova::testing {

namespace fs = std::filesystem;

TempTree::TempTree() {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t seed = std::random_device{}() ^ std::chrono::steady_clock::now().time_since_epoch().count();
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
    const fs::path dir = base / ("tova_test_" + std::to_string(seed % 1000000007u) + "_" + std::to_string(counter++));
    if (fs::create_directory(dir, ec)) path_ = dir.u16string();
  }
}

TempTree::~TempTree() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(fs::path(path_), ec);
}

std::u16string TempTree::Path(std::u16string_view relative) const {
  std::u16string out = path_ + platform::kPathSeparator;
  for (char16_t c : relative) out += c == u'/' ? platform::kPathSeparator : c;
  return out;
}

bool WriteFileBytes(const std::u16string& path, const void* data, size_t size) {
  std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return !out.fail();
}

std::vector<uint8_t> ReadFileBytes(const std::u16string& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool MakeFileOfSize(const std::u16string& path, uint64_t size) {
  std::error_code ec;
  if (WriteFileBytes(path, std::string_view())) fs::resize_file(fs::path(path), size, ec);
  return !ec && PathExists(path);
}

bool MakeDirectory(const std::u16string& path) {
  std::error_code ec;
  return fs::create_directories(fs::path(path), ec) || fs::is_directory(fs::path(path), ec);
}

bool PathExists(const std::u16string& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}

bool SetModificationTime(const std::u16string& path, int64_t seconds_since_1970) {
  std::error_code ec;
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(seconds_since_1970));
  fs::last_write_time(fs::path(path), std::chrono::file_clock::from_sys(when), ec);
  return !ec;
}

std::string NarrowPath(const std::u16string& path) {
#ifdef _WIN32
  return platform::Utf16ToNarrowText(path);
#else
  return platform::Utf16ToUtf8(path);
#endif
}

}  // namespace tova::testing
