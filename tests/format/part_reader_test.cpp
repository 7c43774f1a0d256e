// The part reader's view of a chain of part files: the bytes that can still
// come, where the next byte lies, and reads across parts.
#include <gtest/gtest.h>

#include "format/part_reader.h"
#include "support/documents.h"

namespace tova::testing {
namespace {

TEST(PartReader, RemainingBytesCountTheContinuationFilesThatExist) {
  TempTree dir;
  const std::u16string path = dir.Path(u"p.tova");
  ASSERT_TRUE(WriteParts(path, Bytes(25, 0x5A), {10, 20}));
  PartLimit limit(10);
  {
    format::PartReader reader(path);
    ASSERT_EQ(reader.Open(0, 4), Code::kOk);
    EXPECT_EQ(reader.BytesRemaining(), 21u);
    uint8_t buf[16];
    uint16_t part = 9;
    uint32_t offset = 0;
    ASSERT_EQ(reader.ReadExact(buf, 6), Code::kOk);  // to the end of the main file
    reader.Where(part, offset);
    EXPECT_EQ(std::make_pair(part, offset), std::make_pair(uint16_t{0}, 10u));  // not yet in the next part
    EXPECT_FALSE(reader.AtEnd());  // the part is full and 001 exists
    ASSERT_EQ(reader.ReadExact(buf, 12), Code::kOk);  // across 001 into 002
    reader.Where(part, offset);
    EXPECT_EQ(std::make_pair(part, offset), std::make_pair(uint16_t{2}, 2u));
    EXPECT_EQ(reader.BytesRemaining(), 3u);
    EXPECT_EQ(reader.ReadExact(buf, 4), Code::kShort);
  }  // the parts are released before they are written again
  ASSERT_TRUE(WriteParts(path, Bytes(10, 1), {}));
  format::PartReader alone(path);
  ASSERT_EQ(alone.Open(0, 9), Code::kOk);
  EXPECT_EQ(alone.BytesRemaining(), 1u);
  EXPECT_TRUE(alone.AtEnd());
  EXPECT_EQ(format::PartReader(path).Open(3, 0), Code::kOpen);
}

// Part numbers end at 999: a part 1000 is neither counted nor read.
TEST(PartReader, PartNumbersEndAt999) {
  TempTree dir;
  const std::u16string path = dir.Path(u"n.tova");
  PartLimit limit(1);
  ASSERT_TRUE(WriteParts(path, Bytes(1001, 7), CutsEvery(1, 1001)));  // parts 0 to 1000
  format::PartReader reader(path);
  ASSERT_EQ(reader.Open(0, 0), Code::kOk);
  EXPECT_EQ(reader.BytesRemaining(), 1000u);
  Bytes buf(1000);
  EXPECT_EQ(reader.ReadExact(buf.data(), 1000), Code::kOk);
  EXPECT_EQ(reader.ReadExact(buf.data(), 1), Code::kShort);
}

}  // namespace
}  // namespace tova::testing
