// The part writer: the one open part file of a write or read-write document
// and everything about it. It appends serialised datasets to the document's
// byte stream, cutting them into continuation files at the part size limit,
// takes a dataset that could not be written whole back, and lets go of the
// file and takes it up again around a save.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/result.h"
#include "platform/file_system.h"

namespace tova::format {

// Whether a document may read its files besides writing them.
enum class Access { kWrite, kReadWrite };

class PartWriter {
 public:
  PartWriter(std::u16string main_path, Access access) : main_path_(std::move(main_path)), access_(access) {}
  // Closes the part (an error while closing abandons the file).
  ~PartWriter();
  PartWriter(const PartWriter&) = delete;
  PartWriter& operator=(const PartWriter&) = delete;

  // Opens part `part` and positions at its end. A new file is created empty
  // (truncate) or kept; with end_at, bytes beyond that position are cut off
  // first (a tail the reader ignores). kOpen when it cannot be done; the
  // writer is then closed.
  enum class Create { kTruncate, kKeep };
  Code Open(uint16_t part, Create create, const uint64_t* end_at = nullptr);

  // Appends the bytes of the pieces back to back, cutting them at the part
  // size limit as often as needed; each part's share goes out as one gathered
  // write. kFileWrite when the file layer failed, kOpen when a continuation
  // file cannot be made or would need a number beyond the last. On failure
  // everything this call wrote is taken back.
  Code Append(const std::vector<platform::File::Piece>& pieces);
  Code Append(const uint8_t* data, uint32_t count) { return Append({{data, count}}); }

  // Pushes the part to stable storage and closes it (the end of a save).
  bool FlushAndClose();
  // Lets go of the part (a save replaces the files).
  void Release();
  // Opens the part it wrote to again at its end; false when that fails (the
  // writer stays closed and appends give kOpen).
  bool Reopen();

  bool IsOpen() const { return file_ != nullptr; }
  uint16_t part() const { return part_; }
  uint32_t part_size() const { return part_size_; }
  const std::u16string& main_path() const { return main_path_; }
  // The open part, for reading through it (it is held exclusively).
  platform::File* file() const { return file_.get(); }

  // Lets a test pretend that earlier parts were written (part numbers near
  // the last without writing gigabytes).
  void SetPositionForTesting(uint16_t part, uint32_t part_size) {
    part_ = part;
    part_size_ = part_size;
  }

 private:
  platform::OpenMode Mode(Create create) const;
  void RollBack(uint16_t start_part, uint32_t start_size);
  bool CutBackTo(platform::File& file, uint32_t size);
  bool WriteSpan(const std::vector<platform::File::Piece>& pieces, uint64_t from, uint32_t count);

  std::u16string main_path_;
  Access access_;
  std::unique_ptr<platform::File> file_;  // null while closed
  uint16_t part_ = 0;                     // part being written; 0 the main file
  uint32_t part_size_ = 0;                // bytes in that part
};

}  // namespace tova::format
