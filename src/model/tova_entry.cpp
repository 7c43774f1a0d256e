// CTOVAEntry: storing, copying and writing the bytes of one entry.
#include "model/tova_entry.h"

#include <cstring>
#include <new>

namespace tova {

namespace {
constexpr uint32_t kHeader = record::kHeaderSize;
}

bool CTOVAEntry::SetData(uint16_t id, uint32_t size, const void* bytes, bool per_dataset_mark) {
  const uint32_t old_size = record_length_ - kHeader;  // wraps for a fresh entry, as intended
  if (size == old_size && record_length_ != 0) {
    if (size == 0 || bytes == nullptr) {
      id_ = id;
      record_length_ = size + kHeader;
      per_dataset = per_dataset_mark;
      return true;
    }
    if (data_ == nullptr) {  // length agreed but nothing held: obtain the bytes
      std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size]);
      if (!fresh) return false;
      data_ = std::move(fresh);
      std::memcpy(data_.get(), bytes, size);
      present = true;
      modified = true;
      return true;
    }
    if (!modified && std::memcmp(data_.get(), bytes, size) != 0) modified = true;
    std::memmove(data_.get(), bytes, size);
    present = true;
    return true;
  }
  if (size == 0 || bytes == nullptr) {
    // No bytes for the new size: the entry is emptied, so that the record
    // length and the data held always agree.
    data_.reset();
    id_ = id;
    record_length_ = kHeader;
    per_dataset = per_dataset_mark;
    return true;
  }
  if (size > UINT32_MAX - kHeader) return false;
  std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size]);
  if (!fresh) return false;  // the old data stay
  std::memcpy(fresh.get(), bytes, size);
  data_ = std::move(fresh);
  id_ = id;
  record_length_ = size + kHeader;
  present = true;
  modified = true;
  per_dataset = per_dataset_mark;
  return true;
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
    if (capacity < kHeader) return 0;
    record::PutHeader(destination, kHeader, id_);
    return kHeader;
  }
  record::PutHeader(destination, record_length_, id_);
  std::memcpy(destination + kHeader, data_.get(), DataSize());
  return record_length_;
}

}  // namespace tova
