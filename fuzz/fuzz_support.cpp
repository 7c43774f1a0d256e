// The in-memory file layer of the fuzz targets and the scope that installs it.
#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "format/part_limit.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace tova::fuzz {

namespace {

using Bytes = std::vector<uint8_t>;
// Writes beyond this fail, as on a full disk: no input makes the layer grow without bound.
constexpr uint64_t kMaxFileSize = 64u << 20;

class MemoryFile final : public platform::File {
 public:
  explicit MemoryFile(std::shared_ptr<Bytes> bytes) : bytes_(std::move(bytes)) {}
  bool Read(void* buffer, uint32_t n, uint32_t& got) override {
    got = pos_ < bytes_->size() ? static_cast<uint32_t>(std::min<uint64_t>(n, bytes_->size() - pos_)) : 0;
    if (got) std::memcpy(buffer, bytes_->data() + pos_, got);
    pos_ += got;
    return true;
  }
  bool Write(const void* data, uint32_t n) override {
    if (pos_ + n > kMaxFileSize) return false;
    if (bytes_->size() < pos_ + n) bytes_->resize(pos_ + n);
    if (n) std::memcpy(bytes_->data() + pos_, data, n);
    pos_ += n;
    return true;
  }
  bool Seek(uint64_t position) override {
    pos_ = position;
    return true;
  }
  bool SeekToEnd(uint64_t& position) override {
    position = pos_ = bytes_->size();
    return true;
  }
  bool Position(uint64_t& position) override {
    position = pos_;
    return true;
  }
  bool Size(uint64_t& size) override {
    size = bytes_->size();
    return true;
  }
  bool Truncate(uint64_t size) override {
    if (size > kMaxFileSize) return false;
    bytes_->resize(size);
    return true;
  }
  bool Flush() override { return true; }
  bool Close() override { return true; }
  void Abort() override {}

 private:
  std::shared_ptr<Bytes> bytes_;
  uint64_t pos_ = 0;
};

// Files by name; no directories, no share rules (one input uses files one
// after another).
class MemoryFileSystem final : public platform::FileSystem {
 public:
  std::unique_ptr<platform::File> Open(const std::u16string& path, platform::OpenMode mode) override {
    auto it = files_.find(path);
    if (mode == platform::OpenMode::ReadShared) {
      if (it == files_.end()) return nullptr;
      return std::make_unique<MemoryFile>(it->second);
    }
    if (it == files_.end()) it = files_.emplace(path, std::make_shared<Bytes>()).first;
    if (mode == platform::OpenMode::WriteCreate || mode == platform::OpenMode::ReadWriteCreate) it->second->clear();
    return std::make_unique<MemoryFile>(it->second);
  }
  bool Exists(const std::u16string& path) override { return files_.count(path) != 0; }
  bool Delete(const std::u16string& path) override {
    files_.erase(path);
    return true;
  }
  bool Rename(const std::u16string& old_path, const std::u16string& new_path) override {
    auto it = files_.find(old_path);
    if (it == files_.end()) return false;
    auto bytes = it->second;
    files_.erase(it);
    files_[new_path] = bytes;
    return true;
  }
  bool Size(const std::u16string& path, uint64_t& size) override {
    auto it = files_.find(path);
    if (it == files_.end()) return false;
    size = it->second->size();
    return true;
  }
  bool FindFiles(const std::u16string& pattern, std::vector<platform::DirEntry>& entries) override {
    const size_t slash = pattern.find_last_of(u"/\\");
    const std::u16string dir = slash == std::u16string::npos ? u"" : pattern.substr(0, slash + 1);
    for (const auto& [name, bytes] : files_)
      if (name.compare(0, dir.size(), dir) == 0 &&
          platform::WildcardMatch(std::u16string_view(pattern).substr(dir.size()), std::u16string_view(name).substr(dir.size())))
        entries.push_back({name.substr(dir.size()), false, false});
    return true;
  }
  bool GetTimes(const std::u16string& path, platform::FileTimes& times) override {
    times = {};
    return Exists(path);
  }
  bool RemoveDirectory(const std::u16string&) override { return false; }
  bool SyncDirectoryOf(const std::u16string&) override { return true; }
  int64_t Now() override { return 0; }

  void Clear() { files_.clear(); }
  std::map<std::u16string, std::shared_ptr<Bytes>> files_;
};

MemoryFileSystem& Memory() {
  static MemoryFileSystem* fs = new MemoryFileSystem;  // lives as long as the process
  return *fs;
}

std::u16string Wide(const std::string& name) { return platform::Utf8ToUtf16(name); }

}  // namespace

FuzzScope::FuzzScope(uint32_t part_limit) {
  Memory().Clear();
  platform::SetFileSystemForTesting(&Memory());
  format::SetPartSizeLimitForTesting(part_limit);
}

FuzzScope::~FuzzScope() {
  format::SetPartSizeLimitForTesting(0);
  platform::SetFileSystemForTesting(nullptr);
  Memory().Clear();
}

void FuzzScope::Put(const std::string& name, const uint8_t* data, size_t size) {
  Memory().files_[Wide(name)] = std::make_shared<Bytes>(data, data + size);
}

std::vector<uint8_t> FuzzScope::Get(const std::string& name) const {
  auto it = Memory().files_.find(Wide(name));
  return it == Memory().files_.end() ? Bytes{} : *it->second;
}

bool FuzzScope::Exists(const std::string& name) const { return Memory().files_.count(Wide(name)) != 0; }

std::string PartName(const std::string& main, unsigned part) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " %.3u", part);
  return main + suffix;
}

}  // namespace tova::fuzz
