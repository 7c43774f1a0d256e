// The progress window seam: the system's window unless a test installed a
// factory of its own.
#include "platform/progress_window.h"

#include <mutex>

namespace tova::platform {

std::unique_ptr<ProgressWindow> CreateSystemProgressWindow();  // per platform

namespace {

std::mutex& FactoryMutex() {
  static std::mutex mutex;
  return mutex;
}

ProgressWindowFactory& Factory() {
  static ProgressWindowFactory factory;
  return factory;
}

}  // namespace

std::unique_ptr<ProgressWindow> CreateProgressWindow() {
  ProgressWindowFactory factory;
  {
    std::lock_guard<std::mutex> hold(FactoryMutex());
    factory = Factory();
  }
  std::unique_ptr<ProgressWindow> window;
  if (factory) window = factory();
  return window ? std::move(window) : CreateSystemProgressWindow();
}

void SetProgressWindowFactoryForTesting(ProgressWindowFactory factory) {
  std::lock_guard<std::mutex> hold(FactoryMutex());
  Factory() = std::move(factory);
}

}  // namespace tova::platform
