// CTOVAFile: one open TOVA document. It holds the global header, the data
// headers and images of its datasets, the index of the images stored in its
// files, the current dataset through which lookups go, its type and its
// document lock. A document whose images lie in files is given an image
// source by the format layer, which also owns everything about its open
// files; the document itself knows only its path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/data_headers.h"
#include "model/identifier_rules.h"
#include "model/image_source.h"
#include "model/result.h"
#include "model/tova_section.h"
#include "platform/document_lock.h"

namespace tova {

enum class DocumentType : uint32_t {
  kClosed = TOVA_TYPE_CLOSED,
  kMemory = TOVA_TYPE_MEMORY,
  kRead = TOVA_TYPE_READ,
  kWrite = TOVA_TYPE_WRITE,
  kReadWrite = TOVA_TYPE_READWRITE,
  kWriteBuffer = TOVA_TYPE_WRITE_BUFFER,
};

// Whether making a dataset current loads its image from the files.
enum class ImageLoad { kSkip, kLoad };

class CTOVAFile {
 public:
  explicit CTOVAFile(const IdentifierRules& rules);
  ~CTOVAFile();
  CTOVAFile(const CTOVAFile&) = delete;
  CTOVAFile& operator=(const CTOVAFile&) = delete;

  const IdentifierRules& Rules() const { return rules_; }

  // ---- opening and closing
  Code OpenMem(bool single_dataset, uint16_t data_unit, uint16_t calibration_version);
  Code OpenRead(const std::u16string& path);
  Code OpenReadBuffer();
  Code OpenWriteBuffer();
  // Drops every dataset and the image source (which lets go of the files).
  void Close();
  void ClearDatasets();
  // Creates dataset 0's empty data header and image section.
  void CreateFirstDatasetSections();
  // A new, empty section of this document.
  std::unique_ptr<CTOVASection> NewSection(uint16_t section_id) const;

  // ---- lookups
  Code GetSection(uint16_t section_id, CTOVASection*& section);
  Code LocateEntry(uint16_t section_id, uint16_t entry_id, CTOVAEntry*& entry);
  // The entry at index of a section of the current dataset, counting only
  // present entries in a later dataset.
  Code SelectEntry(uint16_t section_id, uint32_t index, CTOVAEntry*& entry);

  // ---- entries
  Code SetEntry(uint16_t section_id, uint16_t entry_id, uint32_t size, const void* bytes);
  Code RemoveEntry(uint16_t section_id, uint16_t entry_id);
  Code CopyEntryData(uint16_t section_id, uint16_t entry_id, uint32_t capacity, void* buffer, uint32_t& copied);
  Code GetEntryDataSize(uint16_t section_id, uint16_t entry_id, uint32_t& size);
  Code GetEntry(uint16_t section_id, uint16_t entry_id, void*& data, uint32_t& size, bool modify);
  Code GetNumEntries(uint16_t section_id, uint32_t& count);

  // ---- datasets and state
  uint32_t GetNumDatasets() const;
  uint32_t GetCurDataset() const { return cur_dataset; }
  Code SetCurDataset(uint32_t index, ImageLoad load);
  Code RemoveDataset(uint32_t index);
  bool IsModified() const;
  void SetModified(bool value);
  // Count of stored datasets as the append operations see it.
  uint32_t StoredDatasetCount() const;
  // Whether the images of this document lie in files (read and read-write).
  bool ImagesInFiles() const { return type == DocumentType::kRead || type == DocumentType::kReadWrite; }

  // ---- state
  platform::DocumentLock lock;
  CTOVASection global_header;
  DataHeaders data_headers;  // one per dataset held
  std::vector<std::unique_ptr<CTOVASection>> images;  // memory: one per dataset; files: the current image
  std::vector<TTOVASectInfo> image_index;             // file documents: where each image lies
  uint32_t cur_dataset = 0;
  DocumentType type = DocumentType::kClosed;
  std::u16string path;
  bool single_dataset = false;
  std::unique_ptr<ImageSource> image_source;  // given by the format layer to file documents

 private:
  Code RouteSection(uint16_t section_id, uint16_t entry_id, CTOVASection*& section);
  Code MergeIntoNextBeforeRemovingFirst();

  const IdentifierRules& rules_;
};

}  // namespace tova
