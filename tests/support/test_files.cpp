// File helpers for tests, built on std::filesystem so that they work the same
// natively and in the Windows build.
#include "support/test_files.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <system_error>

#include "platform/file_system.h"
#include "platform/text.h"

namespace tova::testing {

namespace fs = std::filesystem;

namespace {

fs::path ToPath(const std::u16string& path) { return fs::path(path); }

// Directories made by TempDir that are still to be removed when the program ends.
class LeftoverDirectories {
 public:
  void Add(const fs::path& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.push_back(p);
  }
  ~LeftoverDirectories() {
    std::error_code ec;
    for (const fs::path& p : paths_) fs::remove_all(p, ec);
  }

 private:
  std::mutex mutex_;
  std::vector<fs::path> paths_;
};

LeftoverDirectories& Leftovers() {
  static LeftoverDirectories leftovers;
  return leftovers;
}

}  // namespace

std::u16string TempDir() {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t seed = [] {
    std::random_device rd;
    return (static_cast<uint64_t>(rd()) << 32) ^ rd() ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const uint64_t n = counter.fetch_add(1);
    const fs::path dir = base / ("tova_test_" + std::to_string(seed % 1000000007u) + "_" + std::to_string(n));
    if (fs::create_directory(dir, ec)) {
      Leftovers().Add(dir);
      return dir.u16string();
    }
  }
  return std::u16string();
}

TempTree::TempTree() : path_(TempDir()) {}

TempTree::~TempTree() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(ToPath(path_), ec);
}

std::u16string TempTree::Path(std::u16string_view relative) const { return JoinPath(path_, relative); }

std::u16string JoinPath(std::u16string_view dir, std::u16string_view name) {
  std::u16string out(dir);
  if (!out.empty() && out.back() != platform::kPathSeparator) out += platform::kPathSeparator;
  for (char16_t c : name) out += c == u'/' ? platform::kPathSeparator : c;
  return out;
}

bool WriteFileBytes(const std::u16string& path, const void* data, size_t size) {
  std::ofstream out(ToPath(path), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return !out.fail();
}

bool WriteFileBytes(const std::u16string& path, const std::vector<uint8_t>& bytes) {
  return WriteFileBytes(path, bytes.data(), bytes.size());
}

bool WriteFileBytes(const std::u16string& path, std::string_view bytes) {
  return WriteFileBytes(path, bytes.data(), bytes.size());
}

std::vector<uint8_t> ReadFileBytes(const std::u16string& path) {
  std::ifstream in(ToPath(path), std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool MakeFileOfSize(const std::u16string& path, uint64_t size) {
  if (!WriteFileBytes(path, std::string_view())) return false;
  std::error_code ec;
  fs::resize_file(ToPath(path), size, ec);
  return !ec;
}

bool MakeDirectory(const std::u16string& path) {
  std::error_code ec;
  return fs::create_directories(ToPath(path), ec) || fs::is_directory(ToPath(path), ec);
}

bool PathExists(const std::u16string& path) {
  std::error_code ec;
  return fs::exists(ToPath(path), ec);
}

bool SetModificationTime(const std::u16string& path, int64_t seconds_since_1970) {
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(seconds_since_1970));
  std::error_code ec;
  fs::last_write_time(ToPath(path), std::chrono::file_clock::from_sys(when), ec);
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
