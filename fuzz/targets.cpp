// The fuzz targets. They drive the library through its public calls; files
// live in the in-memory layer of fuzz_support, so that no input touches the
// disk and each runs in well under a millisecond.
#include "targets.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "fuzz_support.h"

namespace tova::fuzz {

namespace {

constexpr uint16_t kSections[] = {TOVA_SECT_GlobalHeader, TOVA_SECT_DataHeader, TOVA_SECT_Image};
constexpr char kMain[] = "fuzz.tova";
// Datasets visited per input: enough for every path, few enough to stay fast.
constexpr uint32_t kMaxVisited = 32;

// A sanitizer-independent finding: the library broke a promise of its contract.
[[noreturn]] void Finding() { std::abort(); }

void VisitDatasets(uint64_t h) {
  uint32_t n = 0;
  if (TOVADLL_GET_NUMDATASETS(h, &n) != TOVA_OK) return;
  for (uint32_t i = 0; i < std::min(n, kMaxVisited); ++i) {
    if (TOVADLL_SET_CURDATASET(h, i) != TOVA_OK) continue;
    for (uint16_t section : kSections) {
      uint32_t size = 0, copied = 0;
      if (TOVADLL_GET_ENTRY_DATASIZE(h, section, TOVA_IM_Data, &size) == TOVA_OK && size <= (1u << 20)) {
        std::vector<uint8_t> bytes(size);
        if (TOVADLL_COPY_ENTRY_DATA(h, section, TOVA_IM_Data, size, bytes.data(), &copied) == TOVA_OK &&
            copied != size)
          Finding();
      }
    }
  }
}

// A file document's verdict: read result and dataset count.
int32_t ReadBack(const char* path, uint32_t& datasets) {
  datasets = 0;
  const uint64_t h = TOVADLL_OPEN_FILE_READ(path);
  if (h == TOVADLL_INVALID_HANDLE) return 2;
  int32_t rc = TOVADLL_READ_FROM_FILE(h, 1, 0);
  if (rc == TOVA_OK) TOVADLL_GET_NUMDATASETS(h, &datasets);
  TOVADLL_CLOSE_FILE(h);
  return rc;
}

}  // namespace

uint64_t MakeSeedFrame(uint16_t value) {
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(1, TOVA_DATAUNIT_U16, 0);
  const char device[] = "FUZZ CAMERA";
  const uint16_t w = 4, h = 3, range = 0;
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC, sizeof device, device);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 2, &w);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, 2, &h);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &w);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 2, &h);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, 2, &range);
  const uint16_t pixels[12] = {value, value, value, value, value, value, value, value, value, value, value, value};
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_Image, TOVA_IM_Data, sizeof pixels, pixels);
  return mem;
}

int FuzzBufferReader(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint64_t h = TOVADLL_OPEN_FILE_READ_BUFFER();
  uint32_t offset = 0, image_size = 0;
  if (TOVADLL_READ_FROM_BUFFER_EX(h, data, static_cast<uint32_t>(size), &offset, &image_size) == TOVA_OK) {
    // The image data it reports lie inside the caller's buffer.
    if (image_size != 0 && (offset > size || image_size > size - offset)) Finding();
    VisitDatasets(h);
    uint32_t needed = 0, written = 0;
    if (TOVADLL_GET_BUFFERSIZE(h, &needed) == TOVA_OK && needed <= (16u << 20)) {
      std::vector<uint8_t> again(needed);
      if (TOVADLL_WRITE_TO_BUFFER_EX(h, again.data(), needed, &written, &offset, &image_size) == TOVA_OK) {
        if (written > needed) Finding();
        const uint64_t copy = TOVADLL_OPEN_FILE_READ_BUFFER();
        TOVADLL_READ_FROM_BUFFER(copy, again.data(), written);
        TOVADLL_CLOSE_FILE(copy);
      }
    }
  }
  TOVADLL_CLOSE_FILE(h);
  return 0;
}

int FuzzFileReader(const uint8_t* data, size_t size) {
  InputCursor in{data, size};
  const uint32_t limit = 8u + in.U8() * 8u;  // 8 to 2048 bytes per part
  const uint8_t mode = in.U8();
  FuzzScope scope(limit);
  const uint8_t* stream = data + in.pos;
  size_t left = in.left();
  unsigned part = 0;
  while (left > 0 || part == 0) {
    // The last part number takes the rest.
    const size_t take = part == 999 ? left : std::min<size_t>(left, limit);
    scope.Put(part == 0 ? kMain : PartName(kMain, part), stream, take);
    stream += take;
    left -= take;
    ++part;
  }
  if (mode & 1) {
    const uint8_t stray[] = {6, 0, 0, 0, 0x02, 0xFF, 0x7F};
    scope.Put(PartName(kMain, std::min(part + (mode >> 4), 999u)), stray, sizeof stray - (mode >> 7));
  }
  const uint64_t h = (mode & 4) ? TOVADLL_OPEN_FILE_READWRITE(kMain, 1) : TOVADLL_OPEN_FILE_READ(kMain);
  if (h == TOVADLL_INVALID_HANDLE) return 0;
  if (mode & 2) {
    if (TOVADLL_READ_FROM_FILE(h, 0, 0) == TOVA_OK) TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr);
  } else {
    TOVADLL_READ_FROM_FILE(h, 1, 0);
  }
  VisitDatasets(h);
  TOVADLL_CLOSE_FILE(h);
  return 0;
}

int FuzzRenderings(const uint8_t* data, size_t size) {
  InputCursor in{data, size};
  const uint16_t data_unit = in.U8() & 3;
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, data_unit, in.U8());
  while (in.left() >= 4) {
    const uint16_t section = kSections[in.U8() % 3];
    const uint16_t id = in.U16();
    size_t length = in.U8();
    if (length == 255) length = in.U16();  // the long form, for tables and records
    length = std::min(length, in.left());
    TOVADLL_SET_ENTRY(h, section, id, static_cast<uint32_t>(length), data + in.pos);
    in.pos += length;
  }
  TOVA_WSTRING text;
  for (uint16_t section : kSections) {
    TOVADLL_COPY_SECTION_STRING(h, section, text);
    uint32_t n = 0;
    if (TOVADLL_GET_NUM_ENTRIES(h, section, &n) != TOVA_OK) continue;
    for (uint32_t i = 0; i < n; ++i) {
      TOVADLL_COPY_ENTRY_STRING(h, section, i, text);
      TOVADLL_COPY_DATA_STRING(h, section, i, text);
    }
  }
  TOVADLL_CLOSE_FILE(h);
  return 0;
}

int FuzzAppend(const uint8_t* data, size_t size) {
  InputCursor in{data, size};
  const uint8_t mode = in.U8();
  // Bits 0-5: a part size limit from 64 bytes (0: the real limit); bit 6: the
  // read-write open; bit 7: two appends.
  FuzzScope scope((mode & 63) ? 64u * (mode & 63) : 0);
  scope.Put(kMain, data + in.pos, in.left());
  uint32_t before = 0, after = 0;
  const int32_t read_before = ReadBack(kMain, before);
  const uint64_t target = (mode & 64) ? TOVADLL_OPEN_FILE_READWRITE(kMain, 1) : TOVADLL_OPEN_FILE_WRITE(kMain, 1);
  if (target == TOVADLL_INVALID_HANDLE) return 0;
  uint32_t appended = 0;
  bool failed = false;
  for (int i = 0; i < ((mode & 128) ? 2 : 1); ++i) {
    const uint64_t frame = MakeSeedFrame(static_cast<uint16_t>(100 + i));
    if (TOVADLL_ADD_TOVA(target, frame, 0) == TOVA_OK)
      ++appended;
    else
      failed = true;
    TOVADLL_CLOSE_FILE(frame);
  }
  if (mode & 64) VisitDatasets(target);
  TOVADLL_CLOSE_FILE(target);
  const int32_t read_after = ReadBack(kMain, after);
  if (read_before == TOVA_OK && !failed &&
      (read_after != TOVA_OK || after != before + appended))
    Finding();
  return 0;
}

int FuzzTinyRecords(const uint8_t* data, size_t size) {
  // [head length u16][head][record pattern, up to 16 bytes][repetitions u16]:
  // the file is the head and then the pattern, up to 12 MB of it.
  InputCursor in{data, size};
  const size_t head_wanted = in.U16();  // read before left() is asked
  const size_t head = std::min(head_wanted, in.left());
  const uint8_t* head_bytes = data + in.pos;
  in.pos += head;
  const size_t pattern = std::min<size_t>(in.left() >= 2 ? in.left() - 2 : 0, 16);
  const uint8_t* pattern_bytes = data + in.pos;
  in.pos += pattern;
  const size_t repetitions = pattern ? std::min<size_t>(size_t{in.U16()} * 64, (12u << 20) / pattern) : 0;
  std::vector<uint8_t> file(head_bytes, head_bytes + head);
  file.reserve(head + pattern * repetitions);
  for (size_t r = 0; r < repetitions; ++r) file.insert(file.end(), pattern_bytes, pattern_bytes + pattern);
  FuzzScope scope;
  scope.Put(kMain, file.data(), file.size());
  std::vector<uint8_t>().swap(file);
  uint32_t datasets = 0;
  ReadBack(kMain, datasets);
  return 0;
}

}  // namespace tova::fuzz
