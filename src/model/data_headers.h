// DataHeaders: the data headers of a document's datasets. Dataset 0's, which
// holds the entries that stand for every dataset, is a section of entries. A
// later one, as a recording holds hundreds of thousands of them, is kept
// compact: its entry records back to back in one block of a store shared by
// the document, with one present and one modified flag standing for all its
// entries (their per-dataset flags are those of their identifiers). Asking
// for its section materialises it: a section whose entries keep the block's
// bytes as their storage, so that data handed out stay where they are. Once
// its dataset is no longer current, a materialised header that still matches
// its block (no entry added, removed, resized or flagged apart from the rest)
// goes back to the compact form.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "model/identifier_rules.h"
#include "model/tova_section.h"

namespace tova {

class DataHeaders {
 public:
  explicit DataHeaders(const IdentifierRules& rules) : rules_(&rules) {}
  DataHeaders(const DataHeaders&) = delete;
  DataHeaders& operator=(const DataHeaders&) = delete;

  size_t size() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }
  // Drops every header and the store.
  void clear();

  // Appends a header held as a section.
  void push_back(std::unique_ptr<CTOVASection> section);
  // Whether entry records can be held compact: well-formed, none of exactly a
  // header, no identifier twice (they then parse to the same entries).
  static bool CanHoldCompact(const uint8_t* records, uint32_t length);
  // Appends a header of those records, entries present and modified as a
  // freshly parsed header's are. Call only when CanHoldCompact.
  void AppendCompact(const uint8_t* records, uint32_t length);
  // Appends a header holding copies of the entries of source in scope, as
  // CopyFrom into a new section would (present, and modified as given);
  // false when that cannot be compact (an entry without data), nothing
  // appended then.
  bool AppendCompactCopy(const CTOVASection& source, EntryScope scope, bool modified);
  // Removes the header at index (its block stays in the store until clear).
  void erase(size_t index);

  // The section of the header at index, materialised when it was compact.
  // Throws std::bad_alloc when memory runs out.
  CTOVASection* operator[](size_t index);
  CTOVASection* back() { return (*this)[size() - 1]; }
  // Puts the header at index back into the compact form when it still
  // matches its block (never the first, which stays a section).
  void Relax(size_t index);

  // Without materialising:
  uint32_t Count(size_t index) const;
  uint32_t CountPresent(size_t index) const;
  bool Holds(size_t index, uint16_t id) const;
  void ClearPresent(size_t index);
  bool IsModified() const;
  void SetModified(bool value);

 private:
  struct Slot {
    std::unique_ptr<CTOVASection> section;  // null while compact
    uint8_t* block = nullptr;               // the entry records in the store; null: none
    uint32_t length = 0;
    bool present = true;   // of every entry, while compact
    bool modified = true;  // of every entry, while compact
  };
  uint8_t* Store(uint32_t length);
  static uint32_t CountRecords(const Slot& slot);

  const IdentifierRules* rules_;
  std::deque<Slot> slots_;  // grows without moving the headers it holds
  // The store: chunks that never move, filled one after the other.
  std::vector<std::unique_ptr<uint8_t[]>> chunks_;
  uint8_t* fill_ = nullptr;  // the free tail of the chunk being filled
  uint32_t left_ = 0;        // its length
};

}  // namespace tova
