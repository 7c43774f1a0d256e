// The reporter that reports nothing.
#include "model/progress.h"

namespace tova {

namespace {
class Silent final : public Progress {
 public:
  void Begin(const std::u16string&, const std::u16string&) override {}
  bool Step(uint32_t) override { return true; }
  void End() override {}
};
}  // namespace

Progress& NoProgress() {
  static Silent silent;
  return silent;
}

}  // namespace tova
