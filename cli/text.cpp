// Text conversions of the tool.
#include "text.h"

#include "tova_ext.h"

namespace tova_cli {
namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

// Windows-1252 code points of the bytes 0x80 to 0x9F; 0 where the code page
// leaves the byte undefined (shown as U+FFFD).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string Utf16ToUtf8(const TOVA_WCHAR* text, size_t length) {
  static_assert(sizeof(TOVA_WCHAR) == sizeof(uint16_t));
  std::string out(length * 3 + 1, '\0');  // at most three bytes per code unit
  uint32_t needed = 0;
  tovaext_utf16_to_utf8(reinterpret_cast<const uint16_t*>(text), static_cast<uint32_t>(length), out.data(),
                        static_cast<uint32_t>(out.size()), &needed);
  out.resize(needed ? needed - 1 : 0);
  return out;
}

std::string Cp1252ToUtf8(const uint8_t* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length && bytes[i] != 0; ++i) {
    const uint8_t b = bytes[i];
    uint32_t cp = b;
    if (b >= 0x80 && b <= 0x9F) cp = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : kReplacement;
    AppendUtf8(out, cp);
  }
  return out;
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
