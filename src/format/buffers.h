// Dataset buffers: the current dataset serialised into caller memory, and
// caller memory read back into a document.
#pragma once

#include <cstdint>

#include "model/result.h"
#include "model/tova_file.h"

namespace tova::format {

// Byte count of the current dataset in full form; 0 when it has no data
// header or image section. Call under the document lock.
uint32_t BufferSize(CTOVAFile& doc);

// TOVADLL_WRITE_TO_BUFFER_EX: kOk, kBufferTooSmall or kDataset. Takes the document lock itself,
// once to size the dataset and once to write it.
Code WriteToBuffer(CTOVAFile& doc, uint8_t* buffer, uint32_t capacity, uint32_t& written,
                      uint32_t& image_offset, uint32_t& image_size);

// TOVADLL_READ_FROM_BUFFER_EX: merges the sections of the buffer into the
// document and reports the scan's code as it is; call under the document
// lock.
Code ReadFromBuffer(CTOVAFile& doc, const uint8_t* buffer, uint32_t size, uint32_t& image_offset,
                       uint32_t& image_size);

}  // namespace tova::format
