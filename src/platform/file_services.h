// The seven small file and text services the document code relies on:
// existence, deletion, size, extension test, renaming, extension extraction
// and narrow-text conversion. They work through the file layer in force.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tova::platform {

// A regular file of that name exists.
bool FileExists(const std::u16string& path);
// True when no file of that name remains: deleted, or not there at all.
bool FileDelete(const std::u16string& path);
// The size in bytes as a 32-bit value; 0 for a missing or empty file (and for
// a file that does not fit in 32 bits, which no document part ever is).
uint32_t FileSize32(const std::u16string& path);
// The path's extension (after its last dot) equals ext, ignoring case.
bool FileHasExtension(const std::u16string& path, std::u16string_view ext);
// Renames, replacing an existing file of the new name.
bool FileRename(const std::u16string& old_path, const std::u16string& new_path);
// The part of the path from its last dot on, dot included ("" without a dot);
// at most capacity - 1 units, as the fixed-size buffer of the service holds.
std::u16string FileExtension(const std::u16string& path, size_t capacity = 256);
// Narrow text (ANSI code page / Windows-1252) to UTF-16.
std::u16string NarrowToWide(std::string_view narrow);

}  // namespace tova::platform
