// The files behind a document and the image loader: the image of one dataset
// is brought into the document's one image section, reading only that
// image's bytes.
#include "format/part_files.h"

#include <algorithm>
#include <optional>
#include <new>

#include "format/part_reader.h"
#include "model/document_files.h"

namespace tova::format {

PartWriter& PartFiles::StartWriting(Access access) {
  writer_ = std::make_unique<PartWriter>(main_path_, access);
  return *writer_;
}

Code PartFiles::LoadImage(const TTOVASectInfo& where, CTOVASection& image) {
  const Straight straight = LoadStraight(where, image);
  if (straight == Straight::kLoaded) return Code::kOk;
  // An entry that holds another record's bytes now is not replaced by reading
  // the section: the last image comes back first.
  if (straight == Straight::kOtherRecord) RestoreLastImage(image);
  const Code rc = LoadSection(where, image);
  if (Failed(rc) && straight == Straight::kPartly) RestoreLastImage(image);
  return rc;
}

// The usual frame of a recording: the image section is one entry record of
// the size of an entry the image section holds already, read with one
// scattered read, its header into a block and its data straight into the
// entry's storage, from the part kept since the last load. Anything else
// (another form, a section that goes on in the next part, a failed read) is
// left to the section read, and the result tells what the entry holds then.
PartFiles::Straight PartFiles::LoadStraight(const TTOVASectInfo& where, CTOVASection& image) {
  if (writer_ && writer_->IsOpen()) return Straight::kUntouched;
  const auto& entries = image.Entries();
  const auto fits = std::find_if(entries.begin(), entries.end(), [&](const std::unique_ptr<CTOVAEntry>& e) {
    return e->HasData() && uint64_t{e->DataSize()} + record::kHeaderSize == where.data_size;
  });
  if (fits == entries.end()) return Straight::kUntouched;
  CTOVAEntry& entry = **fits;
  platform::File* file = TakeKeptPart(where.part_number);
  if (!file) return Straight::kUntouched;
  uint8_t head[record::kHeaderSize];
  const platform::File::Span spans[] = {{head, record::kHeaderSize}, {entry.MutableData(), entry.DataSize()}};
  uint32_t got = 0;
  const bool read = file->ReadScatterAt(where.data_offset, spans, 2, got);
  LetGoOf(file);
  if (got <= record::kHeaderSize) return Straight::kUntouched;
  const record::Header h = record::GetHeader(head);
  if (h.id != entry.Id() || h.length != where.data_size) return Straight::kOtherRecord;
  if (!read || got != where.data_size) return Straight::kPartly;
  entry.present = true;
  image.SetModified(false);
  last_loaded_ = where;
  return Straight::kLoaded;
}

platform::File* PartFiles::TakeKeptPart(uint16_t part) {
  const auto kept = std::find_if(kept_.begin(), kept_.end(), [part](const KeptPart& k) { return k.part == part; });
  if (kept != kept_.end()) {
    if (kept->file->RetakeShare()) return kept->file.get();
    kept_.erase(kept);  // no longer the file at its path, or a writer holds it
  }
  std::unique_ptr<platform::File> file =
      platform::GetFileSystem().Open(PartFileName(main_path_, part), platform::OpenMode::ReadShared);
  if (!file) return nullptr;
  if (kept_.size() == kKeptParts) kept_.erase(kept_.begin());  // the one kept longest goes
  kept_.push_back(KeptPart{part, std::move(file)});
  return kept_.back().file.get();
}

// Lets go of the share of a part just read, keeping it open, or closes it
// where the file layer cannot.
void PartFiles::LetGoOf(platform::File* file) {
  if (file->ReleaseShare()) return;
  kept_.erase(std::find_if(kept_.begin(), kept_.end(), [file](const KeptPart& k) { return k.file.get() == file; }));
}

Code PartFiles::LoadSection(const TTOVASectInfo& where, CTOVASection& image) {
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
