// The part reader: part numbers end at 999.
#include <gtest/gtest.h>

#include "format/part_reader.h"
#include "support/documents.h"

namespace tova::testing {
namespace {

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
