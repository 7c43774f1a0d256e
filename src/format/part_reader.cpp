// Reading across part files.
#include "format/part_reader.h"

#include <algorithm>

#include "format/part_limit.h"
#include "model/document_files.h"
#include "platform/file_services.h"

namespace tova::format {

PartReader::PartReader(std::u16string main_path, platform::File* held_file, uint16_t held_part)
    : main_path_(std::move(main_path)), held_file_(held_file), held_part_(held_part) {}

PartReader::~PartReader() { Close(); }

void PartReader::Close() {
  if (own_file_) own_file_->Close();
  own_file_.reset();
  file_ = nullptr;
}

Code PartReader::EnterPart(uint16_t part) {
  Close();
  // The part that follows the one read so far drops off the front of the
  // known sizes; any other move asks for them again.
  if (later_known_ && part == part_ + 1u && later_first_ < later_sizes_.size()) {
    later_total_ -= later_sizes_[later_first_++];
  } else {
    later_known_ = false;
  }
  part_ = part;
  pos_ = 0;
  ahead_len_ = 0;
  const std::u16string name = PartFileName(main_path_, part);
  if (held_file_ && part == held_part_) {
    file_ = held_file_;
    if (!file_->Size(size_)) return Code::kRead;
    return Code::kOk;
  }
  own_file_ = platform::GetFileSystem().Open(name, platform::OpenMode::ReadShared);
  if (!own_file_) return Code::kOpen;
  file_ = own_file_.get();
  if (!file_->Size(size_)) return Code::kRead;
  return Code::kOk;
}

Code PartReader::Open(uint16_t part, uint32_t offset) {
  TRY(EnterPart(part));
  pos_ = offset;
  return Code::kOk;
}

Code PartReader::NextPart() {
  if (part_ >= kMaxPartNumber) return Code::kShort;
  const uint16_t next = static_cast<uint16_t>(part_ + 1);
  if (platform::FileSize32(PartFileName(main_path_, next)) == 0) return Code::kShort;
  return EnterPart(next);
}

bool PartReader::AtEnd() {
  if (!file_) return true;
  if (size_ > pos_ && size_ - pos_ >= 2) return false;
  // A part filled to the limit is continued in the next part whatever its
  // last bytes are: the writer cuts at any byte, also right after a section.
  // The document ends there only when that part is missing or empty; one
  // whose size cannot be told is entered, so that the failure is reported
  // instead of passing for the end of the document.
  if (size_ >= PartSizeLimit() && part_ < kMaxPartNumber) {
    const std::u16string next = PartFileName(main_path_, static_cast<uint16_t>(part_ + 1));
    uint64_t next_size = 0;
    if (platform::GetFileSystem().Size(next, next_size)) return next_size == 0;
    return !platform::GetFileSystem().Exists(next);
  }
  return true;
}

// Reads n bytes (no more than the part holds) at the position in the part:
// what the block read ahead holds from there, then a small rest together
// with the header that may follow, a large one straight into the
// destination.
Code PartReader::ReadHere(uint8_t* destination, uint32_t n) {
  if (pos_ >= ahead_pos_ && pos_ < ahead_pos_ + ahead_len_) {
    const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(n, ahead_pos_ + ahead_len_ - pos_));
    std::copy_n(ahead_ + (pos_ - ahead_pos_), k, destination);
    pos_ += k;
    destination += k;
    n -= k;
  }
  if (n == 0) return Code::kOk;
  if (n <= kSmallRead) return ReadAhead(destination, n);
  uint32_t got = 0;
  if (!file_->ReadAt(pos_, destination, n, got)) return Code::kRead;
  pos_ += got;
  return got < n ? Code::kShort : Code::kOk;  // the part is shorter than its size said
}

Code PartReader::ReadAhead(uint8_t* destination, uint32_t n) {
  const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(n + record::kHeaderSize, size_ - pos_));
  uint32_t got = 0;
  ahead_len_ = 0;
  if (!file_->ReadAt(pos_, ahead_, want, got)) return Code::kRead;
  ahead_pos_ = pos_;
  ahead_len_ = got;
  const uint32_t k = std::min(n, got);
  std::copy_n(ahead_, k, destination);
  pos_ += k;
  return k < n ? Code::kShort : Code::kOk;
}

Code PartReader::ReadExact(uint8_t* destination, uint32_t n) {
  RETURN_IF(!file_, Code::kShort);
  while (n > 0) {
    const uint64_t avail = size_ > pos_ ? size_ - pos_ : 0;
    if (avail == 0) {
      TRY(NextPart());
      continue;
    }
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(avail, n));
    TRY(ReadHere(destination, take));
    destination += take;
    n -= take;
  }
  return Code::kOk;
}

// Only the position moves: the next read reads there.
Code PartReader::Skip(uint32_t n) {
  RETURN_IF(!file_, Code::kShort);
  while (n > 0) {
    const uint64_t avail = size_ > pos_ ? size_ - pos_ : 0;
    if (avail == 0) {
      TRY(NextPart());
      continue;
    }
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(avail, n));
    pos_ += take;
    n -= take;
  }
  return Code::kOk;
}

uint64_t PartReader::LaterPartsSize() {
  if (!later_known_) {
    later_sizes_.clear();
    later_first_ = 0;
    later_total_ = 0;
    for (uint32_t p = part_ + 1u; p <= kMaxPartNumber; ++p) {
      const uint32_t size = platform::FileSize32(PartFileName(main_path_, p));
      if (size == 0) break;
      later_sizes_.push_back(size);
      later_total_ += size;
    }
    later_known_ = true;
  }
  return later_total_;
}

uint64_t PartReader::BytesRemaining() {
  const uint64_t here = size_ > pos_ ? size_ - pos_ : 0;
  return here + LaterPartsSize();
}

bool PartReader::HasAtLeast(uint64_t n) {
  const uint64_t here = size_ > pos_ ? size_ - pos_ : 0;
  return n <= here || n <= here + LaterPartsSize();
}

void PartReader::Where(uint16_t& part, uint32_t& offset) {
  part = part_;
  offset = static_cast<uint32_t>(pos_);
}

}  // namespace tova::format
