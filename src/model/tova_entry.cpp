// CTOVAEntry: storing, copying and writing the bytes of one entry.
#include "model/tova_entry.h"

#include <cstring>
#include <new>

namespace tova {

namespace {
constexpr uint32_t kHeader = record::kHeaderSize;

// Copies bytes over held data of the same size and tells whether they
// differed. Equal runs are only compared, so that storing what is held costs
// one pass and storing new data about one copy.
bool StoreOver(uint8_t* held, const uint8_t* bytes, uint32_t size) {
  constexpr uint32_t kRun = 4096;
  for (uint32_t at = 0; at < size; at += kRun) {
    const uint32_t n = size - at < kRun ? size - at : kRun;
    if (std::memcmp(held + at, bytes + at, n) != 0) {
      std::memmove(held + at, bytes + at, size - at);
      return true;
    }
  }
  return false;
}
}  // namespace

void CTOVAEntry::UseStorage(uint16_t id, uint8_t* bytes, uint32_t size, bool per_dataset_mark) {
  owned_.reset();
  data_ = bytes;
  id_ = id;
  record_length_ = size + kHeader;
  per_dataset = per_dataset_mark;
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
      owned_ = std::move(fresh);
      data_ = owned_.get();
      std::memcpy(data_, bytes, size);
      present = true;
      modified = true;
      return true;
    }
    if (!modified) {
      if (StoreOver(data_, static_cast<const uint8_t*>(bytes), size)) modified = true;
    } else {
      std::memmove(data_, bytes, size);
    }
    present = true;
    return true;
  }
  if (size == 0 || bytes == nullptr) {
    // No bytes for the new size: the entry is emptied, so that the record
    // length and the data held always agree.
    owned_.reset();
    data_ = nullptr;
    id_ = id;
    record_length_ = kHeader;
    per_dataset = per_dataset_mark;
    return true;
  }
  if (size > UINT32_MAX - kHeader) return false;
  std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size]);
  if (!fresh) return false;  // the old data stay
  std::memcpy(fresh.get(), bytes, size);
  owned_ = std::move(fresh);
  data_ = owned_.get();
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
  std::memcpy(destination, data_, size);
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
  std::memcpy(destination + kHeader, data_, DataSize());
  return record_length_;
}

}  // namespace tova
