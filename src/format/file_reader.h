// Reading TOVA files into a document: the read operation, the background scan
// that indexes the rest of a recording, and the cleanup of embedded documents
// that no window derivation refers to.
#pragma once

#include <cstdint>

#include "model/progress.h"
#include "model/result.h"
#include "model/tova_file.h"

namespace tova::format {

// How much of a file a read takes into the document.
enum class ReadScope {
  kFirstDataset,  // stops once the first dataset's three sections were met
  kAll,           // every dataset
  // Scans every dataset (so that a damaged one fails the read) but keeps only
  // the first: what an append-open of a write document needs.
  kAllKeepFirst,
};

// Where a completed scan of the whole file ended, and what it met.
struct ScanEnd {
  uint16_t part = 0;     // the part the scan ended in
  uint32_t offset = 0;   // the position in it after the last whole section
  uint32_t data_headers = 0;
  uint32_t images = 0;
};

// TOVADLL_READ_FROM_FILE: kOk, kExtension, kCancelled, kRead, or the result
// of making dataset 0 current. Every failure leaves the datasets cleared.
Code ReadFromFile(CTOVAFile& doc, ReadScope scope, Progress& progress);

// The file reader: kOk, kCancelled (datasets cleared) or kRead (any
// failure). end, when given, receives where a scan of the whole file ended.
Code ReadFile(CTOVAFile& doc, ReadScope scope, Progress& progress, ScanEnd* end = nullptr);

// TOVADLL_READ_FROM_FILE_AFTER_FIRST: scans the whole file again and adds
// every dataset after the first, taking the document lock around each single
// change; kOk, kCancelled or kRead. cancel may be null.
Code ReadAfterFirst(CTOVAFile& doc, const volatile uint8_t* cancel);

// Removes from every data header the embedded documents that the window
// derivation list of dataset 0 does not name.
void CleanupEmbeddedDocuments(CTOVAFile& doc);

}  // namespace tova::format
