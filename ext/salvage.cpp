// Salvage of damaged documents: a walk over the section and entry records of
// the main file and its continuation files that finds the end of the last
// whole dataset, then the cut (in place) or the copy (to a new document), and
// a read of the result through the library to confirm it.
//
// The walk follows the reader's rules for the byte stream: a part is left for
// the next one when a record runs past its end, or when it is filled to the
// part size limit; the stream ends where fewer than two bytes remain in a
// part that is not continued.
#include "tova_salvage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "HOLMDAQTova.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kPartSizeLimit = 0x7FFFFFFF;
constexpr uint32_t kMaxPart = 999;
constexpr uint32_t kHeaderSize = 6;  // u32 length + u16 identifier, of sections and entries alike

fs::path FromUtf8(const char* text) { return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text))); }

// "<main> 001": the main path, a blank, the part number in three digits.
fs::path PartPath(const fs::path& main, uint32_t part) {
  if (part == 0) return main;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " %.3u", part);
  fs::path p = main;
  p += suffix;
  return p;
}

// Size of a regular file; 0 when it is missing, empty or no regular file.
uint64_t SizeOf(const fs::path& p) {
  std::error_code ec;
  if (!fs::is_regular_file(p, ec)) return 0;
  const uint64_t size = fs::file_size(p, ec);
  return ec ? 0 : size;
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The document's byte stream across its parts, read as the library reads it.
class PartStream {
 public:
  explicit PartStream(fs::path main) : main_(std::move(main)) {}

  bool Start() { return Enter(0); }

  bool AtEnd() {
    if (size_ - pos_ >= 2) return false;
    return !(size_ >= kPartSizeLimit && part_ < kMaxPart && SizeOf(PartPath(main_, part_ + 1)) > 0);
  }

  // False when the data end first (the record is torn) or a part cannot be read.
  bool Read(uint8_t* out, uint64_t n) { return Move(out, n); }
  bool Skip(uint64_t n) { return Move(nullptr, n); }

  uint32_t part() const { return part_; }
  uint64_t pos() const { return pos_; }
  bool failed() const { return failed_; }
  // Sizes of the parts entered so far.
  const std::vector<uint64_t>& sizes() const { return sizes_; }

 private:
  bool Enter(uint32_t part) {
    in_.close();
    in_.clear();
    const fs::path p = PartPath(main_, part);
    const uint64_t size = SizeOf(p);
    if (part > 0 && size == 0) return false;  // the reader's end of the chain
    in_.open(p, std::ios::binary);
    if (!in_) {
      failed_ = true;
      return false;
    }
    part_ = part;
    size_ = size;
    pos_ = 0;
    sizes_.resize(part + 1);
    sizes_[part] = size;
    return true;
  }

  bool Move(uint8_t* out, uint64_t n) {
    while (n > 0) {
      if (pos_ == size_) {
        if (part_ >= kMaxPart || !Enter(part_ + 1)) return false;
        continue;
      }
      const uint64_t take = std::min(n, size_ - pos_);
      if (out) {
        if (!in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(take))) {
          failed_ = true;
          return false;
        }
        out += take;
      } else if (!in_.seekg(static_cast<std::streamoff>(pos_ + take))) {
        failed_ = true;
        return false;
      }
      pos_ += take;
      n -= take;
    }
    return true;
  }

  fs::path main_;
  std::ifstream in_;
  uint32_t part_ = 0;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
  std::vector<uint64_t> sizes_;
  bool failed_ = false;
};

// Where the last whole dataset ends, and what the walk met after it.
struct Plan {
  uint32_t datasets = 0;
  uint32_t keep_part = 0;
  uint64_t keep_offset = 0;
  uint32_t dropped = 0;
  uint32_t stop = TOVAEXT_SALVAGE_STOP_END;
  uint32_t stop_part = 0;
  uint64_t stop_offset = 0;
  std::vector<int64_t> part_sizes;  // size of every part up to the last that exists; -1 for a missing number
  bool io_error = false;
  bool missing = false;  // the main file cannot be opened
};

// Walks the entry records of one section's data; false with the reason on a
// malformed or torn record.
bool WalkEntries(PartStream& s, uint64_t left, uint32_t& stop) {
  uint8_t header[kHeaderSize];
  while (left > 0) {
    if (left < kHeaderSize) {
      stop = TOVAEXT_SALVAGE_STOP_ENTRY_RECORD;
      return false;
    }
    if (!s.Read(header, kHeaderSize)) {
      stop = TOVAEXT_SALVAGE_STOP_TORN;
      return false;
    }
    const uint32_t length = Le32(header);
    if (length < kHeaderSize || length > left) {
      stop = TOVAEXT_SALVAGE_STOP_ENTRY_RECORD;
      return false;
    }
    if (!s.Skip(length - kHeaderSize)) {
      stop = TOVAEXT_SALVAGE_STOP_TORN;
      return false;
    }
    left -= length;
  }
  return true;
}

Plan Walk(const fs::path& main) {
  Plan plan;
  PartStream s(main);
  if (!s.Start()) {
    plan.missing = true;
    return plan;
  }
  bool global_header = false;
  uint32_t data_headers = 0, images = 0, begun = 0;
  for (;;) {
    if (s.AtEnd()) break;
    uint8_t header[kHeaderSize];
    if (!s.Read(header, kHeaderSize)) {
      plan.stop = TOVAEXT_SALVAGE_STOP_TORN;
      break;
    }
    const uint32_t length = Le32(header);
    const uint16_t id = static_cast<uint16_t>(header[4] | header[5] << 8);
    if (length < kHeaderSize) {
      plan.stop = TOVAEXT_SALVAGE_STOP_SECTION_LENGTH;
      break;
    }
    if (id != TOVA_SECT_GlobalHeader && id != TOVA_SECT_DataHeader && id != TOVA_SECT_Image) {
      plan.stop = TOVAEXT_SALVAGE_STOP_SECTION_ID;
      break;
    }
    if (id == TOVA_SECT_DataHeader) ++data_headers;
    if (id == TOVA_SECT_Image) ++images;
    begun = std::max(data_headers, images);
    if (!WalkEntries(s, length - kHeaderSize, plan.stop)) break;
    if (id == TOVA_SECT_GlobalHeader) global_header = true;
    if (global_header && data_headers == images && images > 0) {
      plan.datasets = images;
      plan.keep_part = s.part();
      plan.keep_offset = s.pos();
    }
  }
  plan.stop_part = s.part();
  plan.stop_offset = s.pos();
  plan.io_error = s.failed();
  plan.dropped = begun - plan.datasets;
  if (plan.dropped == 0 && plan.stop != TOVAEXT_SALVAGE_STOP_END) plan.dropped = 1;  // a torn or garbled start
  // Every part that exists, also those the walk never entered.
  plan.part_sizes.assign(s.sizes().begin(), s.sizes().end());
  for (uint32_t p = static_cast<uint32_t>(plan.part_sizes.size()); p <= kMaxPart; ++p) {
    std::error_code ec;
    if (fs::exists(PartPath(main, p), ec)) {
      plan.part_sizes.resize(p + 1, -1);
      plan.part_sizes[p] = static_cast<int64_t>(SizeOf(PartPath(main, p)));
    }
  }
  return plan;
}

#ifdef _WIN32
uint64_t OpenRead(const fs::path& p) { return TOVADLL_OPEN_FILE_READ_UC(p.wstring().c_str()); }
#else
uint64_t OpenRead(const fs::path& p) { return TOVADLL_OPEN_FILE_READ(p.c_str()); }
#endif

// The library's verdict on a document: the read result and the dataset count.
int32_t ReadWithLibrary(const fs::path& p, uint32_t& datasets) {
  datasets = 0;
  const uint64_t h = OpenRead(p);
  if (h == TOVADLL_INVALID_HANDLE) return 2;  // missing or empty
  int32_t rc = TOVADLL_READ_FROM_FILE(h, 1, 0);
  if (rc == TOVA_OK) rc = TOVADLL_GET_NUMDATASETS(h, &datasets);
  TOVADLL_CLOSE_FILE(h);
  return rc;
}

void Fill(tovaext_salvage_report& r, const Plan& plan) {
  r.datasets_kept = plan.datasets;
  r.datasets_dropped = plan.dropped;
  r.stop = plan.stop;
  r.stop_part = plan.stop_part;
  r.stop_offset = plan.stop_offset;
  r.parts_kept = plan.keep_part + 1;
  for (uint32_t p = 0; p < plan.part_sizes.size(); ++p) {
    if (plan.part_sizes[p] < 0) continue;
    const auto size = static_cast<uint64_t>(plan.part_sizes[p]);
    if (p < plan.keep_part) {
      r.bytes_kept += size;
    } else if (p == plan.keep_part) {
      r.bytes_kept += plan.keep_offset;
      r.bytes_cut += size - std::min(size, plan.keep_offset);
    } else {
      r.bytes_cut += size;
      ++r.parts_removed;
    }
  }
}

bool CopyPrefix(const fs::path& from, const fs::path& to, uint64_t n) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  std::vector<char> block(1 << 20);
  while (in && out && n > 0) {
    const auto take = static_cast<std::streamsize>(std::min<uint64_t>(n, block.size()));
    if (!in.read(block.data(), take)) return false;
    out.write(block.data(), take);
    n -= static_cast<uint64_t>(take);
  }
  out.flush();
  return n == 0 && in && out;
}

// Removes a document and its continuation files; false when one remains.
bool RemoveDocument(const fs::path& main) {
  bool ok = true;
  for (uint32_t p = 0; p <= kMaxPart; ++p) {
    std::error_code ec;
    fs::remove(PartPath(main, p), ec);
    if (ec) ok = false;
  }
  return ok;
}

int32_t Salvage(const char* path, const char* out_path, bool change, tovaext_salvage_report* report) {
  if (!path || !report) return TOVA_ERR_NULL_POINTER;
  tovaext_salvage_report& r = *report;
  r = tovaext_salvage_report{};
  r.read_after = -1;
  try {
    const fs::path main = FromUtf8(path);
    uint32_t datasets_before = 0;
    r.read_before = ReadWithLibrary(main, datasets_before);
    const Plan plan = Walk(main);
    Fill(r, plan);
    if (plan.missing) return TOVA_ERR_OPEN;
    if (plan.io_error) return TOVAEXT_ERR_SALVAGE_IO;
    if (!change) return TOVA_OK;
    if (plan.datasets == 0) return TOVAEXT_ERR_SALVAGE_NOTHING;
    // The walk never keeps less than the library reads, except past a
    // malformed entry record, which the reader finds only once that frame's
    // image is loaded.
    if (r.read_before == TOVA_OK && datasets_before > plan.datasets &&
        plan.stop != TOVAEXT_SALVAGE_STOP_ENTRY_RECORD)
      return TOVAEXT_ERR_SALVAGE_REFUSED;

    fs::path result = main;
    if (out_path) {
      result = FromUtf8(out_path);
      std::error_code ec;
      if (fs::exists(result, ec) && fs::equivalent(result, main, ec)) return TOVAEXT_ERR_SALVAGE_SAME_FILE;
      r.changed = 1;
      if (!RemoveDocument(result)) return TOVAEXT_ERR_SALVAGE_IO;
      for (uint32_t p = 0; p <= plan.keep_part; ++p)
        if (!CopyPrefix(PartPath(main, p), PartPath(result, p),
                        p == plan.keep_part ? plan.keep_offset : static_cast<uint64_t>(plan.part_sizes[p])))
          return TOVAEXT_ERR_SALVAGE_IO;
    } else if (r.bytes_cut > 0) {
      r.changed = 1;
      std::error_code ec;
      if (static_cast<uint64_t>(plan.part_sizes[plan.keep_part]) != plan.keep_offset)
        fs::resize_file(PartPath(main, plan.keep_part), plan.keep_offset, ec);
      if (ec) return TOVAEXT_ERR_SALVAGE_IO;
      for (uint32_t p = static_cast<uint32_t>(plan.part_sizes.size()); p-- > plan.keep_part + 1;) {
        fs::remove(PartPath(main, p), ec);
        if (ec) return TOVAEXT_ERR_SALVAGE_IO;
      }
    }
    uint32_t datasets_after = 0;
    r.read_after = ReadWithLibrary(result, datasets_after);
    if (r.read_after != TOVA_OK || datasets_after != plan.datasets) return TOVAEXT_ERR_SALVAGE_UNREADABLE;
    return TOVA_OK;
  } catch (const std::exception&) {
    return TOVAEXT_ERR_SALVAGE_IO;  // out of memory or a path that cannot be formed
  }
}

}  // namespace

extern "C" {

TOVAEXT_API int32_t tovaext_salvage_check(const char* path, tovaext_salvage_report* report) {
  return Salvage(path, nullptr, false, report);
}

TOVAEXT_API int32_t tovaext_salvage(const char* path, const char* out_path, tovaext_salvage_report* report) {
  return Salvage(path, out_path, true, report);
}

}  // extern "C"
