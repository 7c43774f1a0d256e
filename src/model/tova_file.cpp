// CTOVAFile: opening, closing, lookups with the data-header routing, entry
// operations, datasets and the modified state.
#include "model/tova_file.h"

#include <algorithm>
#include <cstdio>

#include "format/image_loader.h"
#include "platform/file_services.h"
#include "platform/text.h"
#include "progress/dlg_tova_status.h"

namespace tova {

CTOVAFile::CTOVAFile() = default;

CTOVAFile::~CTOVAFile() {
  Close();
  CloseProgressDialog();
}

void CTOVAFile::CreateFirstDatasetSections() {
  data_headers.push_back(std::make_unique<CTOVASection>(kSectDataHeader));
  images.push_back(std::make_unique<CTOVASection>(kSectImage));
}

void CTOVAFile::ClearDatasets() {
  global_header.RemoveAllEntries();
  data_headers.clear();
  images.clear();
  image_index.clear();
  cur_dataset = 0;
  part_number = 0;
  part_size = 0;
}

void CTOVAFile::Close() {
  ClearDatasets();
  if (file_open && file) {
    if (file->Close()) {
      file_open = false;
    } else {
      file->Abort();
    }
    file.reset();
    file_open = false;  // the handle is released either way
  }
  path.clear();
  type = kTypeClosed;
}

int32_t CTOVAFile::OpenMem(uint32_t single, uint16_t data_unit, uint16_t calibration_version) {
  Close();
  CreateFirstDatasetSections();
  uint8_t bytes[2];
  bytes[0] = static_cast<uint8_t>(data_unit);
  bytes[1] = static_cast<uint8_t>(data_unit >> 8);
  if (!data_headers[0]->AddEntry(0x0200, 2, bytes, 1)) return 3;
  bytes[0] = static_cast<uint8_t>(calibration_version);
  bytes[1] = static_cast<uint8_t>(calibration_version >> 8);
  if (!data_headers[0]->AddEntry(0x0210, 2, bytes, 1)) return 3;  // no half-made document
  type = kTypeMemory;
  single_dataset = single;
  return 0;
}

int32_t CTOVAFile::OpenRead(const std::u16string& file_path) {
  Close();
  if (!platform::FileExists(file_path) || platform::FileSize32(file_path) == 0) return 2;
  CreateFirstDatasetSections();
  path = file_path;
  type = kTypeRead;
  return 0;
}

int32_t CTOVAFile::OpenReadBuffer() {
  Close();
  CreateFirstDatasetSections();
  type = kTypeMemory;
  return 0;
}

int32_t CTOVAFile::OpenWriteBuffer() {
  Close();
  CreateFirstDatasetSections();
  type = kTypeWriteBuffer;
  return 0;
}

int32_t CTOVAFile::GetSection(uint16_t section_id, CTOVASection*& section) {
  section = nullptr;
  switch (section_id) {
    case kSectGlobalHeader:
      section = &global_header;
      return 0;
    case kSectDataHeader:
      if (cur_dataset >= data_headers.size()) return 22;
      section = data_headers[cur_dataset].get();
      return 0;
    case kSectImage: {
      const uint32_t index = type == kTypeMemory ? cur_dataset : 0;
      if (index >= images.size()) return 22;
      section = images[index].get();
      return 0;
    }
    default:
      return 21;
  }
}

// Data-header identifiers that hold for every dataset live in dataset 0's
// data header; per-dataset ones, and the other sections, in the current one.
static int32_t RouteSection(CTOVAFile& doc, uint16_t section_id, uint16_t entry_id,
                            CTOVASection*& section) {
  if (section_id == kSectDataHeader && !IsPerDatasetId(entry_id)) {
    if (doc.data_headers.empty()) return 22;
    section = doc.data_headers[0].get();
    return 0;
  }
  return doc.GetSection(section_id, section);
}

int32_t CTOVAFile::LocateEntry(uint16_t section_id, uint16_t entry_id, CTOVAEntry*& entry) {
  entry = nullptr;
  CTOVASection* section = nullptr;
  if (int32_t rc = RouteSection(*this, section_id, entry_id, section)) return rc;
  entry = section->FindEntry(entry_id);
  return entry ? 0 : 33;
}

int32_t CTOVAFile::SetEntry(uint16_t section_id, uint16_t entry_id, uint32_t size, const void* bytes) {
  CTOVASection* section = nullptr;
  if (int32_t rc = RouteSection(*this, section_id, entry_id, section)) return rc;
  return section->AddEntry(entry_id, size, bytes, 1) ? 0 : 30;
}

int32_t CTOVAFile::RemoveEntry(uint16_t section_id, uint16_t entry_id) {
  CTOVASection* section = nullptr;
  if (int32_t rc = RouteSection(*this, section_id, entry_id, section)) return rc;
  return section->RemoveEntry(entry_id) ? 0 : 33;
}

int32_t CTOVAFile::CopyEntryData(uint16_t section_id, uint16_t entry_id, uint32_t capacity, void* buffer,
                                 uint32_t& copied) {
  copied = 0;
  CTOVASection* section = nullptr;
  if (int32_t rc = RouteSection(*this, section_id, entry_id, section)) return rc;
  CTOVAEntry* entry = section->FindEntry(entry_id);
  if (!entry && section_id == kSectDataHeader && IsPerDatasetId(entry_id) && !data_headers.empty())
    entry = data_headers[0]->FindEntry(entry_id);
  if (!entry) return 33;
  if (capacity < entry->DataSize()) return 13;
  copied = entry->CopyData(buffer, capacity);
  return 0;
}

int32_t CTOVAFile::ExistEntry(uint16_t section_id, uint16_t entry_id) {
  CTOVAEntry* entry = nullptr;
  int32_t rc = LocateEntry(section_id, entry_id, entry);
  return rc == 0 ? 0 : rc - 2000;
}

int32_t CTOVAFile::GetEntryDataSize(uint16_t section_id, uint16_t entry_id, uint32_t& size) {
  CTOVAEntry* entry = nullptr;
  if (int32_t rc = LocateEntry(section_id, entry_id, entry)) return rc;
  size = entry->DataSize();
  return 0;
}

int32_t CTOVAFile::GetEntry(uint16_t section_id, uint16_t entry_id, void*& data, uint32_t& size,
                            uint32_t modify) {
  CTOVAEntry* entry = nullptr;
  if (int32_t rc = LocateEntry(section_id, entry_id, entry)) return rc;
  if (!entry->HasData()) return 32;
  data = entry->MutableData();
  size = entry->DataSize();
  if (modify) entry->modified = 1;
  return 0;
}

int32_t CTOVAFile::GetNumEntries(uint16_t section_id, uint32_t& count) {
  CTOVASection* section = nullptr;
  if (int32_t rc = GetSection(section_id, section)) return rc;
  count = cur_dataset == 0 ? section->Count() : section->CountPresent();
  return 0;
}

int32_t CTOVAFile::SelectEntry(uint16_t section_id, uint32_t index, CTOVAEntry*& entry) {
  entry = nullptr;
  CTOVASection* section = nullptr;
  if (int32_t rc = GetSection(section_id, section)) return rc;
  if (cur_dataset == 0) {
    entry = section->GetEntryAt(index);
  } else {
    uint32_t seen = 0;
    for (const auto& e : section->Entries()) {
      if (!e || !e->present) continue;
      if (seen++ == index) {
        entry = e.get();
        break;
      }
    }
  }
  return entry ? 0 : 31;
}

int32_t CTOVAFile::CopySectionString(uint16_t section_id, std::u16string& text) {
  text.clear();
  CTOVASection* section = nullptr;
  if (int32_t rc = GetSection(section_id, section)) return rc;
  text = section->GetSectionString(cur_dataset > 0);
  return 0;
}

int32_t CTOVAFile::CopyEntryString(uint16_t section_id, uint32_t index, std::u16string& text) {
  text.clear();
  CTOVAEntry* entry = nullptr;
  if (int32_t rc = SelectEntry(section_id, index, entry)) return rc;
  text = platform::FormatU16("[%u] ", index + 1) + entry->GetEntryString();
  return 0;
}

int32_t CTOVAFile::CopyDataString(uint16_t section_id, uint32_t index, std::u16string& text) {
  text.clear();
  CTOVAEntry* entry = nullptr;
  if (int32_t rc = SelectEntry(section_id, index, entry)) return rc;
  entry->GetDataString(text);
  return 0;
}

uint32_t CTOVAFile::GetNumDatasets() const {
  if (global_header.Count() == 0) return 0;
  const size_t second = type == kTypeMemory ? images.size() : image_index.size();
  return static_cast<uint32_t>(std::min(data_headers.size(), second));
}

uint32_t CTOVAFile::StoredDatasetCount() const {
  return global_header.Count() == 0 ? 0 : static_cast<uint32_t>(data_headers.size());
}

int32_t CTOVAFile::SetCurDataset(uint32_t index, uint32_t load) {
  if (index >= GetNumDatasets()) return 50;
  for (uint16_t id : {kSectGlobalHeader, kSectDataHeader, kSectImage}) {
    CTOVASection* section = nullptr;
    if (GetSection(id, section) == 0) section->ClearPresent();
  }
  if (load && (type == kTypeRead || type == kTypeReadWrite)) {
    if (int32_t rc = format::LoadImage(*this, index)) return rc;
  }
  cur_dataset = index;
  return 0;
}

int32_t CTOVAFile::RemoveDataset(uint32_t index) {
  const uint32_t count = GetNumDatasets();
  if (count < 2) return 51;
  if (index >= count) return 50;
  if (type == kTypeWrite) return 7;
  if (index >= data_headers.size() || !data_headers[index]) return 50;
  if (type == kTypeMemory && (index >= images.size() || !images[index])) return 50;
  const uint32_t current = cur_dataset;

  if (index == 0) {
    // The first data header holds the entries that stand for every dataset;
    // the new first dataset inherits those it lacks. The merge runs before
    // anything is removed; when memory runs out the entries it added (all at
    // the tail) are taken back, so a failed removal changes nothing.
    CTOVASection& next = *data_headers[1];
    const uint32_t had = next.Count();
    if (next.CopyFrom(*data_headers[0], 0, 1) != 0) {
      while (next.Count() > had) next.RemoveEntry(next.GetEntryAt(next.Count() - 1)->Id());
      return 3;
    }
    data_headers.erase(data_headers.begin());
  } else {
    data_headers.erase(data_headers.begin() + index);
  }
  if (type == kTypeMemory) {
    images.erase(images.begin() + index);
  } else {
    image_index.erase(image_index.begin() + index);
  }
  global_header.SetModified(1);

  if (index != 0 && current >= index) {
    SetCurDataset(current - 1, 1);
  } else if (index == 0 && current > 0) {
    // Keep naming the same dataset: it moved down by one.
    SetCurDataset(current - 1, 1);
  } else if (index == 0 && current == 0 && (type == kTypeRead || type == kTypeReadWrite)) {
    // The image section still holds the removed dataset's image: load the new
    // first dataset's.
    SetCurDataset(0, 1);
  }
  return 0;
}

int CTOVAFile::IsModified() const {
  if (global_header.IsModified()) return 1;
  for (const auto& s : data_headers)
    if (s && s->IsModified()) return 1;
  for (const auto& s : images)
    if (s && s->IsModified()) return 1;
  return 0;
}

void CTOVAFile::SetModified(uint32_t value) {
  const int v = value ? 1 : 0;
  global_header.SetModified(v);
  for (const auto& s : data_headers)
    if (s) s->SetModified(v);
  for (const auto& s : images)
    if (s) s->SetModified(v);
}

std::u16string CTOVAFile::PartFileName(const std::u16string& main_path, uint32_t part) {
  if (part == 0) return main_path;
  return main_path + platform::FormatU16(" %.3u", part);
}

void CTOVAFile::CreateProgressDialog(const std::u16string& action_text) {
  progress_dialog = std::make_unique<progress::CDlgTOVAStatus>(action_text);
}

int CTOVAFile::ProgressStep(uint32_t number) {
  return progress_dialog ? progress_dialog->Step(path, number) : 1;
}

void CTOVAFile::CloseProgressDialog() { progress_dialog.reset(); }

}  // namespace tova
