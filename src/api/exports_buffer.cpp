// Exports of dataset buffers.
#include "api/export_frame.h"
#include "format/buffers.h"

using tova::Code;
using tova::CTOVAFile;
using namespace tova::api;

extern "C" {

int32_t TOVADLL_GET_BUFFERSIZE(uint64_t h, uint32_t* size) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!size) return Code::kNullPointer;
    *size = tova::format::BufferSize(d);
    return Code::kOk;
  });
}

int32_t TOVADLL_WRITE_TO_BUFFER_EX(uint64_t h, void* buffer, uint32_t bufferSize, uint32_t* written,
                                   uint32_t* imageOffset, uint32_t* imageSize) {
  // The operation takes the document lock itself, twice.
  return WithDocument(h, DocLock::kNone, [&](CTOVAFile& d) {
    if (!written || !imageOffset || !imageSize || (bufferSize > 0 && !buffer)) return Code::kNullPointer;
    return tova::format::WriteToBuffer(d, static_cast<uint8_t*>(buffer), bufferSize, *written, *imageOffset,
                                       *imageSize);
  });
}

int32_t TOVADLL_WRITE_TO_BUFFER(uint64_t h, void* buffer, uint32_t bufferSize, uint32_t* written) {
  return WithDocument(h, DocLock::kNone, [&](CTOVAFile& d) {
    if (!written || (bufferSize > 0 && !buffer)) return Code::kNullPointer;
    uint32_t offset = 0, size = 0;
    return tova::format::WriteToBuffer(d, static_cast<uint8_t*>(buffer), bufferSize, *written, offset, size);
  });
}

int32_t TOVADLL_READ_FROM_BUFFER_EX(uint64_t h, const void* buffer, uint32_t bufferSize, uint32_t* imageOffset,
                                    uint32_t* imageSize) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!imageOffset || !imageSize || (bufferSize > 0 && !buffer)) return Code::kNullPointer;
    return tova::format::ReadFromBuffer(d, static_cast<const uint8_t*>(buffer), bufferSize, *imageOffset,
                                        *imageSize);
  });
}

int32_t TOVADLL_READ_FROM_BUFFER(uint64_t h, const void* buffer, uint32_t bufferSize) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (bufferSize > 0 && !buffer) return Code::kNullPointer;
    uint32_t offset = 0, size = 0;
    return tova::format::ReadFromBuffer(d, static_cast<const uint8_t*>(buffer), bufferSize, offset, size);
  });
}

}  // extern "C"
