// Text conversions of the tool.
#include "text.h"

#include "tova_ext.h"

namespace tova_cli {
namespace {

// Runs a conversion of the companion library (string buffer convention) into
// a string of at most `most` bytes.
template <typename Convert>
std::string Converted(size_t most, Convert convert) {
  std::string out(most + 1, '\0');
  uint32_t needed = 0;
  convert(out.data(), static_cast<uint32_t>(out.size()), &needed);
  out.resize(needed ? needed - 1 : 0);
  return out;
}

}  // namespace

std::string Utf16ToUtf8(const TOVA_WCHAR* text, size_t length) {
  static_assert(sizeof(TOVA_WCHAR) == sizeof(uint16_t));
  // At most three bytes per code unit.
  return Converted(length * 3, [&](char* buf, uint32_t cap, uint32_t* needed) {
    tovaext_utf16_to_utf8(reinterpret_cast<const uint16_t*>(text), static_cast<uint32_t>(length), buf, cap, needed);
  });
}

std::string Cp1252ToUtf8(const uint8_t* bytes, size_t length) {
  // At most three bytes per byte.
  return Converted(length * 3, [&](char* buf, uint32_t cap, uint32_t* needed) {
    tovaext_narrow_to_utf8(bytes, static_cast<uint32_t>(length), buf, cap, needed);
  });
}

std::string NormaliseLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string PadRight(const std::string& text, size_t width) {
  size_t chars = 0;
  for (char c : text)
    if ((static_cast<uint8_t>(c) & 0xC0) != 0x80) ++chars;
  return chars >= width ? text : text + std::string(width - chars, ' ');
}

}  // namespace tova_cli
