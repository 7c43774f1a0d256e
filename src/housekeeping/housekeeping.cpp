// Continuation-file discovery, deletion, renaming and size of a document's
// file set, and the deletion of old documents in a directory tree. Everything
// goes through the file layer in force (platform::GetFileSystem() and the file
// services on top of it), so tests can inject failures and fix file times.
#include "housekeeping/housekeeping.h"

#include "model/document_files.h"

#include <algorithm>

#include "platform/file_services.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace tova::housekeeping {

namespace {

using platform::DirEntry;
using platform::FileSystem;
using platform::FileTimes;

constexpr double kPerKibi = 0.0009765625;  // 1 / 1024

// now - time > age, without overflow for any pair of 64-bit times. The age is
// taken as unsigned for files and directories alike (see DeleteOldFiles).
bool IsOlderThan(int64_t now, int64_t time, uint32_t age) {
  if (time >= now) return false;
  const uint64_t elapsed = static_cast<uint64_t>(now) - static_cast<uint64_t>(time);
  return elapsed > age;
}

bool StopRequested(const volatile uint32_t* stop) { return stop != nullptr && *stop != 0; }

// The size of one file in bytes; 0 when it cannot be determined.
uint64_t FileBytes(const std::u16string& path) {
  uint64_t size = 0;
  if (path.empty() || !platform::GetFileSystem().Size(path, size)) return 0;
  return size;
}

// Deletes one old document: the main file and then all its continuation
// files, unless one of those was modified within the age (then the whole set
// stays). False when a deletion failed.
bool DeleteOldDocument(const std::u16string& path, uint32_t age) {
  FileSystem& fs = platform::GetFileSystem();
  const std::vector<ContinuationFile> parts = FindContinuationFiles(path);
  for (const ContinuationFile& part : parts) {
    FileTimes times;
    if (platform::FileExists(part.path) && fs.GetTimes(part.path, times) &&
        !IsOlderThan(fs.Now(), times.modification, age))
      return true;  // a young part keeps the whole set
  }
  bool all_gone = platform::FileDelete(path);
  for (const ContinuationFile& part : parts)
    if (!platform::FileDelete(part.path)) all_gone = false;
  return all_gone;
}

// One level of the walk: pattern is a directory search pattern ("dir/*.*").
bool WalkOld(const std::u16string& pattern, uint32_t age, const volatile uint32_t* stop) {
  FileSystem& fs = platform::GetFileSystem();
  std::vector<DirEntry> entries;
  if (!fs.FindFiles(pattern, entries) || entries.empty()) return true;
  const std::u16string prefix = Split(pattern).prefix;
  bool result = true;
  for (const DirEntry& entry : entries) {
    if (StopRequested(stop)) break;
    if (IsDotEntry(entry.name)) continue;
    const std::u16string full = prefix + entry.name;
    if (entry.is_directory) {
      // A link to a directory is not walked: it may lead back up the tree,
      // or to files that do not belong under the start directory.
      if (entry.is_link) continue;
      std::u16string sub_pattern = full;
      sub_pattern += platform::kPathSeparator;
      sub_pattern += u"*.*";
      if (!WalkOld(sub_pattern, age, stop)) {
        result = false;
        continue;
      }
      // An old directory goes when it is empty by now; one that still holds
      // files refuses the removal, and that is no failure.
      FileTimes times;
      if (fs.GetTimes(full, times) && IsOlderThan(fs.Now(), times.creation, age)) fs.RemoveDirectory(full);
      continue;
    }
    if (!IsTovaFile(full)) continue;  // continuation files go only with their main file
    FileTimes times;
    if (!fs.GetTimes(full, times)) {
      result = false;
      continue;
    }
    if (!IsOlderThan(fs.Now(), times.modification, age)) continue;
    if (!DeleteOldDocument(full, age)) result = false;
  }
  return result;
}

}  // namespace

bool IsTovaFile(const std::u16string& path) {
  return platform::ToUpper(platform::FileExtension(path, 256)) == u".TOVA";
}

bool RenameWithContinuations(const std::u16string& old_path, const std::u16string& new_path) {
  if (!platform::FileRename(old_path, new_path)) return false;
  // The main file is gone from the old name, its continuation files are not.
  std::vector<uint32_t> numbers;
  for (const ContinuationFile& part : FindContinuationFiles(old_path)) numbers.push_back(part.number);
  for (uint32_t n : numbers) platform::FileRename(PartFileName(old_path, n), PartFileName(new_path, n));

  // The document that bore the new name before may have had more parts than
  // the renamed one; left in place they would read as parts of the new
  // document. Parts whose number the renamed document has are left alone,
  // also when their renaming failed above.
  for (const ContinuationFile& stale : FindContinuationFiles(new_path))
    if (std::find(numbers.begin(), numbers.end(), stale.number) == numbers.end()) platform::FileDelete(stale.path);
  return true;
}

bool GetSizeWithContinuations(const std::u16string& path, double& size_mb) {
  size_mb = 0.0;
  if (!platform::FileExists(path)) return false;
  // Sizes are read as 64-bit counts: a part holding one dataset larger than
  // the part limit may pass 4 GiB.
  double total = static_cast<double>(FileBytes(path)) * kPerKibi * kPerKibi;
  for (const ContinuationFile& part : FindContinuationFiles(path))
    total += static_cast<double>(FileBytes(part.path)) * kPerKibi * kPerKibi;
  size_mb = total;
  return true;
}

bool DeleteOldFiles(const std::u16string& pattern, uint32_t age_seconds, const volatile uint32_t* stop) {
  if (pattern.empty() || pattern == u"*.*") return false;
  // The caller passes a directory path ending in a separator, or a pattern
  // that holds "*.*" already; no separator is added.
  std::u16string search = pattern;
  if (search.find(u"*.*") == std::u16string::npos) search += u"*.*";
  return WalkOld(search, age_seconds, stop);
}

}  // namespace tova::housekeeping
