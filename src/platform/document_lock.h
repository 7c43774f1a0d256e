// The document lock: a re-entrant lock owned by one thread at a time and
// counted per owning thread. Unlike std::recursive_mutex it refuses an unlock
// from a thread that does not hold it instead of corrupting its state.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace tova::platform {

class DocumentLock {
 public:
  DocumentLock() = default;
  DocumentLock(const DocumentLock&) = delete;
  DocumentLock& operator=(const DocumentLock&) = delete;

  // Waits until the calling thread owns the lock, then counts one more hold.
  void Lock();
  // Leaves one hold. False (and nothing changes) when the calling thread does
  // not hold the lock.
  bool Unlock();
  // Leaves every hold of the calling thread at once (nothing when it holds
  // none); used when the document goes away while its caller still holds it.
  void UnlockAll();

 private:
  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::thread::id owner_{};
  uint32_t count_ = 0;
};

// Holds a document lock for one scope.
class DocumentLockGuard {
 public:
  explicit DocumentLockGuard(DocumentLock& lock) : lock_(lock) { lock_.Lock(); }
  ~DocumentLockGuard() { lock_.Unlock(); }
  DocumentLockGuard(const DocumentLockGuard&) = delete;
  DocumentLockGuard& operator=(const DocumentLockGuard&) = delete;

 private:
  DocumentLock& lock_;
};

}  // namespace tova::platform
