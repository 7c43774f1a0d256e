// Appending datasets: the first one in full form (it makes the target's
// headers), every later one in per-dataset form; into the target's files
// through its part writer, into a memory document's sections, or into a
// caller buffer.
#include "format/appender.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>

#include "format/compatibility.h"
#include "format/layout.h"
#include "format/part_files.h"
#include "format/part_limit.h"

namespace tova::format {

namespace {

// Where the image data of a dataset written from (start_part, start_size)
// begin, given their position in the dataset's block.
TTOVASectInfo LocateImage(uint16_t start_part, uint32_t start_size, uint64_t image_data_pos, uint32_t data_size) {
  const uint64_t limit = PartSizeLimit();
  uint64_t offset = start_size + image_data_pos;
  uint32_t part = start_part;
  const uint64_t first_capacity = std::max<uint64_t>(start_size, limit);
  if (offset > first_capacity) {
    offset -= first_capacity;
    ++part;
    while (offset > limit) {
      offset -= limit;
      ++part;
    }
  }
  return TTOVASectInfo{data_size, static_cast<uint16_t>(part), static_cast<uint32_t>(offset)};
}

// The first dataset's global header: every entry of the source's, stored
// as read (not modified).
Code CopyGlobalHeader(CTOVAFile& target, const CTOVASection& source_header) {
  const Code rc = target.global_header.CopyFrom(source_header, EntryScope::kAll, CTOVASection::Existing::kReplace);
  target.global_header.SetModified(false);
  return rc;
}

// The first dataset of a source that is several datasets deep at a later
// one: dataset 0's header holds what stands for every dataset, the current
// one's own entries go over it, and so does its image. The target then
// serves as the source of the rest of this dataset.
Code CopyLayeredFirstDataset(CTOVAFile& target, CTOVAFile& source, uint32_t remembered) {
  CTOVASection& target_header = *target.data_headers[0];
  TRY(source.SetCurDataset(0, ImageLoad::kLoad));
  Code rc = target_header.CopyFrom(*source.data_headers[0], EntryScope::kAll, CTOVASection::Existing::kReplace);
  const Code back = source.SetCurDataset(remembered, ImageLoad::kLoad);
  if (Failed(back)) rc = back;
  TRY(rc);
  CTOVASection* image = nullptr;
  TRY(source.GetSection(TOVA_SECT_Image, image));
  TRY(target_header.CopyFrom(*source.data_headers[source.cur_dataset], EntryScope::kAll,
                             CTOVASection::Existing::kReplace));
  return target.images[0]->CopyFrom(*image, EntryScope::kAll, CTOVASection::Existing::kReplace);
}

// Copies into the target's first dataset what makes it the first dataset:
// the global header and the data header of the source's current dataset.
// src receives the document that serves as the source of the rest of it.
Code CopyFirstDataset(CTOVAFile& target, CTOVAFile& source, AddScope scope, uint32_t remembered, CTOVAFile*& src) {
  src = &source;
  TRY(CopyGlobalHeader(target, source.global_header));
  if (source.GetNumDatasets() > 1 && source.cur_dataset != 0 && scope == AddScope::kCurrent) {
    TRY(CopyLayeredFirstDataset(target, source, remembered));
    src = &target;
    return Code::kOk;
  }
  if (source.cur_dataset < source.data_headers.size())
    TRY(target.data_headers[0]->CopyFrom(*source.data_headers[source.cur_dataset], EntryScope::kAll,
                                         CTOVASection::Existing::kReplace));
  return Code::kOk;
}

// Appends the current dataset of src to the target's files and, for a
// read-write target, notes where its image lies.
Code WriteToFiles(CTOVAFile& target, CTOVAFile& src, DatasetForm form, DatasetSections& sections) {
  PartWriter* writer = WriterOf(target);
  RETURN_IF(!writer || !writer->IsOpen(), Code::kOpen);
  RETURN_IF(!CurrentSections(src, sections), Code::kWriteIncomplete);
  const uint64_t size = DatasetByteCount(sections, form);
  RETURN_IF(size == 0 || size > UINT32_MAX, Code::kWriteIncomplete);
  // The pixels go out from where their entry holds them.
  DatasetPieces pieces;
  try {
    GatherDataset(sections, form, pieces);
  } catch (const std::bad_alloc&) {
    return Code::kNoMemory;
  }
  const uint16_t start_part = writer->part();
  const uint32_t start_size = writer->part_size();
  TRY(writer->Append(pieces.pieces));
  if (target.type == DocumentType::kReadWrite) {
    const uint64_t image_length = sections.image->GetSectionSize(ScopeOf(form));
    const uint32_t data_size = static_cast<uint32_t>(image_length - record::kHeaderSize);
    target.image_index.push_back(LocateImage(start_part, start_size, ImageDataPosition(sections, form), data_size));
  }
  return Code::kOk;
}

// A memory or read-write target keeps the dataset's headers in memory (and
// a memory target its image too).
Code KeepInTarget(CTOVAFile& target, const DatasetSections& sections, DatasetForm form) {
  using Existing = CTOVASection::Existing;
  Code rc = Code::kOk;
  CTOVASection* header = target.data_headers[0];
  if (form == DatasetForm::kPerDataset) {
    // A later dataset's header is kept compact; one that cannot be (an entry
    // without data) as a section.
    // A memory target keeps its datasets unmodified.
    header = nullptr;
    const bool modified = target.type != DocumentType::kMemory;
    if (!target.data_headers.AppendCompactCopy(*sections.data_header, EntryScope::kPerDatasetOnly, modified)) {
      target.data_headers.push_back(target.NewSection(TOVA_SECT_DataHeader));
      header = target.data_headers.back();
      if (Failed(header->CopyFrom(*sections.data_header, EntryScope::kPerDatasetOnly, Existing::kReplace)))
        rc = Code::kStore;
    }
  }
  if (target.type == DocumentType::kMemory) {
    CTOVASection* image = target.images[0].get();
    if (form == DatasetForm::kPerDataset) {
      target.images.push_back(target.NewSection(TOVA_SECT_Image));
      image = target.images.back().get();
    }
    if (image != sections.image && Failed(image->CopyFrom(*sections.image, ScopeOf(form), Existing::kReplace)))
      rc = Code::kStore;
    if (header) header->SetModified(false);
  } else if (form == DatasetForm::kFull) {
    CTOVASection& image = *target.images[0];
    if (&image != sections.image && Failed(image.CopyFrom(*sections.image, EntryScope::kAll, Existing::kReplace)))
      rc = Code::kStore;
    image.SetModified(false);
  }
  return rc;
}

bool WritesFiles(const CTOVAFile& doc) {
  return doc.type == DocumentType::kWrite || doc.type == DocumentType::kReadWrite;
}

// Whether target can take datasets of source at all.
Code CheckTarget(CTOVAFile& target, CTOVAFile& source) {
  const DocumentType type = target.type;
  RETURN_IF(type == DocumentType::kRead || type == DocumentType::kWriteBuffer || type == DocumentType::kClosed,
            Code::kDocumentType);
  const uint32_t stored = target.StoredDatasetCount();
  RETURN_IF(type == DocumentType::kMemory && target.single_dataset && stored >= 1, Code::kDocumentType);
  RETURN_IF(target.data_headers.empty() || target.images.empty(), Code::kNoSection);
  if (stored >= 1) TRY(CheckCompatibility(target, source));
  return Code::kOk;
}

// A first dataset that did not go in leaves the target empty, so that the
// next append writes the full form again instead of a file without headers.
void ForgetFirstDataset(CTOVAFile& target) {
  target.global_header.RemoveAllEntries();
  target.data_headers[0]->RemoveAllEntries();
  target.images[0]->RemoveAllEntries();
}

}  // namespace

Code AddTova(CTOVAFile& target, CTOVAFile& source, AddScope scope, Progress& progress) {
  TRY(CheckTarget(target, source));
  const uint32_t stored = target.StoredDatasetCount();
  const uint32_t source_datasets = source.GetNumDatasets();
  const uint32_t count = scope == AddScope::kAll ? source_datasets : 1;
  std::optional<ProgressScope> report;
  if (count > 1) report.emplace(progress, u"Adding", target.path);
  const uint32_t remembered = source.cur_dataset;
  bool first_pending = stored == 0;  // the target's first dataset is not in yet
  Code rc = Code::kOk;

  for (uint32_t i = 0; i < count; ++i) {
    if (scope == AddScope::kAll && source_datasets > 1 && Failed(rc = source.SetCurDataset(i, ImageLoad::kLoad)))
      break;
    if (count > 1 && !progress.Step(i + 1)) {
      rc = Code::kCancelled;
      break;
    }
    const DatasetForm form = i + stored > 0 ? DatasetForm::kPerDataset : DatasetForm::kFull;
    CTOVAFile* src = &source;
    if (form == DatasetForm::kFull && Failed(rc = CopyFirstDataset(target, source, scope, remembered, src))) break;
    DatasetSections sections;
    if (WritesFiles(target)) {
      if (Failed(rc = WriteToFiles(target, *src, form, sections))) break;
    } else if (!CurrentSections(*src, sections)) {
      rc = Code::kNoSection;
      break;
    }
    if (target.type == DocumentType::kMemory || target.type == DocumentType::kReadWrite)
      rc = KeepInTarget(target, sections, form);
    first_pending = false;
    if (Failed(rc)) break;
  }
  if (first_pending && Failed(rc)) ForgetFirstDataset(target);

  // The source's current dataset is given back; a failure to do so counts
  // only when nothing else failed.
  if (scope == AddScope::kAll && count >= 2) {
    const Code back = source.SetCurDataset(remembered, ImageLoad::kLoad);
    if (!Failed(rc)) rc = back;
  }
  return rc;
}

Code AddTovaBufferedWrite(CTOVAFile& target, CTOVAFile& source, uint8_t* buffer, uint32_t capacity,
                          uint32_t& written) {
  RETURN_IF(target.type != DocumentType::kWriteBuffer, Code::kDocumentType);
  const uint32_t stored = target.StoredDatasetCount();
  if (stored >= 1) TRY(CheckCompatibility(target, source));
  RETURN_IF(source.GetNumDatasets() > 1, Code::kMismatchRange);
  const DatasetForm form = stored > 0 ? DatasetForm::kPerDataset : DatasetForm::kFull;
  DatasetSections sections;
  const uint64_t count = CurrentSections(source, sections) ? DatasetByteCount(sections, form) : 0;
  written = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX));
  RETURN_IF(count == 0 || count > capacity, Code::kWriteIncomplete);
  if (form == DatasetForm::kFull) {
    // The target keeps the headers as the reference of the following checks.
    TRY(CopyGlobalHeader(target, source.global_header));
    RETURN_IF(Failed(target.data_headers[0]->CopyFrom(*sections.data_header, EntryScope::kAll,
                                                       CTOVASection::Existing::kReplace)),
              Code::kStore);
  }
  RETURN_IF(WriteDataset(sections, form, buffer, capacity) != count, Code::kWriteIncomplete);
  return Code::kOk;
}

}  // namespace tova::format
