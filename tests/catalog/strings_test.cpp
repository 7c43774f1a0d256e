// Section and entry strings, and the three text exports: section and index codes, and the selection by present flag in
// a later dataset.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "catalog/catalog.h"
#include "catalog_test_support.h"
#include "model/tova_file.h"

namespace tova {
namespace {

using catalog_test::Bytes;

std::u16string U16(const TOVA_WSTRING& s) { return std::u16string(s.begin(), s.end()); }

TEST(EntryAndSectionStrings, UnknownIdentifiersAndEntriesWithoutData) {
  CTOVAEntry unknown, empty;
  unknown.SetData(0x1234, 2, Bytes().U16(1).data(), false);
  empty.SetData(0x0300, 0, nullptr, false);
  EXPECT_EQ(catalog::EntryString(unknown), u"?? <1234> (8 bytes)");
  EXPECT_EQ(catalog::EntryString(empty), u"TOVA_IM_Data <300> (6 bytes)");
  EXPECT_EQ(catalog::SectionString(CTOVASection(0x1234, catalog::Rules()), EntryScope::kAll), u"?? <1234> (6 bytes)");
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

  uint64_t h_ = TOVADLL_OPEN_FILE_MEM(0, 2, 10);
};

TEST_F(TextExports, FailureCodesEmptyTheString) {
  const std::tuple<uint16_t, uint32_t, int32_t> cases[] = {
      {0x1234, 0, TOVA_ERR_SECTION_ID}, {0xFF00, 0, TOVA_ERR_SECTION_ID},
      {TOVA_SECT_DataHeader, 2, TOVA_ERR_ENTRY_INDEX}, {TOVA_SECT_GlobalHeader, 0, TOVA_ERR_ENTRY_INDEX},
      {TOVA_SECT_Image, 0xFFFFFFFFu, TOVA_ERR_ENTRY_INDEX}};
  for (const auto& [section, index, code] : cases)
    EXPECT_TRUE(Entry(section, index) == R(code, u"") && Data(section, index) == R(code, u"")) << section << index;
  EXPECT_EQ(Section(0x1234), R(TOVA_ERR_SECTION_ID, u""));
  Doc()->cur_dataset = 5;  // beyond the document's lists
  const R none(TOVA_ERR_NO_SECTION, u"");
  for (uint16_t section : {TOVA_SECT_DataHeader, TOVA_SECT_Image})
    EXPECT_TRUE(Section(section) == none && Entry(section, 0) == none && Data(section, 0) == none) << section;
  Doc()->cur_dataset = 0;
}

// The present flag plays no part in dataset 0. Dataset 1 holds, in this order, a valid-frames entry without the present
// flag, a time stamp and a shared averaging entry (both present), and a fix emissivity (present).
TEST_F(TextExports, PresentFlagCountsOnlyInALaterDataset) {
  EXPECT_EQ(Section(TOVA_SECT_DataHeader), R(TOVA_OK, u"TOVA_SECT_DataHeader <FF02> (22 bytes)"));
  Doc()->data_headers[0]->GetEntryAt(0)->present = 0;
  EXPECT_EQ(Entry(TOVA_SECT_DataHeader, 0), R(TOVA_OK, u"[1] TOVA_DH_DREC_DataUnit <200> (8 bytes)"));
  EXPECT_EQ(Entry(TOVA_SECT_DataHeader, 1), R(TOVA_OK, u"[2] TOVA_DH_TCAL_Version <210> (8 bytes)"));
  EXPECT_EQ(Data(TOVA_SECT_DataHeader, 1), R(TOVA_OK, u"10: square approach"));
  auto doc = Doc();
  ASSERT_EQ(TOVADLL_SET_ENTRY(h_, TOVA_SECT_GlobalHeader, 0x0111, 2, Bytes().U16(4).data()), TOVA_OK);
  doc->data_headers.push_back(std::make_unique<CTOVASection>(TOVA_SECT_DataHeader, catalog::Rules()));
  doc->images.push_back(std::make_unique<CTOVASection>(TOVA_SECT_Image, catalog::Rules()));
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h_, 1), TOVA_OK);
  CTOVASection& later = *doc->data_headers[1];
  const Bytes time = Bytes().U16(2021).U16(4).U16(2).U16(6).U16(8).U16(7).U16(5).U16(4);
  for (const auto& [id, data] : {std::pair<uint16_t, Bytes>{0x0231, Bytes().U16(5)}, {0x0232, time},
                                 {0x0243, Bytes().U16(3)}, {0x0240, Bytes().F32(0.5f)}})
    later.AddEntry(id, data.size(), data.data(), StoreMode::kOverwrite);
  later.FindEntry(0x0231)->present = 0;

  EXPECT_EQ(Entry(TOVA_SECT_DataHeader, 0), R(TOVA_OK, u"[1] TOVA_DH_DREC_TimeStamp <232> (22 bytes)"));
  EXPECT_EQ(Entry(TOVA_SECT_DataHeader, 2), R(TOVA_OK, u"[3] TOVA_DH_PARAM_FixEmissivity <240> (10 bytes)"));
  EXPECT_EQ(Entry(TOVA_SECT_DataHeader, 3), R(TOVA_ERR_ENTRY_INDEX, u""));
  EXPECT_EQ(Data(TOVA_SECT_DataHeader, 0), R(TOVA_OK, u"Year: 2021\rMonth: 4\rDay: 6\rDayOfWeek: 2\rTime: 8:7:5.4"));
  EXPECT_EQ(Data(TOVA_SECT_DataHeader, 1), R(TOVA_OK, u"3"));
  // Only the per-dataset entries count: valid frames (8), time stamp (22), fix emissivity (10).
  EXPECT_EQ(Section(TOVA_SECT_DataHeader), R(TOVA_OK, u"TOVA_SECT_DataHeader <FF02> (46 bytes)"));
  EXPECT_EQ(Data(TOVA_SECT_Image, 0), R(TOVA_ERR_ENTRY_INDEX, u""));
  EXPECT_EQ(Section(TOVA_SECT_Image), R(TOVA_OK, u"TOVA_SECT_Image <FF10> (6 bytes)"));
}

}  // namespace
}  // namespace tova
