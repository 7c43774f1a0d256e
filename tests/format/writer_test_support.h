// Helpers shared by the writer and save tests: source documents that pass the
// compatibility check, documents of several datasets, reading a file back
// dataset by dataset, the bytes of a whole file set, and the part size limit
// lowered for the life of a scope.
#pragma once

#include <gtest/gtest.h>

#include "model/document_files.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "HOLMDAQTova.h"
#include "format/part_limit.h"
#include "model/tova_file.h"
#include "platform/file_system.h"
#include "support/test_files.h"

namespace tova::writer_test {

inline constexpr uint16_t kGH = TOVA_SECT_GlobalHeader;
inline constexpr uint16_t kDH = TOVA_SECT_DataHeader;
inline constexpr uint16_t kIM = TOVA_SECT_Image;
inline constexpr uint16_t kDeviceMbc = 0x0110;
inline constexpr uint16_t kDeviceUc = 0x1110;
inline constexpr uint16_t kSensorX = 0x0111;
inline constexpr uint16_t kSensorY = 0x0112;
inline constexpr uint16_t kDataUnit = 0x0200;
inline constexpr uint16_t kSizeX = 0x0201;
inline constexpr uint16_t kSizeY = 0x0202;
inline constexpr uint16_t kCalVersion = 0x0210;
inline constexpr uint16_t kMaxFrames = 0x0230;
inline constexpr uint16_t kValidFrames = 0x0231;  // per dataset: carries the dataset's value
inline constexpr uint16_t kRange = 0x0244;
inline constexpr uint16_t kImageData = 0x0300;

// Lowers the part size limit for the scope's life.
class ScopedPartLimit {
 public:
  explicit ScopedPartLimit(uint32_t limit) { format::SetPartSizeLimitForTesting(limit); }
  ~ScopedPartLimit() { format::SetPartSizeLimitForTesting(0); }
  ScopedPartLimit(const ScopedPartLimit&) = delete;
  ScopedPartLimit& operator=(const ScopedPartLimit&) = delete;
};

// A file layer that forwards to the system's own but leaves stable storage
// alone: Flush and SyncDirectoryOf succeed without doing anything. Tests that
// cut documents into hundreds of parts install it (with
// testing::ScopedFileSystem); they do not test durability, and a real flush
// per part would make them slow.
class NoSyncFileSystem final : public platform::FileSystem {
 public:
  std::unique_ptr<platform::File> Open(const std::u16string& path, platform::OpenMode mode) override {
    std::unique_ptr<platform::File> inner = base_.Open(path, mode);
    if (!inner) return nullptr;
    return std::make_unique<NoSyncFile>(std::move(inner));
  }
  bool Exists(const std::u16string& path) override { return base_.Exists(path); }
  bool Delete(const std::u16string& path) override { return base_.Delete(path); }
  bool Rename(const std::u16string& from, const std::u16string& to) override { return base_.Rename(from, to); }
  bool Size(const std::u16string& path, uint64_t& size) override { return base_.Size(path, size); }
  bool FindFiles(const std::u16string& pattern, std::vector<platform::DirEntry>& entries) override {
    return base_.FindFiles(pattern, entries);
  }
  bool GetTimes(const std::u16string& path, platform::FileTimes& times) override {
    return base_.GetTimes(path, times);
  }
  bool RemoveDirectory(const std::u16string& path) override { return base_.RemoveDirectory(path); }
  bool SyncDirectoryOf(const std::u16string&) override { return true; }
  int64_t Now() override { return base_.Now(); }

 private:
  class NoSyncFile final : public platform::File {
   public:
    explicit NoSyncFile(std::unique_ptr<platform::File> inner) : inner_(std::move(inner)) {}
    bool Read(void* buffer, uint32_t n, uint32_t& got) override { return inner_->Read(buffer, n, got); }
    bool Write(const void* data, uint32_t n) override { return inner_->Write(data, n); }
    bool Seek(uint64_t position) override { return inner_->Seek(position); }
    bool SeekToEnd(uint64_t& position) override { return inner_->SeekToEnd(position); }
    bool Position(uint64_t& position) override { return inner_->Position(position); }
    bool Size(uint64_t& size) override { return inner_->Size(size); }
    bool Truncate(uint64_t size) override { return inner_->Truncate(size); }
    bool Flush() override { return true; }
    bool Close() override { return inner_->Close(); }
    void Abort() override { inner_->Abort(); }

   private:
    std::unique_ptr<platform::File> inner_;
  };

  platform::FileSystem& base_ = platform::SystemFileSystem();
};

// The path as the _UC exports take it.
inline std::basic_string<TOVA_WCHAR> W(const std::u16string& path) {
  return std::basic_string<TOVA_WCHAR>(path.begin(), path.end());
}

inline uint64_t OpenWrite(const std::u16string& path, uint32_t append) {
  return TOVADLL_OPEN_FILE_WRITE_UC(W(path).c_str(), append);
}
inline uint64_t OpenReadWrite(const std::u16string& path, uint32_t append) {
  return TOVADLL_OPEN_FILE_READWRITE_UC(W(path).c_str(), append);
}
inline int32_t Save(uint64_t h, const std::u16string& path) { return TOVADLL_SAVE_FILE_UC(h, W(path).c_str()); }

inline int32_t SetU16(uint64_t h, uint16_t section, uint16_t id, uint16_t value) {
  return TOVADLL_SET_ENTRY(h, section, id, 2, &value);
}

// The image bytes of the dataset with the given value: the value in the
// first two bytes, then a pattern that differs from value to value.
inline std::vector<uint8_t> Pixels(uint16_t value, uint32_t bytes) {
  std::vector<uint8_t> p(bytes);
  for (uint32_t k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(value * 31u + k * 7u);
  if (bytes >= 2) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
  }
  return p;
}

// A single-dataset memory document that passes the compatibility check
// against every other one made here: device "CAM-ID: 7", sensor and image
// 4 x 4, measurement range 3, the value in the per-dataset entry 0x0231 and
// in the image.
inline uint64_t MakeSource(uint16_t value, uint32_t pixel_bytes = 32) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(1, 2, 0x0100);
  if (h == TOVADLL_INVALID_HANDLE) return h;
  const char device[] = "CAM-ID: 7";
  TOVADLL_SET_ENTRY(h, kGH, kDeviceMbc, sizeof device, device);
  SetU16(h, kGH, kSensorX, 4);
  SetU16(h, kGH, kSensorY, 4);
  SetU16(h, kDH, kSizeX, 4);
  SetU16(h, kDH, kSizeY, 4);
  SetU16(h, kDH, kRange, 3);
  SetU16(h, kDH, kValidFrames, value);
  const std::vector<uint8_t> pixels = Pixels(value, pixel_bytes);
  TOVADLL_SET_ENTRY(h, kIM, kImageData, pixel_bytes, pixels.data());
  return h;
}

// Appends datasets with the given values, one source each, to target.
inline int32_t AppendValues(uint64_t target, const std::vector<uint16_t>& values, uint32_t pixel_bytes = 32) {
  for (uint16_t v : values) {
    const uint64_t s = MakeSource(v, pixel_bytes);
    const int32_t rc = TOVADLL_ADD_TOVA(target, s, 0);
    TOVADLL_CLOSE_FILE(s);
    if (rc != 0) return rc;
  }
  return 0;
}

// A memory document holding datasets with the given values.
inline uint64_t MakeMemoryDocument(const std::vector<uint16_t>& values, uint32_t pixel_bytes = 32) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
  if (h != TOVADLL_INVALID_HANDLE && AppendValues(h, values, pixel_bytes) != 0) {
    TOVADLL_CLOSE_FILE(h);
    return TOVADLL_INVALID_HANDLE;
  }
  return h;
}

// Writes a new file of datasets with the given values; 0 or the failing code.
inline int32_t WriteDocument(const std::u16string& path, const std::vector<uint16_t>& values,
                             uint32_t pixel_bytes = 32) {
  const uint64_t w = OpenWrite(path, 0);
  if (w == TOVADLL_INVALID_HANDLE) return -1;
  const int32_t rc = AppendValues(w, values, pixel_bytes);
  TOVADLL_CLOSE_FILE(w);
  return rc;
}

// The values of the datasets of an open document, checking every image
// against Pixels(value). A dataset that cannot be made current, or whose
// image does not match, ends the list with 0xFFFF.
inline std::vector<uint16_t> DocumentValues(uint64_t h) {
  std::vector<uint16_t> values;
  uint32_t n = 0;
  if (TOVADLL_GET_NUMDATASETS(h, &n) != 0) return {0xFFFF};
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t value = 0;
    uint32_t copied = 0, size = 0;
    bool ok = TOVADLL_SET_CURDATASET(h, i) == 0 &&
              TOVADLL_COPY_ENTRY_DATA(h, kDH, kValidFrames, 2, &value, &copied) == 0 &&
              TOVADLL_GET_ENTRY_DATASIZE(h, kIM, kImageData, &size) == 0;
    std::vector<uint8_t> image(size);
    ok = ok && TOVADLL_COPY_ENTRY_DATA(h, kIM, kImageData, size, image.data(), &copied) == 0 &&
         image == Pixels(value, size);
    values.push_back(ok ? value : 0xFFFF);
    if (!ok) break;
  }
  return values;
}

// Reads the document at path; the values of its datasets, or {0xFFFF} when it
// cannot be read. An empty list for an empty or missing file.
inline std::vector<uint16_t> ReadValues(const std::u16string& path) {
  if (!testing::PathExists(path) || testing::ReadFileBytes(path).empty()) return {};
  const uint64_t r = TOVADLL_OPEN_FILE_READ_UC(W(path).c_str());
  if (r == TOVADLL_INVALID_HANDLE) return {0xFFFF};
  std::vector<uint16_t> values;
  if (TOVADLL_READ_FROM_FILE(r, 1, 0) == 0) values = DocumentValues(r);
  else values = {0xFFFF};
  TOVADLL_CLOSE_FILE(r);
  return values;
}

// The sizes of the main file and its continuation files 001, 002, ... up to
// the first missing one. Taken without opening the files, so also while a
// document holds one (exclusively, on Windows).
inline std::vector<uint64_t> PartSizes(const std::u16string& path) {
  std::vector<uint64_t> sizes;
  for (uint32_t p = 0; p <= 999; ++p) {
    const std::u16string name = PartFileName(path, p);
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(std::filesystem::path(name), ec);
    if (ec) break;
    sizes.push_back(size);
  }
  return sizes;
}

// The byte stream of a document: its main file and continuation files in
// order. The files are read: no document may hold them (Windows share modes).
inline std::vector<uint8_t> FileSetBytes(const std::u16string& path) {
  std::vector<uint8_t> all;
  for (uint32_t p = 0; p <= 999; ++p) {
    const std::u16string name = PartFileName(path, p);
    if (!testing::PathExists(name)) break;
    const std::vector<uint8_t> bytes = testing::ReadFileBytes(name);
    all.insert(all.end(), bytes.begin(), bytes.end());
  }
  return all;
}

// Names in dir (not recursive), sorted.
inline std::vector<std::u16string> DirectoryNames(const std::u16string& dir) {
  std::vector<std::u16string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(dir), ec))
    names.push_back(e.path().filename().u16string());
  std::sort(names.begin(), names.end());
  return names;
}

// Names in dir that hold "$$$": what a save leaves when it cleans up badly.
inline std::vector<std::u16string> TemporaryLeftovers(const std::u16string& dir) {
  std::vector<std::u16string> left;
  for (const std::u16string& n : DirectoryNames(dir))
    if (n.find(u"$$$") != std::u16string::npos) left.push_back(n);
  return left;
}

inline std::string Show(const std::vector<std::u16string>& names) {
  std::string out;
  for (const auto& n : names) out += testing::NarrowPath(n) + " ";
  return out;
}

// Closes a handle when the scope ends.
class Closer {
 public:
  explicit Closer(uint64_t h) : h_(h) {}
  ~Closer() { TOVADLL_CLOSE_FILE(h_); }
  Closer(const Closer&) = delete;
  Closer& operator=(const Closer&) = delete;

 private:
  uint64_t h_;
};

}  // namespace tova::writer_test
