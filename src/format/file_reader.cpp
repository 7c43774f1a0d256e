// The file reader, the background scan and the cleanup of embedded documents.
#include "format/file_reader.h"

#include <memory>
#include <new>

#include "format/byte_order.h"
#include "format/part_reader.h"
#include "model/tova_file.h"
#include "platform/file_services.h"

namespace tova::format {

namespace {

constexpr uint16_t kWindowDerivation = 0x0600;
constexpr uint32_t kWindowDerivationRecord = 40;
constexpr uint16_t kEmbeddedDocuments[] = {0x0601, 0x0602, 0x0606, 0x0607, 0x0608, 0x0609};

// Which sections of the first dataset a scan has met.
struct SeenSections {
  bool global_header = false;
  bool data_header = false;
  bool image = false;
  bool All() const { return global_header && data_header && image; }
};

// The file reader's side of the scan: the global header and data headers are
// parsed; of an image only its place is noted.
class ReaderSink final : public SectionSink {
 public:
  ReaderSink(CTOVAFile& doc, bool read_all, bool show_progress)
      : doc_(doc), read_all_(read_all), show_progress_(show_progress) {}

  int32_t Begin(uint32_t number, uint16_t id, uint32_t data_size, uint16_t part, uint32_t offset,
                SectionTarget& target) override {
    if (show_progress_ && !doc_.ProgressStep(number)) {
      cancelled = true;
      return 8;
    }
    switch (id) {
      case kSectGlobalHeader:
        target.section = &doc_.global_header;
        seen_.global_header = true;
        return 0;
      case kSectDataHeader:
        if (!first_data_header_taken_ && !doc_.data_headers.empty()) {
          target.section = doc_.data_headers[0].get();
          first_data_header_taken_ = true;
        } else {
          doc_.data_headers.push_back(std::make_unique<CTOVASection>(kSectDataHeader));
          target.section = doc_.data_headers.back().get();
        }
        seen_.data_header = true;
        return 0;
      case kSectImage:
        doc_.image_index.push_back(TTOVASectInfo{data_size, part, offset});
        seen_.image = true;
        return 0;
      default:
        return 21;
    }
  }

  int32_t End(uint16_t) override { return !read_all_ && seen_.All() ? 1 : 0; }

  bool cancelled = false;

 private:
  CTOVAFile& doc_;
  bool read_all_;
  bool show_progress_;
  bool first_data_header_taken_ = false;
  SeenSections seen_;
};

// The background scan's side: the first dataset was stored by the earlier
// read and is passed over; everything after it is added, each change under
// the document lock so that other threads see the datasets grow one by one.
class AfterFirstSink final : public SectionSink {
 public:
  AfterFirstSink(CTOVAFile& doc, const volatile uint8_t* cancel) : doc_(doc), cancel_(cancel) {}

  int32_t Begin(uint32_t, uint16_t id, uint32_t data_size, uint16_t part, uint32_t offset,
                SectionTarget& target) override {
    if (cancel_ && *cancel_) return 8;
    if (id != kSectGlobalHeader && id != kSectDataHeader && id != kSectImage) return 21;
    if (!first_.All()) {
      if (id == kSectGlobalHeader) first_.global_header = true;
      if (id == kSectDataHeader) first_.data_header = true;
      if (id == kSectImage) first_.image = true;
      return 0;  // already in the document: passed over
    }
    switch (id) {
      case kSectGlobalHeader:
        target.section = &doc_.global_header;
        return 0;
      case kSectDataHeader:
        pending_ = std::make_unique<CTOVASection>(kSectDataHeader);
        target.section = pending_.get();
        return 0;
      default:
        // Noted now, added once its data are known to lie in the files.
        pending_image_ = TTOVASectInfo{data_size, part, offset};
        has_pending_image_ = true;
        return 0;
    }
  }

  int32_t Parse(CTOVASection& target, const uint8_t* data, uint32_t size, uint16_t id) override {
    if (&target == &doc_.global_header) {
      platform::DocumentLockGuard guard(doc_.lock);
      return target.ReadSection(data, size, id);
    }
    return target.ReadSection(data, size, id);  // a new data header nobody sees yet
  }

  int32_t End(uint16_t id) override {
    if (id == kSectDataHeader && pending_) {
      platform::DocumentLockGuard guard(doc_.lock);
      doc_.data_headers.push_back(std::move(pending_));
    }
    if (id == kSectImage && has_pending_image_) {
      platform::DocumentLockGuard guard(doc_.lock);
      doc_.image_index.push_back(pending_image_);
      has_pending_image_ = false;
    }
    return 0;
  }

 private:
  CTOVAFile& doc_;
  const volatile uint8_t* cancel_;
  SeenSections first_;
  std::unique_ptr<CTOVASection> pending_;  // parsed data header, added at the section's end
  TTOVASectInfo pending_image_;            // image location, added at the section's end
  bool has_pending_image_ = false;
};

}  // namespace

int32_t ReadFile(CTOVAFile& doc, uint32_t read_all, uint32_t show_progress) {
  ReaderSink sink(doc, read_all != 0, show_progress != 0);
  int32_t rc;
  try {
    if (show_progress) doc.CreateProgressDialog(u"Analysing");
    PartReader reader(doc.path);
    rc = reader.Open(0, 0);
    if (rc == 0) rc = ScanSections(reader, sink);
  } catch (const std::bad_alloc&) {
    rc = 3;  // a section, or the place of an image, could not be stored
  }
  doc.CloseProgressDialog();
  CleanupEmbeddedDocuments(doc);
  if (sink.cancelled) {
    doc.ClearDatasets();
    return 8;
  }
  return rc == 0 ? 0 : 9;
}

int32_t ReadFromFile(CTOVAFile& doc, uint32_t read_all, uint32_t show_progress) {
  doc.ClearDatasets();
  int32_t rc;
  try {
    doc.CreateFirstDatasetSections();
    if (!platform::FileHasExtension(doc.path, u"tova")) {
      rc = 43;
    } else {
      rc = ReadFile(doc, read_all, show_progress);
      if (rc == 0) rc = doc.SetCurDataset(0, 1);
    }
  } catch (const std::bad_alloc&) {
    rc = 3;  // no half-read document is left behind
  }
  if (rc != 0) doc.ClearDatasets();
  doc.SetModified(0);
  return rc;
}

int32_t ReadAfterFirst(CTOVAFile& doc, const volatile uint8_t* cancel) {
  AfterFirstSink sink(doc, cancel);
  int32_t rc;
  try {
    PartReader reader(doc.path);
    rc = reader.Open(0, 0);
    if (rc == 0) rc = ScanSections(reader, sink);
  } catch (const std::bad_alloc&) {
    rc = 3;  // what was added before stays; each addition is whole
  }
  {
    platform::DocumentLockGuard guard(doc.lock);
    CleanupEmbeddedDocuments(doc);
  }
  if (rc == 8) return 8;
  return rc == 0 ? 0 : 9;
}

void CleanupEmbeddedDocuments(CTOVAFile& doc) {
  if (doc.data_headers.empty()) return;
  const CTOVAEntry* derivation = doc.data_headers[0]->FindEntry(kWindowDerivation);
  if (!derivation) return;
  bool named[std::size(kEmbeddedDocuments)] = {};
  const uint32_t records = derivation->HasData() ? derivation->DataSize() / kWindowDerivationRecord : 0;
  for (uint32_t r = 0; r < records; ++r) {
    const uint16_t id = GetU16(derivation->Data() + r * kWindowDerivationRecord + 6);
    for (size_t k = 0; k < std::size(kEmbeddedDocuments); ++k)
      if (kEmbeddedDocuments[k] == id) named[k] = true;
  }
  for (const auto& header : doc.data_headers)
    for (size_t k = 0; k < std::size(kEmbeddedDocuments); ++k)
      if (!named[k]) header->RemoveEntry(kEmbeddedDocuments[k]);
}

}  // namespace tova::format
