// The tool's document object over a handle of the public API, and the path
// calls in the platform's path encoding.
#include "document.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>

#include "errors.h"
#include "text.h"

namespace fs = std::filesystem;

namespace tova_cli {
namespace {

#ifdef _WIN32
// On Windows the arguments arrive in the ANSI code page; the UTF-16 forms of
// the calls take the same names without a second lossy conversion.
std::wstring Wide(const std::string& path) { return fs::path(path).wstring(); }
#endif

uint64_t OpenReadPath(const std::string& path) {
#ifdef _WIN32
  return TOVADLL_OPEN_FILE_READ_UC(Wide(path).c_str());
#else
  return TOVADLL_OPEN_FILE_READ(path.c_str());
#endif
}

uint64_t OpenWritePath(const std::string& path, bool append) {
#ifdef _WIN32
  return TOVADLL_OPEN_FILE_WRITE_UC(Wide(path).c_str(), append ? 1 : 0);
#else
  return TOVADLL_OPEN_FILE_WRITE(path.c_str(), append ? 1 : 0);
#endif
}

// Little-endian field readers for entry data the tool interprets itself.
uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

std::string Quote(const std::string& path) { return "'" + path + "'"; }

Document Document::OpenRead(const std::string& path) {
  std::error_code ec;
  const fs::path p(path);
  if (!fs::exists(p, ec)) throw CliError("cannot open " + Quote(path) + ": no such file");
  if (fs::is_directory(p, ec)) throw CliError("cannot open " + Quote(path) + ": it is a directory");
  if (fs::is_regular_file(p, ec) && fs::file_size(p, ec) == 0 && !ec)
    throw CliError("cannot open " + Quote(path) + ": the file is empty");
  const uint64_t h = OpenReadPath(path);
  if (h == TOVADLL_INVALID_HANDLE) throw CliError("cannot open " + Quote(path) + ": " + ResultCodeText(2));
  Document doc(h, path);
  Check(TOVADLL_READ_FROM_FILE(h, 1, 0), "cannot read " + Quote(path));
  return doc;
}

Document Document::OpenMemory(uint16_t data_unit, uint16_t calibration_version, bool single_frame) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(single_frame ? 1 : 0, data_unit, calibration_version);
  if (h == TOVADLL_INVALID_HANDLE) throw CliError("cannot create a memory document: " + ResultCodeText(3));
  return Document(h, "");
}

Document Document::OpenWrite(const std::string& path, bool append) {
  const uint64_t h = OpenWritePath(path, append);
  if (h == TOVADLL_INVALID_HANDLE) {
    std::string reason = "the file cannot be created or opened for writing";
    std::error_code ec;
    if (append && !HasTovaExtension(path) && fs::exists(path, ec))
      reason = ResultCodeText(2043);
    else if (append && fs::exists(path, ec))
      reason = "the file is in use, or it is not a readable TOVA document";
    throw CliError("cannot open " + Quote(path) + " for writing: " + reason);
  }
  return Document(h, path);
}

Document::Document(Document&& other) noexcept
    : handle_(std::exchange(other.handle_, TOVADLL_INVALID_HANDLE)), path_(std::move(other.path_)) {}

Document& Document::operator=(Document&& other) noexcept {
  if (this != &other) {
    if (handle_ != TOVADLL_INVALID_HANDLE) TOVADLL_CLOSE_FILE(handle_);
    handle_ = std::exchange(other.handle_, TOVADLL_INVALID_HANDLE);
    path_ = std::move(other.path_);
  }
  return *this;
}

Document::~Document() {
  if (handle_ != TOVADLL_INVALID_HANDLE) TOVADLL_CLOSE_FILE(handle_);
}

void Document::Close() {
  const uint64_t h = std::exchange(handle_, TOVADLL_INVALID_HANDLE);
  if (h != TOVADLL_INVALID_HANDLE) Check(TOVADLL_CLOSE_FILE(h), "cannot close " + Quote(path_));
}

uint32_t Document::NumFrames() const {
  uint32_t count = 0;
  Check(TOVADLL_GET_NUMDATASETS(handle_, &count), "cannot count the frames");
  return count;
}

uint32_t Document::Type() const {
  uint32_t type = 0;
  Check(TOVADLL_GET_TOVA_TYPE(handle_, &type), "cannot read the document type");
  return type;
}

void Document::SelectFrame(uint32_t index, bool load) {
  Check(TOVADLL_SET_CURDATASET_EX(handle_, index, load ? 1 : 0),
        "cannot select frame " + std::to_string(index) + (path_.empty() ? "" : " of " + Quote(path_)));
}

std::optional<std::vector<uint8_t>> Document::Entry(uint16_t section, uint16_t id) const {
  const auto absent = [](int32_t rc) { return rc == TOVA_ERR_NO_ENTRY || rc == TOVA_ERR_NO_SECTION; };
  uint32_t size = 0;
  const int32_t size_rc = TOVADLL_GET_ENTRY_DATASIZE(handle_, section, id, &size);
  if (size_rc != TOVA_OK && !absent(size_rc)) Check(size_rc, "cannot read an entry");
  std::vector<uint8_t> data;
  uint32_t copied = 0;
  if (size_rc == TOVA_OK) {
    data.resize(size);
    const int32_t rc = TOVADLL_COPY_ENTRY_DATA(handle_, section, id, size, size ? data.data() : nullptr, &copied);
    if (absent(rc)) return std::nullopt;
    Check(rc, "cannot read an entry");
    data.resize(copied);
    return data;
  }
  // A per-frame entry that the current frame does not carry: the copy answers
  // with the first frame's value, whose size only the copy itself can tell.
  for (uint32_t capacity = 0;; capacity = capacity ? capacity * 2 : 256) {
    data.resize(capacity);
    const int32_t rc = TOVADLL_COPY_ENTRY_DATA(handle_, section, id, capacity, capacity ? data.data() : nullptr, &copied);
    if (rc == TOVA_OK) {
      data.resize(copied);
      return data;
    }
    if (absent(rc)) return std::nullopt;
    if (rc != TOVA_ERR_BUFFER_TOO_SMALL || capacity >= (1u << 31)) Check(rc, "cannot read an entry");
  }
}

std::optional<uint16_t> Document::U16(uint16_t section, uint16_t id) const {
  const auto data = Entry(section, id);
  if (!data || data->size() < 2) return std::nullopt;
  return ReadU16(data->data());
}

std::optional<uint32_t> Document::U32(uint16_t section, uint16_t id) const {
  const auto data = Entry(section, id);
  if (!data || data->size() < 4) return std::nullopt;
  return ReadU32(data->data());
}

std::optional<float> Document::F32(uint16_t section, uint16_t id) const {
  const auto data = Entry(section, id);
  if (!data || data->size() < 4) return std::nullopt;
  const uint32_t bits = ReadU32(data->data());
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::optional<std::string> Document::NarrowText(uint16_t section, uint16_t id) const {
  const auto data = Entry(section, id);
  if (!data) return std::nullopt;
  return Cp1252ToUtf8(data->data(), data->size());
}

std::optional<std::string> Document::DeviceString() const {
  if (const auto wide = Entry(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_UC)) {
    TOVA_WSTRING text;
    for (size_t i = 0; i + 1 < wide->size(); i += 2) {
      const uint16_t unit = ReadU16(wide->data() + i);
      if (unit == 0) break;
      text.push_back(static_cast<TOVA_WCHAR>(unit));
    }
    return Utf16ToUtf8(text);
  }
  return NarrowText(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC);
}

void Document::Set(uint16_t section, uint16_t id, const void* data, uint32_t size) {
  Check(TOVADLL_SET_ENTRY(handle_, section, id, size, data), "cannot store an entry");
}

void Document::SetU16(uint16_t section, uint16_t id, uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  Set(section, id, bytes, sizeof bytes);
}

void Document::SetU32(uint16_t section, uint16_t id, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  Set(section, id, bytes, sizeof bytes);
}

void Document::SetF32(uint16_t section, uint16_t id, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  SetU32(section, id, bits);
}

void Document::SetNarrowText(uint16_t section, uint16_t id, const std::string& text) {
  Set(section, id, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

int32_t DeletePath(const std::string& path) {
#ifdef _WIN32
  return TOVADLL_FILE_DELETE_UC(Wide(path).c_str());
#else
  return TOVADLL_FILE_DELETE(path.c_str());
#endif
}

int32_t RenamePath(const std::string& old_path, const std::string& new_path) {
#ifdef _WIN32
  return TOVADLL_FILE_RENAME_UC(Wide(old_path).c_str(), Wide(new_path).c_str());
#else
  return TOVADLL_FILE_RENAME(old_path.c_str(), new_path.c_str());
#endif
}

int32_t SizePath(const std::string& path, double* size_mb) {
#ifdef _WIN32
  return TOVADLL_GET_FILE_SIZE_UC(Wide(path).c_str(), size_mb);
#else
  return TOVADLL_GET_FILE_SIZE(path.c_str(), size_mb);
#endif
}

int32_t DeleteOldPath(const std::string& pattern, uint32_t age_seconds, const volatile uint32_t* stop) {
#ifdef _WIN32
  return TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(Wide(pattern).c_str(), age_seconds, stop);
#else
  return TOVADLL_FILE_DELETE_ALL_OLD_EX(pattern.c_str(), age_seconds, stop);
#endif
}

bool HasTovaExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return ext == ".tova";
}

std::vector<std::string> ContinuationFiles(const std::string& path) {
  std::vector<std::pair<unsigned, std::string>> found;
  const fs::path main(path);
  const std::string name = main.filename().string();
  fs::path dir = main.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    const std::string candidate = it->path().filename().string();
    // The main name, a blank and one to three characters led by the part number.
    if (candidate.size() < name.size() + 2 || candidate.size() > name.size() + 4) continue;
    if (candidate.compare(0, name.size(), name) != 0 || candidate[name.size()] != ' ') continue;
    unsigned part = 0;
    for (size_t i = name.size() + 1; i < candidate.size() && candidate[i] >= '0' && candidate[i] <= '9'; ++i)
      part = part * 10 + static_cast<unsigned>(candidate[i] - '0');
    if (part >= 1 && part <= 999) found.emplace_back(part, (main.parent_path() / candidate).string());
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& [part, p] : found) paths.push_back(std::move(p));
  return paths;
}

}  // namespace tova_cli
