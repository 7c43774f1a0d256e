// The byte layout of TOVA documents in one place: datasets serialised in full
// or per-dataset form, and the section scan that every reader (files, the
// background scan, buffers) runs over its byte source.
#pragma once

#include <cstdint>
#include <functional>

#include "model/tova_section.h"

namespace tova {
class CTOVAFile;
}

namespace tova::format {

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

// Byte count of the dataset in full or per-dataset form (64-bit: a sum that
// cannot be held in 32 bits is no dataset the format can store).
uint64_t DatasetByteCount(const DatasetSections& sections, bool per_dataset_form);
// Writes the dataset as one block; the bytes written (0 when it does not fit).
uint32_t WriteDataset(const DatasetSections& sections, bool per_dataset_form, uint8_t* destination,
                      uint32_t capacity);

// Where the section scan reads from: a chain of part files or a caller buffer.
class SectionSource {
 public:
  virtual ~SectionSource() = default;
  // True when the scan ends here (fewer than two bytes left where it reads).
  virtual bool AtEnd() = 0;
  // Reads exactly n bytes: 0, or 9 (I/O error), 10 (a part cannot be opened),
  // 11 (the data end early).
  virtual int32_t ReadExact(uint8_t* destination, uint32_t n) = 0;
  // Passes over n bytes without reading them; codes as ReadExact.
  virtual int32_t Skip(uint32_t n) = 0;
  // Every byte that can still come (this part and the parts that follow).
  virtual uint64_t BytesRemaining() = 0;
  // Part number and position of the next byte, without moving to a next part.
  virtual void Where(uint16_t& part, uint32_t& offset) = 0;
};

// What the scan does with one section, decided by the reader that runs it.
struct SectionTarget {
  CTOVASection* section = nullptr;  // parse the data into this section; null: pass over them
};

// The reader's side of the scan.
class SectionSink {
 public:
  virtual ~SectionSink() = default;
  // Called once the 6-byte header is read; number counts sections from 1.
  // Returns 0 to go on (filling target), 8 to stop as cancelled, or a code.
  virtual int32_t Begin(uint32_t number, uint16_t section_id, uint32_t data_size, uint16_t part,
                        uint32_t offset, SectionTarget& target) = 0;
  // Called after the section's data were parsed or passed over; a nonzero
  // result stops the scan (1 stops it without an error).
  virtual int32_t End(uint16_t section_id) = 0;
  // Parses a section's bytes into its target (the background scan takes the
  // document lock around it).
  virtual int32_t Parse(CTOVASection& target, const uint8_t* data, uint32_t size, uint16_t section_id) {
    return target.ReadSection(data, size, section_id);
  }
};

// Runs the section scan: 0 at the end of the data, 8 when the sink cancelled,
// or the first code met (3, 9, 10, 11, 21, 23, 30, 32).
int32_t ScanSections(SectionSource& source, SectionSink& sink);

}  // namespace tova::format
