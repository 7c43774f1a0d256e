// The safe save: the document is written whole into the temporary file set
// path + "$$$", flushed to stable storage, and only then put in place. The
// old document's continuation files are moved aside first and removed only
// once the new main file stands at the path, so that whatever fails, the path
// holds either the complete old document or the complete new one, and no
// temporary file stays behind.
#include <algorithm>
#include <utility>
#include <vector>

#include "format/appender.h"
#include "format/file_reader.h"
#include "format/part_limit.h"
#include "housekeeping/housekeeping.h"
#include "model/tova_file.h"
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

// Puts the temporary file set (temp and its parts 1 to temp_parts) in place
// of the document at path: 0 or 15.
int32_t Commit(const std::u16string& temp, uint32_t temp_parts, const std::u16string& path) {
  // The old document's parts: those the directory lists and, should the
  // listing fail, at least the unbroken run from part 1 on, which is what
  // readers and appends would take for parts of the new document.
  std::vector<std::u16string> old_parts;
  std::vector<uint32_t> old_numbers;
  housekeeping::FindContinuationFiles(path, old_parts, old_numbers);
  for (uint32_t n = 1; n <= kMaxPartNumber; ++n) {
    const std::u16string name = CTOVAFile::PartFileName(path, n);
    if (!platform::FileExists(name)) break;
    if (std::find(old_numbers.begin(), old_numbers.end(), n) == old_numbers.end()) {
      old_parts.push_back(name);
      old_numbers.push_back(n);
    }
  }
  // The new parts are known by number: no directory listing can miss one.
  std::vector<std::u16string> new_parts;
  std::vector<uint32_t> new_numbers;
  for (uint32_t n = 1; n <= temp_parts; ++n) {
    new_parts.push_back(CTOVAFile::PartFileName(temp, n));
    new_numbers.push_back(n);
  }
  const std::u16string aside = AsideName(path);

  std::vector<Move> moved_aside, moved_in;
  for (size_t i = 0; i < old_parts.size(); ++i) {
    // Numbered by position: two names of one part number ("a.tova 7" and
    // "a.tova 007") still get two aside names.
    Move m{old_parts[i], CTOVAFile::PartFileName(aside, static_cast<uint32_t>(i + 1))};
    if (!platform::FileRename(m.from, m.to)) {
      Undo(moved_aside);
      return 15;
    }
    moved_aside.push_back(m);
  }
  for (size_t i = 0; i < new_parts.size(); ++i) {
    Move m{new_parts[i], CTOVAFile::PartFileName(path, new_numbers[i])};
    if (!platform::FileRename(m.from, m.to)) {
      Undo(moved_in);
      Undo(moved_aside);
      return 15;
    }
    moved_in.push_back(m);
  }
  // The main file is the commit point.
  if (!platform::FileRename(temp, path)) {
    Undo(moved_in);
    Undo(moved_aside);
    return 15;
  }
  platform::GetFileSystem().SyncDirectoryOf(path);
  for (const Move& m : moved_aside) platform::FileDelete(m.to);
  return 0;
}

void ReleasePart(CTOVAFile& doc) {
  if (doc.file && !doc.file->Close()) doc.file->Abort();
  doc.file.reset();
  doc.file_open = false;
}

// Opens the part a read-write document appends to again, at its end; the
// document's file stays closed (later appends give 10) when that fails.
void TakeUpPart(CTOVAFile& doc) {
  auto file = platform::GetFileSystem().Open(CTOVAFile::PartFileName(doc.path, doc.part_number),
                                             platform::OpenMode::ReadWriteExisting);
  uint64_t end = 0;
  if (!file || !file->SeekToEnd(end) || end > UINT32_MAX) return;
  doc.file = std::move(file);
  doc.file_open = true;
  doc.part_size = static_cast<uint32_t>(end);
}

}  // namespace

int32_t SaveFile(CTOVAFile& doc, const std::u16string& path, uint32_t show_dialog) {
  if (doc.type == kTypeWrite) return 7;
  const std::u16string temp = path + u"$$$";
  if (!housekeeping::DeleteWithContinuations(temp)) return 14;
  // Old parts an earlier save moved aside but could not delete.
  housekeeping::DeleteWithContinuations(AsideName(path));

  const uint32_t remembered = doc.cur_dataset;
  const uint32_t datasets = doc.GetNumDatasets();
  int32_t rc;
  uint32_t temp_parts = 0;
  {
    CTOVAFile copy;
    // A failed open may have created the temporary file already.
    if ((rc = OpenForWriting(copy, temp, 0, 0)) != 0) {
      housekeeping::DeleteWithContinuations(temp);
      return rc;
    }
    rc = AddTova(copy, doc, 1, show_dialog);
    // Nothing replaces the document at path before every byte is on stable
    // storage.
    if (rc == 0 && !(copy.file && copy.file->Flush() && copy.file->Close())) rc = 5;
    temp_parts = copy.part_number;
    copy.Close();
  }
  if (rc != 0) {
    housekeeping::DeleteWithContinuations(temp);
    doc.SetModified(1);
    return rc;
  }

  // A read-write document holds its last part open, exclusively: it lets go
  // of it for the commit (a file held open cannot be replaced on Windows),
  // takes it up again when the commit fails, keeping its datasets as they
  // are, and is opened anew on the saved file below.
  const bool reopen_read_write = doc.type == kTypeReadWrite;
  if (reopen_read_write) ReleasePart(doc);
  if ((rc = Commit(temp, temp_parts, path)) != 0) {
    housekeeping::DeleteWithContinuations(temp);
    if (reopen_read_write) TakeUpPart(doc);
    return rc;
  }
  housekeeping::DeleteWithContinuations(temp);

  // The document reads itself again with the dialog only when the caller's
  // setting allows dialogs at all.
  if (doc.type == kTypeRead || reopen_read_write) {
    if (reopen_read_write) {
      rc = OpenForWriting(doc, path, 1, 1, show_dialog);
    } else {
      doc.Close();
      rc = doc.OpenRead(path);
      if (rc == 0) rc = ReadFromFile(doc, 1, show_dialog);
    }
    if (rc == 0 && datasets > 1) rc = doc.SetCurDataset(remembered, 1);
    if (rc != 0) return rc;
  }
  doc.SetModified(0);
  return 0;
}

}  // namespace tova::format
