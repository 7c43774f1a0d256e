// How a long document operation (reading a file's sections, appending many
// datasets, saving) reports its progress and learns that the user cancelled.
// The caller of the operation passes a reporter in; the progress dialog is
// one, NoProgress() reports nothing.
#pragma once

#include <cstdint>
#include <string>

namespace tova {

class Progress {
 public:
  virtual ~Progress() = default;
  // The operation `action` ("Adding", "Analysing") starts on the document at
  // document_path.
  virtual void Begin(const std::u16string& action, const std::u16string& document_path) = 0;
  // One unit of work, number counting from 1; false when the user cancelled.
  virtual bool Step(uint32_t number) = 0;
  // The operation is over (also after a cancel or a failure).
  virtual void End() = 0;
};

// A reporter that shows nothing and never cancels.
Progress& NoProgress();

// Begins a report on construction and ends it when the scope is left.
class ProgressScope {
 public:
  ProgressScope(Progress& progress, const std::u16string& action, const std::u16string& document_path)
      : progress_(progress) {
    progress_.Begin(action, document_path);
  }
  ~ProgressScope() { progress_.End(); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  Progress& progress_;
};

}  // namespace tova
