// CTOVASection: the ordered list of entries of one section (global header,
// data header or image) and TTOVASectInfo, where an image section lies in the
// files of a document.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model/identifier_rules.h"
#include "model/result.h"
#include "model/tova_entry.h"

namespace tova {

// How AddEntry treats an entry of the same identifier.
enum class StoreMode {
  kOverwrite,      // the new data replace it
  kKeepFirstWins,  // a data header keeps its first-wins entries (parsing)
};

// Which entries take part in a section record.
enum class EntryScope {
  kAll,
  kPerDatasetOnly,  // the form of every dataset after the first
};

class CTOVASection {
 public:
  CTOVASection(uint16_t section_id, const IdentifierRules& rules) : section_id_(section_id), rules_(&rules) {}
  CTOVASection(const CTOVASection&) = delete;
  CTOVASection& operator=(const CTOVASection&) = delete;

  uint16_t SectionId() const { return section_id_; }
  const IdentifierRules& Rules() const { return *rules_; }

  CTOVAEntry* FindEntry(uint16_t id) const;
  CTOVAEntry* GetEntryAt(uint32_t index) const;
  uint32_t Count() const { return static_cast<uint32_t>(entries_.size()); }
  // Number of entries whose present flag is set.
  uint32_t CountPresent() const;
  // The index-th entry whose present flag is set, or null.
  CTOVAEntry* GetPresentEntryAt(uint32_t index) const;

  // Stores an entry; false when memory ran out (an existing entry keeps its
  // data then).
  bool AddEntry(uint16_t id, uint32_t size, const void* bytes, StoreMode mode);
  // Appends a made entry at the tail (its identifier not yet held); throws
  // std::bad_alloc when memory runs out.
  void AdoptEntry(std::unique_ptr<CTOVAEntry> entry) { entries_.push_back(std::move(entry)); }
  bool RemoveEntry(uint16_t id);
  void RemoveAllEntries() { entries_.clear(); }
  // Removes the entries beyond the first `count` (undoing additions).
  void TruncateEntries(uint32_t count);

  // Header + the record lengths of the entries in scope. 64-bit so that a sum
  // over many large entries cannot wrap.
  uint64_t GetSectionSize(EntryScope scope) const;
  // Writes the section record; 0 when it does not fit.
  uint32_t WriteSection(uint8_t* destination, uint32_t capacity, EntryScope scope) const;
  // Parses entry records into this section: kOk, kStore or kRecord.
  Code ReadSection(const uint8_t* records, uint32_t length);
  // Copies the entries of source in scope; with skip_existing, identifiers
  // this section has already are left alone. kOk or kStore.
  enum class Existing { kReplace, kSkip };
  Code CopyFrom(const CTOVASection& source, EntryScope scope, Existing existing);

  bool IsModified() const;
  void SetModified(bool value);
  void ClearPresent();

  const std::vector<std::unique_ptr<CTOVAEntry>>& Entries() const { return entries_; }

 private:
  uint16_t section_id_;
  const IdentifierRules* rules_;
  std::vector<std::unique_ptr<CTOVAEntry>> entries_;  // in the order first added
};

// Where one image section of a file document lies.
struct TTOVASectInfo {
  uint32_t data_size = 0;    // section length - record header
  uint16_t part_number = 0;  // part in which the section's header ends
  uint32_t data_offset = 0;  // position in that part just after the header
};

}  // namespace tova
