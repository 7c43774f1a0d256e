// Dataset serialisation and the section scan.
#include "format/layout.h"

#include <memory>
#include <new>

#include "format/byte_order.h"
#include "model/tova_file.h"

namespace tova::format {

bool CurrentSections(CTOVAFile& doc, DatasetSections& s) {
  CTOVASection* image = nullptr;
  if (doc.cur_dataset >= doc.data_headers.size() || doc.GetSection(kSectImage, image) != 0) return false;
  s.global_header = &doc.global_header;
  s.data_header = doc.data_headers[doc.cur_dataset].get();
  s.image = image;
  return true;
}

uint64_t DatasetByteCount(const DatasetSections& s, bool per_dataset_form) {
  uint64_t total = 0;
  if (!per_dataset_form) total += s.global_header->GetSectionSize(0);
  total += s.data_header->GetSectionSize(per_dataset_form);
  total += s.image->GetSectionSize(per_dataset_form);
  return total;
}

uint32_t WriteDataset(const DatasetSections& s, bool per_dataset_form, uint8_t* destination, uint32_t capacity) {
  uint32_t pos = 0;
  if (!per_dataset_form) {
    const uint32_t n = s.global_header->WriteSection(destination, capacity, 0);
    if (n == 0) return 0;
    pos += n;
  }
  for (const CTOVASection* section : {s.data_header, s.image}) {
    const uint32_t n = section->WriteSection(destination + pos, capacity - pos, per_dataset_form);
    if (n == 0) return 0;
    pos += n;
  }
  return pos;
}

int32_t ScanSections(SectionSource& source, SectionSink& sink) {
  uint32_t number = 0;
  while (!source.AtEnd()) {
    uint8_t header[kRecordHeaderSize];
    if (int32_t rc = source.ReadExact(header, kRecordHeaderSize)) return rc;
    const uint32_t length = GetU32(header);
    const uint16_t id = GetU16(header + 4);
    ++number;
    if (length < kRecordHeaderSize) return 23;
    const uint32_t data_size = length - kRecordHeaderSize;
    uint16_t part = 0;
    uint32_t offset = 0;
    source.Where(part, offset);
    SectionTarget target;
    if (int32_t rc = sink.Begin(number, id, data_size, part, offset, target)) return rc;
    if (data_size != 0) {
      // The length is untrusted: nothing is allocated that the data cannot hold.
      if (data_size > source.BytesRemaining()) return 11;
      if (target.section) {
        std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[data_size]);
        if (!block) return 3;
        if (int32_t rc = source.ReadExact(block.get(), data_size)) return rc;
        if (int32_t rc = sink.Parse(*target.section, block.get(), data_size, id)) return rc;
      } else {
        if (int32_t rc = source.Skip(data_size)) return rc;
      }
    }
    if (int32_t rc = sink.End(id)) return rc == 1 ? 0 : rc;
  }
  return 0;
}

}  // namespace tova::format
