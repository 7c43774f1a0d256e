// Narrow texts outside Windows: entry texts are Windows-1252, paths UTF-8.
#include "platform/text.h"

namespace tova::platform {

namespace {

// Windows-1252 code points of the bytes 0x80 to 0x9F; the five undefined
// bytes map to the C1 controls of the same value, as Windows itself does.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::u16string NarrowTextToUtf16(std::string_view narrow) {
  std::u16string out;
  out.reserve(narrow.size());
  for (char ch : narrow) {
    const unsigned char c = static_cast<unsigned char>(ch);
    out.push_back(c >= 0x80 && c < 0xA0 ? kHigh1252[c - 0x80] : static_cast<char16_t>(c));
  }
  return out;
}

std::string Utf16ToNarrowText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char mapped = '?';
    for (int i = 0; i < 32; ++i)
      if (kHigh1252[i] == c) mapped = static_cast<char>(0x80 + i);
    out.push_back(mapped);
  }
  return out;
}

std::u16string NarrowPathToUtf16(const char* path) { return path ? Utf8ToUtf16(path) : std::u16string(); }

}  // namespace tova::platform
