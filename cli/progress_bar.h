// A one-line progress bar on stderr for work over many frames. It is drawn
// only when stderr is a terminal, so that logs and pipes stay clean, and it
// redraws only when the shown percentage changes.
#pragma once

#include <cstdint>
#include <string>

namespace tova_cli {

class ProgressBar {
 public:
  // total: the number of steps; label: what is being done ("Writing").
  ProgressBar(std::string label, uint64_t total);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Reports that done of total steps are complete.
  void Update(uint64_t done);
  // Clears the bar's line (also done by the destructor).
  void Finish();

  // Whether stderr is a terminal.
  static bool StderrIsTerminal();

 private:
  std::string label_;
  uint64_t total_;
  bool enabled_;
  int shown_percent_ = -1;
};

}  // namespace tova_cli
