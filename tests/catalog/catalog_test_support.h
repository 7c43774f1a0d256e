// Helpers of the catalogue tests: a little-endian byte builder, and the text of an entry built from bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/strings.h"
#include "model/tova_entry.h"

namespace tova::catalog_test {

// Little-endian entry data.
class Bytes {
 public:
  Bytes& U8(uint8_t v) { return Put(v, 1); }
  Bytes& U16(uint16_t v) { return Put(v, 2); }
  Bytes& U32(uint32_t v) { return Put(v, 4); }
  Bytes& I32(int32_t v) { return Put(static_cast<uint32_t>(v), 4); }
  Bytes& F32(float v) { uint32_t b; std::memcpy(&b, &v, 4); return Put(b, 4); }
  Bytes& F64(double v) { uint64_t b; std::memcpy(&b, &v, 8); return Put(b, 8); }
  // The text's bytes, padded with NUL to width (no terminator when it fills it).
  Bytes& Text(const char* text, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes_.push_back(i < std::strlen(text) ? static_cast<uint8_t>(text[i]) : 0);
    return *this;
  }
  Bytes& Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); return *this; }
  operator std::vector<uint8_t>() const { return bytes_; }
  const uint8_t* data() const { return bytes_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }

 private:
  Bytes& Put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<uint8_t> bytes_;
};

// The text of an entry holding exactly these bytes (none: an entry without data).
inline std::u16string RenderEntry(uint16_t id, const std::vector<uint8_t>& bytes) {
  CTOVAEntry entry;
  EXPECT_TRUE(entry.SetData(id, static_cast<uint32_t>(bytes.size()), bytes.empty() ? nullptr : bytes.data(), false));
  return catalog::DataString(entry);
}

}  // namespace tova::catalog_test
