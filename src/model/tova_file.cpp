// CTOVAFile: opening, closing, lookups with the data-header routing, entry
// operations, datasets and the modified state.
#include "model/tova_file.h"

#include <algorithm>

#include "platform/file_services.h"
#include "platform/byte_order.h"

namespace tova {

CTOVAFile::CTOVAFile(const IdentifierRules& rules)
    : global_header(TOVA_SECT_GlobalHeader, rules), data_headers(rules), rules_(rules) {}

CTOVAFile::~CTOVAFile() { Close(); }

std::unique_ptr<CTOVASection> CTOVAFile::NewSection(uint16_t section_id) const {
  return std::make_unique<CTOVASection>(section_id, rules_);
}

void CTOVAFile::CreateFirstDatasetSections() {
  data_headers.push_back(NewSection(TOVA_SECT_DataHeader));
  images.push_back(NewSection(TOVA_SECT_Image));
}

void CTOVAFile::ClearDatasets() {
  global_header.RemoveAllEntries();
  data_headers.clear();
  images.clear();
  image_index.clear();
  cur_dataset = 0;
}

void CTOVAFile::Close() {
  ClearDatasets();
  image_source.reset();
  path.clear();
  type = DocumentType::kClosed;
}

Code CTOVAFile::OpenMem(bool single, uint16_t data_unit, uint16_t calibration_version) {
  Close();
  CreateFirstDatasetSections();
  uint8_t bytes[2];
  platform::PutU16(bytes, data_unit);
  RETURN_IF(!data_headers[0]->AddEntry(TOVA_DH_DREC_DataUnit, sizeof bytes, bytes, StoreMode::kOverwrite),
            Code::kNoMemory);
  platform::PutU16(bytes, calibration_version);
  // No half-made document: both entries or a failure.
  RETURN_IF(!data_headers[0]->AddEntry(TOVA_DH_TCAL_Version, sizeof bytes, bytes, StoreMode::kOverwrite),
            Code::kNoMemory);
  type = DocumentType::kMemory;
  single_dataset = single;
  return Code::kOk;
}

Code CTOVAFile::OpenRead(const std::u16string& file_path) {
  Close();
  RETURN_IF(!platform::FileExists(file_path) || platform::FileSize32(file_path) == 0, Code::kNoFile);
  CreateFirstDatasetSections();
  path = file_path;
  type = DocumentType::kRead;
  return Code::kOk;
}

Code CTOVAFile::OpenReadBuffer() {
  Close();
  CreateFirstDatasetSections();
  type = DocumentType::kMemory;
  return Code::kOk;
}

Code CTOVAFile::OpenWriteBuffer() {
  Close();
  CreateFirstDatasetSections();
  type = DocumentType::kWriteBuffer;
  return Code::kOk;
}

Code CTOVAFile::GetSection(uint16_t section_id, CTOVASection*& section) {
  section = nullptr;
  switch (section_id) {
    case TOVA_SECT_GlobalHeader:
      section = &global_header;
      return Code::kOk;
    case TOVA_SECT_DataHeader:
      RETURN_IF(cur_dataset >= data_headers.size(), Code::kNoSection);
      section = data_headers[cur_dataset];
      return Code::kOk;
    case TOVA_SECT_Image: {
      // A memory document holds every image; a file document only the current one.
      const uint32_t index = type == DocumentType::kMemory ? cur_dataset : 0;
      RETURN_IF(index >= images.size(), Code::kNoSection);
      section = images[index].get();
      return Code::kOk;
    }
    default:
      return Code::kSectionId;
  }
}

// Data-header identifiers that hold for every dataset live in dataset 0's
// data header; per-dataset ones, and the other sections, in the current one.
Code CTOVAFile::RouteSection(uint16_t section_id, uint16_t entry_id, CTOVASection*& section) {
  if (section_id == TOVA_SECT_DataHeader && !rules_.IsPerDataset(entry_id)) {
    RETURN_IF(data_headers.empty(), Code::kNoSection);
    section = data_headers[0];
    return Code::kOk;
  }
  return GetSection(section_id, section);
}

Code CTOVAFile::LocateEntry(uint16_t section_id, uint16_t entry_id, CTOVAEntry*& entry) {
  entry = nullptr;
  CTOVASection* section = nullptr;
  TRY(RouteSection(section_id, entry_id, section));
  entry = section->FindEntry(entry_id);
  return entry ? Code::kOk : Code::kNoEntry;
}

Code CTOVAFile::SetEntry(uint16_t section_id, uint16_t entry_id, uint32_t size, const void* bytes) {
  CTOVASection* section = nullptr;
  TRY(RouteSection(section_id, entry_id, section));
  return section->AddEntry(entry_id, size, bytes, StoreMode::kOverwrite) ? Code::kOk : Code::kStore;
}

Code CTOVAFile::RemoveEntry(uint16_t section_id, uint16_t entry_id) {
  CTOVASection* section = nullptr;
  TRY(RouteSection(section_id, entry_id, section));
  return section->RemoveEntry(entry_id) ? Code::kOk : Code::kNoEntry;
}

Code CTOVAFile::CopyEntryData(uint16_t section_id, uint16_t entry_id, uint32_t capacity, void* buffer,
                              uint32_t& copied) {
  copied = 0;
  CTOVASection* section = nullptr;
  TRY(RouteSection(section_id, entry_id, section));
  CTOVAEntry* entry = section->FindEntry(entry_id);
  // A per-dataset entry that a later dataset lacks is answered by dataset 0.
  if (!entry && section_id == TOVA_SECT_DataHeader && !data_headers.empty())
    entry = data_headers[0]->FindEntry(entry_id);
  RETURN_IF(!entry, Code::kNoEntry);
  RETURN_IF(capacity < entry->DataSize(), Code::kBufferTooSmall);
  copied = entry->CopyData(buffer, capacity);
  return Code::kOk;
}

Code CTOVAFile::GetEntryDataSize(uint16_t section_id, uint16_t entry_id, uint32_t& size) {
  CTOVAEntry* entry = nullptr;
  TRY(LocateEntry(section_id, entry_id, entry));
  size = entry->DataSize();
  return Code::kOk;
}

Code CTOVAFile::GetEntry(uint16_t section_id, uint16_t entry_id, void*& data, uint32_t& size, bool modify) {
  CTOVAEntry* entry = nullptr;
  TRY(LocateEntry(section_id, entry_id, entry));
  RETURN_IF(!entry->HasData(), Code::kRecord);
  data = entry->MutableData();
  size = entry->DataSize();
  if (modify) entry->modified = true;
  return Code::kOk;
}

Code CTOVAFile::GetNumEntries(uint16_t section_id, uint32_t& count) {
  if (section_id == TOVA_SECT_DataHeader) {  // counted where it lies, compact or not
    RETURN_IF(cur_dataset >= data_headers.size(), Code::kNoSection);
    count = cur_dataset == 0 ? data_headers.Count(0) : data_headers.CountPresent(cur_dataset);
    return Code::kOk;
  }
  CTOVASection* section = nullptr;
  TRY(GetSection(section_id, section));
  count = cur_dataset == 0 ? section->Count() : section->CountPresent();
  return Code::kOk;
}

Code CTOVAFile::SelectEntry(uint16_t section_id, uint32_t index, CTOVAEntry*& entry) {
  entry = nullptr;
  CTOVASection* section = nullptr;
  TRY(GetSection(section_id, section));
  entry = cur_dataset == 0 ? section->GetEntryAt(index) : section->GetPresentEntryAt(index);
  return entry ? Code::kOk : Code::kEntryIndex;
}

uint32_t CTOVAFile::GetNumDatasets() const {
  if (global_header.Count() == 0) return 0;
  const size_t second = type == DocumentType::kMemory ? images.size() : image_index.size();
  return static_cast<uint32_t>(std::min(data_headers.size(), second));
}

uint32_t CTOVAFile::StoredDatasetCount() const {
  return global_header.Count() == 0 ? 0 : static_cast<uint32_t>(data_headers.size());
}

Code CTOVAFile::SetCurDataset(uint32_t index, ImageLoad load) {
  RETURN_IF(index >= GetNumDatasets(), Code::kDataset);
  for (uint16_t id : {TOVA_SECT_GlobalHeader, TOVA_SECT_Image}) {
    CTOVASection* section = nullptr;
    if (!Failed(GetSection(id, section))) section->ClearPresent();
  }
  if (cur_dataset < data_headers.size()) data_headers.ClearPresent(cur_dataset);
  if (load == ImageLoad::kLoad && ImagesInFiles()) {
    RETURN_IF(index >= image_index.size() || !image_source, Code::kDataset);
    RETURN_IF(images.empty(), Code::kNoSection);
    TRY(image_source->LoadImage(image_index[index], *images[0]));
  }
  const uint32_t left = cur_dataset;
  cur_dataset = index;
  // The header of the dataset left goes back to the compact form unless it
  // was changed.
  if (left != index) data_headers.Relax(left);
  return Code::kOk;
}

// The first data header holds the entries that stand for every dataset; the
// new first dataset inherits those it lacks. The merge runs before anything
// is removed; when memory runs out the entries it added (all at the tail) are
// taken back, so a failed removal changes nothing.
Code CTOVAFile::MergeIntoNextBeforeRemovingFirst() {
  CTOVASection& next = *data_headers[1];
  const uint32_t had = next.Count();
  if (Failed(next.CopyFrom(*data_headers[0], EntryScope::kAll, CTOVASection::Existing::kSkip))) {
    next.TruncateEntries(had);
    return Code::kNoMemory;
  }
  return Code::kOk;
}

Code CTOVAFile::RemoveDataset(uint32_t index) {
  const uint32_t count = GetNumDatasets();
  RETURN_IF(count < 2, Code::kTooFewDatasets);
  RETURN_IF(index >= count, Code::kDataset);
  RETURN_IF(type == DocumentType::kWrite, Code::kDocumentType);
  RETURN_IF(index >= data_headers.size(), Code::kDataset);
  RETURN_IF(type == DocumentType::kMemory && (index >= images.size() || !images[index]), Code::kDataset);
  const uint32_t current = cur_dataset;

  if (index == 0) TRY(MergeIntoNextBeforeRemovingFirst());
  data_headers.erase(index);
  if (type == DocumentType::kMemory) {
    images.erase(images.begin() + index);
  } else {
    image_index.erase(image_index.begin() + index);
  }
  global_header.SetModified(true);

  // Keep naming the same dataset: at or after the removed one it moved down
  // by one. With the first dataset removed while current, the image section
  // of a file document still holds the removed image: the new first one's is
  // loaded. The image of the moved dataset is loaded as well.
  if (index != 0 ? current >= index : current > 0) {
    (void)SetCurDataset(current - 1, ImageLoad::kLoad);
  } else if (index == 0 && ImagesInFiles()) {
    (void)SetCurDataset(0, ImageLoad::kLoad);
  }
  return Code::kOk;
}

bool CTOVAFile::IsModified() const {
  if (global_header.IsModified()) return true;
  auto modified = [](const auto& s) { return s && s->IsModified(); };
  return data_headers.IsModified() || std::any_of(images.begin(), images.end(), modified);
}

void CTOVAFile::SetModified(bool value) {
  global_header.SetModified(value);
  data_headers.SetModified(value);
  for (const auto& s : images) s->SetModified(value);
}

}  // namespace tova
