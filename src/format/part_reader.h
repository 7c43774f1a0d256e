// Reads the byte stream of a document across its main file and continuation
// files: a read that comes up short goes on in the next part, even in the
// middle of a length field.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format/layout.h"
#include "model/record.h"
#include "platform/file_system.h"

namespace tova::format {

class PartReader final : public SectionSource {
 public:
  // held_file: a part the document itself holds open (read-write documents
  // hold the part they append to, exclusively); it is read through that file
  // instead of being opened again, and never closed here.
  explicit PartReader(std::u16string main_path, platform::File* held_file = nullptr, uint16_t held_part = 0);
  ~PartReader() override;

  // Opens part `part` and positions at offset: kOpen when it cannot be
  // opened, kRead when its size cannot be told.
  Code Open(uint16_t part, uint32_t offset);
  // Closes the part in use (an error while closing a file opened for reading
  // is of no consequence).
  void Close();

  bool AtEnd() override;
  Code ReadExact(uint8_t* destination, uint32_t n) override;
  Code Skip(uint32_t n) override;
  uint64_t BytesRemaining() override;
  void Where(uint16_t& part, uint32_t& offset) override;
  // Whether at least n bytes can still come; the later parts are asked only
  // when this part holds fewer.
  bool HasAtLeast(uint64_t n);

 private:
  Code EnterPart(uint16_t part);
  Code ReadHere(uint8_t* destination, uint32_t n);
  Code NextPart();
  uint64_t LaterPartsSize();
  Code ReadAhead(uint8_t* destination, uint32_t n);

  std::u16string main_path_;
  platform::File* held_file_;
  uint16_t held_part_;
  std::unique_ptr<platform::File> own_file_;
  platform::File* file_ = nullptr;  // the part being read
  uint16_t part_ = 0;
  uint64_t size_ = 0;                // size of that part
  uint64_t pos_ = 0;                 // position in that part
  // The sizes of the parts after the one being read, once asked: parts
  // later_first_ on, with their sum. Entering the next part takes its size
  // off the front instead of asking every later part again.
  std::vector<uint64_t> later_sizes_;
  size_t later_first_ = 0;  // index in later_sizes_ of part_ + 1
  uint64_t later_total_ = 0;
  bool later_known_ = false;
  // A small read also reads the header of a section that may follow, into
  // a block the next read is served from: a scan then reads a data header's
  // bytes together with the next section's header, two system calls for a
  // dataset instead of three, and no byte it would not read anyway.
  // Bytes [ahead_pos_, ahead_pos_ + ahead_len_) of the part.
  static constexpr uint32_t kSmallRead = 256;
  uint8_t ahead_[kSmallRead + record::kHeaderSize];
  uint64_t ahead_pos_ = 0;
  uint32_t ahead_len_ = 0;
};

}  // namespace tova::format
