// printf-style formatting into UTF-16 and narrow entry text decoding. Both builds must give the C standard's result,
// where the Windows C library would differ (rounding, exponent digits, empty zero precision).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/text.h"

namespace {

using tova::platform::FormatU16;

struct Case {
  const char* what;
  std::u16string actual, expected;
};
#define F(expected, format, ...) Case{format " of " #__VA_ARGS__, FormatU16(format, __VA_ARGS__), expected}

TEST(FormatU16Test, ConversionsFollowTheCStandardInBothBuilds) {
  const double inf = std::numeric_limits<double>::infinity();
  const double negative_nan = std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0);
  const Case cases[] = {
      // Fixed point rounds the stored binary value: 0.05 lies a little above the half, 0.15, 0.35, 9.95 and 21.45 a
      // little below; 0.25 is a tie.
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
      F(u"5000000000", "%zu", static_cast<size_t>(5000000000ull)),
      F(u"-9223372036854775808", "%lld", static_cast<long long>(INT64_MIN)), F(u"A%  B", "%c%%%3c", 'A', 'B'),
      // %s takes UTF-16, %hs narrow entry text; both are cut and padded in UTF-16 units.
      F(u"<\u00b0C>", "<%s>", u"\u00b0C"), F(u"abc   |", "%-6.3s|", u"abcdef"),
      F(u"(null)", "%s", static_cast<const char16_t*>(nullptr)), F(u"Camera \u00b0", "%hs", "Camera \xB0"),
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;
  std::u16string out = u"T=";
  tova::platform::AppendFormatU16(out, "%.1f%s", 21.45, u"\u00b0C");
  EXPECT_EQ(out, u"T=21.4\u00b0C");
  EXPECT_EQ(tova::platform::NarrowTextToUtf16("\xB0 \x80 \xE9 A"), u"\u00b0 \u20ac \u00e9 A");
  EXPECT_EQ(tova::platform::Utf16ToNarrowText(u"\u00b0\u20ac"), "\xB0\x80");
}

}  // namespace
