// The safe save: the document is written whole into the temporary file set
// path + "$$$", flushed to stable storage, and only then put in place. The
// old document's continuation files are moved aside first and removed only
// once the new main file stands at the path, so that whatever fails, the path
// holds either the complete old document or the complete new one, and no
// temporary file stays behind.
#include <utility>
#include <vector>

#include "format/appender.h"
#include "format/file_reader.h"
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

// Puts the temporary file set in place of the document at path: 0 or 15.
int32_t Commit(const std::u16string& temp, const std::u16string& path) {
  std::vector<std::u16string> old_parts, new_parts;
  std::vector<uint32_t> old_numbers, new_numbers;
  housekeeping::FindContinuationFiles(path, old_parts, old_numbers);
  housekeeping::FindContinuationFiles(temp, new_parts, new_numbers);
  const std::u16string aside = path + u"$$$old";

  std::vector<Move> moved_aside, moved_in;
  for (size_t i = 0; i < old_parts.size(); ++i) {
    Move m{old_parts[i], CTOVAFile::PartFileName(aside, old_numbers[i])};
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

}  // namespace

int32_t SaveFile(CTOVAFile& doc, const std::u16string& path, uint32_t show_dialog) {
  if (doc.type == kTypeWrite) return 7;
  const std::u16string temp = path + u"$$$";
  if (!housekeeping::DeleteWithContinuations(temp)) return 14;

  const uint32_t remembered = doc.cur_dataset;
  const uint32_t datasets = doc.GetNumDatasets();
  int32_t rc;
  {
    CTOVAFile copy;
    if ((rc = OpenForWriting(copy, temp, 0, 0)) != 0) return rc;
    rc = AddTova(copy, doc, 1, show_dialog);
    // Nothing replaces the document at path before every byte is on stable
    // storage.
    if (rc == 0 && !(copy.file && copy.file->Flush() && copy.file->Close())) rc = 5;
    copy.Close();
  }
  if (rc != 0) {
    housekeeping::DeleteWithContinuations(temp);
    doc.SetModified(1);
    return rc;
  }

  // A read-write document holds its last part open; it is reopened below.
  const bool reopen_read_write = doc.type == kTypeReadWrite;
  const std::u16string old_path = doc.path;
  if (reopen_read_write) doc.Close();
  if ((rc = Commit(temp, path)) != 0) {
    housekeeping::DeleteWithContinuations(temp);
    if (reopen_read_write) OpenForWriting(doc, old_path, 1, 1);
    return rc;
  }
  housekeeping::DeleteWithContinuations(temp);

  if (doc.type == kTypeRead || reopen_read_write) {
    if (reopen_read_write) {
      rc = OpenForWriting(doc, path, 1, 1);
    } else {
      doc.Close();
      rc = doc.OpenRead(path);
      if (rc == 0) rc = ReadFromFile(doc, 1, 1);
    }
    if (rc == 0 && datasets > 1) rc = doc.SetCurDataset(remembered, 1);
    if (rc != 0) return rc;
  }
  doc.SetModified(0);
  return 0;
}

}  // namespace tova::format
