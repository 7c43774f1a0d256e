// The identifier catalogue and its texts: names, the header's constants, entry data renderings (one
// golden row per mechanism; a sweep for reads beyond the data under ASan), entry strings and the text exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "catalog/catalog.h"
#include "catalog/strings.h"
#include "model/tova_file.h"
#include "support/test_files.h"

namespace tova {
namespace {

using catalog::EntryName;

class Bytes {  // little-endian entry data
 public:
  Bytes& U8(uint8_t v) { return Put(v, 1); }
  Bytes& U16(uint16_t v) { return Put(v, 2); }
  Bytes& U32(uint32_t v) { return Put(v, 4); }
  Bytes& I32(int32_t v) { return Put(static_cast<uint32_t>(v), 4); }
  Bytes& F32(float v) { uint32_t b; std::memcpy(&b, &v, 4); return Put(b, 4); }
  Bytes& F64(double v) { uint64_t b; std::memcpy(&b, &v, 8); return Put(b, 8); }
  // The text's bytes, padded with NUL to width (no terminator when it fills it).
  Bytes& Text(const char* text, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes_.push_back(i < std::strlen(text) ? static_cast<uint8_t>(text[i]) : 0);
    return *this;
  }
  Bytes& Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); return *this; }
  operator std::vector<uint8_t>() const { return bytes_; }
  const uint8_t* data() const { return bytes_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }

 private:
  Bytes& Put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<uint8_t> bytes_;
};
Bytes B() { return Bytes(); }

// The text of an entry holding an exact-size heap copy of these bytes (none: an entry without data).
std::u16string RenderEntry(uint16_t id, const std::vector<uint8_t>& bytes) {
  CTOVAEntry entry;
  EXPECT_TRUE(entry.SetData(id, static_cast<uint32_t>(bytes.size()), bytes.empty() ? nullptr : bytes.data(), false));
  return catalog::DataString(entry);
}

// Every identifier constant of the public header (read from the header itself) names the catalogue row of its value,
// the header names every catalogue identifier (168 of them), and every other identifier is named, and renders, "??".
TEST(Catalog, HeaderConstantsAgreeWithTheTable) {
  const std::string file = __FILE__;
  std::ifstream header(file.substr(0, file.rfind("tests")) + "include/HOLMDAQTova.h");
#ifdef _WIN32
  if (!header) GTEST_SKIP() << "the public header is out of reach";
#endif
  ASSERT_TRUE(header) << file;
  const std::regex define(R"(#define\s+(TOVA_(GH|DH|IM)_\w+)\s+0x([0-9A-Fa-f]+))");
  std::set<unsigned> values;
  std::smatch m;
  for (std::string line; std::getline(header, line);) {
    if (!std::regex_search(line, m, define)) continue;
    const auto value = static_cast<uint16_t>(std::stoul(m[3], nullptr, 16));
    EXPECT_EQ(testing::NarrowPath(EntryName(value)), m[1].str());
    values.insert(value);
  }
  EXPECT_EQ(values.size(), 168u);
  const std::vector<uint8_t> zeros(64, 0);
  for (uint32_t i = 0; i <= 0xFFFF; ++i) {
    const auto id = static_cast<uint16_t>(i);
    if (catalog::FindRow(id))
      EXPECT_EQ(values.count(id), 1u) << std::hex << id;
    else
      ASSERT_TRUE(EntryName(id) == u"??" && RenderEntry(id, zeros) == u"??") << std::hex << id;
  }
}

TEST(Render, OneRowPerMechanism) {
  const struct {
    const char* label;
    uint16_t id;
    std::vector<uint8_t> data;
    std::u16string text;
  } cases[] = {
      {"sensor width, trailing bytes", 0x0111, B().U16(640).U16(480), u"640"},
      {"image data", 0x0300, B().Zeros(100), u"<bin: 100 bytes>"},
      {"origin with code-page characters, no NUL", 0x0101, B().Text("Lab \xB0 \x80 \xE9", 9), u"Lab ° € é"},
      {"device string UTF-16, odd last byte", 0x1110, B().U16(u'D').U16(0xE9).U16(0x20AC).U8(u'x'), u"Dé€"},
      {"device string UTF-16, even, no NUL", 0x1110, B().U16(u'D').U16(u'e'), u"De"},
      {"calibration string, 0x00FF stays UTF-16", 0x1220, B().U16(0x00FF).U16(u'A').U16(0).U16(u'x'), u"\u00FFA"},
      {"calibration string, 0x0100 is narrow", 0x1220, B().U16(0x0100).U16(u'A'), u""},
      {"data unit", 0x0200, B().U16(2), u"2: S16"},
      {"usage read as 32 bits, unknown", 0x0184, B().U16(2).U16(1), u"65538: ??"},
      {"time stamp 2021-04-06 08:07:05.004, a Tuesday", 0x0232,
       B().U16(2021).U16(4).U16(2).U16(6).U16(8).U16(7).U16(5).U16(4),
       u"Year: 2021\rMonth: 4\rDay: 6\rDayOfWeek: 2\rTime: 8:7:5.4"},
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
      {"calibration table cut inside its values", 0x0212,
       B().U16(1).U16(0).F32(0.0f).F32(1.0f).F32(2.0f).F32(3.0f).U32(70000).U32(12).U16(13),
       u"RANGE_NO: 1\rCAL_MIN_C: 0.0 °C\rCAL_MAX_C: 1.0 °C\rTABLE_START_C: 2.0 °C\rTABLE_STEP: 3 K\r"
       u"TABLE[1]: 70000\rTABLE[2]: 12\r"},
      {"byte values", 0x0427, B().U8(0).U8(1).U8(255), u"<byte: 3 values>\r[1] 0\r[2] 1\r[3] 255"},
      {"double values, 12 bytes hold one", 0x0426, B().F64(2.5).U32(7), u"<double: 1 values>\r[1] 2.50"},
      // Short data renders the pieces whose fields lie wholly inside it, up to the first that does not.
      {"time stamp of 3 bytes", 0x0232, B().U16(2021).U8(4), u"Year: 2021\r"},
      {"a piece of several fields is whole or absent", 0x025F, B().U16(1).U16(10).U16(20).U16(30).U8(40), u""},
  };
  for (const auto& c : cases) EXPECT_EQ(RenderEntry(c.id, c.data), c.text) << c.label;
}

// Every catalogue identifier, every data length from 0 to one past its layout (at least 40 bytes), several fillings.
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
        const std::u16string text = RenderEntry(row.id, data);
        if (length == 0 && !r.special && !r.record_size && catalog::FieldWidth(r.pieces[0].fields[0]) > 0)
          EXPECT_TRUE(text.empty()) << row.name << ": no field fits in no data";
      }
    }
  }
}

// A memory document: dataset 0 holds the data unit (2) and the calibration version (10) that the open stores.
class TextExports : public ::testing::Test {
 protected:
  void TearDown() override { TOVADLL_CLOSE_FILE(h_); }
  std::shared_ptr<CTOVAFile> Doc() { return api::TheRegistry().Find(h_); }

  // Each export called on a string holding "junk": the code and the string after the call.
  using R = std::pair<int32_t, std::u16string>;
  R Section(uint16_t s) { TOVA_WSTRING t = Junk(); return {TOVADLL_COPY_SECTION_STRING(h_, s, t), U16(t)}; }
  R Entry(uint16_t s, uint32_t i) { TOVA_WSTRING t = Junk(); return {TOVADLL_COPY_ENTRY_STRING(h_, s, i, t), U16(t)}; }
  R Data(uint16_t s, uint32_t i) { TOVA_WSTRING t = Junk(); return {TOVADLL_COPY_DATA_STRING(h_, s, i, t), U16(t)}; }
  static TOVA_WSTRING Junk() { return TOVA_WSTRING(u"junk", u"junk" + 4); }
  static std::u16string U16(const TOVA_WSTRING& s) { return std::u16string(s.begin(), s.end()); }

  uint64_t h_ = TOVADLL_OPEN_FILE_MEM(0, 2, 10);
};

}  // namespace
}  // namespace tova
