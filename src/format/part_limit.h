// The part file size limit: no part file of a document grows beyond it.
// Tests lower it through the seam, so that every cut position can be tried on
// files of a few bytes.
#pragma once

#include <cstdint>

namespace tova::format {

inline constexpr uint32_t kPartSizeLimit = 0x7FFFFFFF;  // 2,147,483,647 bytes

uint32_t PartSizeLimit();
// 0 restores the real limit.
void SetPartSizeLimitForTesting(uint32_t limit);

}  // namespace tova::format
