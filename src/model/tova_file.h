// CTOVAFile: one open TOVA document. It holds the global header, the data
// headers and images of its datasets, the index of the images stored in its
// file, the current dataset through which lookups go, its type, its file and
// its document lock.
//
// The reading, writing and buffer operations live in format/; they work on the
// members below, which are public for them. Everything else goes through the
// operations.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/tova_section.h"
#include "platform/document_lock.h"
#include "platform/file_system.h"

namespace tova {

namespace progress {
class CDlgTOVAStatus;
}

enum DocumentType : uint32_t {
  kTypeClosed = 0,
  kTypeMemory = 1,
  kTypeRead = 2,
  kTypeWrite = 3,
  kTypeReadWrite = 4,
  kTypeWriteBuffer = 5,
};

class CTOVAFile {
 public:
  CTOVAFile();
  ~CTOVAFile();
  CTOVAFile(const CTOVAFile&) = delete;
  CTOVAFile& operator=(const CTOVAFile&) = delete;

  // ---- opening and closing
  int32_t OpenMem(uint32_t single_dataset, uint16_t data_unit, uint16_t calibration_version);
  int32_t OpenRead(const std::u16string& path);
  int32_t OpenReadBuffer();
  int32_t OpenWriteBuffer();
  void Close();
  void ClearDatasets();
  // Creates dataset 0's empty data header and image section.
  void CreateFirstDatasetSections();

  // ---- lookups
  int32_t GetSection(uint16_t section_id, CTOVASection*& section);
  int32_t LocateEntry(uint16_t section_id, uint16_t entry_id, CTOVAEntry*& entry);

  // ---- entries
  int32_t SetEntry(uint16_t section_id, uint16_t entry_id, uint32_t size, const void* bytes);
  int32_t RemoveEntry(uint16_t section_id, uint16_t entry_id);
  int32_t CopyEntryData(uint16_t section_id, uint16_t entry_id, uint32_t capacity, void* buffer,
                        uint32_t& copied);
  int32_t ExistEntry(uint16_t section_id, uint16_t entry_id);
  int32_t GetEntryDataSize(uint16_t section_id, uint16_t entry_id, uint32_t& size);
  int32_t GetEntry(uint16_t section_id, uint16_t entry_id, void*& data, uint32_t& size, uint32_t modify);
  int32_t GetNumEntries(uint16_t section_id, uint32_t& count);

  // ---- text (catalogue)
  int32_t CopySectionString(uint16_t section_id, std::u16string& text);
  int32_t CopyEntryString(uint16_t section_id, uint32_t index, std::u16string& text);
  int32_t CopyDataString(uint16_t section_id, uint32_t index, std::u16string& text);
  // The entry at index, counting only present entries in a later dataset.
  int32_t SelectEntry(uint16_t section_id, uint32_t index, CTOVAEntry*& entry);

  // ---- datasets and state
  uint32_t GetNumDatasets() const;
  uint32_t GetCurDataset() const { return cur_dataset; }
  int32_t SetCurDataset(uint32_t index, uint32_t load);
  int32_t RemoveDataset(uint32_t index);
  int IsModified() const;
  void SetModified(uint32_t value);
  // Count of stored datasets as the append operations see it.
  uint32_t StoredDatasetCount() const;

  static std::u16string PartFileName(const std::u16string& path, uint32_t part_number);

  // ---- progress dialog
  void CreateProgressDialog(const std::u16string& action_text);
  // 1 to go on, 0 when the user cancelled.
  int ProgressStep(uint32_t number);
  void CloseProgressDialog();
  bool HasProgressDialog() const { return progress_dialog != nullptr; }

  // ---- state (see the class comment)
  platform::DocumentLock lock;
  CTOVASection global_header{kSectGlobalHeader};
  std::vector<std::unique_ptr<CTOVASection>> data_headers;  // one per dataset held
  std::vector<std::unique_ptr<CTOVASection>> images;  // memory: one per dataset; files: the current image
  std::vector<TTOVASectInfo> image_index;             // file documents: where each image lies
  uint32_t cur_dataset = 0;
  uint32_t type = kTypeClosed;
  std::u16string path;
  uint32_t single_dataset = 0;
  std::unique_ptr<platform::File> file;  // the open part file of write and read-write documents
  bool file_open = false;
  uint16_t part_number = 0;  // part being written; 0 the main file
  uint32_t part_size = 0;    // bytes in the part being written
  std::unique_ptr<progress::CDlgTOVAStatus> progress_dialog;
};

}  // namespace tova
