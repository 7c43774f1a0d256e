// Text as both builds must agree on it: printf-style formatting into UTF-16, narrow entry text, UTF-8 and UTF-16.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "platform/text.h"

namespace tova::testing {
namespace {

using platform::FormatU16;

// Formatting must give the C standard's result in both builds, where the Windows C library differs.
struct Case {
  const char* what;
  std::u16string actual, expected;
};
#define F(expected, format, ...) Case{format " of " #__VA_ARGS__, FormatU16(format, __VA_ARGS__), expected}

TEST(FormatU16Test, ConversionsFollowTheCStandardInBothBuilds) {
  const double inf = std::numeric_limits<double>::infinity();
  const double negative_nan = std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0);
  const Case cases[] = {
      // Fixed point rounds the stored binary value: 0.05 lies above the half, 0.15, 0.35, 9.95, 21.45 below.
      F(u"0.1", "%.1f", 0.05), F(u"0.1", "%.1f", 0.15), F(u"0.2", "%.1f", 0.25), F(u"0.3", "%.1f", 0.35),
      F(u"9.9", "%.1f", 9.95), F(u"21.4", "%.1f", 21.45), F(u"1.00", "%.2f", 1.005), F(u"2", "%.0f", 2.5),
      F(u"4", "%.0f", 3.5), F(u"2", "%1.f", 2.5), F(u"2", "%1.f", 1.5), F(u" 1", "%2.f", 0.95),
      F(u"-01.2", "%05.1f", -1.25), F(u"-0.000000", "%f", -0.0), F(u"3.", "%#.0f", 3.0),
      F(u"0.10000000000000000555", "%.20f", 0.1),
      // Exponents have at least two digits.
      F(u"1.234568e+04", "%e", 12345.678), F(u"1e-05", "%g", 1e-5), F(u"1E-10", "%G", 1e-10),
      F(u"1.000000e+300", "%e", 1e300), F(u"0.10000000000000001", "%.17g", 0.1),
      // A NaN read from stored bytes may carry the sign bit; it shows no sign.
      F(u"inf", "%.1f", inf), F(u"-inf", "%.1f", -inf), F(u"INF", "%F", inf), F(u"nan", "%.1f", negative_nan),
      F(u"NAN", "%G", negative_nan), F(u"   nan|", "%6.2f|", negative_nan),
      // Integers: zero with precision 0 is empty.
      F(u"[]", "[%.u]", 0u), F(u"[]", "[%.0d]", 0), F(u"[     ]", "[%5.u]", 0u), F(u"007", "%.3u", 7u),
      F(u"ABCDEF", "%X", 0xABCDEFu), F(u"FF01", "%04X", 0xFF01u), F(u"0xff", "%#x", 255u), F(u"+5", "%+d", 5),
      F(u"42   |", "%-5d|", 42), F(u"7   |", "%*d|", -4, 7), F(u"0.500000", "%.*f", -1, 0.5),
      F(u"5000000000", "%zu", static_cast<size_t>(5000000000ull)), F(u"        10", "%10u", 10u),
      F(u"        9", "%9u", 9u),
      F(u"-9223372036854775808", "%lld", static_cast<long long>(INT64_MIN)), F(u"A%  B", "%c%%%3c", 'A', 'B'),
      // %s takes UTF-16, %hs narrow entry text; both are cut and padded in UTF-16 units.
      F(u"<\u00b0C>", "<%s>", u"\u00b0C"), F(u"abc   |", "%-6.3s|", u"abcdef"), F(u"[]", "[%.0s]", u"abc"),
      F(u"(null)", "%s", static_cast<const char16_t*>(nullptr)), F(u"Camera \u00b0", "%hs", "Camera \xB0"),
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;
  std::u16string out = u"T=";
  platform::AppendFormatU16(out, "%.1f%s", 21.45, u"\u00b0C");
  EXPECT_EQ(out, u"T=21.4\u00b0C");
  EXPECT_EQ(platform::NarrowTextToUtf16("\xB0 \x80 \xE9 A"), u"\u00b0 \u20ac \u00e9 A");
  EXPECT_EQ(platform::Utf16ToNarrowText(u"\u00b0\u20ac\x7F\u00A0\u00FF"), "\xB0\x80\x7F\xA0\xFF");
#ifndef _WIN32  // Windows converts through its code page, best-fit characters included
  EXPECT_EQ(platform::Utf16ToNarrowText(u"\u0080\u009F\u0100"), "???");
#endif
}

// Both directions at the edges of the one- to four-byte forms and around the
// surrogates; what is not UTF-8 or UTF-16 becomes U+FFFD, one per bad byte.
TEST(Utf, ConversionsAtTheFormEdgesAndOnBadInput) {
  using platform::Utf16ToUtf8, platform::Utf8ToUtf16;
  const std::pair<std::string, std::u16string> both[] = {
      {"\x7F", u"\x7F"},           {"\xC2\x80", u"\u0080"},     {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"}, {"\xED\x9F\xBF", u"\uD7FF"}, {"\xEE\x80\x80", u"\uE000"},
      {"\xEF\xBF\xBF", u"\uFFFF"}, {"\xF0\x90\x80\x80", u"\U00010000"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"}};
  for (const auto& [eight, sixteen] : both) {
    EXPECT_EQ(Utf8ToUtf16(eight), sixteen);
    EXPECT_EQ(Utf16ToUtf8(sixteen), eight);
  }
  for (const char* eight : {"\xC0\x80.", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\x80\xBF.", "\xF0\x90\x80"})
    EXPECT_EQ(Utf8ToUtf16(eight).substr(0, 1), u"\uFFFD") << eight;
  const std::u16string lone[] = {u"\xD800", u"\xDFFF", std::u16string{0xDC00, 0xD800}};
  for (const std::u16string& sixteen : lone)
    EXPECT_EQ(Utf16ToUtf8(sixteen), std::string(sixteen.size() == 1 ? "\xEF\xBF\xBD" : "\xEF\xBF\xBD\xEF\xBF\xBD"));
}

}  // namespace
}  // namespace tova::testing
