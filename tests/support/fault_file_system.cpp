// The fault-injecting file layer and its scope guard (see the header).
#include "support/fault_file_system.h"

#include <array>
#include <mutex>

namespace tova::testing {

namespace {
constexpr size_t kOps = static_cast<size_t>(FsOp::SyncDirectory) + 1;
size_t Index(FsOp op) { return static_cast<size_t>(op); }
}  // namespace

struct FaultFileSystem::State {
  mutable std::mutex mutex;
  std::array<int, kOps> counts{};
  std::array<int, kOps> nth_remaining{};  // calls until the chosen one fails; 0 = none chosen
  std::array<bool, kOps> always{};
  std::array<std::u16string, kOps> always_part{};
  uint64_t bytes_read = 0;

  // Counts one call of op on path (and second_path, for renames) and tells
  // whether it is to fail.
  bool ShouldFail(FsOp op, const std::u16string& path, const std::u16string* second_path = nullptr) {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t i = Index(op);
    ++counts[i];
    bool fail = false;
    if (nth_remaining[i] > 0 && --nth_remaining[i] == 0) fail = true;
    if (always[i]) {
      const std::u16string& part = always_part[i];
      if (part.empty() || path.find(part) != std::u16string::npos ||
          (second_path && second_path->find(part) != std::u16string::npos))
        fail = true;
    }
    return fail;
  }

  void AddBytesRead(uint32_t n) {
    std::lock_guard<std::mutex> lock(mutex);
    bytes_read += n;
  }
};

namespace {

// A file of the system's layer whose calls are counted and may be failed.
class FaultFile final : public platform::File {
 public:
  FaultFile(std::shared_ptr<FaultFileSystem::State> state, std::unique_ptr<platform::File> inner,
            std::u16string path)
      : state_(std::move(state)), inner_(std::move(inner)), path_(std::move(path)) {}

  bool Read(void* buffer, uint32_t n, uint32_t& got) override {
    got = 0;
    if (state_->ShouldFail(FsOp::Read, path_)) return false;
    const bool ok = inner_->Read(buffer, n, got);
    if (ok) state_->AddBytesRead(got);
    return ok;
  }
  bool Write(const void* data, uint32_t n) override {
    if (state_->ShouldFail(FsOp::Write, path_)) {
      inner_->Write(data, n / 2);  // the disk filled up half-way
      return false;
    }
    return inner_->Write(data, n);
  }
  bool Seek(uint64_t position) override {
    return !state_->ShouldFail(FsOp::Seek, path_) && inner_->Seek(position);
  }
  bool SeekToEnd(uint64_t& position) override {
    return !state_->ShouldFail(FsOp::Seek, path_) && inner_->SeekToEnd(position);
  }
  bool Position(uint64_t& position) override {
    return !state_->ShouldFail(FsOp::Seek, path_) && inner_->Position(position);
  }
  bool Size(uint64_t& size) override { return !state_->ShouldFail(FsOp::Size, path_) && inner_->Size(size); }
  bool Truncate(uint64_t size) override {
    return !state_->ShouldFail(FsOp::Truncate, path_) && inner_->Truncate(size);
  }
  bool Flush() override { return !state_->ShouldFail(FsOp::Flush, path_) && inner_->Flush(); }
  bool Close() override {
    const bool fail = state_->ShouldFail(FsOp::Close, path_);
    const bool ok = inner_->Close();  // the handle goes either way
    return ok && !fail;
  }
  void Abort() override { inner_->Abort(); }

 private:
  std::shared_ptr<FaultFileSystem::State> state_;
  std::unique_ptr<platform::File> inner_;
  std::u16string path_;
};

}  // namespace

FaultFileSystem::FaultFileSystem() : state_(std::make_shared<State>()), base_(platform::SystemFileSystem()) {}

FaultFileSystem::~FaultFileSystem() = default;

void FaultFileSystem::FailNth(FsOp op, int n) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->nth_remaining[Index(op)] = n > 0 ? n : 0;
}

void FaultFileSystem::FailAlways(FsOp op, std::u16string path_part) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->always[Index(op)] = true;
  state_->always_part[Index(op)] = std::move(path_part);
}

void FaultFileSystem::Clear() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->nth_remaining.fill(0);
  state_->always.fill(false);
  for (std::u16string& part : state_->always_part) part.clear();
}

int FaultFileSystem::Count(FsOp op) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->counts[Index(op)];
}

uint64_t FaultFileSystem::BytesRead() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->bytes_read;
}

void FaultFileSystem::ResetCounters() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->counts.fill(0);
  state_->bytes_read = 0;
}

std::unique_ptr<platform::File> FaultFileSystem::Open(const std::u16string& path, platform::OpenMode mode) {
  if (state_->ShouldFail(FsOp::Open, path)) return nullptr;
  std::unique_ptr<platform::File> inner = base_.Open(path, mode);
  if (!inner) return nullptr;
  return std::make_unique<FaultFile>(state_, std::move(inner), path);
}

bool FaultFileSystem::Exists(const std::u16string& path) {
  return !state_->ShouldFail(FsOp::Exists, path) && base_.Exists(path);
}

bool FaultFileSystem::Delete(const std::u16string& path) {
  return !state_->ShouldFail(FsOp::Delete, path) && base_.Delete(path);
}

bool FaultFileSystem::Rename(const std::u16string& old_path, const std::u16string& new_path) {
  return !state_->ShouldFail(FsOp::Rename, old_path, &new_path) && base_.Rename(old_path, new_path);
}

bool FaultFileSystem::Size(const std::u16string& path, uint64_t& size) {
  return !state_->ShouldFail(FsOp::Size, path) && base_.Size(path, size);
}

bool FaultFileSystem::FindFiles(const std::u16string& pattern, std::vector<platform::DirEntry>& entries) {
  if (state_->ShouldFail(FsOp::FindFiles, pattern)) {
    entries.clear();
    return false;
  }
  return base_.FindFiles(pattern, entries);
}

bool FaultFileSystem::GetTimes(const std::u16string& path, platform::FileTimes& times) {
  if (state_->ShouldFail(FsOp::GetTimes, path)) return false;
  if (times_hook && times_hook(path, times)) return true;
  return base_.GetTimes(path, times);
}

bool FaultFileSystem::RemoveDirectory(const std::u16string& path) {
  return !state_->ShouldFail(FsOp::RemoveDirectory, path) && base_.RemoveDirectory(path);
}

bool FaultFileSystem::SyncDirectoryOf(const std::u16string& path) {
  return !state_->ShouldFail(FsOp::SyncDirectory, path) && base_.SyncDirectoryOf(path);
}

int64_t FaultFileSystem::Now() { return now_hook ? now_hook() : base_.Now(); }

ScopedFileSystem::ScopedFileSystem(platform::FileSystem& fs) {
  platform::FileSystem* current = &platform::GetFileSystem();
  previous_ = current == &platform::SystemFileSystem() ? nullptr : current;
  platform::SetFileSystemForTesting(&fs);
}

ScopedFileSystem::~ScopedFileSystem() { platform::SetFileSystemForTesting(previous_); }

}  // namespace tova::testing
