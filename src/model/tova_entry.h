// CTOVAEntry: one tagged block of bytes of a TOVA document, and the rule that
// decides which identifiers are stored again with every dataset.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tova {

// Section identifiers.
inline constexpr uint16_t kSectGlobalHeader = 0xFF01;
inline constexpr uint16_t kSectDataHeader = 0xFF02;
inline constexpr uint16_t kSectImage = 0xFF10;

// Size of an entry or section record header: u32 length, u16 identifier.
inline constexpr uint32_t kRecordHeaderSize = 6;

// True for exactly the identifiers whose entries are stored with every dataset.
bool IsPerDatasetId(uint16_t id);
// True for the identifiers whose first occurrence wins when a data header is
// parsed (the non-overwriting AddEntry keeps an existing entry).
bool IsFirstWinsId(uint16_t id);

class CTOVAEntry {
 public:
  CTOVAEntry() = default;
  CTOVAEntry(const CTOVAEntry&) = delete;
  CTOVAEntry& operator=(const CTOVAEntry&) = delete;

  // Stores size bytes under id. A store of a new size obtains the new bytes
  // before releasing the old ones, so a failed allocation (result 0) leaves
  // the entry exactly as it was. A new size without bytes empties the entry.
  int SetData(uint16_t id, uint32_t size, const void* bytes);
  // Copies the data when 0 < size <= capacity; returns the count copied or 0.
  uint32_t CopyData(void* destination, uint32_t capacity) const;
  // Writes the entry record (length, identifier, data); 0 when it does not fit.
  uint32_t WriteEntry(uint8_t* destination, uint32_t capacity) const;

  uint32_t RecordLength() const { return record_length_; }
  uint32_t DataSize() const { return record_length_ >= kRecordHeaderSize ? record_length_ - kRecordHeaderSize : 0; }
  uint16_t Id() const { return id_; }
  const uint8_t* Data() const { return data_.get(); }
  uint8_t* MutableData() { return data_.get(); }
  bool HasData() const { return data_ != nullptr; }

  int32_t per_dataset = 0;  // stored again with every later dataset
  int32_t present = 0;      // stored since the current dataset last changed
  int32_t modified = 0;     // differs from what was read or saved

  // The one-line description and the rendered data (catalogue).
  std::u16string GetEntryString() const;
  void GetDataString(std::u16string& text) const;

 private:
  uint32_t record_length_ = 0;  // data size + 6; 0 before the first SetData
  uint16_t id_ = 0;
  std::unique_ptr<uint8_t[]> data_;  // null when the entry holds no data
};

}  // namespace tova
