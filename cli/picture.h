// The false-colour picture of a frame: the image in an iron-like palette at
// one picture pixel per image pixel, with a colour bar to its right.
//
// Layout (left to right, kColourBarExtra = 64 pixels beside the image):
//   image (width x height) | 4 px gap | 12 px colour bar, high end at the top |
//   4 px gap | 44 px for the labels of the high end (top) and low end (bottom)
// The picture is as tall as the image. The gaps and label area are black;
// labels are drawn only when the image is at least 12 pixels tall.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

namespace tova_cli {

inline constexpr uint32_t kColourBarExtra = 64;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<Rgb> pixels;  // row by row
};

// The palette colour of a position 0..1 (clamped; NaN gives black).
Rgb PaletteColour(double position);

// Renders the frame: values are converted with conversion when range is in
// degrees Celsius, then placed between range.low and range.high.
Picture RenderFalseColour(const FrameImage& image, const TemperatureConversion& conversion,
                          const DisplayRange& range);

// The label text of a range end: at most five characters ("-12.5", "273",
// "29315"), or empty when the value needs more.
std::string RangeLabel(double value);

// Writes the picture as an 8-bit RGB PNG with text chunks (key, value).
// Throws CliError on failure or when the tool was built without libpng.
void WritePng(const std::string& path, const Picture& picture,
              const std::vector<std::pair<std::string, std::string>>& texts);

}  // namespace tova_cli
