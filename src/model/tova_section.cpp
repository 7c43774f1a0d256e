// CTOVASection: the entry list of one section, its record and its parsing.
#include "model/tova_section.h"

#include <algorithm>
#include <new>

namespace tova {

CTOVAEntry* CTOVASection::FindEntry(uint16_t id) const {
  for (const auto& e : entries_)
    if (e->Id() == id) return e.get();
  return nullptr;
}

CTOVAEntry* CTOVASection::GetEntryAt(uint32_t index) const {
  return index < entries_.size() ? entries_[index].get() : nullptr;
}

uint32_t CTOVASection::CountPresent() const {
  return static_cast<uint32_t>(std::count_if(entries_.begin(), entries_.end(), [](const auto& e) { return e->present; }));
}

CTOVAEntry* CTOVASection::GetPresentEntryAt(uint32_t index) const {
  for (const auto& e : entries_) {
    if (!e->present) continue;
    if (index-- == 0) return e.get();
  }
  return nullptr;
}

bool CTOVASection::AddEntry(uint16_t id, uint32_t size, const void* bytes, StoreMode mode) {
  const bool per_dataset = rules_->IsPerDataset(id);
  if (CTOVAEntry* existing = FindEntry(id)) {
    if (mode == StoreMode::kKeepFirstWins && section_id_ == TOVA_SECT_DataHeader && rules_->IsFirstWins(id))
      return true;
    // A failed store of a new size keeps the old data; it is reported, not
    // passed off as stored.
    return existing->SetData(id, size, bytes, per_dataset);
  }
  std::unique_ptr<CTOVAEntry> entry(new (std::nothrow) CTOVAEntry);
  if (!entry || !entry->SetData(id, size, bytes, per_dataset)) return false;
  try {
    entries_.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CTOVASection::RemoveEntry(uint16_t id) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [id](const auto& e) { return e->Id() == id; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

void CTOVASection::TruncateEntries(uint32_t count) {
  if (count < entries_.size()) entries_.resize(count);
}

uint64_t CTOVASection::GetSectionSize(EntryScope scope) const {
  uint64_t size = record::kHeaderSize;
  for (const auto& e : entries_)
    if (scope == EntryScope::kAll || e->per_dataset) size += e->RecordLength();
  return size;
}

uint32_t CTOVASection::WriteSection(uint8_t* destination, uint32_t capacity, EntryScope scope) const {
  const uint64_t size = GetSectionSize(scope);
  if (size > capacity) return 0;
  record::PutHeader(destination, static_cast<uint32_t>(size), section_id_);
  uint32_t pos = record::kHeaderSize;
  for (const auto& e : entries_) {
    if (scope == EntryScope::kPerDatasetOnly && !e->per_dataset) continue;
    pos += e->WriteEntry(destination + pos, capacity - pos);
  }
  return pos;
}

Code CTOVASection::ReadSection(const uint8_t* records, uint32_t length) {
  uint32_t pos = 0;
  while (pos < length) {
    // A tail too short for a record header is malformed, like a record that
    // runs past the end; nothing beyond the block is read.
    RETURN_IF(length - pos < record::kHeaderSize, Code::kRecord);
    const record::Header header = record::GetHeader(records + pos);
    RETURN_IF(header.length < record::kHeaderSize || header.length > length - pos, Code::kRecord);
    // Records of exactly a header hold no data and are dropped.
    if (header.length > record::kHeaderSize &&
        !AddEntry(header.id, header.DataSize(), records + pos + record::kHeaderSize, StoreMode::kKeepFirstWins))
      return Code::kStore;
    pos += header.length;
  }
  return Code::kOk;
}

Code CTOVASection::CopyFrom(const CTOVASection& source, EntryScope scope, Existing existing) {
  for (const auto& e : source.entries_) {
    if (existing == Existing::kSkip && FindEntry(e->Id())) continue;
    if (scope == EntryScope::kPerDatasetOnly && !e->per_dataset) continue;
    RETURN_IF(!AddEntry(e->Id(), e->DataSize(), e->Data(), StoreMode::kOverwrite), Code::kStore);
  }
  return Code::kOk;
}

bool CTOVASection::IsModified() const {
  return std::any_of(entries_.begin(), entries_.end(), [](const auto& e) { return e->modified; });
}

void CTOVASection::SetModified(bool value) {
  for (const auto& e : entries_) e->modified = value;
}

void CTOVASection::ClearPresent() {
  for (const auto& e : entries_) e->present = false;
}

}  // namespace tova
