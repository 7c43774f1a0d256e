// printf-style formatting into UTF-16: the rendered texts of the library must
// be the same in the Linux and the Windows build, so every expectation here is
// the C standard's result and holds for both (the Windows C library differs
// from it in rounding, exponent digits and empty zero precision unless the
// conforming printf is in force).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "platform/text.h"

namespace {

using tova::platform::AppendFormatU16;
using tova::platform::FormatU16;

struct Case {
  const char* what;
  std::function<std::u16string()> format;
  std::u16string expected;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(c.format(), c.expected) << c.what;
  }
}

TEST(FormatU16Test, FixedPointRoundsTheStoredBinaryValue) {
  RunCases({
      // 0.05 is stored a little above, 0.15 and 0.35 a little below the half.
      {"0.05 %.1f", [] { return FormatU16("%.1f", 0.05); }, u"0.1"},
      {"0.15 %.1f", [] { return FormatU16("%.1f", 0.15); }, u"0.1"},
      {"0.25 %.1f (exact tie: to even)", [] { return FormatU16("%.1f", 0.25); }, u"0.2"},
      {"0.35 %.1f", [] { return FormatU16("%.1f", 0.35); }, u"0.3"},
      {"1.005 %.2f", [] { return FormatU16("%.2f", 1.005); }, u"1.00"},
      {"9.95 %.1f", [] { return FormatU16("%.1f", 9.95); }, u"9.9"},
      {"0.0005 %.3f", [] { return FormatU16("%.3f", 0.0005); }, u"0.001"},
      {"2.5 %.0f", [] { return FormatU16("%.0f", 2.5); }, u"2"},
      {"3.5 %.0f", [] { return FormatU16("%.0f", 3.5); }, u"4"},
      {"0.5 %.f", [] { return FormatU16("%.f", 0.5); }, u"0"},
      {"2.5 %1.f (precision 0)", [] { return FormatU16("%1.f", 2.5); }, u"2"},
      {"1.5 %1.f", [] { return FormatU16("%1.f", 1.5); }, u"2"},
      {"-1.25 %05.1f", [] { return FormatU16("%05.1f", -1.25); }, u"-01.2"},
      {"3.14159 %5.1f", [] { return FormatU16("%5.1f", 3.14159); }, u"  3.1"},
      {"3.0 %#.0f", [] { return FormatU16("%#.0f", 3.0); }, u"3."},
      {"-0.0 %f", [] { return FormatU16("%f", -0.0); }, u"-0.000000"},
      {"1e20 %f", [] { return FormatU16("%f", 1e20); }, u"100000000000000000000.000000"},
      {"0.1 %.20f", [] { return FormatU16("%.20f", 0.1); }, u"0.10000000000000000555"},
      {"float promoted %.2f", [] { return FormatU16("%.2f", static_cast<double>(36.6f)); }, u"36.60"},
  });
}

TEST(FormatU16Test, ExponentFormsUseTwoDigitExponents) {
  RunCases({
      {"%e", [] { return FormatU16("%e", 12345.678); }, u"1.234568e+04"},
      {"%E", [] { return FormatU16("%E", 0.000123); }, u"1.230000E-04"},
      {"%-10.3e|", [] { return FormatU16("%-10.3e|", 2.0); }, u"2.000e+00 |"},
      {"%g small", [] { return FormatU16("%g", 1e-5); }, u"1e-05"},
      {"%g integral", [] { return FormatU16("%g", 100000.0); }, u"100000"},
      {"%g million", [] { return FormatU16("%g", 1e6); }, u"1e+06"},
      {"%.3g", [] { return FormatU16("%.3g", 0.0001234); }, u"0.000123"},
      {"%G", [] { return FormatU16("%G", 1e-10); }, u"1E-10"},
      {"%#g", [] { return FormatU16("%#g", 1.0); }, u"1.00000"},
      {"%.10g", [] { return FormatU16("%.10g", 1.0 / 3); }, u"0.3333333333"},
      {"%.17g", [] { return FormatU16("%.17g", 0.1); }, u"0.10000000000000001"},
      {"%e of 1e300", [] { return FormatU16("%e", 1e300); }, u"1.000000e+300"},
  });
}

TEST(FormatU16Test, SpecialValuesReadTheSameEverywhere) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  RunCases({
      {"+inf", [] { return FormatU16("%.1f", std::numeric_limits<double>::infinity()); }, u"inf"},
      {"-inf", [] { return FormatU16("%.1f", -std::numeric_limits<double>::infinity()); }, u"-inf"},
      {"+inf %F", [] { return FormatU16("%F", std::numeric_limits<double>::infinity()); }, u"INF"},
      {"nan", [nan] { return FormatU16("%.1f", nan); }, u"nan"},
      // A NaN read from stored bytes may carry the sign bit (0xFFFFFFFF as a
      // float); the C libraries disagree on showing it, the library does not.
      {"negative nan", [nan] { return FormatU16("%.1f", std::copysign(nan, -1.0)); }, u"nan"},
      {"negative nan %e", [nan] { return FormatU16("%e", std::copysign(nan, -1.0)); }, u"nan"},
      {"negative nan %G", [nan] { return FormatU16("%G", std::copysign(nan, -1.0)); }, u"NAN"},
      {"nan width", [nan] { return FormatU16("%6.2f|", std::copysign(nan, -1.0)); }, u"   nan|"},
  });
}

TEST(FormatU16Test, IntegersFollowTheirPrecisionAndFlags) {
  RunCases({
      {"%.u of 0 is empty", [] { return FormatU16("[%.u]", 0u); }, u"[]"},
      {"%.0d of 0 is empty", [] { return FormatU16("[%.0d]", 0); }, u"[]"},
      {"%5.u of 0 is blanks", [] { return FormatU16("[%5.u]", 0u); }, u"[     ]"},
      {"%.3u", [] { return FormatU16("%.3u", 7u); }, u"007"},
      {"part number %.3u", [] { return FormatU16(" %.3u", 12u); }, u" 012"},
      {"%X", [] { return FormatU16("%X", 0xABCDEFu); }, u"ABCDEF"},
      {"%04X", [] { return FormatU16("%04X", 0xFF01u); }, u"FF01"},
      {"%#x", [] { return FormatU16("%#x", 255u); }, u"0xff"},
      {"%o", [] { return FormatU16("%o", 8u); }, u"10"},
      {"%+d", [] { return FormatU16("%+d", 5); }, u"+5"},
      {"% d", [] { return FormatU16("% d", 5); }, u" 5"},
      {"%-5d|", [] { return FormatU16("%-5d|", 42); }, u"42   |"},
      {"%*d", [] { return FormatU16("%*d", 4, 7); }, u"   7"},
      {"%*d| with a negative width", [] { return FormatU16("%*d|", -4, 7); }, u"7   |"},
      {"%.*f with a negative precision", [] { return FormatU16("%.*f", -1, 0.5); }, u"0.500000"},
      {"%zu is 64 bits in both builds",
       [] { return FormatU16("%zu", static_cast<size_t>(5000000000ull)); }, u"5000000000"},
      {"%u of UINT32_MAX", [] { return FormatU16("%u", UINT32_MAX); }, u"4294967295"},
      {"%d of INT32_MIN", [] { return FormatU16("%d", INT32_MIN); }, u"-2147483648"},
      {"%lld of INT64_MIN", [] { return FormatU16("%lld", static_cast<long long>(INT64_MIN)); },
       u"-9223372036854775808"},
      {"%llu of UINT64_MAX", [] { return FormatU16("%llu", static_cast<unsigned long long>(UINT64_MAX)); },
       u"18446744073709551615"},
      {"%llX", [] { return FormatU16("%llX", 0x123456789ABCDEFull); }, u"123456789ABCDEF"},
      {"%c and %%", [] { return FormatU16("%c%%%3c", 'A', 'B'); }, u"A%  B"},
  });
}

TEST(FormatU16Test, StringsArePaddedAndCutInUtf16Units) {
  RunCases({
      {"%s", [] { return FormatU16("<%s>", u"\u00b0C"); }, u"<\u00b0C>"},
      {"%-6.3s|", [] { return FormatU16("%-6.3s|", u"abcdef"); }, u"abc   |"},
      {"%5s", [] { return FormatU16("%5s", u"ab"); }, u"   ab"},
      {"%hs ASCII", [] { return FormatU16("%hs", "Camera 1"); }, u"Camera 1"},
      {"null %s", [] { return FormatU16("%s", static_cast<const char16_t*>(nullptr)); }, u"(null)"},
  });
  std::u16string out = u"T=";
  AppendFormatU16(out, "%.1f%s", 21.45, u"\u00b0C");
  EXPECT_EQ(out, u"T=21.4\u00b0C");  // 21.45 is stored below the half
}

}  // namespace
