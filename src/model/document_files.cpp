// Naming, finding and deleting the part files of a stored document.
#include "model/document_files.h"

#include <climits>

#include "platform/file_services.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace tova {

namespace {

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

}  // namespace

std::u16string PartFileName(const std::u16string& main_path, uint32_t part) {
  if (part == 0) return main_path;
  return main_path + platform::FormatU16(" %.3u", part);
}

SplitPath Split(const std::u16string& path) {
#ifdef _WIN32
  const size_t cut = path.find_last_of(u"\\/:");
#else
  const size_t cut = path.rfind(u'/');
#endif
  if (cut == std::u16string::npos) return {std::u16string(), path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

bool IsDotEntry(const std::u16string& name) { return name == u"." || name == u".."; }

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

std::vector<ContinuationFile> FindContinuationFiles(const std::u16string& path) {
  std::vector<ContinuationFile> found;
  if (path.empty() || path == u"*.*") return found;
  const SplitPath split = Split(path);
  if (split.name.empty()) return found;  // a directory path names no main file
  std::vector<platform::DirEntry> entries;
  // Each '?' stands for one character, trailing ones for none as well: the
  // pattern finds the one- to three-character suffixes.
  if (!platform::GetFileSystem().FindFiles(path + u" ???", entries)) return found;
  for (const platform::DirEntry& entry : entries) {
    if (entry.is_directory || IsDotEntry(entry.name)) continue;
    const std::u16string_view text = PartNumberText(split.name, entry.name);
    if (text.empty()) continue;
    const int32_t number = WtoiValue(text);
    if (number < 1 || number > static_cast<int32_t>(kMaxPartNumber)) continue;
    found.push_back({split.prefix + entry.name, static_cast<uint32_t>(number)});
  }
  return found;
}

bool DeleteWithContinuations(const std::u16string& path) {
  if (!platform::FileDelete(path)) return false;  // the main file stays: leave its parts alone
  bool all_gone = true;
  for (const ContinuationFile& part : FindContinuationFiles(path))
    if (!platform::FileDelete(part.path)) all_gone = false;
  return all_gone;
}

}  // namespace tova
