// Text conversions of the tool: the library's UTF-16 strings and narrow
// (Windows-1252) entry texts to UTF-8 for the terminal, and the rendered line
// ends (CR or CR LF) to plain newlines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "HOLMDAQTova.h"

namespace tova_cli {

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const TOVA_WCHAR* text, size_t length);
inline std::string Utf16ToUtf8(const TOVA_WSTRING& text) { return Utf16ToUtf8(text.data(), text.size()); }

// Narrow entry text (Windows-1252, as the library stores _MBC texts outside
// Windows) to UTF-8, up to the first NUL byte.
std::string Cp1252ToUtf8(const uint8_t* bytes, size_t length);

// Turns every CR LF and every lone CR into LF.
std::string NormaliseLineEnds(std::string_view text);

// Pads text with blanks to width characters (UTF-8 aware enough for labels).
std::string PadRight(const std::string& text, size_t width);

}  // namespace tova_cli
