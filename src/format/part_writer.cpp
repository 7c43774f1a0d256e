// Appending to the part files of a document, with the cut at the part size
// limit and the roll-back of a dataset that could not be written whole.
#include "format/part_writer.h"

#include <algorithm>

#include "format/part_limit.h"
#include "model/document_files.h"
#include "platform/file_services.h"

namespace tova::format {

PartWriter::~PartWriter() { Release(); }

platform::OpenMode PartWriter::Mode(Create create) const {
  using platform::OpenMode;
  if (access_ == Access::kReadWrite)
    return create == Create::kTruncate ? OpenMode::ReadWriteCreate : OpenMode::ReadWriteExisting;
  return create == Create::kTruncate ? OpenMode::WriteCreate : OpenMode::WriteExisting;
}

void PartWriter::Release() {
  if (file_ && !file_->Close()) file_->Abort();
  file_.reset();
}

Code PartWriter::Open(uint16_t part, Create create, const uint64_t* end_at) {
  Release();
  part_ = part;
  file_ = platform::GetFileSystem().Open(PartFileName(main_path_, part), Mode(create));
  RETURN_IF(!file_, Code::kOpen);
  uint64_t end = 0;
  bool ok = file_->SeekToEnd(end);
  if (ok && end_at && end > *end_at) ok = file_->Truncate(*end_at) && file_->SeekToEnd(end);
  if (!ok || end > UINT32_MAX) {
    // Released at once, so that the caller can delete the file (Windows
    // share modes).
    file_->Abort();
    file_.reset();
    return Code::kOpen;
  }
  part_size_ = static_cast<uint32_t>(end);
  return Code::kOk;
}

bool PartWriter::FlushAndClose() {
  const bool ok = file_ && file_->Flush() && file_->Close();
  if (file_ && !ok) file_->Abort();
  file_.reset();
  return ok;
}

bool PartWriter::Reopen() {
  return !Failed(Open(part_, Create::kKeep));
}

bool PartWriter::CutBackTo(platform::File& file, uint32_t size) {
  uint64_t end = 0;
  return file.Truncate(size) && file.SeekToEnd(end) && end == size;
}

// Takes back a dataset that could not be written whole: the continuation
// files made for it are removed and the part it began in is cut back to its
// old size, so that no half dataset ever ends a file.
void PartWriter::RollBack(uint16_t start_part, uint32_t start_size) {
  // Still in the part the dataset began in, with the file open: it is cut
  // back through that handle, which needs no new open that could fail too.
  if (file_ && part_ == start_part && CutBackTo(*file_, start_size)) {
    part_size_ = start_size;
    return;
  }
  if (file_) file_->Abort();
  file_.reset();
  for (uint32_t p = part_; p > start_part; --p) platform::FileDelete(PartFileName(main_path_, p));
  part_ = start_part;
  part_size_ = start_size;
  auto file = platform::GetFileSystem().Open(PartFileName(main_path_, start_part), Mode(Create::kKeep));
  if (file && CutBackTo(*file, start_size)) file_ = std::move(file);
}

// Writes count bytes of the pieces' stream from position `from` with one
// gathered write.
bool PartWriter::WriteSpan(const std::vector<platform::File::Piece>& pieces, uint64_t from, uint32_t count) {
  std::vector<platform::File::Piece> span;
  uint64_t at = 0;  // stream position of the piece's first byte
  for (const platform::File::Piece& piece : pieces) {
    const uint64_t end = at + piece.size;
    if (end > from && count > 0) {
      const uint64_t skip = from > at ? from - at : 0;
      const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(piece.size - skip, count));
      span.push_back({static_cast<const uint8_t*>(piece.data) + skip, take});
      from += take;
      count -= take;
    }
    at = end;
  }
  return file_->WriteGather(span.data(), span.size());
}

Code PartWriter::Append(const std::vector<platform::File::Piece>& pieces) {
  RETURN_IF(!file_, Code::kOpen);
  uint64_t total = 0;
  for (const platform::File::Piece& piece : pieces) total += piece.size;
  RETURN_IF(total > UINT32_MAX, Code::kFileWrite);
  const uint32_t count = static_cast<uint32_t>(total);
  const uint32_t limit = PartSizeLimit();
  const uint16_t start_part = part_;
  const uint32_t start_size = part_size_;
  const uint32_t room = part_size_ < limit ? limit - part_size_ : 0;
  if (count > room) {
    const uint64_t more_parts = (static_cast<uint64_t>(count - room) + limit - 1) / limit;
    RETURN_IF(start_part + more_parts > kMaxPartNumber, Code::kOpen);
  }
  auto fail = [&](Code code) {
    RollBack(start_part, start_size);
    return code;
  };
  // A read-write document may have read through its part since the last write.
  uint64_t end = 0;
  if (access_ == Access::kReadWrite && !file_->SeekToEnd(end)) return fail(Code::kFileWrite);

  uint32_t pos = std::min(room, count);
  if (pos > 0 && !WriteSpan(pieces, 0, pos)) return fail(Code::kFileWrite);
  part_size_ += pos;
  while (pos < count) {
    // The part is full: it goes to stable storage before the next one begins.
    const bool closed_cleanly = file_->Flush() && file_->Close();
    if (!closed_cleanly) return fail(Code::kFileWrite);
    file_.reset();
    ++part_;
    part_size_ = 0;
    file_ = platform::GetFileSystem().Open(PartFileName(main_path_, part_), Mode(Create::kTruncate));
    if (!file_) return fail(Code::kOpen);
    const uint32_t chunk = std::min(limit, count - pos);
    if (!WriteSpan(pieces, pos, chunk)) return fail(Code::kFileWrite);
    part_size_ = chunk;
    pos += chunk;
  }
  return Code::kOk;
}

}  // namespace tova::format
