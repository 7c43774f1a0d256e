// The file reader, the background scan and the cleanup of embedded documents.
#include "format/file_reader.h"

#include <iterator>
#include <memory>
#include <new>

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

  Code Begin(const SectionMeeting& m, CTOVASection*& target) override {
    if (!progress_.Step(m.number)) {
      cancelled = true;
      return Code::kCancelled;
    }
    RETURN_IF(!record::IsSectionId(m.section_id), Code::kSectionId);
    const bool keep = scope_ != ReadScope::kAllKeepFirst || !seen_.All();
    seen_.Note(m.section_id);
    switch (m.section_id) {
      case TOVA_SECT_GlobalHeader:
        target = keep ? &doc_.global_header : Scratch(*scratch_global_);
        return Code::kOk;
      case TOVA_SECT_DataHeader:
        ++data_headers;
        target = keep ? KeptDataHeader() : Scratch(*scratch_);
        return Code::kOk;
      default:
        ++images;
        if (keep) doc_.image_index.push_back(TTOVASectInfo{m.data_size, m.part, m.offset});
        return Code::kOk;
    }
  }

  ScanControl End(uint16_t) override {
    return scope_ == ReadScope::kFirstDataset && seen_.All() ? ScanControl::kStop : ScanControl::kGoOn;
  }

  bool cancelled = false;
  uint32_t data_headers = 0;
  uint32_t images = 0;

 private:
  CTOVASection* KeptDataHeader() {
    if (!first_data_header_taken_ && !doc_.data_headers.empty()) {
      first_data_header_taken_ = true;
      return doc_.data_headers[0].get();
    }
    doc_.data_headers.push_back(doc_.NewSection(TOVA_SECT_DataHeader));
    return doc_.data_headers.back().get();
  }
  static CTOVASection* Scratch(CTOVASection& section) {
    section.RemoveAllEntries();
    return &section;
  }

  CTOVAFile& doc_;
  ReadScope scope_;
  Progress& progress_;
  bool first_data_header_taken_ = false;
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

  Code Begin(const SectionMeeting& m, CTOVASection*& target) override {
    RETURN_IF(cancel_ && *cancel_, Code::kCancelled);
    RETURN_IF(!record::IsSectionId(m.section_id), Code::kSectionId);
    if (!first_.All()) {
      first_.Note(m.section_id);
      return Code::kOk;  // already in the document: passed over
    }
    switch (m.section_id) {
      case TOVA_SECT_GlobalHeader:
        target = &doc_.global_header;
        return Code::kOk;
      case TOVA_SECT_DataHeader:
        pending_ = doc_.NewSection(TOVA_SECT_DataHeader);
        target = pending_.get();
        return Code::kOk;
      default:
        // Noted now, added once its data are known to lie in the files.
        pending_image_ = TTOVASectInfo{m.data_size, m.part, m.offset};
        has_pending_image_ = true;
        return Code::kOk;
    }
  }

  Code Parse(CTOVASection& target, const uint8_t* data, uint32_t size) override {
    if (&target == &doc_.global_header) {
      platform::DocumentLockGuard guard(doc_.lock);
      return target.ReadSection(data, size);
    }
    return target.ReadSection(data, size);  // a new data header nobody sees yet
  }

  ScanControl End(uint16_t id) override {
    if (id == TOVA_SECT_DataHeader && pending_) {
      platform::DocumentLockGuard guard(doc_.lock);
      doc_.data_headers.push_back(std::move(pending_));
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
  std::unique_ptr<CTOVASection> pending_;  // parsed data header, added at the section's end
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
  for (const auto& header : doc.data_headers)
    for (size_t k = 0; k < std::size(kEmbeddedDocuments); ++k)
      if (!named[k]) header->RemoveEntry(kEmbeddedDocuments[k]);
}

}  // namespace tova::format
