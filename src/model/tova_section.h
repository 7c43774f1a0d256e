// CTOVASection: the ordered list of entries of one section (global header,
// data header or image) and TTOVASectInfo, where an image section lies in the
// files of a document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/tova_entry.h"

namespace tova {

class CTOVASection {
 public:
  CTOVASection() = default;
  explicit CTOVASection(uint16_t section_id) : section_id_(section_id) {}
  CTOVASection(const CTOVASection&) = delete;
  CTOVASection& operator=(const CTOVASection&) = delete;

  void SetSectionId(uint16_t id) { section_id_ = id; }
  uint16_t SectionId() const { return section_id_; }

  CTOVAEntry* FindEntry(uint16_t id) const;
  CTOVAEntry* GetEntryAt(uint32_t index) const;
  uint32_t Count() const { return static_cast<uint32_t>(entries_.size()); }
  // Number of entries whose present flag is set.
  uint32_t CountPresent() const;

  // Stores an entry; 1 on success, 0 when memory ran out. Without overwrite, a
  // data header keeps its first-wins entries.
  int AddEntry(uint16_t id, uint32_t size, const void* bytes, int overwrite);
  int RemoveEntry(uint16_t id);
  void RemoveAllEntries() { entries_.clear(); }

  // 6 + the record lengths of all (or only the per-dataset) entries. 64-bit so
  // that a sum over many large entries cannot wrap.
  uint64_t GetSectionSize(int per_dataset_only) const;
  // Writes the section record; 0 when it does not fit.
  uint32_t WriteSection(uint8_t* destination, uint32_t capacity, int per_dataset_only) const;
  // Parses entry records into this section: 0, 30 or 32.
  int32_t ReadSection(const uint8_t* records, uint32_t length, uint16_t section_id);
  // Copies the entries of source: 0 or 30.
  int32_t CopyFrom(const CTOVASection& source, int per_dataset_only, int skip_existing);

  int IsModified() const;
  void SetModified(int value);
  void ClearPresent();

  // The one-line description (catalogue).
  std::u16string GetSectionString(bool later_dataset) const;

  const std::vector<std::unique_ptr<CTOVAEntry>>& Entries() const { return entries_; }

 private:
  uint16_t section_id_ = 0;
  std::vector<std::unique_ptr<CTOVAEntry>> entries_;  // in the order first added
};

// Where one image section of a file document lies.
struct TTOVASectInfo {
  uint32_t data_size = 0;    // section length - 6
  uint16_t part_number = 0;  // part in which the 6-byte section header ends
  uint32_t data_offset = 0;  // position in that part just after the header
};

}  // namespace tova
