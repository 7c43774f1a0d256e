// Appending datasets of one document to another: to a write or read-write
// document's files, to a memory document, or into caller memory.
#pragma once

#include <cstdint>

#include "model/progress.h"
#include "model/result.h"
#include "model/tova_file.h"

namespace tova::format {

// Which datasets of the source go over.
enum class AddScope { kCurrent, kAll };

// TOVADLL_ADD_TOVA: appends the current or all datasets of source to target;
// several datasets are reported to progress ("Adding"). Call with both
// document locks held, target's first.
Code AddTova(CTOVAFile& target, CTOVAFile& source, AddScope scope, Progress& progress);

// TOVADLL_ADD_TOVA_BUFFERED_WRITE: the bytes that AddTova would append, into
// caller memory; written is set to the byte count before the size test.
Code AddTovaBufferedWrite(CTOVAFile& target, CTOVAFile& source, uint8_t* buffer, uint32_t capacity,
                          uint32_t& written);

}  // namespace tova::format
