// The file reader, the background scan and the cleanup of embedded documents.
#include "format/file_reader.h"

#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "format/layout.h"
#include "format/part_files.h"
#include "format/part_reader.h"
#include "platform/file_services.h"

namespace tova::format {

namespace {

// A window derivation (TOVA_DH_WINDOW_DERIVATION) is a list of 40-byte
// records, each naming at offset 6 the embedded document it derives from.
constexpr uint32_t kWindowDerivationRecord = 40;
constexpr uint32_t kDerivedDocumentOffset = 6;
constexpr uint16_t kEmbeddedDocuments[] = {TOVA_DH_EMBEDDED_TOVA_REF,  TOVA_DH_EMBEDDED_TOVA_DIFF,
                                           TOVA_DH_EMBEDDED_TOVA_FILT, TOVA_DH_EMBEDDED_TOVA_HIST,
                                           TOVA_DH_EMBEDDED_TOVA_2DLINE, TOVA_DH_EMBEDDED_TOVA_PULSEFFT};

// Which sections of the first dataset a scan has met.
struct SeenSections {
  bool global_header = false;
  bool data_header = false;
  bool image = false;
  bool All() const { return global_header && data_header && image; }
  void Note(uint16_t id) {
    if (id == TOVA_SECT_GlobalHeader) global_header = true;
    if (id == TOVA_SECT_DataHeader) data_header = true;
    if (id == TOVA_SECT_Image) image = true;
  }
};

// The file reader's side of the scan: the global header and data headers are
// parsed; of an image only its place is noted. Past the first dataset, a scan
// that keeps only the first parses into a scratch section and counts.
class ReaderSink final : public SectionSink {
 public:
  ReaderSink(CTOVAFile& doc, ReadScope scope, Progress& progress)
      : doc_(doc), scope_(scope), progress_(progress), scratch_(doc.NewSection(TOVA_SECT_DataHeader)),
        scratch_global_(doc.NewSection(TOVA_SECT_GlobalHeader)) {}

  Code Begin(const SectionMeeting& m, bool& take) override {
    if (!progress_.Step(m.number)) {
      cancelled = true;
      return Code::kCancelled;
    }
    RETURN_IF(!record::IsSectionId(m.section_id), Code::kSectionId);
    keep_ = scope_ != ReadScope::kAllKeepFirst || !seen_.All();
    seen_.Note(m.section_id);
    take = m.section_id != TOVA_SECT_Image;
    if (m.section_id == TOVA_SECT_DataHeader) {
      ++data_headers;
      // A header without data holds no entries: it is made here, as Parse
      // is not called for it.
      if (keep_ && m.data_size == 0) TRY(Parse(m.section_id, nullptr, 0));
    }
    if (m.section_id == TOVA_SECT_Image) {
      ++images;
      if (keep_) doc_.image_index.push_back(TTOVASectInfo{m.data_size, m.part, m.offset});
    }
    return Code::kOk;
  }

  Code Parse(uint16_t section_id, const uint8_t* data, uint32_t size) override {
    if (section_id == TOVA_SECT_GlobalHeader)
      return (keep_ ? doc_.global_header : *Scratch(*scratch_global_)).ReadSection(data, size);
    if (!keep_) return Scratch(*scratch_)->ReadSection(data, size);
    if (!first_data_header_taken_ && !doc_.data_headers.empty()) {
      first_data_header_taken_ = true;
      return doc_.data_headers[0]->ReadSection(data, size);
    }
    // A later dataset's header, held compact when it can be.
    if (DataHeaders::CanHoldCompact(data, size)) {
      doc_.data_headers.AppendCompact(data, size);
      return Code::kOk;
    }
    doc_.data_headers.push_back(doc_.NewSection(TOVA_SECT_DataHeader));
    return doc_.data_headers.back()->ReadSection(data, size);
  }

  ScanControl End(uint16_t) override {
    return scope_ == ReadScope::kFirstDataset && seen_.All() ? ScanControl::kStop : ScanControl::kGoOn;
  }

  bool cancelled = false;
  uint32_t data_headers = 0;
  uint32_t images = 0;

 private:
  static CTOVASection* Scratch(CTOVASection& section) {
    section.RemoveAllEntries();
    return &section;
  }

  CTOVAFile& doc_;
  ReadScope scope_;
  Progress& progress_;
  bool first_data_header_taken_ = false;
  bool keep_ = false;  // the section met last goes into the document
  SeenSections seen_;
  std::unique_ptr<CTOVASection> scratch_;         // later data headers, checked and dropped
  std::unique_ptr<CTOVASection> scratch_global_;  // later global headers, checked and dropped
};

// The background scan's side: the first dataset was stored by the earlier
// read and is passed over; everything after it is added, each change under
// the document lock so that other threads see the datasets grow one by one.
class AfterFirstSink final : public SectionSink {
 public:
  AfterFirstSink(CTOVAFile& doc, const volatile uint8_t* cancel) : doc_(doc), cancel_(cancel) {}

  Code Begin(const SectionMeeting& m, bool& take) override {
    RETURN_IF(cancel_ && *cancel_, Code::kCancelled);
    RETURN_IF(!record::IsSectionId(m.section_id), Code::kSectionId);
    take = false;
    if (!first_.All()) {
      first_.Note(m.section_id);
      return Code::kOk;  // already in the document: passed over
    }
    if (m.section_id == TOVA_SECT_Image) {
      // Noted now, added once its data are known to lie in the files.
      pending_image_ = TTOVASectInfo{m.data_size, m.part, m.offset};
      has_pending_image_ = true;
    } else {
      take = true;
      if (m.section_id == TOVA_SECT_DataHeader) {
        pending_.reset();
        pending_records_.clear();
        has_pending_header_ = true;  // an empty one is added too
      }
    }
    return Code::kOk;
  }

  Code Parse(uint16_t section_id, const uint8_t* data, uint32_t size) override {
    if (section_id == TOVA_SECT_GlobalHeader) {
      platform::DocumentLockGuard guard(doc_.lock);
      return doc_.global_header.ReadSection(data, size);
    }
    // A new data header nobody sees yet: its records are kept for the compact
    // form, or parsed into a section when they cannot be.
    if (DataHeaders::CanHoldCompact(data, size)) {
      pending_records_.assign(data, data + size);
      return Code::kOk;
    }
    pending_ = doc_.NewSection(TOVA_SECT_DataHeader);
    return pending_->ReadSection(data, size);
  }

  ScanControl End(uint16_t id) override {
    if (id == TOVA_SECT_DataHeader && has_pending_header_) {
      platform::DocumentLockGuard guard(doc_.lock);
      if (pending_) {
        doc_.data_headers.push_back(std::move(pending_));
      } else {
        doc_.data_headers.AppendCompact(pending_records_.data(), static_cast<uint32_t>(pending_records_.size()));
      }
      has_pending_header_ = false;
    }
    if (id == TOVA_SECT_Image && has_pending_image_) {
      platform::DocumentLockGuard guard(doc_.lock);
      doc_.image_index.push_back(pending_image_);
      has_pending_image_ = false;
    }
    return ScanControl::kGoOn;
  }

 private:
  CTOVAFile& doc_;
  const volatile uint8_t* cancel_;
  SeenSections first_;
  std::unique_ptr<CTOVASection> pending_;  // data header parsed into a section, added at the section's end
  std::vector<uint8_t> pending_records_;   // or its records, added compact
  bool has_pending_header_ = false;
  TTOVASectInfo pending_image_;            // image location, added at the section's end
  bool has_pending_image_ = false;
};

// Runs the scan over the document's part files from the first byte.
Code ScanFile(const std::u16string& path, SectionSink& sink, ScanEnd* end) {
  PartReader reader(path);
  TRY(reader.Open(0, 0));
  TRY(ScanSections(reader, sink));
  if (end) reader.Where(end->part, end->offset);
  return Code::kOk;
}

// Every failure of the file reader is a failed read at its interface.
Code AsReadFailure(Code code) { return code == Code::kOk ? Code::kOk : Code::kRead; }

}  // namespace

Code ReadFile(CTOVAFile& doc, ReadScope scope, Progress& progress, ScanEnd* end) {
  ReaderSink sink(doc, scope, progress);
  Code rc;
  try {
    ProgressScope report(progress, u"Analysing", doc.path);
    rc = ScanFile(doc.path, sink, end);
  } catch (const std::bad_alloc&) {
    rc = Code::kNoMemory;  // a section, or the place of an image, could not be stored
  }
  CleanupEmbeddedDocuments(doc);
  if (sink.cancelled) {
    doc.ClearDatasets();
    return Code::kCancelled;
  }
  if (end) {
    end->data_headers = sink.data_headers;
    end->images = sink.images;
  }
  return AsReadFailure(rc);
}

Code ReadFromFile(CTOVAFile& doc, ReadScope scope, Progress& progress) {
  doc.ClearDatasets();
  Code rc;
  try {
    doc.CreateFirstDatasetSections();
    if (doc.ImagesInFiles() && !FilesOf(doc)) AttachFiles(doc, doc.path);
    if (!platform::FileHasExtension(doc.path, u"tova")) {
      rc = Code::kExtension;
    } else {
      rc = ReadFile(doc, scope, progress);
      if (rc == Code::kOk) rc = doc.SetCurDataset(0, ImageLoad::kLoad);
    }
  } catch (const std::bad_alloc&) {
    rc = Code::kNoMemory;  // no half-read document is left behind
  }
  if (Failed(rc)) doc.ClearDatasets();
  doc.SetModified(false);
  return rc;
}

Code ReadAfterFirst(CTOVAFile& doc, const volatile uint8_t* cancel) {
  AfterFirstSink sink(doc, cancel);
  Code rc;
  try {
    rc = ScanFile(doc.path, sink, nullptr);
  } catch (const std::bad_alloc&) {
    rc = Code::kNoMemory;  // what was added before stays; each addition is whole
  }
  {
    platform::DocumentLockGuard guard(doc.lock);
    CleanupEmbeddedDocuments(doc);
  }
  return rc == Code::kCancelled ? rc : AsReadFailure(rc);
}

void CleanupEmbeddedDocuments(CTOVAFile& doc) {
  if (doc.data_headers.empty()) return;
  const CTOVAEntry* derivation = doc.data_headers[0]->FindEntry(TOVA_DH_WINDOW_DERIVATION);
  if (!derivation) return;
  bool named[std::size(kEmbeddedDocuments)] = {};
  const uint32_t records = derivation->HasData() ? derivation->DataSize() / kWindowDerivationRecord : 0;
  for (uint32_t r = 0; r < records; ++r) {
    const uint16_t id = platform::GetU16(derivation->Data() + r * kWindowDerivationRecord + kDerivedDocumentOffset);
    for (size_t k = 0; k < std::size(kEmbeddedDocuments); ++k)
      if (kEmbeddedDocuments[k] == id) named[k] = true;
  }
  // Only a header that holds one is materialised to lose it.
  for (size_t i = 0; i < doc.data_headers.size(); ++i)
    for (size_t k = 0; k < std::size(kEmbeddedDocuments); ++k)
      if (!named[k] && doc.data_headers.Holds(i, kEmbeddedDocuments[k]))
        doc.data_headers[i]->RemoveEntry(kEmbeddedDocuments[k]);
}

}  // namespace tova::format
