// CTOVASection: the entry list of one section, its record and its parsing.
#include "model/tova_section.h"

#include <algorithm>
#include <new>

#include "format/byte_order.h"

namespace tova {

CTOVAEntry* CTOVASection::FindEntry(uint16_t id) const {
  for (const auto& e : entries_)
    if (e && e->Id() == id) return e.get();
  return nullptr;
}

CTOVAEntry* CTOVASection::GetEntryAt(uint32_t index) const {
  return index < entries_.size() ? entries_[index].get() : nullptr;
}

uint32_t CTOVASection::CountPresent() const {
  uint32_t n = 0;
  for (const auto& e : entries_)
    if (e && e->present) ++n;
  return n;
}

int CTOVASection::AddEntry(uint16_t id, uint32_t size, const void* bytes, int overwrite) {
  if (CTOVAEntry* existing = FindEntry(id)) {
    if (!overwrite && section_id_ == kSectDataHeader && IsFirstWinsId(id)) return 1;
    // A failed store of a new size keeps the old data; it is reported, not
    // passed off as stored.
    return existing->SetData(id, size, bytes);
  }
  std::unique_ptr<CTOVAEntry> entry(new (std::nothrow) CTOVAEntry);
  if (!entry || !entry->SetData(id, size, bytes)) return 0;
  try {
    entries_.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

int CTOVASection::RemoveEntry(uint16_t id) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [id](const auto& e) { return e && e->Id() == id; });
  if (it == entries_.end()) return 0;
  entries_.erase(it);
  return 1;
}

uint64_t CTOVASection::GetSectionSize(int per_dataset_only) const {
  uint64_t size = kRecordHeaderSize;
  for (const auto& e : entries_)
    if (e && (!per_dataset_only || e->per_dataset)) size += e->RecordLength();
  return size;
}

uint32_t CTOVASection::WriteSection(uint8_t* destination, uint32_t capacity, int per_dataset_only) const {
  const uint64_t size = GetSectionSize(per_dataset_only);
  if (size > capacity) return 0;
  format::PutU32(destination, static_cast<uint32_t>(size));
  format::PutU16(destination + 4, section_id_);
  uint32_t pos = kRecordHeaderSize;
  for (const auto& e : entries_) {
    if (!e || (per_dataset_only && !e->per_dataset)) continue;
    pos += e->WriteEntry(destination + pos, capacity - pos);
  }
  return pos;
}

int32_t CTOVASection::ReadSection(const uint8_t* records, uint32_t length, uint16_t section_id) {
  section_id_ = section_id;
  uint32_t pos = 0;
  while (pos < length) {
    // A tail too short for a record header is malformed, like a record that
    // runs past the end; nothing beyond the block is read.
    if (length - pos < kRecordHeaderSize) return 32;
    const uint32_t record_length = format::GetU32(records + pos);
    const uint16_t id = format::GetU16(records + pos + 4);
    if (record_length < kRecordHeaderSize) return 32;
    if (record_length > length - pos) return 32;
    if (record_length > kRecordHeaderSize &&
        !AddEntry(id, record_length - kRecordHeaderSize, records + pos + kRecordHeaderSize, 0))
      return 30;
    pos += record_length;
  }
  return 0;
}

int32_t CTOVASection::CopyFrom(const CTOVASection& source, int per_dataset_only, int skip_existing) {
  section_id_ = source.section_id_;
  for (const auto& e : source.entries_) {
    if (!e) continue;
    if (skip_existing && FindEntry(e->Id())) continue;
    if (per_dataset_only && !e->per_dataset) continue;
    if (!AddEntry(e->Id(), e->DataSize(), e->Data(), 1)) return 30;
  }
  return 0;
}

int CTOVASection::IsModified() const {
  for (const auto& e : entries_)
    if (e && e->modified) return 1;
  return 0;
}

void CTOVASection::SetModified(int value) {
  for (const auto& e : entries_)
    if (e) e->modified = value;
}

void CTOVASection::ClearPresent() {
  for (const auto& e : entries_)
    if (e) e->present = 0;
}

}  // namespace tova
