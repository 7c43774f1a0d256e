// Entry data renderings: golden texts as exact UTF-16 (one or two rows per family, short and overlong data), and a
// sweep showing, under AddressSanitizer, that no rendering reads beyond the entry's data.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog_test_support.h"

namespace tova {
namespace {

using catalog_test::Bytes;
using catalog_test::RenderEntry;

struct Golden {
  const char* label;
  uint16_t id;
  std::vector<uint8_t> data;
  std::u16string text;
};

void ExpectAll(const std::vector<Golden>& cases) {
  for (const Golden& c : cases) EXPECT_EQ(RenderEntry(c.id, c.data), c.text) << c.label;
}

Bytes B() { return Bytes(); }

TEST(Render, NumbersTextsBlocksAndNamedValues) {
  ExpectAll({
      {"sensor width", 0x0111, B().U16(640), u"640"},
      {"internal image number is 16 bits", 0x0286, B().U32(70000), u"4464"},
      {"pre-trigger frames", 0x025C, B().U16(10), u"10: "},
      {"isotherm count 0 is empty", 0x0269, B().U16(0), u""},
      {"ambient temperature", 0x0242, B().F32(21.5f), u"21.5 °C"},
      {"background colour", 0x0268, B().U32(0x00FF8040), u"FF8040"},
      {"IR/VIS placeholder without data", 0x025D, B(), u"...\r\n..."},
      {"image data", 0x0300, B().Zeros(100), u"<bin: 100 bytes>"},
      {"embedded visual image", 0x0603, B().Zeros(5000), u"<txt: 5000 bytes>"},
      {"outside the catalogue", 0x1234, B().U16(7), u"??"},
      {"origin with code-page characters", 0x0101, B().Text("Lab \xB0 \x80 \xE9", 9), u"Lab ° € é"},
      {"narrow text without NUL ends with the data", 0x0110, B().Text("CAMERA", 6), u"CAMERA"},
      {"device string UTF-16", 0x1110, B().U16(u'D').U16(0xE9).U16(0x20AC).U16(0).U16(u'x'), u"Dé€"},
      {"product name UTF-16, odd last byte", 0x1420, B().U16(u'A').U16(u'B').U8(u'C'), u"AB"},
      {"calibration string, narrow bytes (0x6174)", 0x1220, B().Text("table 256 U16", 14), u"table 256 U16"},
      {"calibration string, UTF-16 (0x0074)", 0x1220, B().U16(u't').U16(u'a').U16(0), u"ta"},
      {"calibration string, 0x00FF stays UTF-16", 0x1220, B().U16(0x00FF).U16(u'A'), u"\u00FFA"},
      {"calibration string, 0x0100 is narrow", 0x1220, B().U16(0x0100).U16(u'A'), u""},
      {"data unit", 0x0200, B().U16(2), u"2: S16"},
      {"usage IN1", 0x0184, B().U32(2), u"2: seuqence trigger"},
      {"usage IN1 unknown", 0x0184, B().U32(3), u"3: ??"},
      {"usage read as 32 bits", 0x0184, B().U16(2).U16(1), u"65538: ??"},
      {"sequence trigger unknown", 0x0249, B().U16(6), u"6: ??"},
  });
}

// The table entries: 6 + 256 lines, the value at offset 20 is TABLE[1], the one at offset 530 (U16) TABLE[256], then
// the command without a line end.
TEST(Render, CalibrationTablesOf256Values) {
  for (bool wide : {false, true}) {
    Bytes data = B().U16(3).U16(0xFFFF).F32(-20.0f).F32(120.0f).F32(-20.0f).F32(2.0f);
    std::u16string text =
        u"RANGE_NO: 3\rCAL_MIN_C: -20.0 °C\rCAL_MAX_C: 120.0 °C\rTABLE_START_C: -20.0 °C\rTABLE_STEP: 2 K\r";
    for (uint32_t i = 0; i < 256; ++i) {
      wide ? data.U32(70000 + i) : data.U16(static_cast<uint16_t>(1000 + i));
      const std::string line = "TABLE[" + std::to_string(i + 1) + "]: " + std::to_string((wide ? 70000 : 1000) + i);
      text.append(line.begin(), line.end()).push_back(u'\r');
    }
    data.U16(9).U16(0xFFFF);
    const std::u16string rendered = RenderEntry(wide ? 0x0212 : 0x0211, data);
    EXPECT_EQ(rendered, text + u"Command: 9");
    EXPECT_EQ(std::count(rendered.begin(), rendered.end(), u'\r'), 261) << "262 lines";
  }
}

TEST(Render, RecordLayoutsAndLists) {
  ExpectAll({
      {"time stamp 2021-04-06 08:07:05.004, a Tuesday", 0x0232,
       B().U16(2021).U16(4).U16(2).U16(6).U16(8).U16(7).U16(5).U16(4),
       u"Year: 2021\rMonth: 4\rDay: 6\rDayOfWeek: 2\rTime: 8:7:5.4"},
      {"limits, both lines end in CR", 0x0223, B().F32(-20.0f).F32(120.0f).F32(0.0f).F32(100.0f),
       u"CalcTempRange: -20.0...120.0 °C\rViewTempRange: 0.0...100.0 °C\r"},
      {"2D line, second point labelled X1/Y1", 0x025F, B().U16(1).U16(10).U16(20).U16(30).U16(40),
       u"Enable: 1\r\nX1/Y1: 10/20\r\nX1/Y1: 30/40"},
      {"auto range 1, unknown mode adds nothing", 0x0274, B().U16(9).U16(0).F32(2.5f).F32(1.5f).Zeros(4),
       u"Mode: 9 \r\nAveragePlus: 2.5 °C\r\nAverageMinus: 1.5 °C"},
      {"application zoom", 0x0278, B().I32(1).I32(-2).I32(3).I32(4).I32(5).I32(6),
       u"Int[1]: 1\r\nInt[2]: -2\r\nInt[3]: 3\r\nInt[4]: 4\r\nInt[5]: 5\r\nInt[6]: 6\r\n"},
      {"pyrometer values, incomplete record ignored", 0x0423,
       B().F32(0.95f).F32(25.0f).F32(300.5f).F32(1.0f).F32(26.0f).F32(-10.0f).U16(0xFFFF),
       u"[1] Eps: 0.95\r[1] InnerTempC: 25.0 °C\r[1] MeasTempC: 300.5 °C\r"
       u"[2] Eps: 1.00\r[2] InnerTempC: 26.0 °C\r[2] MeasTempC: -10.0 °C"},
      {"pyrometer infos", 0x0422,
       B().Text("Pyro \xB0", 16).Text("SN1234", 8).Text("ABCDEFGHIJKLMNOP", 16).Text("12345678", 8),
       u"[1] Name: Pyro °\r[1] SN: SN1234\r[2] Name: ABCDEFGHIJKLMNOP\r[2] SN: 12345678"},
      {"window derivation", 0x0600, B().U16(1).U16(2).U16(3).U16(0x0240).Zeros(32),
       u"[0] No: 1\r[0] Type: 2\r[0] SubType: 3\r[0] DHEntryID: 240"},
      {"byte values", 0x0427, B().U8(0).U8(1).U8(255), u"<byte: 3 values>\r[1] 0\r[2] 1\r[3] 255"},
      {"double values, 12 bytes hold one", 0x0426, B().F64(2.5).U32(7), u"<double: 1 values>\r[1] 2.50"},
      // A short fixed layout renders the pieces whose fields lie wholly inside the data and stops at the first that
      // does not; longer data renders the layout.
      {"time stamp without data", 0x0232, B(), u""},
      {"time stamp of 3 bytes", 0x0232, B().U16(2021).U8(4), u"Year: 2021\r"},
      {"no day: the day of week is left out too", 0x0232, B().U16(2021).U16(4).U16(2), u"Year: 2021\rMonth: 4\r"},
      {"a piece of several fields is whole or absent", 0x025F, B().U16(1).U16(10).U16(20).U16(30).U8(40), u""},
      {"table cut inside its values", 0x0211,
       B().U16(1).U16(0).F32(0.0f).F32(1.0f).F32(2.0f).F32(3.0f).U16(11).U16(12).U8(13),
       u"RANGE_NO: 1\rCAL_MIN_C: 0.0 °C\rCAL_MAX_C: 1.0 °C\rTABLE_START_C: 2.0 °C\rTABLE_STEP: 3 K\r"
       u"TABLE[1]: 11\rTABLE[2]: 12\r"},
      {"auto range, last margin missing", 0x0274, B().U16(2).U16(0).F32(1.0f), u"Mode: 2 max\r\nAveragePlus: 1.0 °C"},
      {"sensor width with trailing bytes", 0x0111, B().U16(640).U16(480), u"640"},
  });
}

// Every catalogue identifier, every data length from 0 to one past its layout (at least 40 bytes), with several
// fillings. The entry holds an exact-size heap copy of the data, so that any read beyond it is reported.
TEST(Render, EveryIdentifierEveryLengthStaysInsideTheData) {
  const uint8_t fills[] = {0xFF, 0x00, 0x41, 0xB0};
  for (const catalog::CatalogRow& row : catalog::Rows()) {
    const catalog::Rendering& r = row.rendering;
    const uint32_t extent = std::max<uint32_t>(r.record_size ? 3u * r.record_size : catalog::LayoutExtent(r), 40);
    // The long calibration tables get one filling: their cost grows with the square of their length.
    const int patterns = extent > 64 ? 1 : 5;
    for (uint32_t length = 0; length <= extent + 1; ++length) {
      for (int pattern = 0; pattern < patterns; ++pattern) {
        std::vector<uint8_t> data(length);
        for (uint32_t i = 0; i < length; ++i)
          data[i] = pattern == patterns - 1 ? static_cast<uint8_t>(i * 37 + 11) : fills[pattern];
        const std::u16string text = catalog_test::RenderEntry(row.id, data);
        if (length == 0 && !r.special && !r.record_size && catalog::FieldWidth(r.pieces[0].fields[0]) > 0)
          EXPECT_TRUE(text.empty()) << row.name << ": no field fits in no data";
      }
    }
  }
}

}  // namespace
}  // namespace tova
