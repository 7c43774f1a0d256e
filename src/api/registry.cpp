// The registry of open documents. It has a mutex of its own, so that opens and
// closes may overlap other calls; the documents carry their own locks.
#include "api/registry.h"

#include <vector>

namespace tova::api {

Registry::~Registry() { CloseAll(); }

uint64_t Registry::Add(std::shared_ptr<CTOVAFile> doc) {
  std::lock_guard<std::mutex> guard(mutex_);
  const uint64_t handle = next_handle_++;
  documents_.emplace(handle, std::move(doc));
  return handle;
}

std::shared_ptr<CTOVAFile> Registry::Find(uint64_t handle) {
  if (handle == 0 || handle == UINT64_MAX) return nullptr;
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = documents_.find(handle);
  return it == documents_.end() ? nullptr : it->second;
}

bool Registry::Remove(uint64_t handle) {
  std::shared_ptr<CTOVAFile> doc;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = documents_.find(handle);
    if (it == documents_.end()) return false;
    doc = std::move(it->second);
    documents_.erase(it);
  }
  return true;  // doc is destroyed here, outside the registry mutex, unless in use
}

size_t Registry::Count() {
  std::lock_guard<std::mutex> guard(mutex_);
  return documents_.size();
}

void Registry::CloseAll() {
  std::map<uint64_t, std::shared_ptr<CTOVAFile>> all;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    all.swap(documents_);
  }
  all.clear();
}

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace tova::api
