// Writing the current dataset into a caller buffer and reading buffers back.
#include "format/buffers.h"

#include <algorithm>
#include <vector>

#include "format/layout.h"
#include "model/tova_file.h"

namespace tova::format {

namespace {

// Caller memory as the source of a section scan; nothing outside it is read.
class BufferSource final : public SectionSource {
 public:
  BufferSource(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  bool AtEnd() override { return size_ < 2 || pos_ >= size_ - 1; }
  Code ReadExact(uint8_t* destination, uint32_t n) override {
    RETURN_IF(n > size_ - pos_, Code::kShort);
    std::copy(data_ + pos_, data_ + pos_ + n, destination);
    pos_ += n;
    return Code::kOk;
  }
  // The bytes where they lie: nothing is copied before they are parsed.
  Code Take(uint32_t n, std::vector<uint8_t>&, const uint8_t*& data) override {
    RETURN_IF(n > size_ - pos_, Code::kShort);
    data = data_ + pos_;
    pos_ += n;
    return Code::kOk;
  }
  Code Skip(uint32_t n) override {
    RETURN_IF(n > size_ - pos_, Code::kShort);
    pos_ += n;
    return Code::kOk;
  }
  uint64_t BytesRemaining() override { return size_ - pos_; }
  void Where(uint16_t& part, uint32_t& offset) override {
    part = 0;
    offset = pos_;
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
  uint32_t pos_ = 0;
};

// Sections of a buffer go into the global header, dataset 0's data header
// and the first image section; the scan stops once it has met all three.
class BufferSink final : public SectionSink {
 public:
  BufferSink(CTOVAFile& doc, uint32_t buffer_size, uint32_t& image_offset, uint32_t& image_size)
      : doc_(doc), buffer_size_(buffer_size), image_offset_(image_offset), image_size_(image_size) {}

  Code Begin(const SectionMeeting& m, bool& take) override {
    take = true;
    switch (m.section_id) {
      case TOVA_SECT_GlobalHeader:
        target_ = &doc_.global_header;
        seen_global_header_ = true;
        return Code::kOk;
      case TOVA_SECT_DataHeader:
        RETURN_IF(doc_.data_headers.empty(), Code::kNoSection);
        target_ = doc_.data_headers[0];
        seen_data_header_ = true;
        return Code::kOk;
      case TOVA_SECT_Image:
        RETURN_IF(doc_.images.empty(), Code::kNoSection);
        target_ = doc_.images[0].get();
        // The place of the image data is reported only when they lie inside
        // the buffer: a caller addresses the pixels through it.
        if (m.data_size > record::kHeaderSize && static_cast<uint64_t>(m.offset) + m.data_size <= buffer_size_) {
          image_size_ = m.data_size - record::kHeaderSize;
          image_offset_ = m.offset + record::kHeaderSize;
        }
        seen_image_ = true;
        return Code::kOk;
      default:
        return Code::kSectionId;
    }
  }
  Code Parse(uint16_t, const uint8_t* data, uint32_t size) override { return target_->ReadSection(data, size); }
  ScanControl End(uint16_t) override {
    return seen_global_header_ && seen_data_header_ && seen_image_ ? ScanControl::kStop : ScanControl::kGoOn;
  }

 private:
  CTOVAFile& doc_;
  CTOVASection* target_ = nullptr;  // of the section met last
  uint32_t buffer_size_;
  uint32_t& image_offset_;
  uint32_t& image_size_;
  bool seen_global_header_ = false, seen_data_header_ = false, seen_image_ = false;
};

}  // namespace

uint32_t BufferSize(CTOVAFile& doc) {
  DatasetSections s;
  if (!CurrentSections(doc, s)) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(DatasetByteCount(s, DatasetForm::kFull), UINT32_MAX));
}

Code WriteToBuffer(CTOVAFile& doc, uint8_t* buffer, uint32_t capacity, uint32_t& written,
                      uint32_t& image_offset, uint32_t& image_size) {
  uint32_t needed;
  {
    platform::DocumentLockGuard guard(doc.lock);
    needed = BufferSize(doc);
  }
  RETURN_IF(capacity < needed, Code::kBufferTooSmall);
  platform::DocumentLockGuard guard(doc.lock);
  RETURN_IF(doc.cur_dataset != 0, Code::kDataset);
  image_offset = 0;
  image_size = 0;
  DatasetSections s;
  // A change by another thread between the two holds makes the dataset not
  // fit: nothing is written.
  if (!CurrentSections(doc, s) || DatasetByteCount(s, DatasetForm::kFull) > capacity) {
    written = 0;
    return Code::kOk;
  }
  const uint32_t total = WriteDataset(s, DatasetForm::kFull, buffer, capacity);
  // The pixels are the data of the image section's last entry record.
  const uint64_t image_length = s.image->GetSectionSize(EntryScope::kAll);
  if (image_length > record::kImageDataOffset) {
    image_size = static_cast<uint32_t>(image_length - record::kImageDataOffset);
    image_offset = total - image_size;
  }
  written = total;
  return Code::kOk;
}

Code ReadFromBuffer(CTOVAFile& doc, const uint8_t* buffer, uint32_t size, uint32_t& image_offset,
                       uint32_t& image_size) {
  image_offset = 0;
  image_size = 0;
  BufferSource source(buffer, size);
  BufferSink sink(doc, size, image_offset, image_size);
  return ScanSections(source, sink);
}

}  // namespace tova::format
