// The terminal progress bar of the tool.
#include "progress_bar.h"

#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <io.h>
#define TOVA_CLI_ISATTY(fd) _isatty(fd)
#define TOVA_CLI_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define TOVA_CLI_ISATTY(fd) isatty(fd)
#define TOVA_CLI_FILENO(f) fileno(f)
#endif

namespace tova_cli {

bool ProgressBar::StderrIsTerminal() { return TOVA_CLI_ISATTY(TOVA_CLI_FILENO(stderr)) != 0; }

ProgressBar::ProgressBar(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), enabled_(total > 1 && StderrIsTerminal()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(uint64_t done) {
  if (!enabled_) return;
  if (done > total_) done = total_;
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%% (%llu/%llu)", label_.c_str(), bar.c_str(), percent,
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_));
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_ || shown_percent_ < 0) return;
  // Blank out the line so that the next message starts clean.
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size() + 60), "");
  std::fflush(stderr);
  shown_percent_ = -1;
}

}  // namespace tova_cli
