// Helpers shared by the reader, layout, background scan and buffer tests:
// section and entry records built byte by byte, a small recording with known
// section positions, documents written as a chain of part files cut at chosen
// positions, checks of every dataset of an open document, and a file layer
// that calls a hook before each read and close (to cancel or pause a scan at
// a chosen byte).
#pragma once

#include <gtest/gtest.h>

#include "model/document_files.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "format/part_limit.h"
#include "model/tova_file.h"
#include "platform/file_system.h"
#include "support/test_files.h"

namespace tova::reader_test {

using Bytes = std::vector<uint8_t>;

inline constexpr uint16_t kGH = TOVA_SECT_GlobalHeader;
inline constexpr uint16_t kDH = TOVA_SECT_DataHeader;
inline constexpr uint16_t kIM = TOVA_SECT_Image;
inline constexpr uint16_t kValue = 0x0231;       // per dataset, first-wins: the dataset's number
inline constexpr uint16_t kImageData = 0x0300;   // per dataset
inline constexpr uint16_t kImageExtra = 0x0310;  // not per dataset: stored with dataset 0's image only

inline void AppendU16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendU32(Bytes& b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
inline Bytes U16(uint16_t v) {
  Bytes b;
  AppendU16(b, v);
  return b;
}
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// An entry record: length 6 + n, identifier, data.
inline Bytes Entry(uint16_t id, const Bytes& data) {
  Bytes b;
  AppendU32(b, static_cast<uint32_t>(data.size() + 6));
  AppendU16(b, id);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
// A record header with any length (for malformed records).
inline Bytes Header(uint32_t length, uint16_t id) {
  Bytes b;
  AppendU32(b, length);
  AppendU16(b, id);
  return b;
}
// A section record holding the given entry records back to back.
inline Bytes Section(uint16_t id, const std::vector<Bytes>& entries) {
  Bytes body;
  for (const Bytes& e : entries) body.insert(body.end(), e.begin(), e.end());
  Bytes b = Header(static_cast<uint32_t>(body.size() + 6), id);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}
inline Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

// The image bytes of dataset `value`: a pattern that differs from dataset to
// dataset, the value in the first two bytes.
inline Bytes Pixels(uint16_t value, uint32_t bytes) {
  Bytes p(bytes);
  for (uint32_t k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(value * 31u + k * 7u + 1u);
  if (bytes >= 2) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
  }
  return p;
}

inline const Bytes& ExtraImageBytes() {
  static const Bytes extra = Text("keep");
  return extra;
}

// The sections of dataset 0 in full form and of a later dataset in
// per-dataset form, as the writer lays them out.
inline Bytes GlobalHeaderSection() {
  return Section(kGH, {Entry(0x0100, Text("v1")), Entry(0x0111, U16(4)), Entry(0x0112, U16(4))});
}
inline Bytes DataHeaderSection(uint16_t value) {
  if (value == 0)
    return Section(kDH, {Entry(0x0200, U16(2)), Entry(0x0201, U16(4)), Entry(0x0202, U16(4)),
                         Entry(0x0210, U16(0x0100)), Entry(kValue, U16(0))});
  return Section(kDH, {Entry(kValue, U16(value))});
}
inline Bytes ImageSection(uint16_t value, uint32_t pixel_bytes) {
  if (value == 0) return Section(kIM, {Entry(kImageData, Pixels(0, pixel_bytes)), Entry(kImageExtra, ExtraImageBytes())});
  return Section(kIM, {Entry(kImageData, Pixels(value, pixel_bytes))});
}

// A recording of `datasets` datasets and where each of its sections lies.
struct Recording {
  Bytes bytes;
  std::vector<uint32_t> starts;  // offset of each section record
  std::vector<uint32_t> ends;    // offset just past it
  std::vector<uint16_t> ids;     // its section identifier
  uint32_t pixel_bytes = 0;

  // Complete datasets in the first `prefix` bytes (a document whose global
  // header holds entries: the smaller of the data header and image counts).
  uint32_t DatasetsWithin(uint32_t prefix) const {
    uint32_t dh = 0, im = 0;
    bool gh = false;
    for (size_t s = 0; s < ends.size() && ends[s] <= prefix; ++s) {
      if (ids[s] == kGH) gh = true;
      if (ids[s] == kDH) ++dh;
      if (ids[s] == kIM) ++im;
    }
    return gh ? std::min(dh, im) : 0;
  }
  // Start of the data header section of dataset i.
  uint32_t DatasetStart(uint32_t i) const { return i == 0 ? 0 : starts[1 + 2 * i]; }
};

inline void AddSection(Recording& r, const Bytes& section) {
  r.starts.push_back(static_cast<uint32_t>(r.bytes.size()));
  r.bytes.insert(r.bytes.end(), section.begin(), section.end());
  r.ends.push_back(static_cast<uint32_t>(r.bytes.size()));
  r.ids.push_back(static_cast<uint16_t>(section[4] | (section[5] << 8)));
}

inline Recording MakeRecording(uint32_t datasets, uint32_t pixel_bytes) {
  Recording r;
  r.pixel_bytes = pixel_bytes;
  AddSection(r, GlobalHeaderSection());
  for (uint32_t i = 0; i < datasets; ++i) {
    AddSection(r, DataHeaderSection(static_cast<uint16_t>(i)));
    AddSection(r, ImageSection(static_cast<uint16_t>(i), pixel_bytes));
  }
  return r;
}

// Writes the byte stream as a main file and continuation files cut at the
// given ascending positions; true on success. Continuation files left from an
// earlier call are removed.
inline bool WriteParts(const std::u16string& path, const Bytes& bytes, const std::vector<uint32_t>& cuts) {
  for (uint32_t p = 1; p <= 999 && testing::PathExists(PartFileName(path, p)); ++p)
    platform::GetFileSystem().Delete(PartFileName(path, p));
  uint32_t from = 0;
  for (size_t k = 0; k <= cuts.size(); ++k) {
    const uint32_t to = k < cuts.size() ? cuts[k] : static_cast<uint32_t>(bytes.size());
    if (!testing::WriteFileBytes(PartFileName(path, static_cast<uint32_t>(k)), bytes.data() + from,
                                 to - from))
      return false;
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

// Lowers the part size limit for the scope's life.
class PartLimitScope {
 public:
  explicit PartLimitScope(uint32_t limit) { format::SetPartSizeLimitForTesting(limit); }
  ~PartLimitScope() { format::SetPartSizeLimitForTesting(0); }
  PartLimitScope(const PartLimitScope&) = delete;
  PartLimitScope& operator=(const PartLimitScope&) = delete;
};

inline std::basic_string<TOVA_WCHAR> W(const std::u16string& path) {
  return std::basic_string<TOVA_WCHAR>(path.begin(), path.end());
}
inline uint64_t OpenRead(const std::u16string& path) { return TOVADLL_OPEN_FILE_READ_UC(W(path).c_str()); }

inline std::shared_ptr<CTOVAFile> Doc(uint64_t h) { return api::TheRegistry().Find(h); }

// Closes a handle at the end of a scope.
class Handle {
 public:
  explicit Handle(uint64_t h = TOVADLL_INVALID_HANDLE) : h_(h) {}
  ~Handle() {
    if (h_ != TOVADLL_INVALID_HANDLE) TOVADLL_CLOSE_FILE(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  uint64_t get() const { return h_; }
  operator uint64_t() const { return h_; }
  bool valid() const { return h_ != TOVADLL_INVALID_HANDLE; }

 private:
  uint64_t h_;
};

inline uint32_t NumDatasets(uint64_t h) {
  uint32_t n = 0xFFFFFFFF;
  TOVADLL_GET_NUMDATASETS(h, &n);
  return n;
}
inline uint32_t CurDataset(uint64_t h) {
  uint32_t n = 0xFFFFFFFF;
  TOVADLL_GET_CURDATASET(h, &n);
  return n;
}
// The data of an entry, or {} when it cannot be copied.
inline Bytes EntryData(uint64_t h, uint16_t section, uint16_t id) {
  uint32_t size = 0;
  if (TOVADLL_GET_ENTRY_DATASIZE(h, section, id, &size) != 0) return {};
  Bytes data(size);
  uint32_t copied = 0;
  if (TOVADLL_COPY_ENTRY_DATA(h, section, id, size, data.data(), &copied) != 0 || copied != size) return {};
  return data;
}
inline uint16_t ValueOf(uint64_t h) {
  uint16_t v = 0xFFFF;
  uint32_t copied = 0;
  TOVADLL_COPY_ENTRY_DATA(h, kDH, kValue, 2, &v, &copied);
  return v;
}

// Makes every dataset of the recording current in turn (loading its image)
// and checks its value, its image and dataset 0's extra image entry.
inline ::testing::AssertionResult HasRecordingDatasets(uint64_t h, uint32_t datasets, uint32_t pixel_bytes) {
  const uint32_t n = NumDatasets(h);
  if (n != datasets) return ::testing::AssertionFailure() << n << " datasets instead of " << datasets;
  for (uint32_t i = 0; i < datasets; ++i) {
    if (int32_t rc = TOVADLL_SET_CURDATASET(h, i))
      return ::testing::AssertionFailure() << "dataset " << i << " cannot be made current: " << rc;
    if (ValueOf(h) != i) return ::testing::AssertionFailure() << "dataset " << i << " has value " << ValueOf(h);
    if (EntryData(h, kIM, kImageData) != Pixels(static_cast<uint16_t>(i), pixel_bytes))
      return ::testing::AssertionFailure() << "dataset " << i << " has another image";
    if (EntryData(h, kIM, kImageExtra) != ExtraImageBytes())
      return ::testing::AssertionFailure() << "dataset " << i << " lost dataset 0's extra image entry";
  }
  return ::testing::AssertionSuccess();
}

// Whether the data header of dataset `index` itself holds the entry (no
// routing to dataset 0).
inline bool DataHeaderHas(uint64_t h, uint32_t index, uint16_t id) {
  std::shared_ptr<CTOVAFile> doc = Doc(h);
  if (!doc) return false;
  platform::DocumentLockGuard guard(doc->lock);
  return index < doc->data_headers.size() && doc->data_headers[index]->FindEntry(id) != nullptr;
}

// A file layer that forwards to another one and calls hooks before each read
// (with the file's path and the position the read starts at) and each close.
// The hooks run on the thread that reads; set them before the code under test.
class HookFileSystem final : public platform::FileSystem {
 public:
  explicit HookFileSystem(platform::FileSystem& base) : base_(base) {}

  std::function<void(const std::u16string& path, uint64_t position)> on_read;
  std::function<void(const std::u16string& path)> on_close;

  std::unique_ptr<platform::File> Open(const std::u16string& path, platform::OpenMode mode) override {
    std::unique_ptr<platform::File> inner = base_.Open(path, mode);
    if (!inner) return nullptr;
    return std::make_unique<HookFile>(*this, std::move(inner), path);
  }
  bool Exists(const std::u16string& p) override { return base_.Exists(p); }
  bool Delete(const std::u16string& p) override { return base_.Delete(p); }
  bool Rename(const std::u16string& a, const std::u16string& b) override { return base_.Rename(a, b); }
  bool Size(const std::u16string& p, uint64_t& s) override { return base_.Size(p, s); }
  bool FindFiles(const std::u16string& p, std::vector<platform::DirEntry>& e) override {
    return base_.FindFiles(p, e);
  }
  bool GetTimes(const std::u16string& p, platform::FileTimes& t) override { return base_.GetTimes(p, t); }
  bool RemoveDirectory(const std::u16string& p) override { return base_.RemoveDirectory(p); }
  bool SyncDirectoryOf(const std::u16string& p) override { return base_.SyncDirectoryOf(p); }
  int64_t Now() override { return base_.Now(); }

 private:
  class HookFile final : public platform::File {
   public:
    HookFile(HookFileSystem& fs, std::unique_ptr<platform::File> inner, std::u16string path)
        : fs_(fs), inner_(std::move(inner)), path_(std::move(path)) {}
    bool Read(void* buffer, uint32_t n, uint32_t& got) override {
      if (fs_.on_read) {
        uint64_t position = 0;
        inner_->Position(position);
        fs_.on_read(path_, position);
      }
      return inner_->Read(buffer, n, got);
    }
    bool Write(const void* data, uint32_t n) override { return inner_->Write(data, n); }
    bool Seek(uint64_t position) override { return inner_->Seek(position); }
    bool SeekToEnd(uint64_t& position) override { return inner_->SeekToEnd(position); }
    bool Position(uint64_t& position) override { return inner_->Position(position); }
    bool Size(uint64_t& size) override { return inner_->Size(size); }
    bool Truncate(uint64_t size) override { return inner_->Truncate(size); }
    bool Flush() override { return inner_->Flush(); }
    bool Close() override {
      const bool ok = inner_->Close();
      if (fs_.on_close) fs_.on_close(path_);
      return ok;
    }
    void Abort() override { inner_->Abort(); }

   private:
    HookFileSystem& fs_;
    std::unique_ptr<platform::File> inner_;
    std::u16string path_;
  };

  platform::FileSystem& base_;
};

}  // namespace tova::reader_test
