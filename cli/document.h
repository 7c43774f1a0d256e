// A TOVA document as the tool uses it: an owned handle of the public API that
// is closed when the object goes, typed reads and writes of entries, and the
// path-taking calls, which pass paths in the platform's own encoding (the
// narrow forms outside Windows, the UTF-16 forms on Windows).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"

namespace tova_cli {

class Document {
 public:
  // Opens FILE for reading and reads every frame's headers. Failures become
  // CliError with the reason (missing, empty, not readable: its result code).
  static Document OpenRead(const std::string& path);
  // A memory document (TOVADLL_OPEN_FILE_MEM); single_frame refuses a
  // second appended frame.
  static Document OpenMemory(uint16_t data_unit, uint16_t calibration_version, bool single_frame);
  // A write document on path; append keeps what the file holds.
  static Document OpenWrite(const std::string& path, bool append);

  Document(Document&& other) noexcept;
  Document& operator=(Document&& other) noexcept;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document();

  uint64_t handle() const { return handle_; }
  const std::string& path() const { return path_; }

  // Closes the document; a failure is reported.
  void Close();

  uint32_t NumFrames() const;
  uint32_t Type() const;
  // Makes frame index current; load brings its image in.
  void SelectFrame(uint32_t index, bool load);

  // The data of an entry, or nullopt when the frame has no such entry.
  // Other failures throw.
  std::optional<std::vector<uint8_t>> Entry(uint16_t section, uint16_t id) const;
  std::optional<uint16_t> U16(uint16_t section, uint16_t id) const;
  std::optional<uint32_t> U32(uint16_t section, uint16_t id) const;
  std::optional<float> F32(uint16_t section, uint16_t id) const;
  // A narrow (_MBC) text entry as UTF-8.
  std::optional<std::string> NarrowText(uint16_t section, uint16_t id) const;
  // The device string: its UTF-16 form when stored, else the narrow one.
  std::optional<std::string> DeviceString() const;

  void Set(uint16_t section, uint16_t id, const void* data, uint32_t size);
  void SetU16(uint16_t section, uint16_t id, uint16_t value);
  void SetU32(uint16_t section, uint16_t id, uint32_t value);
  void SetF32(uint16_t section, uint16_t id, float value);
  // Stores text as a narrow entry with its terminating NUL.
  void SetNarrowText(uint16_t section, uint16_t id, const std::string& text);

 private:
  Document(uint64_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  uint64_t handle_ = TOVADLL_INVALID_HANDLE;
  std::string path_;
};

// The path calls of the library, in the platform's path encoding.
int32_t DeletePath(const std::string& path);
int32_t RenamePath(const std::string& old_path, const std::string& new_path);
int32_t SizePath(const std::string& path, double* size_mb);
int32_t DeleteOldPath(const std::string& pattern, uint32_t age_seconds, const volatile uint32_t* stop);

// Whether path names a TOVA document by its extension (".tova", any case).
bool HasTovaExtension(const std::string& path);

// The continuation files that exist beside a main file ("<path> 001" ...),
// in part order.
std::vector<std::string> ContinuationFiles(const std::string& path);

// Quoted path for messages: 'name'.
std::string Quote(const std::string& path);

}  // namespace tova_cli
