// A first round trip: memory document -> file -> read document.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"

TEST(FormatSmoke, MemoryToFileAndBack) {
  const std::string path = ::testing::TempDir() + "smoke_rt.tova";
  std::remove(path.c_str());
  uint64_t mem = TOVADLL_OPEN_FILE_MEM(0, 0, 0x100);
  ASSERT_NE(mem, TOVADLL_INVALID_HANDLE);
  const char dev[] = "CAM-ID: 7";
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF01, 0x0110, sizeof dev, dev), 0);
  uint16_t v = 4;
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF01, 0x0111, 2, &v), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF01, 0x0112, 2, &v), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF02, 0x0201, 2, &v), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF02, 0x0202, 2, &v), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF02, 0x0244, 2, &v), 0);
  std::vector<uint16_t> pixels(16, 300);
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF10, 0x0300, 32, pixels.data()), 0);
  uint64_t w = TOVADLL_OPEN_FILE_WRITE(path.c_str(), 0);
  ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
  for (int i = 0; i < 3; ++i) {
    pixels[0] = static_cast<uint16_t>(i);
    ASSERT_EQ(TOVADLL_SET_ENTRY(mem, 0xFF10, 0x0300, 32, pixels.data()), 0);
    ASSERT_EQ(TOVADLL_ADD_TOVA(w, mem, 0), 0) << i;
  }
  ASSERT_EQ(TOVADLL_CLOSE_FILE(w), 0);
  uint64_t r = TOVADLL_OPEN_FILE_READ(path.c_str());
  ASSERT_NE(r, TOVADLL_INVALID_HANDLE);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), 0);
  uint32_t n = 0;
  ASSERT_EQ(TOVADLL_GET_NUMDATASETS(r, &n), 0);
  EXPECT_EQ(n, 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(TOVADLL_SET_CURDATASET(r, i), 0);
    uint16_t got[16] = {};
    uint32_t copied = 0;
    ASSERT_EQ(TOVADLL_COPY_ENTRY_DATA(r, 0xFF10, 0x0300, sizeof got, got, &copied), 0);
    EXPECT_EQ(got[0], i);
    EXPECT_EQ(got[1], 300);
  }
  TOVADLL_CLOSE_FILE(r);
  TOVADLL_CLOSE_FILE(mem);
  std::remove(path.c_str());
}
