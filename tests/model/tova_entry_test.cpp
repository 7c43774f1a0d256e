// CTOVAEntry: the flag rules of SetData, failed and oversized stores, copying
// and writing the entry record; the per-dataset and first-wins identifiers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "api/alloc_failure.h"
#include "model/tova_entry.h"

namespace tova {
namespace {

const uint8_t kFour[4] = {1, 2, 3, 4};
const uint8_t kOtherFour[4] = {1, 2, 3, 5};
const uint8_t kThree[3] = {9, 8, 7};

std::vector<uint8_t> DataOf(const CTOVAEntry& e) {
  return e.HasData() ? std::vector<uint8_t>(e.Data(), e.Data() + e.DataSize()) : std::vector<uint8_t>{};
}

TEST(EntrySetData, FirstStoreSetsLengthFlagsAndPerDatasetDefault) {
  struct Case {
    uint16_t id;
    int32_t per_dataset;
  } cases[] = {{0x0200, 0}, {0x0210, 0}, {0x0300, 1}, {0x0231, 1}, {0x0182, 1}, {0x1110, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    CTOVAEntry e;
    ASSERT_EQ(e.SetData(c.id, 4, kFour), 1);
    EXPECT_EQ(e.RecordLength(), 10u);
    EXPECT_EQ(e.Id(), c.id);
    EXPECT_EQ(e.present, 1);
    EXPECT_EQ(e.modified, 1);
    EXPECT_EQ(e.per_dataset, c.per_dataset);
    EXPECT_EQ(DataOf(e), std::vector<uint8_t>(kFour, kFour + 4));
  }
}

// A second store into an entry that holds 4 bytes, whose modified and present
// flags were cleared and whose per-dataset flag was turned over (as
// TOVADLL_SET_ENTRY_ISOPTIONAL does).
TEST(EntrySetData, SecondStoreFollowsTheFlagRules) {
  struct Case {
    const char* name;
    uint32_t size;
    const uint8_t* bytes;
    uint32_t record_length;
    std::vector<uint8_t> data;
    int32_t present, modified;
    bool per_dataset_reset;  // back to the identifier's default
  } cases[] = {
      {"same bytes", 4, kFour, 10, {1, 2, 3, 4}, 1, 0, false},
      {"other bytes of the same size", 4, kOtherFour, 10, {1, 2, 3, 5}, 1, 1, false},
      {"new size", 3, kThree, 9, {9, 8, 7}, 1, 1, true},
      {"size 0 empties", 0, kFour, 6, {}, 0, 0, true},
      {"same size without bytes keeps the data", 4, nullptr, 10, {1, 2, 3, 4}, 0, 0, true},
      {"new size without bytes empties", 7, nullptr, 6, {}, 0, 0, true},
  };
  for (uint16_t id : {uint16_t{0x0200}, uint16_t{0x0300}}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " id " + std::to_string(id));
      CTOVAEntry e;
      ASSERT_EQ(e.SetData(id, 4, kFour), 1);
      const int32_t default_flag = e.per_dataset;
      e.modified = 0;
      e.present = 0;
      e.per_dataset = !default_flag;
      ASSERT_EQ(e.SetData(id, c.size, c.bytes), 1);
      EXPECT_EQ(e.RecordLength(), c.record_length);
      EXPECT_EQ(DataOf(e), c.data);
      EXPECT_EQ(e.HasData(), !c.data.empty());
      EXPECT_EQ(e.present, c.present);
      EXPECT_EQ(e.modified, c.modified);
      EXPECT_EQ(e.per_dataset, c.per_dataset_reset ? default_flag : !default_flag);
    }
  }
}

TEST(EntrySetData, ModifiedStaysSetOnceSet) {
  CTOVAEntry e;
  e.SetData(0x0201, 4, kFour);
  ASSERT_EQ(e.modified, 1);
  e.SetData(0x0201, 4, kFour);
  EXPECT_EQ(e.modified, 1);
}

TEST(EntrySetData, OversizedStoreIsRefusedWithoutTouchingTheEntry) {
  // Sizes whose record length would not fit in 32 bits; the bytes are never read.
  for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFFAu}) {
    CTOVAEntry fresh;
    EXPECT_EQ(fresh.SetData(0x0201, size, kFour), 0);
    EXPECT_EQ(fresh.RecordLength(), 0u);
    EXPECT_FALSE(fresh.HasData());

    CTOVAEntry held;
    held.SetData(0x0201, 4, kFour);
    held.modified = 0;
    EXPECT_EQ(held.SetData(0x0201, size, kFour), 0);
    EXPECT_EQ(held.RecordLength(), 10u);
    EXPECT_EQ(DataOf(held), std::vector<uint8_t>(kFour, kFour + 4));
    EXPECT_EQ(held.modified, 0);
  }
}

TEST(EntrySetData, FailedAllocationLeavesTheEntryAsItWas) {
  CTOVAEntry held;
  ASSERT_EQ(held.SetData(0x0300, 4, kFour), 1);
  held.modified = 0;
  held.present = 0;
  const uint8_t eight[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  bool hit = false;
  const int rc = tova_test::WithFailingAllocation(0, hit, [&] { return held.SetData(0x0300, 8, eight); });
  ASSERT_TRUE(hit);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(held.RecordLength(), 10u);
  EXPECT_EQ(DataOf(held), std::vector<uint8_t>(kFour, kFour + 4));
  EXPECT_EQ(held.modified, 0);
  EXPECT_EQ(held.present, 0);

  CTOVAEntry fresh;
  EXPECT_EQ(tova_test::WithFailingAllocation(0, hit, [&] { return fresh.SetData(0x0300, 8, eight); }), 0);
  EXPECT_TRUE(hit);
  EXPECT_EQ(fresh.RecordLength(), 0u);
  EXPECT_FALSE(fresh.HasData());
}

TEST(EntryCopyData, CopiesOnlyWhenTheDataFit) {
  CTOVAEntry e;
  e.SetData(0x0201, 4, kFour);
  uint8_t out[8];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(e.CopyData(out, 3), 0u);  // one byte short
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(e.CopyData(out, 4), 4u);
  EXPECT_EQ(std::memcmp(out, kFour, 4), 0);
  EXPECT_EQ(e.CopyData(out, 8), 4u);
  EXPECT_EQ(out[4], 0xEE);

  CTOVAEntry empty;
  empty.SetData(0x0201, 0, nullptr);
  EXPECT_EQ(empty.CopyData(out, 8), 0u);
}

TEST(EntryWriteEntry, WritesTheLittleEndianRecord) {
  CTOVAEntry e;
  e.SetData(0x0231, 3, kThree);
  uint8_t out[16];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(e.WriteEntry(out, 8), 0u);  // one byte short
  EXPECT_EQ(out[0], 0xEE);
  ASSERT_EQ(e.WriteEntry(out, 9), 9u);
  const uint8_t expected[9] = {9, 0, 0, 0, 0x31, 0x02, 9, 8, 7};
  EXPECT_EQ(std::memcmp(out, expected, 9), 0);
  EXPECT_EQ(out[9], 0xEE);
}

TEST(EntryWriteEntry, EmptyEntryIsASixByteRecord) {
  CTOVAEntry e;
  e.SetData(0x0201, 4, kFour);
  e.SetData(0x0201, 0, nullptr);
  uint8_t out[8];
  EXPECT_EQ(e.WriteEntry(out, 5), 0u);
  ASSERT_EQ(e.WriteEntry(out, 8), 6u);
  const uint8_t expected[6] = {6, 0, 0, 0, 0x01, 0x02};
  EXPECT_EQ(std::memcmp(out, expected, 6), 0);
}

TEST(EntryIdentifiers, PerDatasetIdentifiersAreExactlyTheSixtyEight) {
  std::vector<uint16_t> expected = {0x0182, 0x0290, 0x0291, 0x029E, 0x0300, 0x0421, 0x0601, 0x0609};
  auto range = [&](uint16_t a, uint16_t b) {
    for (uint32_t i = a; i <= b; ++i) expected.push_back(static_cast<uint16_t>(i));
  };
  range(0x0231, 0x0233);
  range(0x0240, 0x0242);
  range(0x0280, 0x0282);
  range(0x0286, 0x0289);
  range(0x0293, 0x029C);
  range(0x0400, 0x041F);
  range(0x0423, 0x0427);
  ASSERT_EQ(expected.size(), 68u);
  std::vector<bool> want(0x10000, false);
  for (uint16_t id : expected) want[id] = true;
  for (uint32_t id = 0; id <= 0xFFFF; ++id)
    ASSERT_EQ(IsPerDatasetId(static_cast<uint16_t>(id)), want[id]) << std::hex << id;
}

TEST(EntryIdentifiers, FirstWinsIdentifiersAreExactlyTheSeven) {
  const uint16_t expected[] = {0x0231, 0x0232, 0x0281, 0x0282, 0x0287, 0x0288, 0x0289};
  uint32_t count = 0;
  for (uint32_t id = 0; id <= 0xFFFF; ++id)
    if (IsFirstWinsId(static_cast<uint16_t>(id))) ++count;
  EXPECT_EQ(count, 7u);
  for (uint16_t id : expected) EXPECT_TRUE(IsFirstWinsId(id)) << std::hex << id;
}

}  // namespace
}  // namespace tova
