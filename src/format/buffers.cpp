// Writing the current dataset into a caller buffer and reading buffers back.
#include "format/buffers.h"

#include <algorithm>

#include "format/layout.h"
#include "model/tova_file.h"

namespace tova::format {

namespace {

// Caller memory as the source of a section scan; nothing outside it is read.
class BufferSource final : public SectionSource {
 public:
  BufferSource(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  bool AtEnd() override { return size_ < 2 || pos_ >= size_ - 1; }
  int32_t ReadExact(uint8_t* destination, uint32_t n) override {
    if (n > size_ - pos_) return 11;
    std::copy(data_ + pos_, data_ + pos_ + n, destination);
    pos_ += n;
    return 0;
  }
  int32_t Skip(uint32_t n) override {
    if (n > size_ - pos_) return 11;
    pos_ += n;
    return 0;
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

  int32_t Begin(uint32_t, uint16_t id, uint32_t data_size, uint16_t, uint32_t offset,
                SectionTarget& target) override {
    switch (id) {
      case kSectGlobalHeader:
        target.section = &doc_.global_header;
        global_header_ = true;
        return 0;
      case kSectDataHeader:
        if (doc_.data_headers.empty()) return 22;
        target.section = doc_.data_headers[0].get();
        data_header_ = true;
        return 0;
      case kSectImage:
        if (doc_.images.empty()) return 22;
        target.section = doc_.images[0].get();
        // The place of the image data is reported only when they lie inside
        // the buffer: a caller addresses the pixels through it.
        if (data_size >= 7 && static_cast<uint64_t>(offset) + data_size <= buffer_size_) {
          image_size_ = data_size - kRecordHeaderSize;
          image_offset_ = offset + kRecordHeaderSize;
        }
        image_ = true;
        return 0;
      default:
        return 21;
    }
  }
  int32_t End(uint16_t) override { return global_header_ && data_header_ && image_ ? 1 : 0; }

 private:
  CTOVAFile& doc_;
  uint32_t buffer_size_;
  uint32_t& image_offset_;
  uint32_t& image_size_;
  bool global_header_ = false, data_header_ = false, image_ = false;
};

}  // namespace

uint32_t BufferSize(CTOVAFile& doc) {
  DatasetSections s;
  if (!CurrentSections(doc, s)) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(DatasetByteCount(s, false), UINT32_MAX));
}

int32_t WriteToBuffer(CTOVAFile& doc, uint8_t* buffer, uint32_t capacity, uint32_t& written,
                      uint32_t& image_offset, uint32_t& image_size) {
  uint32_t needed;
  {
    platform::DocumentLockGuard guard(doc.lock);
    needed = BufferSize(doc);
  }
  if (capacity < needed) return 13;
  platform::DocumentLockGuard guard(doc.lock);
  if (doc.cur_dataset != 0) return 50;
  image_offset = 0;
  image_size = 0;
  DatasetSections s;
  // A change by another thread between the two holds makes the dataset not
  // fit: nothing is written.
  if (!CurrentSections(doc, s) || DatasetByteCount(s, false) > capacity) {
    written = 0;
    return 0;
  }
  const uint32_t total = WriteDataset(s, false, buffer, capacity);
  const uint64_t image_length = s.image->GetSectionSize(0);
  if (image_length > 2 * kRecordHeaderSize) {
    image_size = static_cast<uint32_t>(image_length - 2 * kRecordHeaderSize);
    image_offset = total - image_size;
  }
  written = total;
  return 0;
}

int32_t ReadFromBuffer(CTOVAFile& doc, const uint8_t* buffer, uint32_t size, uint32_t& image_offset,
                       uint32_t& image_size) {
  image_offset = 0;
  image_size = 0;
  BufferSource source(buffer, size);
  BufferSink sink(doc, size, image_offset, image_size);
  return ScanSections(source, sink);
}

}  // namespace tova::format
