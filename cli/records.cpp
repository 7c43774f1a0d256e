// Entry data layouts the tool writes itself.
#include "records.h"

#include <cstdio>
#include <cstring>

namespace tova_cli {
namespace {

void PutU16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutF32(std::vector<uint8_t>& out, size_t at, float v) {
  uint32_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(out, at, bits);
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

constexpr size_t kTableU16Size = 536;

}  // namespace

std::array<uint8_t, 16> TimeStamp::Bytes() const {
  std::vector<uint8_t> out(16);
  const uint16_t fields[8] = {year, month, day_of_week, day, hour, minute, second, millisecond};
  for (size_t i = 0; i < 8; ++i) PutU16(out, 2 * i, fields[i]);
  std::array<uint8_t, 16> bytes{};
  std::memcpy(bytes.data(), out.data(), 16);
  return bytes;
}

TimeStamp TimeStamp::FromMillisecondsSinceEpoch(int64_t ms) {
  int64_t days = ms / 86400000;
  int64_t rest = ms % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days, y, m, d);
  TimeStamp t;
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(m);
  t.day = static_cast<uint16_t>(d);
  // 1970-01-01 was a Thursday; 0 is Sunday as in the system's own stamps.
  t.day_of_week = static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);
  t.hour = static_cast<uint16_t>(rest / 3600000);
  t.minute = static_cast<uint16_t>(rest / 60000 % 60);
  t.second = static_cast<uint16_t>(rest / 1000 % 60);
  t.millisecond = static_cast<uint16_t>(rest % 1000);
  return t;
}

std::string TimeStamp::ToString() const {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned{year}, unsigned{month},
                unsigned{day}, unsigned{hour}, unsigned{minute}, unsigned{second}, unsigned{millisecond});
  return text;
}

std::string FormatSpan(int64_t milliseconds) {
  const bool negative = milliseconds < 0;
  const uint64_t ms = negative ? 0 - static_cast<uint64_t>(milliseconds) : static_cast<uint64_t>(milliseconds);
  const uint64_t hours = ms / 3600000, minutes = ms / 60000 % 60, seconds = ms / 1000 % 60, rest = ms % 1000;
  char text[96];
  if (hours)
    std::snprintf(text, sizeof text, "%s%llu h %llu min %llu.%03llu s", negative ? "-" : "",
                  static_cast<unsigned long long>(hours), static_cast<unsigned long long>(minutes),
                  static_cast<unsigned long long>(seconds), static_cast<unsigned long long>(rest));
  else if (minutes)
    std::snprintf(text, sizeof text, "%s%llu min %llu.%03llu s", negative ? "-" : "",
                  static_cast<unsigned long long>(minutes), static_cast<unsigned long long>(seconds),
                  static_cast<unsigned long long>(rest));
  else
    std::snprintf(text, sizeof text, "%s%llu.%03llu s", negative ? "-" : "", static_cast<unsigned long long>(seconds),
                  static_cast<unsigned long long>(rest));
  return text;
}

std::vector<uint8_t> CalibrationTable::BytesU16() const {
  std::vector<uint8_t> out(kTableU16Size, 0);
  PutU16(out, 0, range);
  PutF32(out, 4, cal_min_c);
  PutF32(out, 8, cal_max_c);
  PutF32(out, 12, table_start_c);
  PutF32(out, 16, table_step);
  for (size_t i = 0; i < 256; ++i) PutU16(out, 20 + 2 * i, static_cast<uint16_t>(values[i]));
  PutU16(out, 532, command);
  return out;
}

std::string DataUnitName(uint16_t unit) {
  switch (unit) {
    case 0: return "U16";
    case 1: return "U32";
    case 2: return "S16";
    case 3: return "FLT";
    default: return "??";
  }
}

unsigned BytesPerPixel(uint16_t unit) {
  switch (unit) {
    case 0: case 2: return 2;
    case 1: case 3: return 4;
    default: return 0;
  }
}

std::string CalibrationKindName(uint16_t version) {
  switch (version) {
    case 0: return "table 256 U16";
    case 1: return "table 256 U32";
    case 2: return "table 256 S16";
    case 3: return "table 256 FLT";
    case 10: return "square approach";
    case 20: return "exponential approach";
    case 30: return "logaritmic approach";
    case 65535: return "not used";
    default: return "??";
  }
}

}  // namespace tova_cli
