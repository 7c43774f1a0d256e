// The library object: the registry of open documents behind their handles and
// the progress-dialog setting.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "model/tova_file.h"

namespace tova::api {

class Registry {
 public:
  Registry() = default;
  // Library unload: every document still open is destroyed (files closed).
  ~Registry();

  // Registers a document and returns its new handle; handle values are never
  // reused within the process, so a stale handle names nothing.
  uint64_t Add(std::shared_ptr<CTOVAFile> doc);
  // The document of a handle, kept alive for the caller's call; null when the
  // handle names no open document.
  std::shared_ptr<CTOVAFile> Find(uint64_t handle);
  // Removes the handle; the document is destroyed when its last user lets go.
  bool Remove(uint64_t handle);
  size_t Count();
  void CloseAll();

  std::atomic<uint32_t> show_dialog{1};  // progress-dialog setting

 private:
  std::mutex mutex_;
  std::map<uint64_t, std::shared_ptr<CTOVAFile>> documents_;
  uint64_t next_handle_ = 0x10001;
};

Registry& TheRegistry();

}  // namespace tova::api
