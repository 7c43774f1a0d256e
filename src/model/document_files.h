// The files of a stored document: its main file and the continuation files
// beside it (the main path, a blank and the part number, " %.3u"). How parts
// are named, found and deleted as a set is shared by the reader, the writer
// and housekeeping, so it lives here once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tova {

// Parts 1 to 999: the three-digit names that can be found again.
inline constexpr uint32_t kMaxPartNumber = 999;

// The path of part `part` of main_path; part 0 is the main file itself.
std::u16string PartFileName(const std::u16string& main_path, uint32_t part);

// A continuation file found beside a main file.
struct ContinuationFile {
  std::u16string path;
  uint32_t number = 0;  // 1 to 999
};

// The continuation files that exist for the main file `path`, in the order
// the directory lists them (no sorting). A continuation file is a file whose
// name is the main file's name, a blank and one to three characters read as a
// decimal number the way _wtoi reads it ("a.tova 7" is part 7; "a.tova 000",
// "a.tova x1" and "a.tova 0001" are none). An empty path or "*.*" finds none.
std::vector<ContinuationFile> FindContinuationFiles(const std::u16string& path);

// Deletes the main file, then every continuation file. A main file that stays
// fails at once (no continuation file is touched); a missing main file is no
// failure. A continuation file that stays makes the result false, the others
// are deleted anyway.
bool DeleteWithContinuations(const std::u16string& path);

// The integer that C's _wtoi reads from text: leading white space, an
// optional sign, then decimal digits up to the first non-digit; 0 when there
// are none. Values beyond the int32 range are clamped to it.
int32_t WtoiValue(std::u16string_view text);

// The directory prefix of a path (separator included, so that prefix + name
// is the full path again) and its last component.
struct SplitPath {
  std::u16string prefix;
  std::u16string name;
};
SplitPath Split(const std::u16string& path);

bool IsDotEntry(const std::u16string& name);

}  // namespace tova
