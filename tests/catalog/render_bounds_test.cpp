// Short and odd data: a rendering reads nothing beyond the entry's data. A
// short fixed layout renders the pieces whose fields lie wholly inside the
// data and stops at the first that does not; texts end at their terminator or
// at the end of the data. Run under AddressSanitizer, the sweep below turns
// any read past the data into a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "catalog/catalog.h"
#include "catalog_test_support.h"

namespace tova {
namespace {

using catalog_test::Bytes;
using catalog_test::RenderEntry;

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& data, size_t n) {
  return std::vector<uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(RenderShortData, FixedLayoutsStopAtTheFirstPieceThatDoesNotFit) {
  const std::vector<uint8_t> stamp = Bytes().U16(2021).U16(4).U16(2).U16(6).U16(8).U16(7).U16(5).U16(4);
  EXPECT_TEXT(RenderEntry(0x0232, {}), u"");
  EXPECT_TEXT(RenderEntry(0x0232, Prefix(stamp, 3)), u"Year: 2021\r");
  // The day (offset 6) does not fit: the day of week, which would, is left out too.
  EXPECT_TEXT(RenderEntry(0x0232, Prefix(stamp, 6)), u"Year: 2021\rMonth: 4\r");
  EXPECT_TEXT(RenderEntry(0x0232, Prefix(stamp, 15)), u"Year: 2021\rMonth: 4\rDay: 6\rDayOfWeek: 2\r");

  // A piece with several fields is produced whole or not at all.
  const std::vector<uint8_t> line = Bytes().U16(1).U16(10).U16(20).U16(30).U16(40);
  EXPECT_TEXT(RenderEntry(0x025F, Prefix(line, 9)), u"");

  // The table stops inside its repeated values.
  const std::vector<uint8_t> table =
      Bytes().U16(1).U16(0).F32(0.0f).F32(1.0f).F32(2.0f).F32(3.0f).U16(11).U16(12).U16(13);
  EXPECT_TEXT(RenderEntry(0x0211, Prefix(table, 25)),
              u"RANGE_NO: 1\rCAL_MIN_C: 0.0 °C\rCAL_MAX_C: 1.0 °C\rTABLE_START_C: 2.0 °C\rTABLE_STEP: 3 K\r"
              u"TABLE[1]: 11\rTABLE[2]: 12\r");

  EXPECT_TEXT(RenderEntry(0x0111, Bytes().U8(5)), u"");
  EXPECT_TEXT(RenderEntry(0x0200, {}), u"");
  EXPECT_TEXT(RenderEntry(0x0184, Bytes().U16(2)), u"");
  EXPECT_TEXT(RenderEntry(0x0274, Bytes().U16(2).U16(0).F32(1.0f)), u"Mode: 2 max\r\nAveragePlus: 1.0 °C");
}

TEST(RenderShortData, LongerDataRendersTheLayoutOnly) {
  EXPECT_TEXT(RenderEntry(0x0111, Bytes().U16(640).U16(480)), u"640");
  EXPECT_TEXT(RenderEntry(0x0277, Bytes().F32(1.0f).F32(2.0f).Zeros(100)), u"Minimum: 1.00\rMaximum: 2.00");
}

// Every catalogue identifier, every data length from 0 to one past its
// layout, with several fillings. The entry holds an exact-size heap copy of
// the data, so that AddressSanitizer reports any read beyond it.
TEST(RenderShortData, EveryIdentifierEveryLengthStaysInsideTheData) {
  const uint8_t fills[] = {0xFF, 0x00, 0x41, 0xB0};
  for (const catalog::CatalogRow& row : catalog::Rows()) {
    const catalog::Rendering& r = row.rendering;
    uint32_t extent = r.record_size ? 3u * r.record_size : catalog::LayoutExtent(r);
    extent = std::max<uint32_t>(extent, 40);
    // The long calibration tables get one filling: their cost grows with the
    // square of their length.
    const int patterns = extent > 64 ? 1 : 5;
    for (uint32_t length = 0; length <= extent + 1; ++length) {
      for (int pattern = 0; pattern < patterns; ++pattern) {
        std::vector<uint8_t> data(length);
        for (uint32_t i = 0; i < length; ++i)
          data[i] = pattern == patterns - 1 ? static_cast<uint8_t>(i * 37 + 11) : fills[pattern];
        CTOVAEntry entry;
        ASSERT_EQ(entry.SetData(row.id, length, length ? data.data() : nullptr), 1);
        std::u16string text;
        entry.GetDataString(text);
        if (length == 0 && !r.special && !r.record_size && r.pieces[0].fields[0].type != catalog::FieldType::kNone &&
              catalog::FieldWidth(r.pieces[0].fields[0]) > 0) {
          EXPECT_TRUE(text.empty()) << row.name << ": no field fits in no data";
        }
      }
    }
  }
}

TEST(RenderShortData, EveryIdentifierOutsideTheCatalogueIsQuestionMarks) {
  const std::vector<uint8_t> data(64, 0);
  for (uint32_t id = 0; id <= 0xFFFF; ++id) {
    const bool known = catalog::FindRow(static_cast<uint16_t>(id)) != nullptr;
    CTOVAEntry entry;
    entry.SetData(static_cast<uint16_t>(id), static_cast<uint32_t>(data.size()), data.data());
    std::u16string text;
    entry.GetDataString(text);
    if (known)
      EXPECT_NE(text, u"??") << std::hex << id;
    else
      ASSERT_EQ(text, u"??") << std::hex << id;
  }
}

}  // namespace
}  // namespace tova
