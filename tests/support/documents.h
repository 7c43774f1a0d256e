// What the document tests share: a handle holder, records built byte by byte,
// the pixels of a dataset, a recording with known section positions, source
// documents that pass the compatibility check, reading a document back dataset
// by dataset, the files of a document set, and the part limit lowered for a scope.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <system_error>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "format/part_limit.h"
#include "model/document_files.h"
#include "model/tova_file.h"
#include "platform/document_lock.h"
#include "support/test_files.h"

namespace tova::testing {

using Bytes = std::vector<uint8_t>;
using Values = std::vector<uint16_t>;

inline constexpr uint16_t kGH = TOVA_SECT_GlobalHeader, kDH = TOVA_SECT_DataHeader, kIM = TOVA_SECT_Image;
inline constexpr uint16_t kValue = TOVA_DH_DREC_ValidFrames;  // per dataset, first-wins: the dataset's value
inline constexpr uint16_t kImageData = TOVA_IM_Data;          // per dataset
inline constexpr uint16_t kImageExtra = 0x0310;               // not per dataset: kept with dataset 0's image

// Closes its handle at the end of the scope; passes for the handle itself.
class Handle {
 public:
  explicit Handle(uint64_t h = TOVADLL_INVALID_HANDLE) : h_(h) {}
  ~Handle() { TOVADLL_CLOSE_FILE(h_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  operator uint64_t() const { return h_; }
  bool valid() const { return h_ != TOVADLL_INVALID_HANDLE; }

 private:
  uint64_t h_;
};

// Lowers the part size limit for the scope's life.
class PartLimit {
 public:
  explicit PartLimit(uint32_t limit) { format::SetPartSizeLimitForTesting(limit); }
  ~PartLimit() { format::SetPartSizeLimitForTesting(0); }
  PartLimit(const PartLimit&) = delete;
  PartLimit& operator=(const PartLimit&) = delete;
};

// ---- records ------------------------------------------------------------------
inline Bytes U16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}
// A record header of any length (for malformed records).
inline Bytes Header(uint32_t length, uint16_t id) {
  return {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
}
inline Bytes Entry(uint16_t id, const Bytes& data) {
  return Concat({Header(static_cast<uint32_t>(data.size() + 6), id), data});
}
inline Bytes Section(uint16_t id, const std::vector<Bytes>& entries) { return Entry(id, Concat(entries)); }

// The image bytes of the dataset of that value: the value in the first two
// bytes, then a pattern that differs from value to value.
inline Bytes Pixels(uint16_t value, uint32_t bytes) {
  Bytes p(bytes);
  for (uint32_t k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(value * 31u + k * 7u + 1u);
  if (bytes >= 2) p[0] = static_cast<uint8_t>(value), p[1] = static_cast<uint8_t>(value >> 8);
  return p;
}

// ---- a recording built byte by byte --------------------------------------------
// Dataset 0 in full form (its image also holds kImageExtra), later datasets in
// per-dataset form, as the writer lays them out.
inline Bytes GlobalHeaderSection() {
  return Section(kGH, {Entry(0x0100, Text("v1")), Entry(0x0111, U16(4)), Entry(0x0112, U16(4))});
}
inline Bytes DataHeaderSection(uint16_t value) {
  if (value > 0) return Section(kDH, {Entry(kValue, U16(value))});
  return Section(kDH, {Entry(0x0200, U16(2)), Entry(0x0201, U16(4)), Entry(0x0202, U16(4)), Entry(0x0210, U16(0x0100)),
                       Entry(kValue, U16(0))});
}
inline Bytes ImageSection(uint16_t value, uint32_t pixel_bytes) {
  if (value > 0) return Section(kIM, {Entry(kImageData, Pixels(value, pixel_bytes))});
  return Section(kIM, {Entry(kImageData, Pixels(0, pixel_bytes)), Entry(kImageExtra, Text("keep"))});
}

struct Recording {
  Bytes bytes;
  std::vector<uint32_t> starts, ends;  // where each section record begins and ends
  std::vector<uint16_t> ids;           // its identifier
  // Complete datasets within the first `prefix` bytes.
  uint32_t DatasetsWithin(uint32_t prefix) const {
    uint32_t dh = 0, im = 0;
    for (size_t s = 0; s < ends.size() && ends[s] <= prefix; ++s) dh += ids[s] == kDH, im += ids[s] == kIM;
    return std::min(dh, im);
  }
  uint32_t DatasetStart(uint32_t i) const { return i == 0 ? 0 : starts[1 + 2 * i]; }
};

inline Recording MakeRecording(uint32_t datasets, uint32_t pixel_bytes) {
  Recording r;
  auto add = [&r](const Bytes& section) {
    r.starts.push_back(static_cast<uint32_t>(r.bytes.size()));
    r.bytes.insert(r.bytes.end(), section.begin(), section.end());
    r.ends.push_back(static_cast<uint32_t>(r.bytes.size()));
    r.ids.push_back(static_cast<uint16_t>(section[4] | (section[5] << 8)));
  };
  add(GlobalHeaderSection());
  for (uint16_t i = 0; i < datasets; ++i) add(DataHeaderSection(i)), add(ImageSection(i, pixel_bytes));
  return r;
}

// Writes the byte stream as a main file and continuation files cut at the
// ascending positions given; continuation files of an earlier call go first.
inline bool WriteParts(const std::u16string& path, const Bytes& bytes, const std::vector<uint32_t>& cuts) {
  std::error_code ec;
  for (uint32_t p = 1; p <= 999 && std::filesystem::remove(std::filesystem::path(PartFileName(path, p)), ec); ++p) {}
  uint32_t from = 0;
  for (size_t k = 0; k <= cuts.size(); ++k) {
    const uint32_t to = k < cuts.size() ? cuts[k] : static_cast<uint32_t>(bytes.size());
    if (!WriteFileBytes(PartFileName(path, static_cast<uint32_t>(k)), bytes.data() + from, to - from)) return false;
    from = to;
  }
  return true;
}
// The cuts of a stream cut into parts of `limit` bytes, as the writer makes them.
inline std::vector<uint32_t> CutsEvery(uint32_t limit, size_t total) {
  std::vector<uint32_t> cuts;
  for (uint64_t c = limit; c < total; c += limit) cuts.push_back(static_cast<uint32_t>(c));
  return cuts;
}

// ---- documents through the exports ---------------------------------------------
inline std::basic_string<TOVA_WCHAR> W(const std::u16string& path) { return {path.begin(), path.end()}; }
inline uint64_t OpenRead(const std::u16string& path) { return TOVADLL_OPEN_FILE_READ_UC(W(path).c_str()); }
inline uint64_t OpenWrite(const std::u16string& path, uint32_t append) {
  return TOVADLL_OPEN_FILE_WRITE_UC(W(path).c_str(), append);
}
inline uint64_t OpenReadWrite(const std::u16string& path, uint32_t append) {
  return TOVADLL_OPEN_FILE_READWRITE_UC(W(path).c_str(), append);
}
inline int32_t Save(uint64_t h, const std::u16string& path) { return TOVADLL_SAVE_FILE_UC(h, W(path).c_str()); }
inline std::shared_ptr<CTOVAFile> Doc(uint64_t h) { return api::TheRegistry().Find(h); }

inline uint32_t NumDatasets(uint64_t h) { uint32_t n = ~0u; TOVADLL_GET_NUMDATASETS(h, &n); return n; }
inline uint32_t CurDataset(uint64_t h) { uint32_t n = ~0u; TOVADLL_GET_CURDATASET(h, &n); return n; }
inline uint32_t Modified(uint64_t h) { uint32_t m = ~0u; TOVADLL_GET_MODIFIED(h, &m); return m; }
inline uint32_t TypeOf(uint64_t h) { uint32_t t = ~0u; TOVADLL_GET_TOVA_TYPE(h, &t); return t; }
inline int32_t SetU16(uint64_t h, uint16_t section, uint16_t id, uint16_t v) {
  return TOVADLL_SET_ENTRY(h, section, id, 2, U16(v).data());
}
// The data of an entry of the current dataset, {} when it cannot be copied.
inline Bytes EntryData(uint64_t h, uint16_t section, uint16_t id) {
  uint32_t size = 0, copied = 0;
  if (TOVADLL_GET_ENTRY_DATASIZE(h, section, id, &size) != TOVA_OK) return {};
  Bytes data(size);
  if (TOVADLL_COPY_ENTRY_DATA(h, section, id, size, data.data(), &copied) != TOVA_OK || copied != size) return {};
  return data;
}
inline uint16_t ValueOf(uint64_t h) {
  const Bytes v = EntryData(h, kDH, kValue);
  return v.size() == 2 ? static_cast<uint16_t>(v[0] | (v[1] << 8)) : 0xFFFF;
}
inline Values Iota(uint16_t n) {
  Values v(n);
  std::iota(v.begin(), v.end(), uint16_t{0});
  return v;
}

// The values of the datasets of an open document, each made current in turn
// with its image checked against Pixels(value) (and, when dataset 0's image
// holds kImageExtra, every dataset showing it). A dataset that fails ends the
// list with 0xFFFF.
inline Values DocumentValues(uint64_t h) {
  Values values;
  const uint32_t n = NumDatasets(h);
  if (n == ~0u) return {0xFFFF};
  Bytes extra;
  for (uint32_t i = 0; i < n; ++i) {
    const bool current = TOVADLL_SET_CURDATASET(h, i) == TOVA_OK;
    const uint16_t value = current ? ValueOf(h) : 0xFFFF;
    const Bytes image = EntryData(h, kIM, kImageData);
    if (i == 0) extra = EntryData(h, kIM, kImageExtra);
    const bool ok = current && image == Pixels(value, static_cast<uint32_t>(image.size())) &&
                    EntryData(h, kIM, kImageExtra) == extra;
    values.push_back(ok ? value : 0xFFFF);
    if (!ok) break;
  }
  return values;
}

// Reads the document at path: its values, {0xFFFF} when it cannot be read, {}
// for an empty or missing file.
inline Values ReadValues(const std::u16string& path) {
  if (ReadFileBytes(path).empty()) return {};
  Handle r(OpenRead(path));
  if (!r.valid() || TOVADLL_READ_FROM_FILE(r, 1, 0) != TOVA_OK) return {0xFFFF};
  return DocumentValues(r);
}

// A single-dataset memory document that passes the compatibility check against
// every other one made here: device "CAM-ID: 7", sensor and image 4 x 4,
// measurement range 3, the value in kValue and in the image.
inline uint64_t MakeSource(uint16_t value, uint32_t pixel_bytes = 32) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(1, 2, 0x0100);
  const char device[] = "CAM-ID: 7";
  TOVADLL_SET_ENTRY(h, kGH, TOVA_GH_INFO_DeviceString_MBC, sizeof device, device);
  for (uint16_t id : {TOVA_GH_INFO_SensorX, TOVA_GH_INFO_SensorY}) SetU16(h, kGH, id, 4);
  for (uint16_t id : {TOVA_DH_DREC_SizeX, TOVA_DH_DREC_SizeY}) SetU16(h, kDH, id, 4);
  SetU16(h, kDH, TOVA_DH_PARAM_MeasurementRange, 3);
  SetU16(h, kDH, kValue, value);
  TOVADLL_SET_ENTRY(h, kIM, kImageData, pixel_bytes, Pixels(value, pixel_bytes).data());
  return h;
}
// Appends one source per value to target; TOVA_OK or the first failing code.
inline int32_t AppendValues(uint64_t target, const Values& values, uint32_t pixel_bytes = 32) {
  for (uint16_t v : values) {
    Handle s(MakeSource(v, pixel_bytes));
    if (const int32_t rc = TOVADLL_ADD_TOVA(target, s, 0)) return rc;
  }
  return TOVA_OK;
}
// A memory document (data unit 2, calibration 0x0100) of `datasets` empty
// datasets; its global header holds 0x0100 "v1" so that the datasets count.
inline uint64_t OpenMemoryDocument(uint32_t datasets) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
  if (datasets == 0) return h;
  TOVADLL_SET_ENTRY(h, kGH, 0x0100, 2, "v1");
  std::shared_ptr<CTOVAFile> doc = Doc(h);
  platform::DocumentLockGuard guard(doc->lock);
  for (uint32_t i = 1; i < datasets; ++i) doc->CreateFirstDatasetSections();
  return h;
}
inline uint64_t MakeMemoryDocument(const Values& values, uint32_t pixel_bytes = 32) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
  AppendValues(h, values, pixel_bytes);
  return h;
}
// Writes a new file of datasets with the given values; TOVA_OK or the failing code.
inline int32_t WriteDocument(const std::u16string& path, const Values& values, uint32_t pixel_bytes = 32) {
  Handle w(OpenWrite(path, 0));
  return w.valid() ? AppendValues(w, values, pixel_bytes) : TOVA_ERR_OPEN;
}

// ---- the files of a document -------------------------------------------------
// Sizes of the main file and its continuation files up to the first missing
// one, taken without opening them (a document may hold them).
inline std::vector<uint64_t> PartSizes(const std::u16string& path) {
  std::vector<uint64_t> sizes;
  std::error_code ec;
  for (uint32_t p = 0; p <= 999; ++p) {
    const uint64_t size = std::filesystem::file_size(std::filesystem::path(PartFileName(path, p)), ec);
    if (ec) break;
    sizes.push_back(size);
  }
  return sizes;
}
// The byte stream of a document: main file and continuation files in order.
inline Bytes FileSetBytes(const std::u16string& path) {
  Bytes all;
  for (uint32_t p = 0; p <= 999 && PathExists(PartFileName(path, p)); ++p) {
    const Bytes bytes = ReadFileBytes(PartFileName(path, p));
    all.insert(all.end(), bytes.begin(), bytes.end());
  }
  return all;
}
// Names in dir, sorted; with `holding`, only those that contain it.
inline std::vector<std::u16string> DirectoryNames(const std::u16string& dir, std::u16string_view holding = u"") {
  std::vector<std::u16string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(dir), ec))
    if (e.path().filename().u16string().find(holding) != std::u16string::npos)
      names.push_back(e.path().filename().u16string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tova::testing
