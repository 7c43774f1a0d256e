// What the fuzz targets reach below the public API, kept in one place: an
// in-memory file layer installed through the file-layer seam, and the part
// size limit seam. Each input runs inside one FuzzScope, which installs both
// and restores the previous state at its end, so that the targets can run
// inside the ordinary test program as well (the system's own file layer is in
// force again after each).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tova::fuzz {

class FuzzScope {
 public:
  // part_limit 0: the real limit.
  explicit FuzzScope(uint32_t part_limit = 0);
  ~FuzzScope();
  FuzzScope(const FuzzScope&) = delete;
  FuzzScope& operator=(const FuzzScope&) = delete;

  // Creates or replaces a file of the in-memory layer.
  void Put(const std::string& name, const uint8_t* data, size_t size);
  // The bytes of a file; empty when missing.
  std::vector<uint8_t> Get(const std::string& name) const;
  bool Exists(const std::string& name) const;
};

// The continuation file name of part n of main (n >= 1): "main 001".
std::string PartName(const std::string& main, unsigned part);

// Little-endian reads of fuzz input that come up 0 past its end.
struct InputCursor {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  size_t left() const { return size - pos; }
  uint8_t U8() { return pos < size ? data[pos++] : 0; }
  uint16_t U16() {
    const uint8_t low = U8();  // two statements: the order of the reads is fixed on every compiler
    return static_cast<uint16_t>(low | U8() << 8);
  }
};

}  // namespace tova::fuzz
