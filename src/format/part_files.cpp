// The files behind a document and the image loader: the image of one dataset
// is brought into the document's one image section, reading only that
// image's bytes.
#include "format/part_files.h"

#include <algorithm>
#include <optional>
#include <new>

#include "format/part_reader.h"

namespace tova::format {

PartWriter& PartFiles::StartWriting(Access access) {
  writer_ = std::make_unique<PartWriter>(main_path_, access);
  return *writer_;
}

Code PartFiles::LoadImage(const TTOVASectInfo& where, CTOVASection& image) {
  // A read-write document holds the part it appends to exclusively: that part
  // is read through the writer's own file.
  const bool held = writer_ && writer_->IsOpen();
  PartReader reader(main_path_, held ? writer_->file() : nullptr, held ? writer_->part() : 0);
  // Nothing is parsed that was not read: a part that cannot be opened is
  // kOpen, a part that ends early (or cannot be read) kShort.
  auto short_if_read = [](Code code) { return code == Code::kRead ? Code::kShort : code; };
  TRY(short_if_read(reader.Open(where.part_number, where.data_offset)));
  RETURN_IF(!reader.HasAtLeast(where.data_size), Code::kShort);
  // An image section is usually one entry record of the size the image
  // section holds already: its bytes are then read straight into that
  // entry's storage, which stays the same from frame to frame.
  uint8_t head[record::kHeaderSize];
  const uint32_t head_size = std::min<uint32_t>(where.data_size, record::kHeaderSize);
  TRY(short_if_read(reader.ReadExact(head, head_size)));
  if (head_size == record::kHeaderSize) {
    const record::Header h = record::GetHeader(head);
    CTOVAEntry* entry = h.length == where.data_size ? image.FindEntry(h.id) : nullptr;
    if (entry && entry->HasData() && entry->DataSize() == h.DataSize() && h.DataSize() > 0) {
      if (const Code rc = reader.ReadExact(entry->MutableData(), h.DataSize()); Failed(rc)) {
        reader.Close();
        RestoreLastImage(image);
        return short_if_read(rc);
      }
      entry->present = true;
      image.SetModified(false);
      last_loaded_ = where;
      return Code::kOk;
    }
  }
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[where.data_size ? where.data_size : 1]);
  RETURN_IF(!block, Code::kNoMemory);
  std::copy(head, head + head_size, block.get());
  TRY(short_if_read(reader.ReadExact(block.get() + head_size, where.data_size - head_size)));
  reader.Close();
  const Code parsed = image.ReadSection(block.get(), where.data_size);
  image.SetModified(false);
  if (!Failed(parsed)) last_loaded_ = where;
  return parsed;
}

// A read straight into the image's storage that failed part-way has left some
// of the new frame's bytes there: the image loaded last is read again, and
// where even that fails the section is emptied rather than show a mix of two
// frames.
void PartFiles::RestoreLastImage(CTOVASection& image) {
  const std::optional<TTOVASectInfo> last = last_loaded_;
  last_loaded_.reset();
  if (!last || Failed(LoadImage(*last, image))) image.RemoveAllEntries();
}

PartFiles* FilesOf(CTOVAFile& doc) { return dynamic_cast<PartFiles*>(doc.image_source.get()); }

PartFiles& AttachFiles(CTOVAFile& doc, const std::u16string& main_path) {
  auto files = std::make_unique<PartFiles>(main_path);
  PartFiles& ref = *files;
  doc.image_source = std::move(files);
  return ref;
}

PartWriter* WriterOf(CTOVAFile& doc) {
  PartFiles* files = FilesOf(doc);
  return files ? files->writer() : nullptr;
}

}  // namespace tova::format
