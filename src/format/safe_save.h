// The safe save: a document written whole into the temporary file set
// path + "$$$" and only then put in place of the document at path.
#pragma once

#include <string>

#include "model/progress.h"
#include "model/result.h"
#include "model/tova_file.h"

namespace tova::format {

// TOVADLL_SAVE_FILE: whatever fails, the path holds either the complete old
// or the complete new document. progress reports the copy and the re-read.
Code SaveFile(CTOVAFile& doc, const std::u16string& path, Progress& progress);

}  // namespace tova::format
