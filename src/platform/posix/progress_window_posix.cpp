// The progress window outside Windows: headless. It is "created" at once,
// shows nothing and is never cancelled, so long operations run to their end.
#include <memory>

#include "platform/progress_window.h"

namespace tova::platform {

namespace {

class HeadlessProgressWindow final : public ProgressWindow {
 public:
  bool Create() override { return true; }
  void SetText(const std::u16string&) override {}
  void Repaint() override {}
  void PumpOwnMessages() override {}
  bool IsCancelled() const override { return false; }
  void Destroy() override {}
};

}  // namespace

std::unique_ptr<ProgressWindow> CreateSystemProgressWindow() {
  return std::make_unique<HeadlessProgressWindow>();
}

}  // namespace tova::platform
