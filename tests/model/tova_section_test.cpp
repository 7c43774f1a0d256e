// CTOVASection: first-wins storing, lookups and their bounds, copying between
// sections, and the section record written and parsed, malformed records
// included.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/alloc_failure.h"
#include "model/tova_section.h"

namespace tova {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes DataOf(const CTOVAEntry* e) {
  return e && e->HasData() ? Bytes(e->Data(), e->Data() + e->DataSize()) : Bytes{};
}

// One entry record: u32 length, u16 identifier, data.
Bytes Record(uint32_t length, uint16_t id, const Bytes& data = {}) {
  Bytes r = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length >> 16),
             static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
Bytes Entry(uint16_t id, const Bytes& data) { return Record(static_cast<uint32_t>(data.size() + 6), id, data); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint16_t> IdsOf(const CTOVASection& s) {
  std::vector<uint16_t> ids;
  for (uint32_t i = 0; i < s.Count(); ++i) ids.push_back(s.GetEntryAt(i)->Id());
  return ids;
}

TEST(SectionAddEntry, FirstWinsOnlyInADataHeaderWithoutOverwrite) {
  const uint16_t ids[] = {0x0231, 0x0232, 0x0281, 0x0282, 0x0287, 0x0288, 0x0289, 0x0201, 0x0300};
  const uint16_t sections[] = {kSectDataHeader, kSectGlobalHeader, kSectImage};
  const Bytes old_value = {1, 2}, new_value = {3, 4};
  for (uint16_t id : ids) {
    for (uint16_t sect : sections) {
      for (int overwrite : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << std::hex << id << " in " << sect << " overwrite " << overwrite);
        CTOVASection s(sect);
        ASSERT_EQ(s.AddEntry(id, 2, old_value.data(), 1), 1);
        EXPECT_EQ(s.AddEntry(id, 2, new_value.data(), overwrite), 1);
        const bool keeps = sect == kSectDataHeader && !overwrite && IsFirstWinsId(id);
        EXPECT_EQ(DataOf(s.FindEntry(id)), keeps ? old_value : new_value);
        EXPECT_EQ(s.Count(), 1u);
      }
    }
  }
}

TEST(SectionAddEntry, NewEntriesGoToTheTailAndUpdatesKeepTheirPlace) {
  CTOVASection s(kSectGlobalHeader);
  const uint8_t b[3] = {1, 2, 3};
  s.AddEntry(0x0110, 1, b, 1);
  s.AddEntry(0x0100, 1, b, 1);
  s.AddEntry(0x0111, 1, b, 1);
  s.AddEntry(0x0100, 3, b, 1);  // update of a new size
  EXPECT_EQ(IdsOf(s), (std::vector<uint16_t>{0x0110, 0x0100, 0x0111}));
  EXPECT_EQ(s.FindEntry(0x0100)->DataSize(), 3u);
}

TEST(SectionLookup, GetEntryAtAndFindEntryBounds) {
  CTOVASection s(kSectDataHeader);
  EXPECT_EQ(s.GetEntryAt(0), nullptr);
  const uint8_t b = 7;
  s.AddEntry(0x0201, 1, &b, 1);
  s.AddEntry(0x0202, 1, &b, 1);
  EXPECT_EQ(s.GetEntryAt(0)->Id(), 0x0201);
  EXPECT_EQ(s.GetEntryAt(1)->Id(), 0x0202);
  EXPECT_EQ(s.GetEntryAt(2), nullptr);  // index equal to the count
  EXPECT_EQ(s.GetEntryAt(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(s.FindEntry(0x0203), nullptr);
}

TEST(SectionRemoveEntry, AbsentIdentifierChangesNothing) {
  CTOVASection s(kSectDataHeader);
  const uint8_t b = 7;
  s.AddEntry(0x0201, 1, &b, 1);
  s.AddEntry(0x0202, 1, &b, 1);
  EXPECT_EQ(s.RemoveEntry(0x0203), 0);
  EXPECT_EQ(s.Count(), 2u);
  EXPECT_EQ(s.RemoveEntry(0x0201), 1);
  EXPECT_EQ(IdsOf(s), std::vector<uint16_t>{0x0202});
  EXPECT_EQ(s.RemoveEntry(0x0201), 0);
}

TEST(SectionAddEntry, FailedStoreOfANewEntryLeavesTheSectionUnchanged) {
  CTOVASection s(kSectDataHeader);
  const uint8_t b[2] = {1, 2};
  s.AddEntry(0x0201, 2, b, 1);
  for (long skip = 0;; ++skip) {
    bool hit = false;
    const int rc = tova_test::WithFailingAllocation(skip, hit, [&] { return s.AddEntry(0x0202, 2, b, 1); });
    if (!hit) {
      EXPECT_EQ(rc, 1);
      EXPECT_EQ(s.Count(), 2u);
      break;
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(IdsOf(s), std::vector<uint16_t>{0x0201});
  }
}

TEST(SectionAddEntry, FailedStoreOfANewSizeIsReportedAndKeepsTheOldData) {
  CTOVASection s(kSectGlobalHeader);
  const Bytes old_value = {1, 2};
  const Bytes longer = {1, 2, 3, 4, 5};
  s.AddEntry(0x0100, 2, old_value.data(), 1);
  bool hit = false;
  const int rc = tova_test::WithFailingAllocation(0, hit, [&] { return s.AddEntry(0x0100, 5, longer.data(), 1); });
  ASSERT_TRUE(hit);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(DataOf(s.FindEntry(0x0100)), old_value);
}

TEST(SectionSize, CountsAllOrOnlyPerDatasetEntries) {
  CTOVASection s(kSectDataHeader);
  EXPECT_EQ(s.GetSectionSize(0), 6u);
  const uint8_t b[4] = {};
  s.AddEntry(0x0201, 4, b, 1);  // 10, held once
  s.AddEntry(0x0231, 2, b, 1);  // 8, per dataset
  s.AddEntry(0x0232, 0, b, 1);  // 6, per dataset, empty
  EXPECT_EQ(s.GetSectionSize(0), 6u + 10 + 8 + 6);
  EXPECT_EQ(s.GetSectionSize(1), 6u + 8 + 6);
}

TEST(SectionWrite, WritesHeaderAndQualifyingEntriesOrNothing) {
  CTOVASection s(kSectDataHeader);
  s.AddEntry(0x0201, 2, Bytes{0x80, 0x02}.data(), 1);
  s.AddEntry(0x0231, 1, Bytes{5}.data(), 1);
  const Bytes all = Cat({Record(6 + 8 + 7, kSectDataHeader), Entry(0x0201, {0x80, 0x02}), Entry(0x0231, {5})});
  const Bytes per = Cat({Record(6 + 7, kSectDataHeader), Entry(0x0231, {5})});

  Bytes out(32, 0xEE);
  EXPECT_EQ(s.WriteSection(out.data(), static_cast<uint32_t>(all.size() - 1), 0), 0u);  // one byte short
  EXPECT_EQ(out, Bytes(32, 0xEE));
  ASSERT_EQ(s.WriteSection(out.data(), static_cast<uint32_t>(all.size()), 0), all.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + all.size()), all);

  std::fill(out.begin(), out.end(), 0xEE);
  ASSERT_EQ(s.WriteSection(out.data(), 32, 1), per.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + per.size()), per);
  EXPECT_EQ(out[per.size()], 0xEE);
}

TEST(SectionReadWrite, RoundTripKeepsOrderAndDataAndDropsEmptyEntries) {
  CTOVASection s(kSectGlobalHeader);
  s.AddEntry(0x0110, 3, "abc", 1);
  s.AddEntry(0x0111, 2, Bytes{0x80, 0x02}.data(), 1);
  s.AddEntry(0x0101, 0, nullptr, 1);  // written as a 6-byte record
  s.AddEntry(0x0112, 2, Bytes{0xE0, 0x01}.data(), 1);
  Bytes out(64);
  const uint32_t n = s.WriteSection(out.data(), 64, 0);
  ASSERT_EQ(n, s.GetSectionSize(0));

  CTOVASection back;
  ASSERT_EQ(back.ReadSection(out.data() + 6, n - 6, kSectGlobalHeader), 0);
  EXPECT_EQ(back.SectionId(), kSectGlobalHeader);
  EXPECT_EQ(IdsOf(back), (std::vector<uint16_t>{0x0110, 0x0111, 0x0112}));
  EXPECT_EQ(DataOf(back.FindEntry(0x0110)), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(DataOf(back.FindEntry(0x0112)), (Bytes{0xE0, 0x01}));
}

TEST(SectionRead, MalformedRecords) {
  const Bytes good = Entry(0x0201, {1, 2});
  struct Case {
    const char* name;
    Bytes block;
    int32_t result;
    std::vector<uint16_t> stored;
  } cases[] = {
      {"empty block", {}, 0, {}},
      {"record length 0", Record(0, 0x0202), 32, {}},
      {"record length 5", Cat({good, Record(5, 0x0202)}), 32, {0x0201}},
      {"record running past the end", Cat({good, Record(9, 0x0202, {1, 2})}), 32, {0x0201}},
      {"record length all ones", Cat({good, Record(0xFFFFFFFFu, 0x0202, {1})}), 32, {0x0201}},
      {"exactly-6 record dropped", Cat({Record(6, 0x0202), good}), 0, {0x0201}},
      {"only a 6-byte record", Record(6, 0x0202), 0, {}},
      {"tail of 1 byte", Cat({good, Bytes{7}}), 32, {0x0201}},
      {"tail of 5 bytes", Cat({good, Bytes{7, 0, 0, 0, 2}}), 32, {0x0201}},
      {"record ending exactly at the end", Cat({good, Entry(0x0202, {3})}), 0, {0x0201, 0x0202}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The block lives in a buffer of its own size, so that ASan sees any read beyond it.
    std::unique_ptr<uint8_t[]> block(new uint8_t[c.block.size() + 1]);
    if (!c.block.empty()) std::memcpy(block.get(), c.block.data(), c.block.size());
    CTOVASection s;
    EXPECT_EQ(s.ReadSection(block.get(), static_cast<uint32_t>(c.block.size()), kSectDataHeader), c.result);
    EXPECT_EQ(IdsOf(s), c.stored);
    EXPECT_EQ(s.SectionId(), kSectDataHeader);
  }
}

TEST(SectionRead, RepeatedIdentifiersKeepFirstOnlyForFirstWinsInADataHeader) {
  const Bytes block = Cat({Entry(0x0231, {1}), Entry(0x0201, {1}), Entry(0x0231, {2}), Entry(0x0201, {2})});
  CTOVASection dh;
  ASSERT_EQ(dh.ReadSection(block.data(), static_cast<uint32_t>(block.size()), kSectDataHeader), 0);
  EXPECT_EQ(DataOf(dh.FindEntry(0x0231)), Bytes{1});
  EXPECT_EQ(DataOf(dh.FindEntry(0x0201)), Bytes{2});
  CTOVASection gh;
  ASSERT_EQ(gh.ReadSection(block.data(), static_cast<uint32_t>(block.size()), kSectGlobalHeader), 0);
  EXPECT_EQ(DataOf(gh.FindEntry(0x0231)), Bytes{2});
}

TEST(SectionRead, EntryThatCannotBeStoredGivesThirtyAndKeepsEarlierEntries) {
  const Bytes block = Cat({Entry(0x0201, {1}), Entry(0x0202, {2}), Entry(0x0203, {3})});
  for (long skip = 0;; ++skip) {
    CTOVASection s;
    bool hit = false;
    const int32_t rc = tova_test::WithFailingAllocation(
        skip, hit, [&] { return s.ReadSection(block.data(), static_cast<uint32_t>(block.size()), kSectDataHeader); });
    if (!hit) {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(s.Count(), 3u);
      break;
    }
    EXPECT_EQ(rc, 30);
    EXPECT_LT(s.Count(), 3u);
    for (uint32_t i = 0; i < s.Count(); ++i) EXPECT_EQ(s.GetEntryAt(i)->Id(), 0x0201 + i);
  }
}

TEST(SectionCopyFrom, SkipExistingLeavesHeldEntriesUntouched) {
  CTOVASection source(kSectDataHeader);
  source.AddEntry(0x0200, 1, Bytes{1}.data(), 1);
  source.AddEntry(0x0201, 1, Bytes{1}.data(), 1);
  CTOVASection dest(kSectDataHeader);
  dest.AddEntry(0x0201, 2, Bytes{9, 9}.data(), 1);
  dest.SetModified(0);
  dest.GetEntryAt(0)->present = 0;
  dest.GetEntryAt(0)->per_dataset = 1;

  ASSERT_EQ(dest.CopyFrom(source, 0, 1), 0);
  EXPECT_EQ(IdsOf(dest), (std::vector<uint16_t>{0x0201, 0x0200}));
  const CTOVAEntry* kept = dest.FindEntry(0x0201);
  EXPECT_EQ(DataOf(kept), (Bytes{9, 9}));
  EXPECT_EQ(kept->modified, 0);
  EXPECT_EQ(kept->present, 0);
  EXPECT_EQ(kept->per_dataset, 1);

  ASSERT_EQ(dest.CopyFrom(source, 0, 0), 0);  // without skipping, the source wins
  EXPECT_EQ(DataOf(dest.FindEntry(0x0201)), Bytes{1});
}

TEST(SectionCopyFrom, CopiesStoreAnewWithFlagsFromTheIdentifier) {
  CTOVASection source(kSectImage);
  source.AddEntry(0x0300, 2, Bytes{1, 2}.data(), 1);
  source.AddEntry(0x0380, 1, Bytes{3}.data(), 1);
  source.AddEntry(0x0301, 0, nullptr, 1);
  source.SetModified(0);
  source.ClearPresent();
  source.FindEntry(0x0300)->per_dataset = 0;  // turned over; the copy ignores it
  source.FindEntry(0x0380)->per_dataset = 1;

  CTOVASection all;
  ASSERT_EQ(all.CopyFrom(source, 0, 0), 0);
  EXPECT_EQ(all.SectionId(), kSectImage);
  EXPECT_EQ(IdsOf(all), (std::vector<uint16_t>{0x0300, 0x0380, 0x0301}));
  EXPECT_EQ(all.FindEntry(0x0300)->per_dataset, 1);
  EXPECT_EQ(all.FindEntry(0x0380)->per_dataset, 0);
  EXPECT_EQ(all.FindEntry(0x0300)->present, 1);
  EXPECT_EQ(all.FindEntry(0x0300)->modified, 1);
  EXPECT_EQ(all.FindEntry(0x0301)->RecordLength(), 6u);

  // Per-dataset only follows the source entries' flags.
  CTOVASection per;
  ASSERT_EQ(per.CopyFrom(source, 1, 0), 0);
  EXPECT_EQ(IdsOf(per), std::vector<uint16_t>{0x0380});
}

TEST(SectionCopyFrom, StopsWithThirtyWhenAnEntryCannotBeStored) {
  CTOVASection source(kSectDataHeader);
  for (uint16_t id = 0x0201; id <= 0x0204; ++id) source.AddEntry(id, 1, Bytes{1}.data(), 1);
  for (long skip = 0;; ++skip) {
    CTOVASection dest;
    bool hit = false;
    const int32_t rc = tova_test::WithFailingAllocation(skip, hit, [&] { return dest.CopyFrom(source, 0, 0); });
    if (!hit) {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(dest.Count(), 4u);
      break;
    }
    EXPECT_EQ(rc, 30);
    EXPECT_LT(dest.Count(), 4u);
  }
}

TEST(SectionModified, AnyEntryCountsAndSetModifiedReachesAll) {
  CTOVASection s(kSectGlobalHeader);
  EXPECT_EQ(s.IsModified(), 0);
  s.AddEntry(0x0100, 1, "a", 1);
  s.AddEntry(0x0101, 1, "b", 1);
  s.SetModified(0);
  EXPECT_EQ(s.IsModified(), 0);
  s.GetEntryAt(1)->modified = 1;
  EXPECT_EQ(s.IsModified(), 1);
  s.SetModified(1);
  EXPECT_EQ(s.GetEntryAt(0)->modified, 1);
}

}  // namespace
}  // namespace tova
