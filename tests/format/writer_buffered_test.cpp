// The buffered append: the bytes that appending to a file would write, handed
// to the caller one dataset at a time, so that writing the buffers one after
// another makes the very same file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/writer_test_support.h"

namespace tova::writer_test {
namespace {

using testing::ReadFileBytes;
using testing::TempTree;

TEST(WriterBuffered, SuccessiveBuffersMakeTheFileThatAppendingWrites) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  const std::vector<uint16_t> values = {1, 2, 3, 4};
  ASSERT_EQ(WriteDocument(path, values, 40), 0);

  const uint64_t b = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  ASSERT_NE(b, TOVADLL_INVALID_HANDLE);
  Closer cb(b);
  std::vector<uint8_t> file;
  for (uint16_t v : values) {
    const uint64_t s = MakeSource(v, 40);
    Closer cs(s);
    uint32_t needed = 0;
    ASSERT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, nullptr, 0, &needed), TOVA_ERR_WRITE_INCOMPLETE);
    std::vector<uint8_t> buffer(needed + 16, 0xEE);
    uint32_t written = 0;
    ASSERT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), static_cast<uint32_t>(buffer.size()), &written),
              0);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(buffer[written], 0xEE);  // nothing beyond the dataset
    file.insert(file.end(), buffer.begin(), buffer.begin() + written);
  }
  EXPECT_EQ(file, ReadFileBytes(path));
  // The target keeps no image: it is only the reference of the checks.
  uint32_t size = 0;
  EXPECT_NE(TOVADLL_GET_ENTRY_DATASIZE(b, kIM, kImageData, &size), 0);
}

TEST(WriterBuffered, ABufferOneByteTooSmallTellsTheSizeNeeded) {
  const uint64_t b = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  Closer cb(b);
  const uint64_t s = MakeSource(1);
  Closer cs(s);
  uint32_t needed = 0;
  ASSERT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, nullptr, 0, &needed), TOVA_ERR_WRITE_INCOMPLETE);
  ASSERT_GT(needed, 18u);
  std::vector<uint8_t> buffer(needed - 1, 0xEE);
  uint32_t written = 0;
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), needed - 1, &written), TOVA_ERR_WRITE_INCOMPLETE);
  EXPECT_EQ(written, needed);
  EXPECT_EQ(buffer, std::vector<uint8_t>(needed - 1, 0xEE));
  // The refused call took nothing: the next one is still the first dataset.
  buffer.resize(needed);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), needed, &written), 0);
  EXPECT_EQ(written, needed);
}

TEST(WriterBuffered, ASourceOfTwoDatasetsIsRefused) {
  const uint64_t b = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  Closer cb(b);
  const uint64_t m = MakeMemoryDocument({1, 2});
  Closer cm(m);
  std::vector<uint8_t> buffer(4096);
  uint32_t written = 12345;
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, m, buffer.data(), 4096, &written), TOVA_ERR_MISMATCH_RANGE);
  EXPECT_EQ(written, 12345u);
}

TEST(WriterBuffered, HandlesAndTargetTypes) {
  const uint64_t b = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  Closer cb(b);
  const uint64_t s = MakeSource(1);
  Closer cs(s);
  std::vector<uint8_t> buffer(4096);
  uint32_t written = 0;
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, 0x7777777, buffer.data(), 4096, &written), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(0x7777777, s, buffer.data(), 4096, &written), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, TOVADLL_INVALID_HANDLE, buffer.data(), 4096, &written),
            TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_ADD_TOVA(b, 0x7777777, 0), TOVA_ERR_HANDLE);
  // Only a write-buffer document takes buffered appends.
  const uint64_t m = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
  Closer cm(m);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(m, s, buffer.data(), 4096, &written), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), 4096, nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, nullptr, 4096, &written), TOVA_ERR_NULL_POINTER);
}

}  // namespace
}  // namespace tova::writer_test
