// Dataset serialisation and the section scan.
#include "format/layout.h"

#include <memory>
#include <new>

namespace tova::format {

bool CurrentSections(CTOVAFile& doc, DatasetSections& s) {
  CTOVASection* image = nullptr;
  if (doc.cur_dataset >= doc.data_headers.size() || Failed(doc.GetSection(TOVA_SECT_Image, image))) return false;
  s.global_header = &doc.global_header;
  s.data_header = doc.data_headers[doc.cur_dataset];
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

void GatherDataset(const DatasetSections& s, DatasetForm form, DatasetPieces& out) {
  // Entries up to this size are copied next to their headers: a piece of its
  // own would cost more than the copy.
  constexpr uint32_t kCopyUpTo = 256;
  struct Segment {
    const uint8_t* held;  // null: scratch from offset
    size_t offset;
    uint32_t size;
  };
  std::vector<Segment> segments;
  out.scratch.clear();
  size_t open_from = 0;  // scratch bytes not yet in a segment begin here
  auto close_scratch = [&] {
    if (out.scratch.size() > open_from)
      segments.push_back({nullptr, open_from, static_cast<uint32_t>(out.scratch.size() - open_from)});
    open_from = out.scratch.size();
  };
  auto put_header = [&](uint32_t length, uint16_t id) {
    const size_t at = out.scratch.size();
    out.scratch.resize(at + record::kHeaderSize);
    record::PutHeader(out.scratch.data() + at, length, id);
  };
  auto gather = [&](const CTOVASection& section, EntryScope scope) {
    put_header(static_cast<uint32_t>(section.GetSectionSize(scope)), section.SectionId());
    for (const auto& e : section.Entries()) {
      if (scope == EntryScope::kPerDatasetOnly && !e->per_dataset) continue;
      // As CTOVAEntry::WriteEntry: an entry without data is its header alone.
      put_header(e->HasData() ? e->RecordLength() : record::kHeaderSize, e->Id());
      if (!e->HasData()) continue;
      if (e->DataSize() <= kCopyUpTo) {
        out.scratch.insert(out.scratch.end(), e->Data(), e->Data() + e->DataSize());
      } else {
        close_scratch();
        segments.push_back({e->Data(), 0, e->DataSize()});
      }
    }
  };
  if (form == DatasetForm::kFull) gather(*s.global_header, EntryScope::kAll);
  gather(*s.data_header, ScopeOf(form));
  gather(*s.image, ScopeOf(form));
  close_scratch();
  // The scratch bytes are final now: the pieces may point into them.
  out.pieces.clear();
  for (const Segment& g : segments)
    out.pieces.push_back({g.held ? g.held : out.scratch.data() + g.offset, g.size});
}

namespace {

// Reads (or passes over) the data of one section for the sink.
Code TakeSectionData(SectionSource& source, SectionSink& sink, const SectionMeeting& m, bool take,
                     std::vector<uint8_t>& scratch) {
  if (m.data_size == 0) return Code::kOk;
  // The length is untrusted: nothing is allocated that the data cannot hold.
  RETURN_IF(m.data_size > source.BytesRemaining(), Code::kShort);
  if (!take) return source.Skip(m.data_size);
  const uint8_t* data = nullptr;
  TRY(source.Take(m.data_size, scratch, data));
  return sink.Parse(m.section_id, data, m.data_size);
}

}  // namespace

Code SectionSource::Take(uint32_t n, std::vector<uint8_t>& scratch, const uint8_t*& data) {
  try {
    if (scratch.size() < n) scratch.resize(n);
  } catch (const std::bad_alloc&) {
    return Code::kNoMemory;
  }
  data = scratch.data();
  return ReadExact(scratch.data(), n);
}

Code ScanSections(SectionSource& source, SectionSink& sink) {
  std::vector<uint8_t> scratch;  // the data of the sections read, one after the other
  uint32_t number = 0;
  while (!source.AtEnd()) {
    uint8_t bytes[record::kHeaderSize];
    TRY(source.ReadExact(bytes, record::kHeaderSize));
    const record::Header header = record::GetHeader(bytes);
    RETURN_IF(header.length < record::kHeaderSize, Code::kSectionShort);
    SectionMeeting meeting{++number, header.id, header.DataSize()};
    source.Where(meeting.part, meeting.offset);
    bool take = false;
    TRY(sink.Begin(meeting, take));
    TRY(TakeSectionData(source, sink, meeting, take, scratch));
    if (sink.End(header.id) == ScanControl::kStop) return Code::kOk;
  }
  return Code::kOk;
}

}  // namespace tova::format
