// The entry data layouts the tool writes itself: the frame time stamp and
// the 256-value calibration table (reading them and converting with them is
// tova_ext's), and the names of data units and calibration kinds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tova_cli {

// TOVA_DH_DREC_TimeStamp: eight u16 in the order year, month, day of week,
// day, hour, minute, second, millisecond (16 bytes).
struct TimeStamp {
  uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, millisecond = 0;

  std::array<uint8_t, 16> Bytes() const;
  // The stamp of a count of milliseconds since 1970-01-01 (UTC).
  static TimeStamp FromMillisecondsSinceEpoch(int64_t ms);
  // "2024-05-17 10:00:01.960"
  std::string ToString() const;
};

// "1.960 s", "2 min 3.500 s", "1 h 2 min 3.000 s", "-0.040 s".
std::string FormatSpan(int64_t milliseconds);

// TOVA_DH_TCAL_TABLE_U16 (536 bytes) and TOVA_DH_TCAL_TABLE_U32 (1048
// bytes): value[i] is the raw pixel value at table_start_c + i * table_step
// degrees Celsius.
struct CalibrationTable {
  uint16_t range = 0;
  float cal_min_c = 0, cal_max_c = 0, table_start_c = 0, table_step = 0;
  std::array<uint32_t, 256> values{};
  uint16_t command = 0;

  std::vector<uint8_t> BytesU16() const;
};

// "U16", "U32", "S16", "FLT" or "??".
std::string DataUnitName(uint16_t unit);
// Bytes per pixel of a data unit; 0 for an unknown unit.
unsigned BytesPerPixel(uint16_t unit);
// The text of a calibration kind ("table 256 U16", ... "not used", "??").
std::string CalibrationKindName(uint16_t version);

}  // namespace tova_cli
