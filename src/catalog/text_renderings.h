// The irregular renderings of whole-entry texts: narrow text, UTF-16 text and
// the calibration string that may hold narrow bytes under its UTF-16 name.
// Each reads no further than the data: a text ends at its terminator or at
// the end of the data, whichever comes first.
#pragma once

#include <cstdint>
#include <string>

namespace tova::catalog {

// Narrow text (Windows-1252; the ANSI code page on Windows) up to its NUL.
void RenderNarrowText(const uint8_t* data, uint32_t size, std::u16string& out);
// UTF-16 code units up to the first 0 unit; an odd last byte is no unit.
void RenderUtf16Text(const uint8_t* data, uint32_t size, std::u16string& out);
// TOVA_DH_TCAL_String_UC: UTF-16 text, unless its first unit is above 0x00FF,
// which shows that narrow bytes were stored: then the bytes are read again as
// narrow text.
void RenderCalibrationStringUC(const uint8_t* data, uint32_t size, std::u16string& out);

}  // namespace tova::catalog
