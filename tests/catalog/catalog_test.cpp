// The identifier catalogue: names, the per-dataset mark, agreement with the public header's constants, and the
// consistency of every layout's formats with its fields.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog_test_support.h"
#include "support/test_files.h"

namespace tova {
namespace {

using catalog::EntryName;

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
      ASSERT_TRUE(EntryName(id) == u"??" && catalog_test::RenderEntry(id, zeros) == u"??") << std::hex << id;
  }
}

// The 68 identifiers stored with every dataset, as ranges.
TEST(Catalog, ExactlyTheMarkedIdentifiersArePerDataset) {
  const std::pair<uint16_t, uint16_t> marked[] = {
      {0x0182, 0x0182}, {0x0231, 0x0233}, {0x0240, 0x0242}, {0x0280, 0x0282}, {0x0286, 0x0289},
      {0x0290, 0x0291}, {0x0293, 0x029C}, {0x029E, 0x029E}, {0x0300, 0x0300}, {0x0400, 0x041F},
      {0x0421, 0x0421}, {0x0423, 0x0427}, {0x0601, 0x0601}, {0x0609, 0x0609}};
  size_t count = 0;
  for (uint32_t id = 0; id <= 0xFFFF; ++id) {
    bool expected = false;
    for (const auto& [first, last] : marked) expected = expected || (id >= first && id <= last);
    EXPECT_EQ(catalog::Rules().IsPerDataset(static_cast<uint16_t>(id)), expected) << std::hex << id;
    count += expected;
  }
  EXPECT_EQ(count, 68u);
}

// Authoring check of the layouts: every conversion of a format has its field and every field its conversion, and a name
// comes with its value texts.
TEST(Catalog, LayoutFormatsMatchTheirFields) {
  for (const catalog::CatalogRow& row : catalog::Rows()) {
    const catalog::Rendering& r = row.rendering;
    SCOPED_TRACE(row.name);
    EXPECT_EQ(r.special != nullptr, r.piece_count == 0);
    if (r.record_size) EXPECT_LE(catalog::LayoutExtent(r), r.record_size);
    for (int i = 0; i < r.piece_count; ++i) {
      const catalog::Piece& piece = r.pieces[i];
      int conversions = 0, fields = 0;
      for (const char16_t* p = piece.format; *p; ++p)
        if (*p == u'%' && *++p != u'%') ++conversions;  // "%%" is a literal percent sign
      while (fields < catalog::kMaxFields && piece.fields[fields].type != catalog::FieldType::kNone) ++fields;
      EXPECT_EQ(conversions, fields) << testing::NarrowPath(piece.format);
      for (int k = 0; k < catalog::kMaxFields; ++k) {
        if (k >= fields) EXPECT_EQ(piece.fields[k].type, catalog::FieldType::kNone) << "gap in piece " << i;
        if (piece.fields[k].type == catalog::FieldType::kName)
          EXPECT_TRUE(piece.names && catalog::FieldWidth(piece.fields[0]) > 0) << "piece " << i;
      }
    }
  }
}

}  // namespace
}  // namespace tova
