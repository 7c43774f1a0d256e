// Entry data layouts the tool reads and writes itself.
#include "records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tova_cli {
namespace {

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
float GetF32(const uint8_t* p) {
  const uint32_t bits = GetU32(p);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
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

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
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
constexpr size_t kTableU32Size = 1048;

std::optional<CalibrationTable> ParseTable(const std::vector<uint8_t>& data, size_t value_width) {
  const size_t needed = value_width == 2 ? kTableU16Size : kTableU32Size;
  if (data.size() < needed) return std::nullopt;
  CalibrationTable t;
  const uint8_t* p = data.data();
  t.range = GetU16(p);
  t.cal_min_c = GetF32(p + 4);
  t.cal_max_c = GetF32(p + 8);
  t.table_start_c = GetF32(p + 12);
  t.table_step = GetF32(p + 16);
  for (size_t i = 0; i < 256; ++i)
    t.values[i] = value_width == 2 ? GetU16(p + 20 + 2 * i) : GetU32(p + 20 + 4 * i);
  t.command = GetU16(p + 20 + 256 * value_width);
  return t;
}

}  // namespace

std::optional<TimeStamp> TimeStamp::Parse(const std::vector<uint8_t>& data) {
  if (data.size() < 16) return std::nullopt;
  const uint8_t* p = data.data();
  TimeStamp t;
  t.year = GetU16(p);
  t.month = GetU16(p + 2);
  t.day_of_week = GetU16(p + 4);
  t.day = GetU16(p + 6);
  t.hour = GetU16(p + 8);
  t.minute = GetU16(p + 10);
  t.second = GetU16(p + 12);
  t.millisecond = GetU16(p + 14);
  return t;
}

std::array<uint8_t, 16> TimeStamp::Bytes() const {
  std::vector<uint8_t> out(16);
  const uint16_t fields[8] = {year, month, day_of_week, day, hour, minute, second, millisecond};
  for (size_t i = 0; i < 8; ++i) PutU16(out, 2 * i, fields[i]);
  std::array<uint8_t, 16> bytes{};
  std::memcpy(bytes.data(), out.data(), 16);
  return bytes;
}

std::optional<int64_t> TimeStamp::MillisecondsSinceEpoch() const {
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
      millisecond > 999)
    return std::nullopt;
  const int64_t days = DaysFromCivil(year, month, day);
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + millisecond;
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

std::optional<CalibrationTable> CalibrationTable::ParseU16(const std::vector<uint8_t>& data) {
  return ParseTable(data, 2);
}

std::optional<CalibrationTable> CalibrationTable::ParseU32(const std::vector<uint8_t>& data) {
  return ParseTable(data, 4);
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

bool CalibrationTable::Usable() const {
  if (!std::isfinite(table_start_c) || !std::isfinite(table_step) || table_step <= 0) return false;
  for (size_t i = 1; i < values.size(); ++i)
    if (values[i] <= values[i - 1]) return false;
  return true;
}

double CalibrationTable::ToCelsius(double raw) const {
  // The segment that holds raw: the first point at or above it, clamped to
  // the first and last segments for values outside the table.
  const auto it = std::lower_bound(values.begin() + 1, values.end() - 1, raw,
                                   [](uint32_t v, double r) { return v < r; });
  const size_t hi = static_cast<size_t>(it - values.begin());
  const double v0 = values[hi - 1], v1 = values[hi];
  const double t0 = table_start_c + static_cast<double>(hi - 1) * table_step;
  return t0 + (raw - v0) / (v1 - v0) * table_step;
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
