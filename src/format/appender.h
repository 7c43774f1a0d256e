// Writing TOVA data: opening a file for writing or for reading and writing,
// the compatibility check, appending datasets to files, memory documents and
// caller buffers, and the safe save through a temporary file.
#pragma once

#include <cstdint>
#include <string>

namespace tova {
class CTOVAFile;
}

namespace tova::format {

// Opens path for writing (read_write 0: a write document) or for reading and
// writing (1: a read-write document), new or appending. 0 or a code (2, 8, 9,
// 10, 14, 50, 2043); on failure the document is closed. A read-write document
// reads an existing file with the progress dialog unless show_progress is 0
// (the save passes the caller's dialog setting on).
int32_t OpenForWriting(CTOVAFile& doc, const std::u16string& path, uint32_t append, uint32_t read_write,
                       uint32_t show_progress = 1);

// Whether the current dataset of source may join target: 0, 60, 61, 62 or the
// code of a failed read (13, 22, 33).
int32_t CheckCompatibility(CTOVAFile& target, CTOVAFile& source);

// TOVADLL_ADD_TOVA: appends one (the current) or all datasets of source to
// target. Call with both document locks held, target's first.
int32_t AddTova(CTOVAFile& target, CTOVAFile& source, uint32_t all, uint32_t show_dialog);

// TOVADLL_ADD_TOVA_BUFFERED_WRITE: the bytes that AddTova would append, into
// caller memory; written is set to the byte count before the size test.
int32_t AddTovaBufferedWrite(CTOVAFile& target, CTOVAFile& source, uint8_t* buffer, uint32_t capacity,
                             uint32_t& written);

// TOVADLL_SAVE_FILE: rewrites doc at path through the temporary file set
// path + "$$$"; the document at path is either the complete old or the
// complete new one whatever fails.
int32_t SaveFile(CTOVAFile& doc, const std::u16string& path, uint32_t show_dialog);

}  // namespace tova::format
