// The exports of opening and closing, entries, datasets and document state,
// seen through the interface: memory and buffer documents, opening files for
// reading, the data-header routing, present-flag counting, moving between and
// removing datasets, and the modified state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/api_test_support.h"
#include "api/registry.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using tova_test::AddMemoryDataset;
using tova_test::DocumentCloser;
using tova_test::OpenMemoryDocument;

constexpr uint16_t GH = TOVA_SECT_GlobalHeader;
constexpr uint16_t DH = TOVA_SECT_DataHeader;
constexpr uint16_t IM = TOVA_SECT_Image;
constexpr int32_t kAbsent = TOVA_ERR_NO_ENTRY - TOVA_EXIST_ENTRY_BIAS;  // -1967

uint32_t NumDatasets(uint64_t h) {
  uint32_t n = 0xFFFFFFFFu;
  EXPECT_EQ(TOVADLL_GET_NUMDATASETS(h, &n), 0);
  return n;
}
uint32_t CurDataset(uint64_t h) {
  uint32_t n = 0xFFFFFFFFu;
  EXPECT_EQ(TOVADLL_GET_CURDATASET(h, &n), 0);
  return n;
}
uint32_t NumEntries(uint64_t h, uint16_t section) {
  uint32_t n = 0xFFFFFFFFu;
  EXPECT_EQ(TOVADLL_GET_NUM_ENTRIES(h, section, &n), 0);
  return n;
}
uint32_t Modified(uint64_t h) {
  uint32_t m = 0xFFFFFFFFu;
  EXPECT_EQ(TOVADLL_GET_MODIFIED(h, &m), 0);
  return m;
}
// The entry's bytes, or "<code>" when it cannot be copied.
std::string Copy(uint64_t h, uint16_t section, uint16_t id) {
  char out[64];
  uint32_t copied = 0;
  const int32_t rc = TOVADLL_COPY_ENTRY_DATA(h, section, id, sizeof out, out, &copied);
  return rc == 0 ? std::string(out, copied) : "<" + std::to_string(rc) + ">";
}
void Set(uint64_t h, uint16_t section, uint16_t id, const std::string& value) {
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, section, id, static_cast<uint32_t>(value.size()), value.data()), 0);
}

// ---- opening and closing ----------------------------------------------------

TEST(ApiOpenMemory, StartsWithDataUnitAndCalibrationButNoDataset) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
  ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
  ASSERT_NE(h, 0u);
  DocumentCloser closer(h);
  uint32_t type = 0;
  ASSERT_EQ(TOVADLL_GET_TOVA_TYPE(h, &type), 0);
  EXPECT_EQ(type, uint32_t{TOVA_TYPE_MEMORY});
  EXPECT_EQ(NumDatasets(h), 0u);
  uint8_t unit[2] = {0xEE, 0xEE};
  uint32_t copied = 0;
  ASSERT_EQ(TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 2, unit, &copied), 0);
  EXPECT_EQ(copied, 2u);
  EXPECT_EQ(unit[0], 2);
  EXPECT_EQ(unit[1], 0);
  EXPECT_EQ(Copy(h, DH, 0x0210), std::string("\x00\x01", 2));
  Set(h, GH, 0x0110, "camera");
  EXPECT_EQ(NumDatasets(h), 1u);
}

TEST(ApiOpenMemory, BufferDocumentsOpenWithTheirTypes) {
  const struct {
    uint64_t h;
    uint32_t type;
  } docs[] = {{TOVADLL_OPEN_FILE_READ_BUFFER(), TOVA_TYPE_MEMORY},
              {TOVADLL_OPEN_FILE_WRITE_BUFFER(), TOVA_TYPE_WRITE_BUFFER}};
  for (const auto& d : docs) {
    ASSERT_NE(d.h, TOVADLL_INVALID_HANDLE);
    uint32_t type = 0;
    EXPECT_EQ(TOVADLL_GET_TOVA_TYPE(d.h, &type), 0);
    EXPECT_EQ(type, d.type);
    EXPECT_EQ(NumDatasets(d.h), 0u);
    EXPECT_EQ(TOVADLL_CLOSE_FILE(d.h), 0);
  }
}

TEST(ApiOpenRead, MissingOrEmptyFileFailsAndRegistersNothing) {
  tova::testing::TempTree dir;
  ASSERT_TRUE(tova::testing::WriteFileBytes(dir.Path(u"empty.tova"), std::string_view()));
  ASSERT_TRUE(tova::testing::WriteFileBytes(dir.Path(u"data.tova"), std::string_view("\x06\0\0\0\x01\xFF", 6)));
  const size_t before = tova::api::TheRegistry().Count();
  for (const char16_t* name : {u"missing.tova", u"empty.tova"}) {
    const std::u16string path = dir.Path(name);
    EXPECT_EQ(TOVADLL_OPEN_FILE_READ(tova::platform::Utf16ToUtf8(path).c_str()), TOVADLL_INVALID_HANDLE);
    EXPECT_EQ(TOVADLL_OPEN_FILE_READ_UC(tova_test::WidePath(path).c_str()), TOVADLL_INVALID_HANDLE);
  }
  EXPECT_EQ(tova::api::TheRegistry().Count(), before);

  const std::u16string path = dir.Path(u"data.tova");
  for (uint64_t h : {TOVADLL_OPEN_FILE_READ(tova::platform::Utf16ToUtf8(path).c_str()),
                     TOVADLL_OPEN_FILE_READ_UC(tova_test::WidePath(path).c_str())}) {
    ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
    uint32_t type = 0;
    EXPECT_EQ(TOVADLL_GET_TOVA_TYPE(h, &type), 0);
    EXPECT_EQ(type, uint32_t{TOVA_TYPE_READ});
    EXPECT_EQ(NumDatasets(h), 0u);  // nothing is read before TOVADLL_READ_FROM_FILE
    EXPECT_EQ(TOVADLL_SET_CURDATASET(h, 0), TOVA_ERR_DATASET);
    EXPECT_EQ(TOVADLL_CLOSE_FILE(h), 0);
  }
}

TEST(ApiCloseFile, ClosedHandleNamesNothingAndASecondCloseFails) {
  const uint64_t h = OpenMemoryDocument(1);
  EXPECT_EQ(TOVADLL_EXIST(h), 0);
  EXPECT_EQ(TOVADLL_CLOSE_FILE(h), 0);
  EXPECT_EQ(TOVADLL_EXIST(h), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_CLOSE_FILE(h), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_EXIST(0), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_EXIST(TOVADLL_INVALID_HANDLE), TOVA_ERR_HANDLE);
}

TEST(ApiCloseFile, HandleValuesAreNeverReused) {
  std::vector<uint64_t> seen;
  for (int i = 0; i < 50; ++i) {
    const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, 0, 0);
    ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
    ASSERT_NE(h, 0u);
    for (uint64_t old : seen) ASSERT_NE(h, old);
    seen.push_back(h);
    ASSERT_EQ(TOVADLL_CLOSE_FILE(h), 0);
  }
  for (uint64_t old : seen) EXPECT_EQ(TOVADLL_EXIST(old), TOVA_ERR_HANDLE);
}

// ---- entries ----------------------------------------------------------------

TEST(ApiEntries, ExistEntryReportsTheLookupCodeMinusTwoThousand) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0100), 0);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0101), -1967);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, 0xFF03, 0x0100), -1979);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, DH, 0x0200), 0);
}

TEST(ApiEntries, CapacityOneByteShortCopiesNothing) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  Set(h, GH, 0x0110, "device");
  char out[8];
  std::memset(out, '#', sizeof out);
  uint32_t copied = 99;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 5, out, &copied), TOVA_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(copied, 0u);
  EXPECT_EQ(std::string(out, 8), "########");
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 6, out, &copied), 0);
  EXPECT_EQ(copied, 6u);
  EXPECT_EQ(std::string(out, 7), "device#");
  copied = 99;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0199, 8, out, &copied), TOVA_ERR_NO_ENTRY);
  EXPECT_EQ(copied, 0u);
}

TEST(ApiEntries, EntryOfSizeZeroStaysListedWithoutData) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  Set(h, GH, 0x0110, "device");
  TOVADLL_SET_MODIFIED(h, 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, GH, 0x0110, 0, nullptr), 0);
  EXPECT_EQ(NumEntries(h, GH), 2u);
  uint32_t size = 99;
  ASSERT_EQ(TOVADLL_GET_ENTRY_DATASIZE(h, GH, 0x0110, &size), 0);
  EXPECT_EQ(size, 0u);
  void* data = nullptr;
  EXPECT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 1), TOVA_ERR_RECORD);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(Copy(h, GH, 0x0110), "");
  EXPECT_EQ(Modified(h), 0u);  // emptying does not count as a change
}

TEST(ApiEntries, GetEntryHandsOutTheEntrysOwnStorage) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  Set(h, GH, 0x0110, "device");
  TOVADLL_SET_MODIFIED(h, 0);
  void* data = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 0), 0);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::string(static_cast<char*>(data), size), "device");
  EXPECT_EQ(Modified(h), 0u);  // reading does not count as a change
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 1), 0);
  EXPECT_EQ(Modified(h), 1u);
  static_cast<char*>(data)[0] = 'D';
  EXPECT_EQ(Copy(h, GH, 0x0110), "Device");
}

TEST(ApiEntries, ModifiedFollowsTheStoredBytes) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  Set(h, GH, 0x0110, "abcd");
  ASSERT_EQ(TOVADLL_SET_MODIFIED(h, 0), 0);
  EXPECT_EQ(Modified(h), 0u);
  Set(h, GH, 0x0110, "abcd");
  EXPECT_EQ(Modified(h), 0u);  // the same bytes again
  Set(h, GH, 0x0110, "abce");
  EXPECT_EQ(Modified(h), 1u);
  ASSERT_EQ(TOVADLL_SET_MODIFIED(h, 0), 0);
  Set(h, GH, 0x0110, "abc");
  EXPECT_EQ(Modified(h), 1u);  // a new size
  ASSERT_EQ(TOVADLL_SET_MODIFIED(h, 1), 0);
  EXPECT_EQ(Modified(h), 1u);
}

TEST(ApiEntries, RemoveEntry) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  EXPECT_EQ(TOVADLL_REMOVE_ENTRY(h, GH, 0x0101), TOVA_ERR_NO_ENTRY);
  EXPECT_EQ(TOVADLL_REMOVE_ENTRY(h, GH, 0x0100), 0);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0100), kAbsent);
  EXPECT_EQ(NumDatasets(h), 0u);  // an empty global header counts no dataset
}

TEST(ApiEntries, SetEntryIsOptionalStoresTheFlagAndNothingElse) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  TOVADLL_SET_MODIFIED(h, 0);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0200, 5), 0);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0201, 1), 1);  // absent
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, IM, 0x0300, 1), 1);
  auto doc = tova::api::TheRegistry().Find(h);
  EXPECT_EQ(doc->data_headers[0]->FindEntry(0x0200)->per_dataset, 5);
  EXPECT_EQ(Modified(h), 0u);
  EXPECT_EQ(Copy(h, DH, 0x0200), std::string("\x02\x00", 2));
}

// ---- datasets ---------------------------------------------------------------

TEST(ApiDatasets, DataHeaderStoresGoToTheFirstOrTheCurrentDataset) {
  const uint64_t h = OpenMemoryDocument(5);
  DocumentCloser closer(h);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 3), 0);
  Set(h, DH, 0x0200, "\x03");
  Set(h, DH, 0x0231, "three");
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 0), 0);
  EXPECT_EQ(Copy(h, DH, 0x0200), "\x03");
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, DH, 0x0231), kAbsent);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 4), 0);
  EXPECT_EQ(Copy(h, DH, 0x0200), "\x03");  // held once, valid for every dataset
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, DH, 0x0231), kAbsent);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 3), 0);
  EXPECT_EQ(Copy(h, DH, 0x0231), "three");
}

TEST(ApiDatasets, OnlyCopyEntryDataFallsBackToTheFirstDataset) {
  const uint64_t h = OpenMemoryDocument(3);
  DocumentCloser closer(h);
  Set(h, DH, 0x0231, "first");  // per dataset, stored while dataset 0 is current
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 2), 0);
  EXPECT_EQ(Copy(h, DH, 0x0231), "first");
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, DH, 0x0231), -1967);
  void* data = nullptr;
  uint32_t size = 77;
  EXPECT_EQ(TOVADLL_GET_ENTRY(h, DH, 0x0231, &data, &size, 0), TOVA_ERR_NO_ENTRY);
  EXPECT_EQ(TOVADLL_GET_ENTRY_DATASIZE(h, DH, 0x0231, &size), TOVA_ERR_NO_ENTRY);
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0231, 0), 1);
  Set(h, DH, 0x0231, "own");
  EXPECT_EQ(Copy(h, DH, 0x0231), "own");
}

TEST(ApiDatasets, IndexAtOrPastTheEndIsRefusedAndChangesNothing) {
  const uint64_t h = OpenMemoryDocument(3);
  DocumentCloser closer(h);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), 0);
  Set(h, GH, 0x0101, "o");
  for (uint32_t index : {3u, 4u, 0xFFFFFFFFu}) {
    EXPECT_EQ(TOVADLL_SET_CURDATASET(h, index), TOVA_ERR_DATASET);
    EXPECT_EQ(TOVADLL_SET_CURDATASET_EX(h, index, 0), TOVA_ERR_DATASET);
  }
  EXPECT_EQ(CurDataset(h), 1u);
  EXPECT_EQ(NumEntries(h, GH), 1u);  // present flags as they were
  ASSERT_EQ(TOVADLL_SET_CURDATASET_EX(h, 2, 0), 0);
  EXPECT_EQ(CurDataset(h), 2u);
}

TEST(ApiDatasets, LaterDatasetsCountOnlyEntriesStoredSinceTheChange) {
  const uint64_t h = OpenMemoryDocument(2);
  DocumentCloser closer(h);
  Set(h, GH, 0x0101, "o");
  Set(h, GH, 0x0102, "c");
  EXPECT_EQ(NumEntries(h, GH), 3u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), 0);
  EXPECT_EQ(NumEntries(h, GH), 0u);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0101), 0);  // still there, just not counted
  Set(h, GH, 0x0101, "o");
  EXPECT_EQ(NumEntries(h, GH), 1u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 0), 0);
  EXPECT_EQ(NumEntries(h, GH), 3u);
}

TEST(ApiDatasets, RemovalNeedsTwoDatasetsAndAnIndexInRange) {
  const uint64_t none = TOVADLL_OPEN_FILE_MEM(0, 2, 0);
  DocumentCloser close_none(none);
  EXPECT_EQ(TOVADLL_REMOVE_DATASET(none, 0), TOVA_ERR_TOO_FEW_DATASETS);
  const uint64_t one = OpenMemoryDocument(1);
  DocumentCloser close_one(one);
  EXPECT_EQ(TOVADLL_REMOVE_DATASET(one, 0), TOVA_ERR_TOO_FEW_DATASETS);
  EXPECT_EQ(TOVADLL_REMOVE_DATASET(one, 1), TOVA_ERR_TOO_FEW_DATASETS);
  const uint64_t two = OpenMemoryDocument(2);
  DocumentCloser close_two(two);
  EXPECT_EQ(TOVADLL_REMOVE_DATASET(two, 2), TOVA_ERR_DATASET);
  EXPECT_EQ(TOVADLL_REMOVE_DATASET(two, 0xFFFFFFFFu), TOVA_ERR_DATASET);
  EXPECT_EQ(NumDatasets(two), 2u);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(two, 1), 0);
  EXPECT_EQ(TOVADLL_REMOVE_DATASET(two, 0), TOVA_ERR_TOO_FEW_DATASETS);
}

TEST(ApiDatasets, RemovingTheFirstKeepsWhatHoldsForEveryDataset) {
  const uint64_t h = OpenMemoryDocument(3);
  DocumentCloser closer(h);
  Set(h, DH, 0x0201, "\x80\x02");
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(TOVADLL_SET_CURDATASET(h, i), 0);
    Set(h, DH, 0x0232, "t" + std::to_string(i));
  }
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 0), 0);
  ASSERT_EQ(TOVADLL_SET_MODIFIED(h, 0), 0);

  ASSERT_EQ(TOVADLL_REMOVE_DATASET(h, 0), 0);
  EXPECT_EQ(NumDatasets(h), 2u);
  EXPECT_EQ(CurDataset(h), 0u);
  EXPECT_EQ(Copy(h, DH, 0x0200), std::string("\x02\x00", 2));
  EXPECT_EQ(Copy(h, DH, 0x0210), std::string("\x00\x01", 2));
  EXPECT_EQ(Copy(h, DH, 0x0201), "\x80\x02");
  EXPECT_EQ(Copy(h, DH, 0x0232), "t1");
  EXPECT_EQ(Modified(h), 1u);  // the global header's entries are marked
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), 0);
  EXPECT_EQ(Copy(h, DH, 0x0232), "t2");
}

TEST(ApiDatasets, RemovalMovesTheCurrentIndexWithItsDataset) {
  const struct {
    uint32_t current, index, new_current;
    int shown;  // the dataset (by its number before the removal) current afterwards
  } cases[] = {{2, 2, 1, 1}, {0, 2, 0, 0}, {2, 0, 1, 2}, {1, 0, 0, 1}, {0, 0, 0, 1}, {2, 1, 1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "current " << c.current << " remove " << c.index);
    const uint64_t h = OpenMemoryDocument(3);
    DocumentCloser closer(h);
    for (uint32_t i = 0; i < 3; ++i) {
      ASSERT_EQ(TOVADLL_SET_CURDATASET(h, i), 0);
      Set(h, DH, 0x0231, "d" + std::to_string(i));
    }
    ASSERT_EQ(TOVADLL_SET_CURDATASET(h, c.current), 0);
    ASSERT_EQ(TOVADLL_REMOVE_DATASET(h, c.index), 0);
    EXPECT_EQ(CurDataset(h), c.new_current);
    EXPECT_EQ(Copy(h, DH, 0x0231), "d" + std::to_string(c.shown));
  }
}

}  // namespace
