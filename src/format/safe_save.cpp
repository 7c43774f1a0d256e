// The safe save: the document is written whole into the temporary file set
// path + "$$$", flushed to stable storage, and only then put in place. The
// old document's continuation files are moved aside first and removed only
// once the new main file stands at the path, so that whatever fails, the path
// holds either the complete old document or the complete new one, and no
// temporary file stays behind.
#include "format/safe_save.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "format/appender.h"
#include "format/file_reader.h"
#include "format/open_for_writing.h"
#include "format/part_files.h"
#include "model/document_files.h"
#include "platform/file_services.h"
#include "platform/file_system.h"

namespace tova::format {

namespace {

struct Move {
  std::u16string from, to;
};

// Renames back, in reverse order, what a failed commit had already moved.
void Undo(const std::vector<Move>& moves) {
  for (auto it = moves.rbegin(); it != moves.rend(); ++it) platform::FileRename(it->to, it->from);
}

// The old document's continuation files moved aside before the commit.
std::u16string AsideName(const std::u16string& path) { return path + u"$$$old"; }

// The files of one document: part numbers and paths side by side.
struct PartSet {
  std::vector<std::u16string> paths;
  std::vector<uint32_t> numbers;
  void Add(std::u16string path, uint32_t number) {
    paths.push_back(std::move(path));
    numbers.push_back(number);
  }
  bool Has(uint32_t number) const { return std::find(numbers.begin(), numbers.end(), number) != numbers.end(); }
};

// The old document's parts: those the directory lists and, should the
// listing fail, at least the unbroken run from part 1 on, which is what
// readers and appends would take for parts of the new document.
PartSet OldParts(const std::u16string& path) {
  PartSet old;
  for (ContinuationFile& part : FindContinuationFiles(path)) old.Add(std::move(part.path), part.number);
  for (uint32_t n = 1; n <= kMaxPartNumber; ++n) {
    std::u16string name = PartFileName(path, n);
    if (!platform::FileExists(name)) break;
    if (!old.Has(n)) old.Add(std::move(name), n);
  }
  return old;
}

// Renames each file in order; on a failure takes back what this call and
// the earlier calls (undo_too) moved, and returns false.
bool MoveAll(const std::vector<Move>& moves, std::vector<Move>& done, const std::vector<Move>& undo_too) {
  for (const Move& m : moves) {
    if (!platform::FileRename(m.from, m.to)) {
      Undo(done);
      Undo(undo_too);
      return false;
    }
    done.push_back(m);
  }
  return true;
}

// Puts the temporary file set (temp and its parts 1 to temp_parts) in place
// of the document at path: kOk or kRename. The old document's continuation
// files are moved aside first, the new ones moved in, and the main file,
// renamed last, is the commit point.
Code Commit(const std::u16string& temp, uint32_t temp_parts, const std::u16string& path) {
  const PartSet old = OldParts(path);
  const std::u16string aside = AsideName(path);
  std::vector<Move> aside_moves, in_moves;
  // Numbered by position: two names of one part number ("a.tova 7" and
  // "a.tova 007") still get two aside names.
  for (size_t i = 0; i < old.paths.size(); ++i)
    aside_moves.push_back({old.paths[i], PartFileName(aside, static_cast<uint32_t>(i + 1))});
  // The new parts are known by number: no directory listing can miss one.
  for (uint32_t n = 1; n <= temp_parts; ++n) in_moves.push_back({PartFileName(temp, n), PartFileName(path, n)});

  std::vector<Move> moved_aside, moved_in;
  RETURN_IF(!MoveAll(aside_moves, moved_aside, {}), Code::kRename);
  RETURN_IF(!MoveAll(in_moves, moved_in, moved_aside), Code::kRename);
  if (!platform::FileRename(temp, path)) {
    Undo(moved_in);
    Undo(moved_aside);
    return Code::kRename;
  }
  platform::GetFileSystem().SyncDirectoryOf(path);
  for (const Move& m : moved_aside) platform::FileDelete(m.to);
  return Code::kOk;
}

// Writes every dataset of doc into copy, a write document on the temporary
// file set, and flushes it to stable storage; temp_parts receives its number
// of continuation files.
Code WriteTemporary(CTOVAFile& copy, CTOVAFile& doc, Progress& progress, uint32_t& temp_parts) {
  const Code rc = AddTova(copy, doc, AddScope::kAll, progress);
  PartWriter* writer = WriterOf(copy);
  temp_parts = writer ? writer->part() : 0;
  TRY(rc);
  // Nothing replaces the document at path before every byte is on stable
  // storage.
  RETURN_IF(!(writer && writer->FlushAndClose()), Code::kFileWrite);
  return Code::kOk;
}

// After the commit the document reads the saved file again, at the dataset
// it was at; a read-write document goes on appending to it.
Code TakeUpSavedFile(CTOVAFile& doc, const std::u16string& path, Progress& progress, uint32_t remembered,
                     uint32_t datasets) {
  if (doc.type == DocumentType::kReadWrite) {
    TRY(OpenForWriting(doc, path, WriteStart::kAppend, Access::kReadWrite, progress));
  } else {
    doc.Close();
    TRY(doc.OpenRead(path));
    TRY(ReadFromFile(doc, ReadScope::kAll, progress));
  }
  if (datasets > 1) TRY(doc.SetCurDataset(remembered, ImageLoad::kLoad));
  return Code::kOk;
}

}  // namespace

Code SaveFile(CTOVAFile& doc, const std::u16string& path, Progress& progress) {
  RETURN_IF(doc.type == DocumentType::kWrite, Code::kDocumentType);
  const std::u16string temp = path + u"$$$";
  RETURN_IF(!DeleteWithContinuations(temp), Code::kDelete);
  // Old parts an earlier save moved aside but could not delete.
  DeleteWithContinuations(AsideName(path));

  const uint32_t remembered = doc.cur_dataset;
  const uint32_t datasets = doc.GetNumDatasets();
  uint32_t temp_parts = 0;
  Code rc;
  {
    CTOVAFile copy(doc.Rules());
    if (Failed(rc = OpenForWriting(copy, temp, WriteStart::kNew, Access::kWrite, NoProgress()))) {
      // A failed open may have created the temporary file already.
      DeleteWithContinuations(temp);
      return rc;
    }
    rc = WriteTemporary(copy, doc, progress, temp_parts);
  }  // the copy lets go of the temporary file here
  if (Failed(rc)) {
    DeleteWithContinuations(temp);
    doc.SetModified(true);
    return rc;
  }

  // A read-write document holds its last part open, exclusively: it lets go
  // of it for the commit (a file held open cannot be replaced on Windows),
  // takes it up again when the commit fails, keeping its datasets as they
  // are, and is opened anew on the saved file afterwards.
  PartWriter* writer = doc.type == DocumentType::kReadWrite ? WriterOf(doc) : nullptr;
  if (writer) writer->Release();
  if (Failed(rc = Commit(temp, temp_parts, path))) {
    DeleteWithContinuations(temp);
    if (writer) writer->Reopen();
    return rc;
  }
  DeleteWithContinuations(temp);
  if (doc.type == DocumentType::kRead || doc.type == DocumentType::kReadWrite)
    TRY(TakeUpSavedFile(doc, path, progress, remembered, datasets));
  doc.SetModified(false);
  return Code::kOk;
}

}  // namespace tova::format
