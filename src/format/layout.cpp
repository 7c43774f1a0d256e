// Dataset serialisation and the section scan.
#include "format/layout.h"

#include <memory>
#include <new>

namespace tova::format {

bool CurrentSections(CTOVAFile& doc, DatasetSections& s) {
  CTOVASection* image = nullptr;
  if (doc.cur_dataset >= doc.data_headers.size() || Failed(doc.GetSection(TOVA_SECT_Image, image))) return false;
  s.global_header = &doc.global_header;
  s.data_header = doc.data_headers[doc.cur_dataset].get();
  s.image = image;
  return true;
}

uint64_t DatasetByteCount(const DatasetSections& s, DatasetForm form) {
  uint64_t total = 0;
  if (form == DatasetForm::kFull) total += s.global_header->GetSectionSize(EntryScope::kAll);
  total += s.data_header->GetSectionSize(ScopeOf(form));
  total += s.image->GetSectionSize(ScopeOf(form));
  return total;
}

uint64_t ImageDataPosition(const DatasetSections& s, DatasetForm form) {
  return DatasetByteCount(s, form) - s.image->GetSectionSize(ScopeOf(form)) + record::kHeaderSize;
}

uint32_t WriteDataset(const DatasetSections& s, DatasetForm form, uint8_t* destination, uint32_t capacity) {
  uint32_t pos = 0;
  if (form == DatasetForm::kFull) {
    const uint32_t n = s.global_header->WriteSection(destination, capacity, EntryScope::kAll);
    if (n == 0) return 0;
    pos += n;
  }
  for (const CTOVASection* section : {s.data_header, s.image}) {
    const uint32_t n = section->WriteSection(destination + pos, capacity - pos, ScopeOf(form));
    if (n == 0) return 0;
    pos += n;
  }
  return pos;
}

namespace {

// Reads (or passes over) the data of one section into its target.
Code TakeSectionData(SectionSource& source, SectionSink& sink, CTOVASection* target, uint32_t data_size) {
  if (data_size == 0) return Code::kOk;
  // The length is untrusted: nothing is allocated that the data cannot hold.
  RETURN_IF(data_size > source.BytesRemaining(), Code::kShort);
  if (!target) return source.Skip(data_size);
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[data_size]);
  RETURN_IF(!block, Code::kNoMemory);
  TRY(source.ReadExact(block.get(), data_size));
  return sink.Parse(*target, block.get(), data_size);
}

}  // namespace

Code ScanSections(SectionSource& source, SectionSink& sink) {
  uint32_t number = 0;
  while (!source.AtEnd()) {
    uint8_t bytes[record::kHeaderSize];
    TRY(source.ReadExact(bytes, record::kHeaderSize));
    const record::Header header = record::GetHeader(bytes);
    RETURN_IF(header.length < record::kHeaderSize, Code::kSectionShort);
    SectionMeeting meeting{++number, header.id, header.DataSize()};
    source.Where(meeting.part, meeting.offset);
    CTOVASection* target = nullptr;
    TRY(sink.Begin(meeting, target));
    TRY(TakeSectionData(source, sink, target, meeting.data_size));
    if (sink.End(header.id) == ScanControl::kStop) return Code::kOk;
  }
  return Code::kOk;
}

}  // namespace tova::format
