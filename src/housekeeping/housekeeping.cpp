// Continuation-file discovery, deletion, renaming and size of a document's
// file set, and the deletion of old documents in a directory tree. Everything
// goes through the file layer in force (platform::GetFileSystem() and the file
// services on top of it), so tests can inject failures and fix file times.
#include "housekeeping/housekeeping.h"

#include <algorithm>
#include <climits>

#include "platform/file_services.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace tova::housekeeping {

namespace {

using platform::DirEntry;
using platform::FileSystem;
using platform::FileTimes;

constexpr double kPerKibi = 0.0009765625;  // 1 / 1024

// Where the directory part of a path ends: the directory prefix (separator
// included, so that prefix + name is the full path again) and the last
// component.
struct SplitPath {
  std::u16string prefix;
  std::u16string name;
};

SplitPath Split(const std::u16string& path) {
#ifdef _WIN32
  const size_t cut = path.find_last_of(u"\\/:");
#else
  const size_t cut = path.rfind(u'/');
#endif
  if (cut == std::u16string::npos) return {std::u16string(), path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

// Names compare as the file system compares them: case-insensitively on
// Windows (as the directory search matches them there), exactly elsewhere.
bool SameName(std::u16string_view a, std::u16string_view b) {
#ifdef _WIN32
  return a.size() == b.size() && platform::ToUpper(a) == platform::ToUpper(b);
#else
  return a == b;
#endif
}

// The part-number text of a continuation file of main_name: the one to three
// characters after the main name and its blank. The search pattern alone
// cannot tell: a main name holding '?' or '*' (legal outside Windows) would
// make the pattern match other documents' continuation files. Empty when
// found is no continuation name of main_name.
std::u16string_view PartNumberText(std::u16string_view main_name, std::u16string_view found) {
  if (found.size() < main_name.size() + 2 || found.size() > main_name.size() + 4) return {};
  if (found[main_name.size()] != u' ') return {};
  if (!SameName(main_name, found.substr(0, main_name.size()))) return {};
  return found.substr(main_name.size() + 1);
}

bool IsDotEntry(const std::u16string& name) { return name == u"." || name == u".."; }

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

// The name of part n of main_path.
std::u16string PartName(const std::u16string& main_path, uint32_t n) {
  return main_path + platform::FormatU16(" %.3u", n);
}

// Deletes one old document: the main file and then all its continuation
// files, unless one of those was modified within the age (then the whole set
// stays). 0 when a deletion failed.
int DeleteOldDocument(const std::u16string& path, uint32_t age) {
  FileSystem& fs = platform::GetFileSystem();
  std::vector<std::u16string> parts;
  std::vector<uint32_t> numbers;
  FindContinuationFiles(path, parts, numbers);
  for (const std::u16string& part : parts) {
    FileTimes times;
    if (platform::FileExists(part) && fs.GetTimes(part, times) && !IsOlderThan(fs.Now(), times.modification, age))
      return 1;  // a young part keeps the whole set
  }
  int result = 1;
  if (!platform::FileDelete(path)) result = 0;
  for (const std::u16string& part : parts)
    if (!platform::FileDelete(part)) result = 0;
  return result;
}

// One level of the walk: pattern is a directory search pattern ("dir/*.*").
int WalkOld(const std::u16string& pattern, uint32_t age, const volatile uint32_t* stop) {
  FileSystem& fs = platform::GetFileSystem();
  std::vector<DirEntry> entries;
  if (!fs.FindFiles(pattern, entries) || entries.empty()) return 1;
  const std::u16string prefix = Split(pattern).prefix;
  int result = 1;
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
        result = 0;
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
      result = 0;
      continue;
    }
    if (!IsOlderThan(fs.Now(), times.modification, age)) continue;
    if (!DeleteOldDocument(full, age)) result = 0;
  }
  return result;
}

}  // namespace

int32_t WtoiValue(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;  // saturate
  }
  if (negative) return value > INT32_MAX ? INT32_MIN : static_cast<int32_t>(-value);
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

bool IsTovaFile(const std::u16string& path) {
  return platform::ToUpper(platform::FileExtension(path, 256)) == u".TOVA";
}

uint32_t FindContinuationFiles(const std::u16string& path, std::vector<std::u16string>& paths,
                               std::vector<uint32_t>& numbers) {
  paths.clear();
  numbers.clear();
  if (path.empty() || path == u"*.*") return 0;
  const SplitPath split = Split(path);
  if (split.name.empty()) return 0;  // a directory path names no main file
  std::vector<DirEntry> entries;
  // Each '?' stands for one character, trailing ones for none as well: the
  // pattern finds the one- to three-character suffixes.
  if (!platform::GetFileSystem().FindFiles(path + u" ???", entries)) return 0;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory || IsDotEntry(entry.name)) continue;
    const std::u16string_view text = PartNumberText(split.name, entry.name);
    if (text.empty()) continue;
    const int32_t number = WtoiValue(text);
    if (number < 1 || number > 999) continue;
    paths.push_back(split.prefix + entry.name);
    numbers.push_back(static_cast<uint32_t>(number));
  }
  return static_cast<uint32_t>(paths.size());
}

int DeleteWithContinuations(const std::u16string& path) {
  if (!platform::FileDelete(path)) return 0;  // the main file stays: leave its parts alone
  std::vector<std::u16string> parts;
  std::vector<uint32_t> numbers;
  FindContinuationFiles(path, parts, numbers);
  int result = 1;
  for (const std::u16string& part : parts)
    if (!platform::FileDelete(part)) result = 0;
  return result;
}

int RenameWithContinuations(const std::u16string& old_path, const std::u16string& new_path) {
  if (!platform::FileRename(old_path, new_path)) return 0;
  // The main file is gone from the old name, its continuation files are not.
  std::vector<std::u16string> parts;
  std::vector<uint32_t> numbers;
  FindContinuationFiles(old_path, parts, numbers);
  for (uint32_t n : numbers) platform::FileRename(PartName(old_path, n), PartName(new_path, n));

  // The document that bore the new name before may have had more parts than
  // the renamed one; left in place they would read as parts of the new
  // document. Parts whose number the renamed document has are left alone,
  // also when their renaming failed above.
  std::vector<std::u16string> stale;
  std::vector<uint32_t> stale_numbers;
  FindContinuationFiles(new_path, stale, stale_numbers);
  for (size_t i = 0; i < stale.size(); ++i)
    if (std::find(numbers.begin(), numbers.end(), stale_numbers[i]) == numbers.end()) platform::FileDelete(stale[i]);
  return 1;
}

int GetSizeWithContinuations(const std::u16string& path, double& size_mb) {
  size_mb = 0.0;
  if (!platform::FileExists(path)) return 0;
  // Sizes are read as 64-bit counts: a part holding one dataset larger than
  // the part limit may pass 4 GiB.
  double total = static_cast<double>(FileBytes(path)) * kPerKibi * kPerKibi;
  std::vector<std::u16string> parts;
  std::vector<uint32_t> numbers;
  FindContinuationFiles(path, parts, numbers);
  for (const std::u16string& part : parts) total += static_cast<double>(FileBytes(part)) * kPerKibi * kPerKibi;
  size_mb = total;
  return 1;
}

int DeleteOldFiles(const std::u16string& pattern, uint32_t age_seconds, const volatile uint32_t* stop) {
  if (pattern.empty() || pattern == u"*.*") return 0;
  // The caller passes a directory path ending in a separator, or a pattern
  // that holds "*.*" already; no separator is added.
  std::u16string search = pattern;
  if (search.find(u"*.*") == std::u16string::npos) search += u"*.*";
  return WalkOld(search, age_seconds, stop);
}

}  // namespace tova::housekeeping
