// Opening for writing: a new document, or appending to the file that is
// there at the place where its readable datasets end.
#include "format/open_for_writing.h"

#include "format/file_reader.h"
#include "format/part_files.h"
#include "model/document_files.h"
#include "platform/file_services.h"

namespace tova::format {

namespace {

// Where appending goes on in an existing document.
struct AppendPoint {
  uint16_t part = 0;
  uint64_t end = 0;  // bytes of that part that are kept
};

// Reads the existing document into doc and finds where its datasets end.
Code ReadForAppend(CTOVAFile& doc, const std::u16string& path, Access access, Progress& progress,
                   AppendPoint& point) {
  TRY(doc.OpenRead(path));
  RETURN_IF(!platform::FileHasExtension(path, u"tova"), Code::kAppendExtension);
  AttachFiles(doc, path);
  const bool read_write = access == Access::kReadWrite;
  ScanEnd end;
  TRY(ReadFile(doc, read_write ? ReadScope::kAll : ReadScope::kAllKeepFirst, read_write ? progress : NoProgress(),
               &end));
  // A dataset appended after an unpaired section would take its partner.
  RETURN_IF(end.data_headers != end.images, Code::kRead);
  // Parts beyond the one the scan ended in are never read: data appended
  // after them would be lost.
  for (const ContinuationFile& part : FindContinuationFiles(path))
    RETURN_IF(part.number > end.part, Code::kOpen);
  RETURN_IF(platform::FileExists(PartFileName(path, end.part + 1u)), Code::kOpen);
  point.part = end.part;
  point.end = end.offset;
  return Code::kOk;
}

Code OpenParts(CTOVAFile& doc, const std::u16string& path, WriteStart start, Access access,
               Progress& progress) {
  PartWriter::Create create = PartWriter::Create::kKeep;
  bool appended_to_existing = false;
  bool read_existing = false;  // the end of the existing datasets is known
  AppendPoint point;
  if (start == WriteStart::kNew) {
    // Continuation files go also when the main file is missing: left behind,
    // the next append-open would find them and refuse.
    RETURN_IF(!DeleteWithContinuations(path), Code::kDelete);
    create = PartWriter::Create::kTruncate;
  } else if (platform::FileExists(path)) {
    appended_to_existing = true;
    if (platform::FileSize32(path) != 0) {
      TRY(ReadForAppend(doc, path, access, progress, point));
      read_existing = true;
    }
  }
  PartFiles* files = FilesOf(doc);
  if (!files) files = &AttachFiles(doc, path);
  PartWriter& writer = files->StartWriting(access);
  // Only a file that was read is cut back to its datasets' end: one that
  // merely seemed empty keeps every byte.
  TRY(writer.Open(point.part, create, read_existing ? &point.end : nullptr));
  doc.path = path;
  doc.type = access == Access::kReadWrite ? DocumentType::kReadWrite : DocumentType::kWrite;
  if (access == Access::kReadWrite && appended_to_existing) TRY(doc.SetCurDataset(0, ImageLoad::kLoad));
  return Code::kOk;
}

}  // namespace

Code OpenForWriting(CTOVAFile& doc, const std::u16string& path, WriteStart start, Access access,
                    Progress& progress) {
  doc.Close();
  doc.CreateFirstDatasetSections();
  const Code rc = OpenParts(doc, path, start, access, progress);
  if (Failed(rc)) doc.Close();
  return rc;
}

}  // namespace tova::format
