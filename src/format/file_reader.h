// Reading TOVA files into a document: the read operation, the background scan
// that indexes the rest of a recording, and the cleanup of embedded documents
// that no window derivation refers to.
#pragma once

#include <cstdint>

namespace tova {
class CTOVAFile;
}

namespace tova::format {

// TOVADLL_READ_FROM_FILE: 0, 43, 8, 9, or the result of making dataset 0
// current (50, 3, 10, 11, 30, 32). Every failure leaves the datasets cleared.
int32_t ReadFromFile(CTOVAFile& doc, uint32_t read_all, uint32_t show_progress);

// The file reader: 0, 8 (cancelled; datasets cleared) or 9 (any failure).
int32_t ReadFile(CTOVAFile& doc, uint32_t read_all, uint32_t show_progress);

// TOVADLL_READ_FROM_FILE_AFTER_FIRST: scans the whole file again and adds
// every dataset after the first, taking the document lock around each single
// change; 0, 8 or 9. cancel may be null.
int32_t ReadAfterFirst(CTOVAFile& doc, const volatile uint8_t* cancel);

// Removes from every data header the embedded documents that the window
// derivation list of dataset 0 does not name.
void CleanupEmbeddedDocuments(CTOVAFile& doc);

}  // namespace tova::format
