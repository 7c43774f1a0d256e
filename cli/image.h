// A frame's pixels as the tool exports them: the image size and data unit
// from the data header, the pixel values of TOVA_IM_Data, and the conversion
// of raw values to degrees Celsius where the recording allows one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records.h"

namespace tova_cli {

class Document;

struct FrameImage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t data_unit = 0;
  std::vector<uint8_t> bytes;   // the stored pixel bytes, width * height * bytes per pixel
  std::vector<double> values;   // the pixel values, row by row

  // Reads the current frame of doc (its image must be loaded). Throws
  // CliError when the size, unit or image data do not fit together.
  static FrameImage Read(const Document& doc, uint32_t frame);
};

// The conversion of raw pixel values to degrees Celsius of a recording:
// through its calibration table (TOVA_DH_TCAL_TABLE_U16 / _U32), or the
// values themselves for the FLT data unit. Without either there is none.
class TemperatureConversion {
 public:
  static TemperatureConversion ForDocument(const Document& doc);
  bool available() const { return kind_ != Kind::kNone; }
  double ToCelsius(double raw) const;
  // "calibration table", "values are degrees Celsius (FLT)" or "none".
  std::string Describe() const;

 private:
  enum class Kind { kNone, kTable, kIdentity };
  Kind kind_ = Kind::kNone;
  CalibrationTable table_;
};

// The display range of an export: low and high end and whether they are
// degrees Celsius (else raw values).
struct DisplayRange {
  double low = 0;
  double high = 0;
  bool celsius = false;
  std::string source;  // "stored display scale", "frame range", "--range"
};

}  // namespace tova_cli
