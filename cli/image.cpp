// Reading a frame's pixels and converting them to degrees Celsius.
#include "image.h"

#include <cstring>

#include "HOLMDAQTova.h"
#include "document.h"
#include "errors.h"
#include "tova_ext.h"

namespace tova_cli {

FrameImage FrameImage::Read(const Document& doc, uint32_t frame) {
  const std::string where = "frame " + std::to_string(frame);
  const auto width = doc.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX);
  const auto height = doc.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY);
  if (!width || !height) throw CliError(where + ": the recording stores no image size");
  if (*width == 0 || *height == 0) throw CliError(where + ": the image size is zero");
  const uint16_t unit = doc.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_DataUnit).value_or(TOVA_DATAUNIT_U16);
  const unsigned bpp = BytesPerPixel(unit);
  if (bpp == 0) throw CliError(where + ": unknown data unit " + std::to_string(unit));
  auto data = doc.Entry(TOVA_SECT_Image, TOVA_IM_Data);
  if (!data) throw CliError(where + ": the frame holds no image data");
  const uint64_t pixels = uint64_t{*width} * *height;
  const uint64_t needed = pixels * bpp;
  if (data->size() < needed)
    throw CliError(where + ": the image data hold " + std::to_string(data->size()) + " bytes, but " +
                   std::to_string(*width) + " x " + std::to_string(*height) + " " + DataUnitName(unit) +
                   " pixels need " + std::to_string(needed));

  FrameImage image;
  image.width = *width;
  image.height = *height;
  image.data_unit = unit;
  data->resize(static_cast<size_t>(needed));
  image.bytes = std::move(*data);
  image.values.resize(static_cast<size_t>(pixels));
  const uint8_t* p = image.bytes.data();
  for (size_t i = 0; i < image.values.size(); ++i, p += bpp) {
    const uint32_t u32 = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                         (bpp == 4 ? (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24) : 0u);
    switch (unit) {
      case TOVA_DATAUNIT_U16: image.values[i] = static_cast<uint16_t>(u32); break;
      case TOVA_DATAUNIT_U32: image.values[i] = u32; break;
      case TOVA_DATAUNIT_S16: image.values[i] = static_cast<int16_t>(static_cast<uint16_t>(u32)); break;
      default: {
        float f = 0;
        std::memcpy(&f, &u32, sizeof f);
        image.values[i] = f;
      }
    }
  }
  return image;
}

TemperatureConversion TemperatureConversion::ForDocument(const Document& doc) {
  TemperatureConversion conversion;
  int32_t available = 0;
  Check(tovaext_celsius_available(doc.handle(), &available), "cannot read the calibration");
  conversion.handle_ = doc.handle();
  conversion.available_ = available != 0;
  return conversion;
}

std::vector<double> TemperatureConversion::ToCelsius(const std::vector<double>& raw) const {
  std::vector<double> celsius(raw.size());
  Check(tovaext_raw_to_celsius(handle_, raw.data(), celsius.data(), raw.size()), "cannot convert to degrees Celsius");
  return celsius;
}

}  // namespace tova_cli
