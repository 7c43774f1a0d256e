#include <gtest/gtest.h>
#include "HOLMDAQTova.h"
TEST(Smoke, MemoryDocument) {
  uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 2, 0x100);
  ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(TOVADLL_CLOSE_FILE(h), 0);
}
