// CTOVAEntry: the flag rules of SetData, and refused and failed stores.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog.h"
#include "model/tova_entry.h"
#include "support/alloc_failure.h"

namespace tova {
namespace {

using Bytes = std::vector<uint8_t>;
const uint8_t kFour[4] = {1, 2, 3, 4};

Bytes DataOf(const CTOVAEntry& e) { return e.HasData() ? Bytes(e.Data(), e.Data() + e.DataSize()) : Bytes{}; }
bool Store(CTOVAEntry& e, uint16_t id, uint32_t size, const void* bytes) {
  return e.SetData(id, size, bytes, catalog::Rules().IsPerDataset(id));
}

// A first store, then a second one into the entry after its modified and present flags were cleared and its per-dataset
// flag was turned over (as TOVADLL_SET_ENTRY_ISOPTIONAL does).
TEST(ModelEntry, StoresFollowTheFlagRules) {
  const uint8_t other[4] = {1, 2, 3, 5}, three[3] = {9, 8, 7};
  const struct {
    const char* name;
    uint32_t size;
    const uint8_t* bytes;
    Bytes data;
    int32_t present, modified;
    bool per_dataset_reset;  // back to the identifier's default
  } cases[] = {
      {"same bytes", 4, kFour, {1, 2, 3, 4}, 1, 0, false},
      {"other bytes of the same size", 4, other, {1, 2, 3, 5}, 1, 1, false},
      {"new size", 3, three, {9, 8, 7}, 1, 1, true},
      {"size 0 empties", 0, kFour, {}, 0, 0, true},
      {"same size without bytes keeps the data", 4, nullptr, {1, 2, 3, 4}, 0, 0, true},
      {"new size without bytes empties", 7, nullptr, {}, 0, 0, true},
  };
  for (const auto& [id, default_flag] : {std::pair<uint16_t, int32_t>{0x0200, 0}, {0x0300, 1}}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " id " + std::to_string(id));
      CTOVAEntry e;
      ASSERT_TRUE(Store(e, id, 4, kFour));
      EXPECT_TRUE(e.RecordLength() == 10u && e.Id() == id && e.present && e.modified);
      EXPECT_EQ(e.per_dataset, default_flag);
      e.modified = e.present = 0;
      e.per_dataset = !default_flag;
      ASSERT_TRUE(Store(e, id, c.size, c.bytes));
      EXPECT_EQ(e.RecordLength(), c.data.size() + 6);  // length and data agree
      EXPECT_EQ(DataOf(e), c.data);
      EXPECT_EQ(e.HasData(), !c.data.empty());
      EXPECT_TRUE(e.present == c.present && e.modified == c.modified);
      EXPECT_EQ(e.per_dataset, c.per_dataset_reset ? default_flag : !default_flag);
    }
  }
}

// Sizes whose record length would not fit in 32 bits are refused before the bytes are read; the store of 8 bytes meets
// a failing allocation.
TEST(ModelEntry, RefusedOrFailedStoreLeavesTheEntryAsItWas) {
  const uint8_t bytes[8] = {};
  for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFFAu, 8u}) {
    SCOPED_TRACE(size);
    CTOVAEntry fresh, held;
    Store(held, 0x0300, 4, kFour);
    held.modified = held.present = 0;
    for (CTOVAEntry* e : {&fresh, &held}) {
      bool hit = false;
      const auto store = [&] { return Store(*e, 0x0300, size, bytes); };
      EXPECT_FALSE(tova_test::WithFailingAllocation(size == 8 ? 0 : 99, hit, store));
      EXPECT_EQ(hit, size == 8);
    }
    EXPECT_TRUE(fresh.RecordLength() == 0u && !fresh.HasData());
    EXPECT_EQ(held.RecordLength(), 10u);
    EXPECT_EQ(DataOf(held), Bytes(kFour, kFour + 4));
    EXPECT_EQ(held.modified + held.present, 0);
  }
}

}  // namespace
}  // namespace tova
