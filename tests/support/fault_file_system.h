// A fault-injecting file layer for tests: forwards every call to the system's
// own file layer, counts the calls per operation, and fails the ones a test
// chooses (the n-th call of an operation, or every call on a path holding a
// given text). Files opened through it are wrapped the same way, so reads,
// writes, seeks, flushes and closes of a document can fail too.
//
// What a failure does:
//   Open       returns null, nothing is opened
//   Write      writes the first half of the bytes (a disk that fills up), then reports failure
//   Close      releases the handle, then reports failure
//   Read       reads nothing and reports failure
//   others     do nothing and report failure (Exists reports "no such file")
//
// Install it with ScopedFileSystem. Counters and failure settings are guarded
// by a mutex, so documents may use it from several threads; the hooks are
// plain members, set them before the code under test runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tova::testing {

enum class FsOp {
  Open,
  Read,
  Write,
  Seek,      // File::Seek, SeekToEnd and Position
  Size,      // FileSystem::Size and File::Size
  Truncate,
  Flush,
  Close,
  Exists,
  Delete,
  Rename,    // matched against the old and the new path
  FindFiles,
  GetTimes,
  RemoveDirectory,
  SyncDirectory,
};

class FaultFileSystem : public platform::FileSystem {
 public:
  FaultFileSystem();
  ~FaultFileSystem() override;

  // The n-th call of op from now on (1-based) fails; 0 clears.
  void FailNth(FsOp op, int n);
  // Every call of op fails; with path_part given, only calls on a path that
  // contains it (for file operations: the path the file was opened with).
  void FailAlways(FsOp op, std::u16string path_part = u"");
  // No more failures; counters are kept.
  void Clear();
  // Calls of op so far (also the failed ones).
  int Count(FsOp op) const;
  // Bytes returned by Read through files opened here.
  uint64_t BytesRead() const;
  void ResetCounters();

  // Optional: answers GetTimes for the paths it returns true for (the call is
  // counted and may still be failed first); other paths go to the system.
  std::function<bool(const std::u16string&, platform::FileTimes&)> times_hook;
  // Optional: the present time in seconds since 1970 instead of the clock.
  std::function<int64_t()> now_hook;

  std::unique_ptr<platform::File> Open(const std::u16string& path, platform::OpenMode mode) override;
  bool Exists(const std::u16string& path) override;
  bool Delete(const std::u16string& path) override;
  bool Rename(const std::u16string& old_path, const std::u16string& new_path) override;
  bool Size(const std::u16string& path, uint64_t& size) override;
  bool FindFiles(const std::u16string& pattern, std::vector<platform::DirEntry>& entries) override;
  bool GetTimes(const std::u16string& path, platform::FileTimes& times) override;
  bool RemoveDirectory(const std::u16string& path) override;
  bool SyncDirectoryOf(const std::u16string& path) override;
  int64_t Now() override;

  // Shared with the files opened here, which may outlive this object.
  struct State;

 private:
  std::shared_ptr<State> state_;
  platform::FileSystem& base_;
};

// Installs a file layer for the scope's lifetime and restores the one in force
// before.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(platform::FileSystem& fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  platform::FileSystem* previous_;
};

}  // namespace tova::testing
