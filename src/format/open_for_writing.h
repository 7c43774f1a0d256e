// Opening a file for writing (a write document) or for reading and writing (a
// read-write document), either as a new document or appending to the one
// that is there.
#pragma once

#include <string>

#include "format/part_writer.h"
#include "model/progress.h"
#include "model/result.h"
#include "model/tova_file.h"

namespace tova::format {

enum class WriteStart {
  kNew,     // any document at the path goes, with its continuation files
  kAppend,  // datasets are added after those the file holds
};

// kOk, or kNoFile, kCancelled, kRead, kOpen, kDelete, kDataset,
// kAppendExtension; on failure the document is closed. Appending to a file
// reads it first (a read-write document keeps every dataset, reporting to
// progress; a write document keeps the first, enough for the compatibility
// check). The datasets then continue exactly where the reader's scan ended:
// a tail it ignores is cut off, and a document with continuation files
// beyond that point, or with more data headers than images or the other way
// round, is refused untouched.
Code OpenForWriting(CTOVAFile& doc, const std::u16string& path, WriteStart start, Access access,
                    Progress& progress);

}  // namespace tova::format
