// memory_document: builds a TOVA document in memory through the public
// interface and lists what it holds.
//
//   memory_document
//
// Prints the document's type, its number of datasets and, for each section
// of the current dataset, every entry with its identifier and size.
#include <cstdint>
#include <cstdio>
#include <string>

#include "HOLMDAQTova.h"

namespace {

// Entry identifiers used below (catalogue names in the comments).
constexpr uint16_t kDeviceString = 0x0110;  // TOVA_GH_INFO_DeviceString_MBC
constexpr uint16_t kSensorX = 0x0111;       // TOVA_GH_INFO_SensorX
constexpr uint16_t kSensorY = 0x0112;       // TOVA_GH_INFO_SensorY
constexpr uint16_t kImageX = 0x0201;        // TOVA_DH_DREC_SizeX
constexpr uint16_t kImageY = 0x0202;        // TOVA_DH_DREC_SizeY
constexpr uint16_t kImageData = 0x0300;     // TOVA_IM_Data

constexpr uint16_t kWidth = 4, kHeight = 3;

bool Check(int32_t rc, const char* what) {
  if (rc != TOVA_OK) std::fprintf(stderr, "%s failed with code %d\n", what, static_cast<int>(rc));
  return rc == TOVA_OK;
}

bool SetU16(uint64_t h, uint16_t section, uint16_t id, uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};  // little-endian
  return Check(TOVADLL_SET_ENTRY(h, section, id, sizeof bytes, bytes), "TOVADLL_SET_ENTRY");
}

// The library's texts are UTF-16; these ones are plain ASCII.
std::string Narrow(const TOVA_WSTRING& text) {
  std::string out;
  for (TOVA_WCHAR c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// Lists the entries of one section of the current dataset, by index.
void ListSection(uint64_t h, uint16_t section) {
  TOVA_WSTRING text;
  uint32_t count = 0;
  if (!Check(TOVADLL_COPY_SECTION_STRING(h, section, text), "TOVADLL_COPY_SECTION_STRING") ||
      !Check(TOVADLL_GET_NUM_ENTRIES(h, section, &count), "TOVADLL_GET_NUM_ENTRIES"))
    return;
  std::printf("%s: %u entries\n", Narrow(text).c_str(), static_cast<unsigned>(count));
  for (uint32_t i = 0; i < count; ++i) {
    if (Check(TOVADLL_COPY_ENTRY_STRING(h, section, i, text), "TOVADLL_COPY_ENTRY_STRING"))
      std::printf("  %s\n", Narrow(text).c_str());
  }
}

}  // namespace

int main() {
  // One small frame of unsigned 16-bit pixel values, row by row.
  uint8_t pixels[kWidth * kHeight * 2];
  for (unsigned i = 0; i < kWidth * kHeight; ++i) {
    pixels[2 * i] = static_cast<uint8_t>(i * 10);
    pixels[2 * i + 1] = 0x1F;
  }
  const char device[] = "example camera";

  // A memory document: data unit 0 (unsigned 16-bit), calibration version 0.
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 0, 0);
  if (h == TOVADLL_INVALID_HANDLE) {
    std::fprintf(stderr, "TOVADLL_OPEN_FILE_MEM failed\n");
    return 1;
  }

  // Dataset 0: the global header, the data header and the image.
  bool ok = Check(TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, kDeviceString, sizeof device - 1, device),
                  "TOVADLL_SET_ENTRY") &&
            SetU16(h, TOVA_SECT_GlobalHeader, kSensorX, kWidth) &&
            SetU16(h, TOVA_SECT_GlobalHeader, kSensorY, kHeight) &&
            SetU16(h, TOVA_SECT_DataHeader, kImageX, kWidth) &&
            SetU16(h, TOVA_SECT_DataHeader, kImageY, kHeight) &&
            Check(TOVADLL_SET_ENTRY(h, TOVA_SECT_Image, kImageData, sizeof pixels, pixels), "TOVADLL_SET_ENTRY");

  uint32_t type = 0, datasets = 0;
  ok = ok && Check(TOVADLL_GET_TOVA_TYPE(h, &type), "TOVADLL_GET_TOVA_TYPE") &&
       Check(TOVADLL_GET_NUMDATASETS(h, &datasets), "TOVADLL_GET_NUMDATASETS");
  if (ok) {
    std::printf("document type %u (memory), %u dataset(s)\n", static_cast<unsigned>(type),
                static_cast<unsigned>(datasets));
    for (uint16_t section : {TOVA_SECT_GlobalHeader, TOVA_SECT_DataHeader, TOVA_SECT_Image}) ListSection(h, section);

    // Reading a value back: the image width from the data header.
    uint8_t width[2] = {};
    uint32_t copied = 0;
    if (Check(TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_DataHeader, kImageX, sizeof width, width, &copied),
              "TOVADLL_COPY_ENTRY_DATA"))
      std::printf("image width read back: %u pixels\n", static_cast<unsigned>(width[0] | width[1] << 8));
  }

  ok = Check(TOVADLL_CLOSE_FILE(h), "TOVADLL_CLOSE_FILE") && ok;
  return ok ? 0 : 1;
}
