// Result codes inside the library: one enum that mirrors the public codes of
// HOLMDAQTova.h value for value, so that a code crosses the interface by a
// plain conversion and no number is written twice. Operations that can fail
// in several ways return Code; those that only succeed or fail return bool.
#pragma once

#include <cstdint>

#include "HOLMDAQTova.h"

namespace tova {

enum class [[nodiscard]] Code : int32_t {
  kOk = TOVA_OK,
  kHandle = TOVA_ERR_HANDLE,
  kNoFile = TOVA_ERR_NO_FILE,
  kNoMemory = TOVA_ERR_NO_MEMORY,
  kWriteIncomplete = TOVA_ERR_WRITE_INCOMPLETE,
  kFileWrite = TOVA_ERR_FILE_WRITE,
  kDocumentType = TOVA_ERR_DOCUMENT_TYPE,
  kCancelled = TOVA_ERR_CANCELLED,
  kRead = TOVA_ERR_READ,
  kOpen = TOVA_ERR_OPEN,
  kShort = TOVA_ERR_SHORT,
  kNullPointer = TOVA_ERR_NULL_POINTER,
  kBufferTooSmall = TOVA_ERR_BUFFER_TOO_SMALL,
  kDelete = TOVA_ERR_DELETE,
  kRename = TOVA_ERR_RENAME,
  kFileSize = TOVA_ERR_FILE_SIZE,
  kSectionId = TOVA_ERR_SECTION_ID,
  kNoSection = TOVA_ERR_NO_SECTION,
  kSectionShort = TOVA_ERR_SECTION_SHORT,
  kStore = TOVA_ERR_STORE,
  kEntryIndex = TOVA_ERR_ENTRY_INDEX,
  kRecord = TOVA_ERR_RECORD,
  kNoEntry = TOVA_ERR_NO_ENTRY,
  kExtension = TOVA_ERR_EXTENSION,
  kDataset = TOVA_ERR_DATASET,
  kTooFewDatasets = TOVA_ERR_TOO_FEW_DATASETS,
  kMismatchDevice = TOVA_ERR_MISMATCH_DEVICE,
  kMismatchRange = TOVA_ERR_MISMATCH_RANGE,
  kMismatchSize = TOVA_ERR_MISMATCH_SIZE,
  kNotLockOwner = TOVA_ERR_NOT_LOCK_OWNER,
  kAppendExtension = TOVA_ERR_APPEND_EXTENSION,
  kTextHandle = TOVA_ERR_TEXT_HANDLE,
};

// The public value of a code.
constexpr int32_t ToInt(Code code) { return static_cast<int32_t>(code); }

constexpr bool Failed(Code code) { return code != Code::kOk; }

}  // namespace tova

// Leaves the calling function with `code` when `cond` holds.
#define RETURN_IF(cond, code) \
  do {                        \
    if (cond) return (code);  \
  } while (0)

// Evaluates an expression that yields a Code and leaves the calling function
// with it unless it is kOk.
#define TRY(expr)                                                  \
  do {                                                             \
    if (const ::tova::Code tova_try_code_ = (expr); ::tova::Failed(tova_try_code_)) return tova_try_code_; \
  } while (0)
