// The one description of a record's bytes. Entry records and section records
// share a 6-byte header: a u32 length (the header included, never below 6)
// followed by a u16 identifier; the data follow. An entry record's data are
// the entry's value; a section record's data are its entry records, back to
// back. All integers are little-endian. The section scan, the section and
// entry writers and the buffers all read and write records through here.
#pragma once

#include <cstdint>

#include "HOLMDAQTova.h"
#include "platform/byte_order.h"

namespace tova::record {

inline constexpr uint32_t kLengthOffset = 0;      // u32 record length
inline constexpr uint32_t kIdentifierOffset = 4;  // u16 entry or section identifier
inline constexpr uint32_t kHeaderSize = 6;        // where the data begin

inline bool IsSectionId(uint16_t id) {
  return id == TOVA_SECT_GlobalHeader || id == TOVA_SECT_DataHeader || id == TOVA_SECT_Image;
}

struct Header {
  uint32_t length = 0;  // of the whole record
  uint16_t id = 0;
  // Bytes of data that follow the header; 0 for a malformed length.
  uint32_t DataSize() const { return length >= kHeaderSize ? length - kHeaderSize : 0; }
};

// Reads a header from kHeaderSize bytes at p.
inline Header GetHeader(const uint8_t* p) {
  return {platform::GetU32(p + kLengthOffset), platform::GetU16(p + kIdentifierOffset)};
}

// Writes a header to kHeaderSize bytes at p.
inline void PutHeader(uint8_t* p, uint32_t length, uint16_t id) {
  platform::PutU32(p + kLengthOffset, length);
  platform::PutU16(p + kIdentifierOffset, id);
}

// Where the pixels of an image section begin when TOVA_IM_Data is its only
// entry: after the section's header and that entry's header.
inline constexpr uint32_t kImageDataOffset = 2 * kHeaderSize;

}  // namespace tova::record
