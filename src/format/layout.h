// The byte layout of TOVA documents in one place: datasets serialised in full
// or per-dataset form, and the section scan that every reader (files, the
// background scan, buffers) runs over its byte source.
#pragma once

#include <cstdint>
#include <vector>

#include "model/result.h"
#include "model/tova_file.h"
#include "platform/file_system.h"

namespace tova::format {

// The two forms of a dataset: the first of a file (and every buffer) in full,
// every later one with its per-dataset entries only and no global header.
enum class DatasetForm { kFull, kPerDataset };

inline EntryScope ScopeOf(DatasetForm form) {
  return form == DatasetForm::kFull ? EntryScope::kAll : EntryScope::kPerDatasetOnly;
}

// The three sections that make up one dataset. The global header is left out
// in per-dataset form.
struct DatasetSections {
  const CTOVASection* global_header = nullptr;
  const CTOVASection* data_header = nullptr;
  const CTOVASection* image = nullptr;
};

// The sections of the document's current dataset; false when it has no data
// header or image section.
bool CurrentSections(CTOVAFile& doc, DatasetSections& sections);

// Byte count of the dataset in the form (64-bit: a sum that cannot be held in
// 32 bits is no dataset the format can store).
uint64_t DatasetByteCount(const DatasetSections& sections, DatasetForm form);
// Writes the dataset as one block; the bytes written (0 when it does not fit).
uint32_t WriteDataset(const DatasetSections& sections, DatasetForm form, uint8_t* destination, uint32_t capacity);
// A dataset as the pieces of a gathered write: the record headers and small
// entries copied into scratch, the data of larger entries (the pixels) where
// their entries hold them. The bytes are those WriteDataset writes.
struct DatasetPieces {
  std::vector<uint8_t> scratch;
  std::vector<platform::File::Piece> pieces;
};
// Gathers the dataset; throws std::bad_alloc when memory runs out.
void GatherDataset(const DatasetSections& sections, DatasetForm form, DatasetPieces& out);
// Where the data of the dataset's image section begin within its block.
uint64_t ImageDataPosition(const DatasetSections& sections, DatasetForm form);

// Where the section scan reads from: a chain of part files or a caller buffer.
class SectionSource {
 public:
  virtual ~SectionSource() = default;
  // True when the scan ends here (fewer than two bytes left where it reads).
  virtual bool AtEnd() = 0;
  // Reads exactly n bytes: kOk, kRead (I/O error), kOpen (a part cannot be
  // opened) or kShort (the data end early).
  virtual Code ReadExact(uint8_t* destination, uint32_t n) = 0;
  // Passes over n bytes without reading them; codes as ReadExact.
  virtual Code Skip(uint32_t n) = 0;
  // The next n bytes, read into scratch (reused from call to call) or, by a
  // source that holds them in memory, where they lie; codes as ReadExact.
  virtual Code Take(uint32_t n, std::vector<uint8_t>& scratch, const uint8_t*& data);
  // Every byte that can still come (this part and the parts that follow).
  virtual uint64_t BytesRemaining() = 0;
  // Part number and position of the next byte, without moving to a next part.
  virtual void Where(uint16_t& part, uint32_t& offset) = 0;
};

// One section as the scan meets it, once its header is read.
struct SectionMeeting {
  uint32_t number = 0;     // counts sections from 1
  uint16_t section_id = 0;
  uint32_t data_size = 0;  // section length - record header
  uint16_t part = 0;       // where the data begin
  uint32_t offset = 0;
};

// What the sink wants after a section: the scan goes on, or it has all it
// needs and stops without an error.
enum class ScanControl { kGoOn, kStop };

// The reader's side of the scan.
class SectionSink {
 public:
  virtual ~SectionSink() = default;
  // Decides whether the section's data are read (take) and handed to Parse or
  // passed over. kOk to go on, kCancelled to stop as cancelled, or the code
  // that ends the scan.
  virtual Code Begin(const SectionMeeting& section, bool& take) = 0;
  // The data of a section Begin took; they are valid during the call only.
  virtual Code Parse(uint16_t section_id, const uint8_t* data, uint32_t size) = 0;
  // Called after the section's data were parsed or passed over.
  virtual ScanControl End(uint16_t section_id) = 0;
};

// Runs the section scan: kOk at the end of the data (or when the sink
// stopped it), kCancelled when the sink cancelled, or the first code met.
Code ScanSections(SectionSource& source, SectionSink& sink);

}  // namespace tova::format
