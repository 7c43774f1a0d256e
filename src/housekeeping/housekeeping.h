// File housekeeping: a stored document is its main file plus the continuation
// files beside it (the main path, a blank and the part number, " %.3u").
// These operations find the continuation files of a main file and delete,
// rename and size the whole set as one unit, and delete old documents in a
// directory tree. They work on paths only, through the file layer in force,
// and touch no open document.
//
// Results follow the internal convention: 1 for success, 0 for failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tova::housekeeping {

// Collects the continuation files that exist for the main file `path`: their
// full paths and part numbers (1 to 999), two parallel lists in the order the
// directory lists them (no sorting). A continuation file is a file whose name
// is the main file's name, a blank and one to three characters read as a
// decimal number the way _wtoi reads it ("a.tova 7" is part 7; "a.tova 000",
// "a.tova x1" and "a.tova 0001" are none). An empty path or "*.*" finds none.
// Returns the number found.
uint32_t FindContinuationFiles(const std::u16string& path, std::vector<std::u16string>& paths,
                               std::vector<uint32_t>& numbers);

// Deletes the main file, then every continuation file. A main file that stays
// fails at once (no continuation file is touched); a missing main file is no
// failure. A continuation file that stays makes the result 0, the others are
// deleted anyway.
int DeleteWithContinuations(const std::u16string& path);

// Renames the main file (replacing a file of the new name), then each
// continuation file by the three-digit name of its part number; failures after
// the main file are ignored. Continuation files that the replaced document at
// the new name had and the renamed one lacks are deleted, so that the new name
// never carries parts of two documents. 0 only when the main file's renaming
// fails.
int RenameWithContinuations(const std::u16string& old_path, const std::u16string& new_path);

// The size of the main file and its continuation files in megabytes (each
// file's bytes / 1024 / 1024, summed in double). 0 with size_mb = 0.0 when the
// main file does not exist.
int GetSizeWithContinuations(const std::u16string& path, double& size_mb);

// Deletes the TOVA documents (main file with its continuation files) older
// than age_seconds in the tree that pattern names, and removes old empty
// subdirectories (never the directory it starts on). pattern is a directory
// path ending in a separator, or a pattern holding "*.*"; "*.*" is appended to
// one that lacks it. stop (may be null) is read before every entry at every
// level; nonzero ends the walk with the result so far. A document with any
// continuation file younger than the age stays whole. 0 for an empty pattern,
// "*.*", a TOVA file whose times cannot be read, or a deletion that failed; a
// directory that does not exist is success.
int DeleteOldFiles(const std::u16string& pattern, uint32_t age_seconds, const volatile uint32_t* stop);

// The integer that C's _wtoi reads from text: leading white space, an
// optional sign, then decimal digits up to the first non-digit; 0 when there
// are none. Values beyond the int32 range are clamped to it.
int32_t WtoiValue(std::u16string_view text);

// True for a path whose extension (from its last dot) is ".tova" in any case.
bool IsTovaFile(const std::u16string& path);

}  // namespace tova::housekeeping
