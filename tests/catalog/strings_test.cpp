// Section and entry strings, and the three text exports: handle codes, the
// section and index codes, and the selection by present flag in a later
// dataset.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "catalog_test_support.h"
#include "model/tova_file.h"

namespace tova {
namespace {

using catalog_test::Bytes;

std::u16string FromWide(const TOVA_WSTRING& s) { return std::u16string(s.begin(), s.end()); }
TOVA_WSTRING Wide(const std::u16string& s) { return TOVA_WSTRING(s.begin(), s.end()); }

TEST(EntryString, NameIdentifierAndRecordLength) {
  CTOVAEntry size_x;
  size_x.SetData(0x0201, 4, Bytes().U32(640).Get().data());
  EXPECT_TEXT(size_x.GetEntryString(), u"TOVA_DH_DREC_SizeX <201> (10 bytes)");

  CTOVAEntry empty;
  empty.SetData(0x0300, 0, nullptr);
  EXPECT_TEXT(empty.GetEntryString(), u"TOVA_IM_Data <300> (6 bytes)");

  CTOVAEntry unknown;
  unknown.SetData(0x1234, 2, Bytes().U16(1).Get().data());
  EXPECT_TEXT(unknown.GetEntryString(), u"?? <1234> (8 bytes)");

  CTOVAEntry numbered;
  numbered.SetData(0x041F, 1, Bytes().U8(1).Get().data());
  EXPECT_TEXT(numbered.GetEntryString(), u"TOVA_DH_USERDATA32 <41F> (7 bytes)");
}

TEST(SectionString, SizeCountsPerDatasetEntriesInLaterDatasets) {
  CTOVASection empty(kSectGlobalHeader);
  EXPECT_TEXT(empty.GetSectionString(false), u"TOVA_SECT_GlobalHeader <FF01> (6 bytes)");

  CTOVASection header(kSectDataHeader);
  header.AddEntry(0x0200, 2, Bytes().U16(0).Get().data(), 1);          // shared: 8 bytes
  header.AddEntry(0x0232, 16, Bytes().Zeros(16).Get().data(), 1);      // per dataset: 22 bytes
  EXPECT_TEXT(header.GetSectionString(false), u"TOVA_SECT_DataHeader <FF02> (36 bytes)");
  EXPECT_TEXT(header.GetSectionString(true), u"TOVA_SECT_DataHeader <FF02> (28 bytes)");

  CTOVASection odd(0x1234);
  EXPECT_TEXT(odd.GetSectionString(false), u"?? <1234> (6 bytes)");
}

// A memory document: dataset 0 holds the data unit (2) and the calibration
// version (10) that the open stores.
class TextExports : public ::testing::Test {
 protected:
  void SetUp() override {
    h_ = TOVADLL_OPEN_FILE_MEM(0, 2, 10);
    ASSERT_NE(h_, TOVADLL_INVALID_HANDLE);
  }
  void TearDown() override { TOVADLL_CLOSE_FILE(h_); }

  std::shared_ptr<CTOVAFile> Doc() { return api::TheRegistry().Find(h_); }

  // Adds dataset 1 and makes it current: its data header holds, in this
  // order, a valid-frames entry without the present flag, a time stamp and a
  // shared averaging entry (both present), and a fix emissivity (present).
  void MakeLaterDataset() {
    auto doc = Doc();
    ASSERT_EQ(TOVADLL_SET_ENTRY(h_, TOVA_SECT_GlobalHeader, 0x0111, 2, Bytes().U16(4).Get().data()), TOVA_OK);
    doc->data_headers.push_back(std::make_unique<CTOVASection>(kSectDataHeader));
    doc->images.push_back(std::make_unique<CTOVASection>(kSectImage));
    ASSERT_EQ(TOVADLL_SET_CURDATASET(h_, 1), TOVA_OK);
    CTOVASection& later = *doc->data_headers[1];
    later.AddEntry(0x0231, 2, Bytes().U16(5).Get().data(), 1);
    later.AddEntry(0x0232, 16, Bytes().U16(2021).U16(4).U16(2).U16(6).U16(8).U16(7).U16(5).U16(4).Get().data(), 1);
    later.AddEntry(0x0243, 2, Bytes().U16(3).Get().data(), 1);
    later.AddEntry(0x0240, 4, Bytes().F32(0.5f).Get().data(), 1);
    later.FindEntry(0x0231)->present = 0;
  }

  uint64_t h_ = TOVADLL_INVALID_HANDLE;
};

TEST_F(TextExports, FirstDatasetCountsEveryEntry) {
  TOVA_WSTRING text = Wide(u"junk");
  EXPECT_EQ(TOVADLL_COPY_SECTION_STRING(h_, TOVA_SECT_DataHeader, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"TOVA_SECT_DataHeader <FF02> (22 bytes)");

  // The present flag plays no part in dataset 0.
  Doc()->data_headers[0]->GetEntryAt(0)->present = 0;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, TOVA_SECT_DataHeader, 0, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"[1] TOVA_DH_DREC_DataUnit <200> (8 bytes)");
  EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, TOVA_SECT_DataHeader, 1, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"[2] TOVA_DH_TCAL_Version <210> (8 bytes)");

  EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, TOVA_SECT_DataHeader, 0, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"2: S16");
  EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, TOVA_SECT_DataHeader, 1, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"10: square approach");
}

TEST_F(TextExports, FailureCodesEmptyTheString) {
  TOVA_WSTRING text;
  struct Case {
    uint16_t section;
    uint32_t index;
    int32_t code;
  };
  const Case cases[] = {
      {0x1234, 0, TOVA_ERR_SECTION_ID},
      {0xFF00, 0, TOVA_ERR_SECTION_ID},
      {TOVA_SECT_DataHeader, 2, TOVA_ERR_ENTRY_INDEX},
      {TOVA_SECT_GlobalHeader, 0, TOVA_ERR_ENTRY_INDEX},  // empty section
      {TOVA_SECT_Image, 0xFFFFFFFFu, TOVA_ERR_ENTRY_INDEX},
  };
  for (const Case& c : cases) {
    text = Wide(u"junk");
    EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, c.section, c.index, text), c.code);
    EXPECT_TRUE(text.empty());
    text = Wide(u"junk");
    EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, c.section, c.index, text), c.code);
    EXPECT_TRUE(text.empty());
  }
  text = Wide(u"junk");
  EXPECT_EQ(TOVADLL_COPY_SECTION_STRING(h_, 0x1234, text), TOVA_ERR_SECTION_ID);
  EXPECT_TRUE(text.empty());

  // A current dataset beyond the document's lists.
  Doc()->cur_dataset = 5;
  for (uint16_t section : {TOVA_SECT_DataHeader, TOVA_SECT_Image}) {
    text = Wide(u"junk");
    EXPECT_EQ(TOVADLL_COPY_SECTION_STRING(h_, section, text), TOVA_ERR_NO_SECTION);
    EXPECT_TRUE(text.empty());
    text = Wide(u"junk");
    EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, section, 0, text), TOVA_ERR_NO_SECTION);
    EXPECT_TRUE(text.empty());
    text = Wide(u"junk");
    EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, section, 0, text), TOVA_ERR_NO_SECTION);
    EXPECT_TRUE(text.empty());
  }
  Doc()->cur_dataset = 0;
}

TEST_F(TextExports, UnknownHandleLeavesTheStringUntouched) {
  for (uint64_t h : {uint64_t{0}, uint64_t{TOVADLL_INVALID_HANDLE}, uint64_t{h_ + 0x1000}}) {
    TOVA_WSTRING text = Wide(u"keep");
    EXPECT_EQ(TOVADLL_COPY_SECTION_STRING(h, TOVA_SECT_DataHeader, text), TOVA_ERR_HANDLE);
    EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h, TOVA_SECT_DataHeader, 0, text), TOVA_ERR_HANDLE);
    EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h, TOVA_SECT_DataHeader, 0, text), TOVA_ERR_TEXT_HANDLE);
    EXPECT_EQ(TOVA_ERR_TEXT_HANDLE, -32);
    EXPECT_TEXT(FromWide(text), u"keep");
  }
}

TEST_F(TextExports, LaterDatasetCountsOnlyPresentEntries) {
  MakeLaterDataset();
  TOVA_WSTRING text;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, TOVA_SECT_DataHeader, 0, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"[1] TOVA_DH_DREC_TimeStamp <232> (22 bytes)");
  EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, TOVA_SECT_DataHeader, 2, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"[3] TOVA_DH_PARAM_FixEmissivity <240> (10 bytes)");
  EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, TOVA_SECT_DataHeader, 3, text), TOVA_ERR_ENTRY_INDEX);
  EXPECT_TRUE(text.empty());

  EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, TOVA_SECT_DataHeader, 0, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"Year: 2021\rMonth: 4\rDay: 6\rDayOfWeek: 2\rTime: 8:7:5.4");
  EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, TOVA_SECT_DataHeader, 1, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"3");

  // Only the per-dataset entries count in a later dataset's section size:
  // valid frames (8), time stamp (22), fix emissivity (10).
  EXPECT_EQ(TOVADLL_COPY_SECTION_STRING(h_, TOVA_SECT_DataHeader, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"TOVA_SECT_DataHeader <FF02> (46 bytes)");

  // The later dataset's image section is empty.
  EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, TOVA_SECT_Image, 0, text), TOVA_ERR_ENTRY_INDEX);
  EXPECT_EQ(TOVADLL_COPY_SECTION_STRING(h_, TOVA_SECT_Image, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"TOVA_SECT_Image <FF10> (6 bytes)");
}

TEST_F(TextExports, GlobalHeaderTextThroughTheExport) {
  ASSERT_EQ(TOVADLL_SET_ENTRY(h_, TOVA_SECT_GlobalHeader, TOVA_GH_Origin_MBC, 6, "Lab \xB0"), TOVA_OK);
  TOVA_WSTRING text;
  EXPECT_EQ(TOVADLL_COPY_DATA_STRING(h_, TOVA_SECT_GlobalHeader, 0, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"Lab °");
  EXPECT_EQ(TOVADLL_COPY_ENTRY_STRING(h_, TOVA_SECT_GlobalHeader, 0, text), TOVA_OK);
  EXPECT_TEXT(FromWide(text), u"[1] TOVA_GH_Origin_MBC <101> (12 bytes)");
}

}  // namespace
}  // namespace tova
