// File housekeeping: a stored document is its main file plus the continuation
// files beside it (the main path, a blank and the part number, " %.3u").
// These operations find the continuation files of a main file and delete,
// rename and size the whole set as one unit, and delete old documents in a
// directory tree. They work on paths only, through the file layer in force,
// and touch no open document.
//
// Each returns whether it succeeded. Naming, finding and deleting the parts
// of one document lives in model/document_files.h.
#pragma once

#include <cstdint>
#include <string>

namespace tova::housekeeping {

// Renames the main file (replacing a file of the new name), then each
// continuation file by the three-digit name of its part number; failures after
// the main file are ignored. Continuation files that the replaced document at
// the new name had and the renamed one lacks are deleted, so that the new name
// never carries parts of two documents. False only when the main file's
// renaming fails.
bool RenameWithContinuations(const std::u16string& old_path, const std::u16string& new_path);

// The size of the main file and its continuation files in megabytes (each
// file's bytes / 1024 / 1024, summed in double). False with size_mb = 0.0 when
// the main file does not exist.
bool GetSizeWithContinuations(const std::u16string& path, double& size_mb);

// Deletes the TOVA documents (main file with its continuation files) older
// than age_seconds in the tree that pattern names, and removes old empty
// subdirectories (never the directory it starts on). pattern is a directory
// path ending in a separator, or a pattern holding "*.*"; "*.*" is appended to
// one that lacks it. stop (may be null) is read before every entry at every
// level; nonzero ends the walk with the result so far. A document with any
// continuation file younger than the age stays whole. False for an empty pattern,
// "*.*", a TOVA file whose times cannot be read, or a deletion that failed; a
// directory that does not exist is success.
bool DeleteOldFiles(const std::u16string& pattern, uint32_t age_seconds, const volatile uint32_t* stop);

// True for a path whose extension (from its last dot) is ".tova" in any case.
bool IsTovaFile(const std::u16string& path);

}  // namespace tova::housekeeping
