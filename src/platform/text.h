// Text conversions and printf-style formatting into UTF-16.
//
// Inside the library all text is UTF-16 (std::u16string). Narrow entry texts
// are Windows-1252 outside Windows and the ANSI code page on Windows; narrow
// paths are UTF-8 outside Windows and the ANSI code page on Windows.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace tova::platform {

// Narrow entry text (ANSI code page / Windows-1252) to UTF-16 and back.
std::u16string NarrowTextToUtf16(std::string_view narrow);
std::string Utf16ToNarrowText(std::u16string_view text);

// Narrow path argument of an export to UTF-16.
std::u16string NarrowPathToUtf16(const char* path);

// UTF-8 and UTF-16 (invalid sequences become U+FFFD).
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

// printf-style formatting into UTF-16. The conversions follow C printf exactly
// (numbers are formatted by the C library, one conversion at a time), except
// that %s takes a UTF-16 string (const char16_t*) and %hs a narrow entry text
// (const char*, decoded as NarrowTextToUtf16 does).
std::u16string FormatU16(const char* format, ...);
std::u16string FormatU16V(const char* format, va_list args);
// Appends instead of returning.
void AppendFormatU16(std::u16string& out, const char* format, ...);
void AppendFormatU16V(std::u16string& out, const char* format, va_list args);

// Upper-cases ASCII and Latin-1 letters of UTF-16 text (as the system's
// upper-casing of device strings and extensions does for those ranges).
std::u16string ToUpper(std::u16string_view text);

}  // namespace tova::platform
