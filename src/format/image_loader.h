// Loads the image of one dataset of a read or read-write document from its
// part files into the document's one image section.
#pragma once

#include <cstdint>

namespace tova {
class CTOVAFile;
}

namespace tova::format {

// 0, 50 (index beyond the image index), 3 (no memory), 10 (a part cannot be
// opened), 11 (a part ends early) or the parse result (30, 32).
int32_t LoadImage(CTOVAFile& doc, uint32_t index);

}  // namespace tova::format
