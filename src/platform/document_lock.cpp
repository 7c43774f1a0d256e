// The re-entrant document lock.
#include "platform/document_lock.h"

namespace tova::platform {

void DocumentLock::Lock() {
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(mutex_);
  if (count_ > 0 && owner_ == self) {
    ++count_;
    return;
  }
  released_.wait(guard, [this] { return count_ == 0; });
  owner_ = self;
  count_ = 1;
}

bool DocumentLock::Unlock() {
  std::unique_lock<std::mutex> guard(mutex_);
  if (count_ == 0 || owner_ != std::this_thread::get_id()) return false;
  if (--count_ == 0) {
    owner_ = std::thread::id();
    guard.unlock();
    released_.notify_one();
  }
  return true;
}

void DocumentLock::UnlockAll() {
  std::unique_lock<std::mutex> guard(mutex_);
  if (count_ == 0 || owner_ != std::this_thread::get_id()) return;
  count_ = 0;
  owner_ = std::thread::id();
  guard.unlock();
  released_.notify_one();
}

}  // namespace tova::platform
