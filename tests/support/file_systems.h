// Test doubles of the file layer, all built by forwarding: ForwardingFileSystem
// hands every call to the system's own layer and wraps each file it opens
// through WrapFile; a double derives and overrides only what it changes.
// ScopedFileSystem installs one for the life of a scope.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tova::testing {

class ForwardingFile : public platform::File {
 public:
  ForwardingFile(std::unique_ptr<platform::File> inner, std::u16string path)
      : inner_(std::move(inner)), path_(std::move(path)) {}
  bool Read(void* b, uint32_t n, uint32_t& got) override { return inner_->Read(b, n, got); }
  bool Write(const void* d, uint32_t n) override { return inner_->Write(d, n); }
  bool Seek(uint64_t p) override { return inner_->Seek(p); }
  bool SeekToEnd(uint64_t& p) override { return inner_->SeekToEnd(p); }
  bool Position(uint64_t& p) override { return inner_->Position(p); }
  bool Size(uint64_t& s) override { return inner_->Size(s); }
  bool Truncate(uint64_t s) override { return inner_->Truncate(s); }
  bool Flush() override { return inner_->Flush(); }
  bool Close() override { return inner_->Close(); }
  void Abort() override { inner_->Abort(); }
  bool ReleaseShare() override { return inner_->ReleaseShare(); }
  bool RetakeShare() override { return inner_->RetakeShare(); }

 protected:
  std::unique_ptr<platform::File> inner_;
  std::u16string path_;  // as opened
};

class ForwardingFileSystem : public platform::FileSystem {
 public:
  std::unique_ptr<platform::File> Open(const std::u16string& path, platform::OpenMode mode) override {
    std::unique_ptr<platform::File> inner = base_.Open(path, mode);
    return inner ? WrapFile(std::move(inner), path) : nullptr;
  }
  bool Exists(const std::u16string& p) override { return base_.Exists(p); }
  bool Delete(const std::u16string& p) override { return base_.Delete(p); }
  bool Rename(const std::u16string& a, const std::u16string& b) override { return base_.Rename(a, b); }
  bool Size(const std::u16string& p, uint64_t& s) override { return base_.Size(p, s); }
  bool FindFiles(const std::u16string& p, std::vector<platform::DirEntry>& e) override { return base_.FindFiles(p, e); }
  bool GetTimes(const std::u16string& p, platform::FileTimes& t) override { return base_.GetTimes(p, t); }
  bool RemoveDirectory(const std::u16string& p) override { return base_.RemoveDirectory(p); }
  bool SyncDirectoryOf(const std::u16string& p) override { return base_.SyncDirectoryOf(p); }
  int64_t Now() override { return base_.Now(); }

 protected:
  virtual std::unique_ptr<platform::File> WrapFile(std::unique_ptr<platform::File> inner, const std::u16string&) {
    return inner;
  }
  platform::FileSystem& base_ = platform::SystemFileSystem();
};

// Leaves stable storage alone (flushes and directory syncs succeed at once):
// for tests that cut documents into hundreds of parts and do not test durability.
class NoSyncFileSystem final : public ForwardingFileSystem {
  struct NoSyncFile final : ForwardingFile {
    using ForwardingFile::ForwardingFile;
    bool Flush() override { return true; }
  };
  std::unique_ptr<platform::File> WrapFile(std::unique_ptr<platform::File> f, const std::u16string& p) override {
    return std::make_unique<NoSyncFile>(std::move(f), p);
  }

 public:
  bool SyncDirectoryOf(const std::u16string&) override { return true; }
};

// Calls on_read before each read (with the file's path and the position the
// read starts at) and on_close after each close, on the thread that reads.
class HookFileSystem final : public ForwardingFileSystem {
 public:
  std::function<void(const std::u16string& path, uint64_t position)> on_read;
  std::function<void(const std::u16string& path)> on_close;

 private:
  struct HookFile final : ForwardingFile {
    HookFile(HookFileSystem& fs, std::unique_ptr<platform::File> f, const std::u16string& p)
        : ForwardingFile(std::move(f), p), fs_(fs) {}
    bool Read(void* b, uint32_t n, uint32_t& got) override {
      uint64_t position = 0;
      if (fs_.on_read && inner_->Position(position)) fs_.on_read(path_, position);
      return inner_->Read(b, n, got);
    }
    bool Close() override {
      const bool ok = inner_->Close();
      if (fs_.on_close) fs_.on_close(path_);
      return ok;
    }
    HookFileSystem& fs_;
  };
  std::unique_ptr<platform::File> WrapFile(std::unique_ptr<platform::File> f, const std::u16string& p) override {
    return std::make_unique<HookFile>(*this, std::move(f), p);
  }
};

enum class FsOp { Open, Read, Write, Seek, Size, Truncate, Flush, Close, Exists, Delete, Rename, FindFiles, GetTimes,
                  RemoveDirectory, SyncDirectory, kCount };
inline const char* OpName(FsOp op) {
  static const char* const names[] = {"Open",  "Read",   "Write",  "Seek",   "Size",      "Truncate", "Flush",
                                      "Close", "Exists", "Delete", "Rename", "FindFiles", "GetTimes", "RemoveDirectory",
                                      "SyncDirectory"};
  return names[static_cast<int>(op)];
}

// Counts every call per operation and fails the ones a test chooses: the n-th
// call of an operation from now on, or every call on a path holding a text.
// A failed Write writes half the bytes first (a disk that fills up); a failed
// Close releases the handle. Files opened here may outlive the object.
class FaultFileSystem : public ForwardingFileSystem {
 private:
  static size_t I(FsOp op) { return static_cast<size_t>(op); }
  static constexpr size_t kOps = static_cast<size_t>(FsOp::kCount);
  struct State {
    std::mutex mutex;
    std::array<int, kOps> count{}, nth{};  // nth: calls until the chosen one fails, 0 for none
    std::array<bool, kOps> always{};
    std::array<std::u16string, kOps> part{};
    uint64_t bytes_read = 0;
    bool Hit(FsOp op, const std::u16string& path, const std::u16string* other = nullptr) {
      std::lock_guard<std::mutex> lock(mutex);
      const size_t i = I(op);
      ++count[i];
      const bool nth_hit = nth[i] > 0 && --nth[i] == 0;
      auto holds = [&](const std::u16string& p) { return p.find(part[i]) != std::u16string::npos; };
      return nth_hit || (always[i] && (holds(path) || (other && holds(*other))));
    }
  };
  template <typename F>
  auto Locked(F f) const {
    std::lock_guard<std::mutex> lock(s_->mutex);
    return f();
  }
  bool Hit(FsOp op, const std::u16string& p, const std::u16string* other = nullptr) { return s_->Hit(op, p, other); }


 public:
  void FailNth(FsOp op, int n) { Locked([&] { s_->nth[I(op)] = n; }); }
  void FailAlways(FsOp op, std::u16string path_part = u"") {
    Locked([&] { s_->always[I(op)] = true, s_->part[I(op)] = std::move(path_part); });
  }
  void Clear() { Locked([&] { s_->nth.fill(0), s_->always.fill(false); }); }
  int Count(FsOp op) const { return Locked([&] { return s_->count[I(op)]; }); }
  uint64_t BytesRead() const { return Locked([&] { return s_->bytes_read; }); }
  void ResetCounters() { Locked([&] { s_->count.fill(0), s_->bytes_read = 0; }); }

  std::unique_ptr<platform::File> Open(const std::u16string& p, platform::OpenMode m) override {
    return Hit(FsOp::Open, p) ? nullptr : ForwardingFileSystem::Open(p, m);
  }
  bool Exists(const std::u16string& p) override { return !Hit(FsOp::Exists, p) && base_.Exists(p); }
  bool Delete(const std::u16string& p) override { return !Hit(FsOp::Delete, p) && base_.Delete(p); }
  bool Rename(const std::u16string& a, const std::u16string& b) override {
    return !Hit(FsOp::Rename, a, &b) && base_.Rename(a, b);
  }
  bool Size(const std::u16string& p, uint64_t& s) override { return !Hit(FsOp::Size, p) && base_.Size(p, s); }
  bool FindFiles(const std::u16string& p, std::vector<platform::DirEntry>& e) override {
    return Hit(FsOp::FindFiles, p) ? (e.clear(), false) : base_.FindFiles(p, e);
  }
  bool GetTimes(const std::u16string& p, platform::FileTimes& t) override {
    return !Hit(FsOp::GetTimes, p) && base_.GetTimes(p, t);
  }
  bool RemoveDirectory(const std::u16string& p) override {
    return !Hit(FsOp::RemoveDirectory, p) && base_.RemoveDirectory(p);
  }
  bool SyncDirectoryOf(const std::u16string& p) override {
    return !Hit(FsOp::SyncDirectory, p) && base_.SyncDirectoryOf(p);
  }

 private:
  struct FaultFile final : ForwardingFile {
    FaultFile(std::shared_ptr<State> s, std::unique_ptr<platform::File> f, const std::u16string& p)
        : ForwardingFile(std::move(f), p), s_(std::move(s)) {}
    bool Read(void* b, uint32_t n, uint32_t& got) override {
      got = 0;
      if (s_->Hit(FsOp::Read, path_) || !inner_->Read(b, n, got)) return false;
      std::lock_guard<std::mutex> lock(s_->mutex);
      s_->bytes_read += got;
      return true;
    }
    bool Write(const void* d, uint32_t n) override {
      return s_->Hit(FsOp::Write, path_) ? (inner_->Write(d, n / 2), false) : inner_->Write(d, n);
    }
    bool Seek(uint64_t p) override { return !s_->Hit(FsOp::Seek, path_) && inner_->Seek(p); }
    bool SeekToEnd(uint64_t& p) override { return !s_->Hit(FsOp::Seek, path_) && inner_->SeekToEnd(p); }
    bool Position(uint64_t& p) override { return !s_->Hit(FsOp::Seek, path_) && inner_->Position(p); }
    bool Size(uint64_t& s) override { return !s_->Hit(FsOp::Size, path_) && inner_->Size(s); }
    bool Truncate(uint64_t s) override { return !s_->Hit(FsOp::Truncate, path_) && inner_->Truncate(s); }
    bool Flush() override { return !s_->Hit(FsOp::Flush, path_) && inner_->Flush(); }
    bool Close() override {
      const bool fail = s_->Hit(FsOp::Close, path_);
      return inner_->Close() && !fail;  // the handle goes either way
    }
    std::shared_ptr<State> s_;
  };
  std::unique_ptr<platform::File> WrapFile(std::unique_ptr<platform::File> f, const std::u16string& p) override {
    return std::make_unique<FaultFile>(s_, std::move(f), p);
  }

  std::shared_ptr<State> s_ = std::make_shared<State>();
};

class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(platform::FileSystem& fs) : previous_(&platform::GetFileSystem()) {
    platform::SetFileSystemForTesting(&fs);
  }
  ~ScopedFileSystem() {
    platform::SetFileSystemForTesting(previous_ == &platform::SystemFileSystem() ? nullptr : previous_);
  }
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  platform::FileSystem* previous_;
};

}  // namespace tova::testing
