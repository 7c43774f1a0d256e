// The exports of opening and closing, entries, datasets and document state: the opens and their failures, entry storage
// and copying, the lookups that do and do not fall back to the first dataset, present-flag counting.
#include <gtest/gtest.h>

#include <string>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "support/documents.h"

namespace {

using ScopedHandle = tova::testing::Handle;
using namespace tova::testing;

constexpr uint16_t GH = TOVA_SECT_GlobalHeader, DH = TOVA_SECT_DataHeader, IM = TOVA_SECT_Image;
constexpr int32_t kAbsent = TOVA_ERR_NO_ENTRY - TOVA_EXIST_ENTRY_BIAS;  // -1967

// The value of an out-value export; all ones when it writes none.
uint32_t Entries(uint64_t h, uint16_t s) { uint32_t n = ~0u; TOVADLL_GET_NUM_ENTRIES(h, s, &n); return n; }
// The entry's bytes, or "<code>" when they cannot be copied.
std::string Copy(uint64_t h, uint16_t section, uint16_t id, uint32_t capacity = 64) {
  char out[64];
  uint32_t copied = 0;
  const int32_t rc = TOVADLL_COPY_ENTRY_DATA(h, section, id, capacity, out, &copied);
  return rc == TOVA_OK ? std::string(out, copied) : "<" + std::to_string(rc) + ">";
}
int32_t Set(uint64_t h, uint16_t section, uint16_t id, const std::string& v) {
  return TOVADLL_SET_ENTRY(h, section, id, static_cast<uint32_t>(v.size()), v.data());
}

TEST(ApiDocument, OpensWithoutAFile) {
  const struct {
    uint64_t h;
    uint32_t type;
  } docs[] = {{TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100), TOVA_TYPE_MEMORY},
              {TOVADLL_OPEN_FILE_READ_BUFFER(), TOVA_TYPE_MEMORY},
              {TOVADLL_OPEN_FILE_WRITE_BUFFER(), TOVA_TYPE_WRITE_BUFFER}};
  for (const auto& d : docs) EXPECT_TRUE(TypeOf(d.h) == d.type && NumDatasets(d.h) == 0u) << d.type;
  const uint64_t h = docs[0].h;  // the memory document holds data unit and calibration version
  EXPECT_EQ(Copy(h, DH, 0x0200, 2) + Copy(h, DH, 0x0210, 2), std::string("\x02\x00\x00\x01", 4));
  ASSERT_EQ(Set(h, GH, 0x0110, "camera"), 0);
  EXPECT_EQ(NumDatasets(h), 1u);
  for (const auto& d : docs) EXPECT_TRUE(TOVADLL_CLOSE_FILE(d.h) == TOVA_OK && TOVADLL_CLOSE_FILE(d.h) != TOVA_OK);
}

TEST(ApiDocument, OpenReadFailsOnMissingEmptyOrNullPathAndRegistersNothing) {
  TempTree dir;
  ASSERT_TRUE(WriteFileBytes(dir.Path(u"empty.tova"), std::string_view()));
  const size_t before = tova::api::TheRegistry().Count();
  for (const char16_t* name : {u"missing.tova", u"empty.tova"}) {
    EXPECT_EQ(TOVADLL_OPEN_FILE_READ(NarrowPath(dir.Path(name)).c_str()), TOVADLL_INVALID_HANDLE);
    EXPECT_EQ(OpenRead(dir.Path(name)), TOVADLL_INVALID_HANDLE);
  }
  EXPECT_EQ(tova::api::TheRegistry().Count(), before);
}

TEST(ApiDocument, EntryDataThroughCopyAndGetEntry) {
  const ScopedHandle h(OpenMemoryDocument(1));
  ASSERT_EQ(Set(h, GH, 0x0110, "device"), 0);
  TOVADLL_SET_MODIFIED(h, 0);
  std::string out(8, '#');
  uint32_t copied = 99;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 5, out.data(), &copied), TOVA_ERR_BUFFER_TOO_SMALL);
  EXPECT_TRUE(copied == 0u && out == "########");
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 6, out.data(), &copied), TOVA_OK);
  EXPECT_EQ(out, "device##");
  copied = 99;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0199, 8, out.data(), &copied), TOVA_ERR_NO_ENTRY);
  EXPECT_EQ(copied, 0u);
  EXPECT_EQ(TOVADLL_REMOVE_ENTRY(h, GH, 0x0199), TOVA_ERR_NO_ENTRY);
  // TOVADLL_GET_ENTRY hands out the entry's own storage.
  void* data = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 0), TOVA_OK);
  EXPECT_EQ(std::string(static_cast<char*>(data), size), "device");
  EXPECT_EQ(Modified(h), 0u);  // reading is no change
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 1), TOVA_OK);
  EXPECT_EQ(Modified(h), 1u);
  static_cast<char*>(data)[0] = 'D';
  EXPECT_EQ(Copy(h, GH, 0x0110), "Device");
  // Emptied, the entry stays listed without data, and that is no change.
  TOVADLL_SET_MODIFIED(h, 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, GH, 0x0110, 0, nullptr), TOVA_OK);  // an empty store needs no bytes
  EXPECT_EQ(Entries(h, GH), 2u);
  ASSERT_EQ(TOVADLL_GET_ENTRY_DATASIZE(h, GH, 0x0110, &size), TOVA_OK);
  EXPECT_EQ(size, 0u);
  data = nullptr;
  EXPECT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 1), TOVA_ERR_RECORD);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 0, nullptr, &copied), TOVA_OK);
  EXPECT_TRUE(copied == 0u && Modified(h) == 0u);
}

// TOVADLL_SET_ENTRY_ISOPTIONAL stores the flag and nothing else.
TEST(ApiDocument, OnlyCopyEntryDataFallsBackToTheFirstDataset) {
  const ScopedHandle h(OpenMemoryDocument(3));
  TOVADLL_SET_MODIFIED(h, 0);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0200, 5), TOVA_OK);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, IM, 0x0300, 1), TOVA_ERR_HANDLE);  // absent
  EXPECT_TRUE(Doc(h)->data_headers[0]->FindEntry(0x0200)->per_dataset && Modified(h) == 0u);
  EXPECT_EQ(Copy(h, DH, 0x0200), std::string("\x02\x00", 2));
  ASSERT_EQ(Set(h, DH, 0x0231, "first"), 0);  // per dataset, stored while dataset 0 is current
  ASSERT_EQ(Set(h, DH, 0x0232, "first"), 0);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 2), TOVA_OK);
  ASSERT_EQ(Set(h, DH, 0x0232, "own"), 0);
  EXPECT_EQ(Copy(h, DH, 0x0231), "first");
  EXPECT_EQ(Copy(h, DH, 0x0232), "own");  // the current dataset's own entry comes first
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, DH, 0x0231), kAbsent);
  void* data = nullptr;
  uint32_t size = 77;
  EXPECT_EQ(TOVADLL_GET_ENTRY(h, DH, 0x0231, &data, &size, 0), TOVA_ERR_NO_ENTRY);
  EXPECT_EQ(TOVADLL_GET_ENTRY_DATASIZE(h, DH, 0x0231, &size), TOVA_ERR_NO_ENTRY);
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0231, 0), TOVA_ERR_HANDLE);
}

TEST(ApiDocument, LaterDatasetsCountOnlyEntriesStoredSinceTheChange) {
  const ScopedHandle h(OpenMemoryDocument(3));
  ASSERT_EQ(Set(h, GH, 0x0101, "o"), 0);
  EXPECT_EQ(Entries(h, GH), 2u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), TOVA_OK);
  EXPECT_EQ(Entries(h, GH), 0u);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0101), TOVA_OK);  // still there, just not counted
  ASSERT_EQ(Set(h, GH, 0x0101, "o"), 0);
  EXPECT_EQ(Entries(h, GH), 1u);
  // An index at or past the end is refused and changes nothing.
  for (uint32_t index : {3u, 0xFFFFFFFFu}) {
    EXPECT_EQ(TOVADLL_SET_CURDATASET(h, index), TOVA_ERR_DATASET);
    EXPECT_EQ(TOVADLL_SET_CURDATASET_EX(h, index, 0), TOVA_ERR_DATASET);
  }
  EXPECT_TRUE(CurDataset(h) == 1u && Entries(h, GH) == 1u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 0), TOVA_OK);
  EXPECT_EQ(Entries(h, GH), 2u);
}

}  // namespace
