// DataHeaders: compact data headers, their materialising and relaxing.
#include "model/data_headers.h"

#include <algorithm>
#include <cstring>

namespace tova {

namespace {

constexpr uint32_t kFirstChunk = 1024;
constexpr uint32_t kLargestChunk = 64 * 1024;

// Calls visit(id, data, size) for each record of a block CanHoldCompact passed.
template <typename Visit>
void ForEachRecord(uint8_t* block, uint32_t length, Visit visit) {
  for (uint32_t pos = 0; pos < length;) {
    const record::Header h = record::GetHeader(block + pos);
    visit(h.id, block + pos + record::kHeaderSize, h.DataSize());
    pos += h.length;
  }
}

}  // namespace

void DataHeaders::clear() {
  slots_.clear();
  chunks_.clear();
  fill_ = nullptr;
  left_ = 0;
}

void DataHeaders::push_back(std::unique_ptr<CTOVASection> section) {
  Slot slot;
  slot.section = std::move(section);
  slots_.push_back(std::move(slot));
}

bool DataHeaders::CanHoldCompact(const uint8_t* records, uint32_t length) {
  constexpr uint32_t kMostEntries = 64;  // beyond, the check of doubles costs more than it saves
  uint16_t ids[kMostEntries];
  uint32_t count = 0;
  for (uint32_t pos = 0; pos < length;) {
    if (length - pos < record::kHeaderSize || count == kMostEntries) return false;
    const record::Header h = record::GetHeader(records + pos);
    if (h.length <= record::kHeaderSize || h.length > length - pos) return false;
    if (std::find(ids, ids + count, h.id) != ids + count) return false;
    ids[count++] = h.id;
    pos += h.length;
  }
  return true;
}

uint8_t* DataHeaders::Store(uint32_t length) {
  if (length == 0) return nullptr;
  if (length > left_) {
    // Chunks grow from small (documents of a few datasets) to a size whose
    // unused tail is nothing beside a recording; a block larger than that
    // gets a chunk of its own.
    const uint32_t grown = chunks_.size() >= 6 ? kLargestChunk : kFirstChunk << chunks_.size();
    chunks_.push_back(std::unique_ptr<uint8_t[]>(new uint8_t[std::max(length, grown)]));
    if (length >= grown) return chunks_.back().get();
    fill_ = chunks_.back().get();
    left_ = grown;
  }
  uint8_t* at = fill_;
  fill_ += length;
  left_ -= length;
  return at;
}

void DataHeaders::AppendCompact(const uint8_t* records, uint32_t length) {
  Slot slot;
  slot.block = Store(length);
  slot.length = length;
  if (length) std::memcpy(slot.block, records, length);
  slots_.push_back(std::move(slot));
}

bool DataHeaders::AppendCompactCopy(const CTOVASection& source, EntryScope scope, bool modified) {
  uint64_t length = 0;
  for (const auto& e : source.Entries()) {
    if (scope == EntryScope::kPerDatasetOnly && !e->per_dataset) continue;
    if (!e->HasData()) return false;
    length += e->RecordLength();
  }
  if (length > UINT32_MAX) return false;
  Slot slot;
  slot.block = Store(static_cast<uint32_t>(length));
  slot.length = static_cast<uint32_t>(length);
  slot.modified = modified;
  uint32_t pos = 0;
  for (const auto& e : source.Entries()) {
    if (scope == EntryScope::kPerDatasetOnly && !e->per_dataset) continue;
    pos += e->WriteEntry(slot.block + pos, slot.length - pos);
  }
  slots_.push_back(std::move(slot));
  return true;
}

void DataHeaders::erase(size_t index) {
  slots_.erase(slots_.begin() + static_cast<ptrdiff_t>(index));
  // The first header is always a section.
  if (index == 0 && !slots_.empty()) (void)(*this)[0];
}

CTOVASection* DataHeaders::operator[](size_t index) {
  Slot& slot = slots_[index];
  if (!slot.section) {
    auto section = std::make_unique<CTOVASection>(TOVA_SECT_DataHeader, *rules_);
    ForEachRecord(slot.block, slot.length, [&](uint16_t id, uint8_t* data, uint32_t size) {
      auto entry = std::make_unique<CTOVAEntry>();
      entry->UseStorage(id, data, size, rules_->IsPerDataset(id));
      entry->present = slot.present;
      entry->modified = slot.modified;
      section->AdoptEntry(std::move(entry));
    });
    slot.section = std::move(section);
  }
  return slot.section.get();
}

void DataHeaders::Relax(size_t index) {
  if (index == 0 || index >= slots_.size()) return;
  Slot& slot = slots_[index];
  if (!slot.section) return;
  const auto& entries = slot.section->Entries();
  if (entries.size() != CountRecords(slot)) return;
  const bool present = entries.empty() ? slot.present : entries[0]->present;
  const bool modified = entries.empty() ? slot.modified : entries[0]->modified;
  size_t i = 0;
  bool matches = true;
  ForEachRecord(slot.block, slot.length, [&](uint16_t id, uint8_t* data, uint32_t size) {
    const CTOVAEntry& e = *entries[i++];
    matches = matches && e.Id() == id && e.DataSize() == size && e.UsesStorage(data) &&
              e.per_dataset == rules_->IsPerDataset(id) && e.present == present && e.modified == modified;
  });
  if (!matches) return;
  slot.present = present;
  slot.modified = modified;
  slot.section.reset();
}

uint32_t DataHeaders::CountRecords(const Slot& slot) {
  uint32_t count = 0;
  ForEachRecord(slot.block, slot.length, [&](uint16_t, uint8_t*, uint32_t) { ++count; });
  return count;
}

uint32_t DataHeaders::Count(size_t index) const {
  const Slot& slot = slots_[index];
  return slot.section ? slot.section->Count() : CountRecords(slot);
}

uint32_t DataHeaders::CountPresent(size_t index) const {
  const Slot& slot = slots_[index];
  if (slot.section) return slot.section->CountPresent();
  return slot.present ? CountRecords(slot) : 0;
}

bool DataHeaders::Holds(size_t index, uint16_t id) const {
  const Slot& slot = slots_[index];
  if (slot.section) return slot.section->FindEntry(id) != nullptr;
  bool found = false;
  ForEachRecord(slot.block, slot.length, [&](uint16_t record_id, uint8_t*, uint32_t) { found |= record_id == id; });
  return found;
}

void DataHeaders::ClearPresent(size_t index) {
  Slot& slot = slots_[index];
  if (slot.section) slot.section->ClearPresent();
  slot.present = false;
}

bool DataHeaders::IsModified() const {
  return std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) {
    return slot.section ? slot.section->IsModified() : slot.modified && slot.length > 0;
  });
}

void DataHeaders::SetModified(bool value) {
  for (Slot& slot : slots_) {
    if (slot.section) slot.section->SetModified(value);
    slot.modified = value;
  }
}

}  // namespace tova
