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

// The conversion of raw pixel values to degrees Celsius of a recording, as
// the companion library tova_ext makes it: through the calibration table
// (TOVA_DH_TCAL_TABLE_U16 / _U32), or the values themselves for the FLT data
// unit. Without either there is none.
class TemperatureConversion {
 public:
  static TemperatureConversion ForDocument(const Document& doc);
  bool available() const { return available_; }
  // The values of a frame in degrees Celsius (conversion available only).
  std::vector<double> ToCelsius(const std::vector<double>& raw) const;

 private:
  uint64_t handle_ = 0;
  bool available_ = false;
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
