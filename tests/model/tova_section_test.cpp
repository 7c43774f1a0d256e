// CTOVASection: first-wins storing, list order and lookup bounds, copying
// between sections, and parsing entry records, malformed ones included.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "model/tova_section.h"

namespace tova {
namespace {

using Bytes = std::vector<uint8_t>;
using Ids = std::vector<uint16_t>;

Bytes DataOf(const CTOVAEntry* e) { return e && e->HasData() ? Bytes(e->Data(), e->Data() + e->DataSize()) : Bytes{}; }

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
Ids IdsOf(const CTOVASection& s) {
  Ids ids;
  for (uint32_t i = 0; i < s.Count(); ++i) ids.push_back(s.GetEntryAt(i)->Id());
  return ids;
}

TEST(ModelSection, FirstWinsOnlyInADataHeaderWithoutOverwrite) {
  const Bytes old_value = {1, 2}, new_value = {3, 4};
  for (uint16_t id : {0x0231, 0x0289, 0x0201, 0x0300}) {
    for (uint16_t sect : {TOVA_SECT_DataHeader, TOVA_SECT_GlobalHeader, TOVA_SECT_Image}) {
      for (int overwrite : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << std::hex << id << " in " << sect << " overwrite " << overwrite);
        CTOVASection s(sect, catalog::Rules());
        ASSERT_TRUE(s.AddEntry(id, 2, old_value.data(), StoreMode::kOverwrite));
        EXPECT_TRUE(s.AddEntry(id, 2, new_value.data(), overwrite ? StoreMode::kOverwrite : StoreMode::kKeepFirstWins));
        const bool keeps = sect == TOVA_SECT_DataHeader && !overwrite && catalog::Rules().IsFirstWins(id);
        EXPECT_EQ(DataOf(s.FindEntry(id)), keeps ? old_value : new_value);
        EXPECT_EQ(s.Count(), 1u);
      }
    }
  }
  // Reading stores without overwriting.
  const Bytes block = Cat({Entry(0x0231, {1}), Entry(0x0201, {1}), Entry(0x0231, {2}), Entry(0x0201, {2})});
  CTOVASection dh(TOVA_SECT_DataHeader, catalog::Rules());
  ASSERT_EQ(dh.ReadSection(block.data(), static_cast<uint32_t>(block.size())), 0);
  EXPECT_EQ(DataOf(dh.FindEntry(0x0231)), Bytes{1});
  EXPECT_EQ(DataOf(dh.FindEntry(0x0201)), Bytes{2});
}

TEST(ModelSection, ListOrderLookupsAndRemoval) {
  CTOVASection s(TOVA_SECT_GlobalHeader, catalog::Rules());
  for (uint16_t id : {0x0110, 0x0100, 0x0111}) s.AddEntry(id, 1, "a", StoreMode::kOverwrite);
  s.AddEntry(0x0100, 3, "abc", StoreMode::kOverwrite);  // an update of a new size keeps its place
  EXPECT_EQ(IdsOf(s), (Ids{0x0110, 0x0100, 0x0111}));
  EXPECT_EQ(s.GetEntryAt(3), nullptr);  // index equal to the count
  EXPECT_FALSE(s.RemoveEntry(0x0199));
  EXPECT_TRUE(s.RemoveEntry(0x0100));
  EXPECT_EQ(IdsOf(s), (Ids{0x0110, 0x0111}));
}

TEST(ModelSection, ReadSectionMalformedRecords) {
  const Bytes good = Entry(0x0201, {1, 2});
  const struct {
    const char* name;
    Bytes block;
    int32_t result;
    Ids stored;
  } cases[] = {
      {"empty block", {}, 0, {}},
      {"record length 0", Record(0, 0x0202), 32, {}},
      {"record length 5", Cat({good, Record(5, 0x0202)}), 32, {0x0201}},
      {"record running past the end", Cat({good, Record(9, 0x0202, {1, 2})}), 32, {0x0201}},
      {"record length all ones", Cat({good, Record(0xFFFFFFFFu, 0x0202, {1})}), 32, {0x0201}},
      {"exactly-6 record dropped", Cat({Record(6, 0x0202), good}), 0, {0x0201}},
      {"tail of 5 bytes", Cat({good, Bytes{7, 0, 0, 0, 2}}), 32, {0x0201}},
      {"record ending exactly at the end", Cat({good, Entry(0x0202, {3})}), 0, {0x0201, 0x0202}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The block lives in a buffer of its own size, so that ASan sees any read beyond it.
    std::unique_ptr<uint8_t[]> block(new uint8_t[c.block.size() + 1]);
    if (!c.block.empty()) std::memcpy(block.get(), c.block.data(), c.block.size());
    CTOVASection s(TOVA_SECT_DataHeader, catalog::Rules());
    EXPECT_EQ(s.ReadSection(block.get(), static_cast<uint32_t>(c.block.size())), c.result);
    EXPECT_EQ(IdsOf(s), c.stored);
    EXPECT_EQ(s.SectionId(), TOVA_SECT_DataHeader);
  }
}

TEST(ModelSection, CopyFromSkipsHeldEntriesAndStoresTheRestAnew) {
  CTOVASection source(TOVA_SECT_Image, catalog::Rules()), dest(TOVA_SECT_Image, catalog::Rules()),
      per(TOVA_SECT_Image, catalog::Rules());
  source.AddEntry(0x0300, 2, "\x01\x02", StoreMode::kOverwrite);
  source.AddEntry(0x0380, 1, "\x03", StoreMode::kOverwrite);
  source.SetModified(false);
  source.ClearPresent();
  source.FindEntry(0x0300)->per_dataset = 0;  // turned over; a copy takes the flag from the identifier
  source.FindEntry(0x0380)->per_dataset = 1;
  dest.AddEntry(0x0380, 2, "\x09\x09", StoreMode::kOverwrite);
  dest.SetModified(false);

  ASSERT_EQ(dest.CopyFrom(source, EntryScope::kAll, CTOVASection::Existing::kSkip), 0);
  EXPECT_EQ(IdsOf(dest), (Ids{0x0380, 0x0300}));
  EXPECT_EQ(DataOf(dest.FindEntry(0x0380)), (Bytes{9, 9}));
  EXPECT_EQ(dest.FindEntry(0x0380)->modified, 0);
  const CTOVAEntry* copied = dest.FindEntry(0x0300);
  EXPECT_TRUE(copied->per_dataset && copied->present && copied->modified);
  ASSERT_EQ(dest.CopyFrom(source, EntryScope::kAll, CTOVASection::Existing::kReplace), 0);  // without skipping, the source wins
  EXPECT_EQ(DataOf(dest.FindEntry(0x0380)), Bytes{3});
  ASSERT_EQ(per.CopyFrom(source, EntryScope::kPerDatasetOnly, CTOVASection::Existing::kReplace), 0);  // per-dataset only follows the source entries' flags
  EXPECT_EQ(IdsOf(per), Ids{0x0380});
}

}  // namespace
}  // namespace tova
