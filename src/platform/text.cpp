// Portable text helpers: UTF-8 <-> UTF-16, printf-style formatting into
// UTF-16 and upper-casing. The narrow code page conversions are per platform.
#include "platform/text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace tova::platform {

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (i + len > s.size()) {
      out.push_back(0xFFFD);
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
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
  return out;
}

namespace {

void AppendAscii(std::u16string& out, const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<unsigned char>(s[i]));
}

// Formats one numeric conversion with the C library and appends it.
template <typename T>
void AppendOne(std::u16string& out, const std::string& piece, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, piece.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    AppendAscii(out, small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), piece.c_str(), value);
  AppendAscii(out, big.data(), static_cast<size_t>(n));
}

// Pads or cuts a string argument by the flags, width and precision of piece.
void AppendString(std::u16string& out, std::u16string_view s, bool left, int width, int precision) {
  if (precision >= 0 && static_cast<size_t>(precision) < s.size()) s = s.substr(0, precision);
  const size_t pad = width > 0 && static_cast<size_t>(width) > s.size() ? width - s.size() : 0;
  if (!left) out.append(pad, u' ');
  out.append(s);
  if (left) out.append(pad, u' ');
}

// One conversion of a format as it was read: its printf text (flags, width
// and precision as written, stars resolved) and what it asks for.
struct Conversion {
  std::string piece = "%";
  bool left = false;   // the '-' flag
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  std::string length;  // h, l, ll, L, j, z, t
  char type = '\0';    // 0 when the format ended inside the conversion
};

void ReadFlags(const char*& p, Conversion& c) {
  while (*p && std::strchr("-+ #0", *p)) {
    if (*p == '-') c.left = true;
    c.piece.push_back(*p++);
  }
}

void ReadWidth(const char*& p, va_list* ap, Conversion& c) {
  if (*p == '*') {
    c.width = va_arg(*ap, int);
    if (c.width < 0) {  // a negative width is the '-' flag with that width
      c.left = true;
      c.width = -c.width;
      c.piece.push_back('-');
    }
    c.piece += std::to_string(c.width);
    ++p;
    return;
  }
  while (*p >= '0' && *p <= '9') {
    c.width = (c.width < 0 ? 0 : c.width) * 10 + (*p - '0');
    c.piece.push_back(*p++);
  }
}

void ReadPrecision(const char*& p, va_list* ap, Conversion& c) {
  if (*p != '.') return;
  c.piece.push_back(*p++);
  c.precision = 0;
  if (*p == '*') {
    c.precision = va_arg(*ap, int);
    if (c.precision < 0) {  // a negative precision counts as none
      c.piece.pop_back();
      c.precision = -1;
    } else {
      c.piece += std::to_string(c.precision);
    }
    ++p;
    return;
  }
  while (*p >= '0' && *p <= '9') {
    c.precision = c.precision * 10 + (*p - '0');
    c.piece.push_back(*p++);
  }
}

// Reads the conversion that starts after a '%' at p; p ends after it.
Conversion ReadConversion(const char*& p, va_list* ap) {
  Conversion c;
  ReadFlags(p, c);
  ReadWidth(p, ap, c);
  ReadPrecision(p, ap, c);
  while (*p && std::strchr("hlLjzt", *p)) c.length.push_back(*p++);
  c.type = *p ? *p++ : '\0';
  return c;
}

void AppendInteger(std::u16string& out, const Conversion& c, va_list* ap) {
  // size_t and ptrdiff_t are 64 bits in both builds, long only on Linux.
  const std::string& n = c.length;
  if (n == "ll" || n == "j" || n == "z" || n == "t") {
    AppendOne(out, c.piece + "ll" + c.type, va_arg(*ap, long long));
  } else if (n == "l") {
    AppendOne(out, c.piece + "l" + c.type, va_arg(*ap, long));
  } else {
    AppendOne(out, c.piece + c.type, va_arg(*ap, int));
  }
}

void AppendReal(std::u16string& out, const Conversion& c, va_list* ap) {
  // The sign of a NaN means nothing, and the C libraries disagree on showing
  // it ("-nan" or "nan"): both builds print it without.
  double value = va_arg(*ap, double);
  if (std::isnan(value)) value = std::copysign(value, 1.0);
  AppendOne(out, c.piece + c.type, value);
}

void AppendText(std::u16string& out, const Conversion& c, va_list* ap) {
  if (c.length == "h") {
    const char* s = va_arg(*ap, const char*);
    AppendString(out, s ? NarrowTextToUtf16(s) : u"(null)", c.left, c.width, c.precision);
  } else {
    const char16_t* s = va_arg(*ap, const char16_t*);
    AppendString(out, s ? std::u16string_view(s) : std::u16string_view(u"(null)"), c.left, c.width, c.precision);
  }
}

void AppendConversion(std::u16string& out, const Conversion& c, va_list* ap) {
  switch (c.type) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
      AppendInteger(out, c, ap);
      break;
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
      AppendReal(out, c, ap);
      break;
    case 's':
      AppendText(out, c, ap);
      break;
    case 'p':
      AppendOne(out, c.piece + c.type, va_arg(*ap, void*));
      break;
    default:  // unknown or truncated conversion: shown as written
      AppendAscii(out, c.piece.data(), c.piece.size());
      if (c.type) out.push_back(static_cast<unsigned char>(c.type));
      break;
  }
}

}  // namespace

void AppendFormatU16V(std::u16string& out, const char* format, va_list args) {
  // The arguments are read through a copy, which the helpers take by pointer
  // (a va_list handed on by value may not be read again by its owner).
  va_list ap;
  va_copy(ap, args);
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      const char* start = p;
      while (*p && *p != '%') ++p;
      AppendAscii(out, start, static_cast<size_t>(p - start));
    } else if (p[1] == '%') {
      out.push_back(u'%');
      p += 2;
    } else {
      ++p;
      AppendConversion(out, ReadConversion(p, &ap), &ap);
    }
  }
  va_end(ap);
}

std::u16string FormatU16V(const char* format, va_list args) {
  std::u16string out;
  AppendFormatU16V(out, format, args);
  return out;
}

std::u16string FormatU16(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string out = FormatU16V(format, args);
  va_end(args);
  return out;
}

void AppendFormatU16(std::u16string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatU16V(out, format, args);
  va_end(args);
}

std::u16string ToUpper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<char16_t>(c - 0x20);
    else if (c == 0xFF) c = 0x178;
  }
  return out;
}

}  // namespace tova::platform
