// CTOVAEntry: storing, copying and writing the bytes of one entry.
#include "model/tova_entry.h"

#include <cstring>
#include <new>

#include "format/byte_order.h"

namespace tova {

bool IsFirstWinsId(uint16_t id) {
  switch (id) {
    case 0x0231: case 0x0232: case 0x0281: case 0x0282:
    case 0x0287: case 0x0288: case 0x0289:
      return true;
    default:
      return false;
  }
}

int CTOVAEntry::SetData(uint16_t id, uint32_t size, const void* bytes) {
  const uint32_t old_size = record_length_ - kRecordHeaderSize;  // wraps for a fresh entry, as intended
  if (size == old_size && record_length_ != 0) {
    if (size == 0 || bytes == nullptr) {
      id_ = id;
      record_length_ = size + kRecordHeaderSize;
      per_dataset = IsPerDatasetId(id);
      return 1;
    }
    if (data_ == nullptr) {  // length agreed but nothing held: obtain the bytes
      std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size]);
      if (!fresh) return 0;
      data_ = std::move(fresh);
      std::memcpy(data_.get(), bytes, size);
      present = 1;
      modified = 1;
      return 1;
    }
    if (!modified && std::memcmp(data_.get(), bytes, size) != 0) modified = 1;
    std::memmove(data_.get(), bytes, size);
    present = 1;
    return 1;
  }
  if (size == 0 || bytes == nullptr) {
    // No bytes for the new size: the entry is emptied, so that the record
    // length and the data held always agree.
    data_.reset();
    id_ = id;
    record_length_ = kRecordHeaderSize;
    per_dataset = IsPerDatasetId(id);
    return 1;
  }
  if (size > UINT32_MAX - kRecordHeaderSize) return 0;
  std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size]);
  if (!fresh) return 0;  // the old data stay
  std::memcpy(fresh.get(), bytes, size);
  data_ = std::move(fresh);
  id_ = id;
  record_length_ = size + kRecordHeaderSize;
  present = 1;
  modified = 1;
  per_dataset = IsPerDatasetId(id);
  return 1;
}

uint32_t CTOVAEntry::CopyData(void* destination, uint32_t capacity) const {
  const uint32_t size = DataSize();
  if (size == 0 || size > capacity || data_ == nullptr) return 0;
  std::memcpy(destination, data_.get(), size);
  return size;
}

uint32_t CTOVAEntry::WriteEntry(uint8_t* destination, uint32_t capacity) const {
  if (record_length_ > capacity) return 0;
  if (data_ == nullptr) {
    if (capacity < kRecordHeaderSize) return 0;
    format::PutU32(destination, kRecordHeaderSize);
    format::PutU16(destination + 4, id_);
    return kRecordHeaderSize;
  }
  format::PutU32(destination, record_length_);
  format::PutU16(destination + 4, id_);
  std::memcpy(destination + kRecordHeaderSize, data_.get(), DataSize());
  return record_length_;
}

}  // namespace tova
