// CTOVAEntry: one tagged block of bytes of a TOVA document.
#pragma once

#include <cstdint>
#include <memory>

#include "model/record.h"

namespace tova {

class CTOVAEntry {
 public:
  CTOVAEntry() = default;
  CTOVAEntry(const CTOVAEntry&) = delete;
  CTOVAEntry& operator=(const CTOVAEntry&) = delete;

  // Stores size bytes under id; per_dataset_mark is the identifier's mark,
  // taken whenever the entry is (re)identified. A store of a new size obtains
  // the new bytes before releasing the old ones, so a failed allocation
  // (false) leaves the entry exactly as it was. A new size without bytes
  // empties the entry.
  bool SetData(uint16_t id, uint32_t size, const void* bytes, bool per_dataset_mark);
  // Copies the data when 0 < size <= capacity; returns the count copied or 0.
  uint32_t CopyData(void* destination, uint32_t capacity) const;
  // Writes the entry record (header and data); 0 when it does not fit.
  uint32_t WriteEntry(uint8_t* destination, uint32_t capacity) const;
  // Makes this fresh entry hold size > 0 bytes that live elsewhere (a
  // compact data header's block, which outlives it): they are its storage
  // until data of another size are stored or it is emptied.
  void UseStorage(uint16_t id, uint8_t* bytes, uint32_t size, bool per_dataset_mark);
  // Whether the data are the bytes given to UseStorage.
  bool UsesStorage(const uint8_t* bytes) const { return owned_ == nullptr && data_ == bytes; }

  uint32_t RecordLength() const { return record_length_; }
  uint32_t DataSize() const {
    return record_length_ >= record::kHeaderSize ? record_length_ - record::kHeaderSize : 0;
  }
  uint16_t Id() const { return id_; }
  const uint8_t* Data() const { return data_; }
  uint8_t* MutableData() { return data_; }
  bool HasData() const { return data_ != nullptr; }

  bool per_dataset = false;  // stored again with every later dataset
  bool present = false;      // stored since the current dataset last changed
  bool modified = false;     // differs from what was read or saved

 private:
  uint32_t record_length_ = 0;  // data size + header; 0 before the first SetData
  uint16_t id_ = 0;
  uint8_t* data_ = nullptr;              // null when the entry holds no data
  std::unique_ptr<uint8_t[]> owned_;     // data_ when the entry owns its storage
};

}  // namespace tova
