// Whole-entry texts: narrow, UTF-16, and the calibration string's narrow
// detection.
#include "catalog/text_renderings.h"

#include <algorithm>
#include <string_view>

#include "platform/byte_order.h"
#include "platform/text.h"

namespace tova::catalog {

void RenderNarrowText(const uint8_t* data, uint32_t size, std::u16string& out) {
  if (!data) return;
  const char* text = reinterpret_cast<const char*>(data);
  const size_t length = std::find(text, text + size, '\0') - text;
  out += platform::NarrowTextToUtf16(std::string_view(text, length));
}

void RenderUtf16Text(const uint8_t* data, uint32_t size, std::u16string& out) {
  if (!data) return;
  for (uint32_t pos = 0; pos + 2 <= size; pos += 2) {
    const char16_t unit = platform::GetU16(data + pos);
    if (unit == 0) break;
    out.push_back(unit);
  }
}

void RenderCalibrationStringUC(const uint8_t* data, uint32_t size, std::u16string& out) {
  if (data && size >= 2 && platform::GetU16(data) > 0x00FF)
    RenderNarrowText(data, size, out);
  else
    RenderUtf16Text(data, size, out);
}

}  // namespace tova::catalog
