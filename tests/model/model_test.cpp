// The document model: the flag rules of CTOVAEntry::SetData; CTOVAFile's removing
// datasets (refusals, the merge of the first data header, the current index), the modified state.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog.h"
#include "model/tova_entry.h"
#include "model/tova_file.h"
#include "support/alloc_failure.h"

namespace tova {
namespace {

using Bytes = std::vector<uint8_t>;
const uint8_t kFour[4] = {1, 2, 3, 4};

Bytes DataOf(const CTOVAEntry& e) { return e.HasData() ? Bytes(e.Data(), e.Data() + e.DataSize()) : Bytes{}; }
bool Store(CTOVAEntry& e, uint16_t id, uint32_t size, const void* bytes) {
  return e.SetData(id, size, bytes, catalog::Rules().IsPerDataset(id));
}

// A second store into an entry whose modified and present flags were cleared and per-dataset flag turned over.
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

// A memory document of n datasets; data header i and image i hold the tag i (0x0231, 0x0300) to recognise them by.
void MakeMemoryDocument(CTOVAFile& doc, uint32_t n) {
  ASSERT_EQ(doc.OpenMem(0, 2, 0x0100), Code::kOk);
  ASSERT_EQ(doc.SetEntry(TOVA_SECT_GlobalHeader, 0x0100, 2, "v1"), Code::kOk);
  for (uint32_t i = 0; i < n; ++i) {
    if (i > 0) doc.CreateFirstDatasetSections();  // appends a data header and an image
    const uint8_t tag = static_cast<uint8_t>(i);
    doc.data_headers[i]->AddEntry(0x0231, 1, &tag, StoreMode::kOverwrite);
    doc.images[i]->AddEntry(0x0300, 1, &tag, StoreMode::kOverwrite);
  }
}

TEST(ModelFile, RefusedRemovalsAndTheModifiedStateOfEverySection) {
  CTOVAFile none(catalog::Rules()), one(catalog::Rules()), three(catalog::Rules()), write(catalog::Rules());
  MakeMemoryDocument(one, 1);
  MakeMemoryDocument(three, 3);
  write.CreateFirstDatasetSections();  // a write document of two datasets
  write.data_headers.push_back(std::make_unique<CTOVASection>(TOVA_SECT_DataHeader, catalog::Rules()));
  write.image_index.resize(2);
  write.global_header.AddEntry(0x0100, 1, "v", StoreMode::kOverwrite);
  write.type = DocumentType::kWrite;
  EXPECT_TRUE(none.RemoveDataset(0) == Code::kTooFewDatasets && one.RemoveDataset(0) == Code::kTooFewDatasets);
  EXPECT_EQ(one.RemoveDataset(1), Code::kTooFewDatasets);
  EXPECT_TRUE(three.RemoveDataset(3) == Code::kDataset && three.RemoveDataset(0xFFFFFFFFu) == Code::kDataset);
  EXPECT_EQ(write.RemoveDataset(1), Code::kDocumentType);
  EXPECT_EQ(write.RemoveDataset(2), Code::kDataset);  // the range is checked first
  EXPECT_TRUE(three.GetNumDatasets() == 3u && write.GetNumDatasets() == 2u);
  // The modified state covers every section.
  for (CTOVASection* s : {three.data_headers[1], three.images[2].get()}) {
    three.SetModified(0);
    s->GetEntryAt(0)->modified = 1;
    EXPECT_EQ(three.IsModified(), 1);
  }
  three.SetModified(0);
  EXPECT_EQ(three.IsModified(), 0);
}

TEST(ModelFile, RemovalKeepsTheCurrentIndexOnTheSameDataset) {
  const uint32_t cases[][4] = {  // current, removed, current afterwards, its number before the removal
      {2, 2, 1, 1}, {0, 2, 0, 0}, {1, 2, 1, 1}, {2, 1, 1, 2}, {1, 1, 0, 0},
      {0, 1, 0, 0}, {0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 1, 2},  // removing dataset 0 lowers a later index too
  };
  for (const auto& [current, index, new_current, tag] : cases) {
    SCOPED_TRACE(::testing::Message() << "current " << current << " remove " << index);
    CTOVAFile doc(catalog::Rules());
    MakeMemoryDocument(doc, 3);
    ASSERT_EQ(doc.SetCurDataset(current, ImageLoad::kLoad), Code::kOk);
    ASSERT_EQ(doc.RemoveDataset(index), Code::kOk);
    EXPECT_TRUE(doc.GetNumDatasets() == 2u && doc.GetCurDataset() == new_current);
    CTOVAEntry *e = nullptr, *image = nullptr;  // the image went with its data header
    ASSERT_TRUE(doc.LocateEntry(TOVA_SECT_DataHeader, 0x0231, e) == Code::kOk &&
                doc.LocateEntry(TOVA_SECT_Image, 0x0300, image) == Code::kOk);
    EXPECT_TRUE(e->Data()[0] == tag && image->Data()[0] == tag);
  }
}

// The 1st, 2nd, ... allocation fails until the removal completes: a failed removal changes nothing.
TEST(ModelFile, RemovingTheFirstMergesItsDataHeaderIntoTheNext) {
  for (long skip = 0;; ++skip) {
    CTOVAFile doc(catalog::Rules());
    MakeMemoryDocument(doc, 3);
    doc.data_headers[0]->AddEntry(0x0201, 2, "\x80\x02", StoreMode::kOverwrite);
    doc.data_headers[0]->AddEntry(0x0202, 2, "\xE0\x01", StoreMode::kOverwrite);
    doc.data_headers[1]->AddEntry(0x0201, 2, "\x40\x01", StoreMode::kOverwrite);  // its own value wins
    ASSERT_EQ(doc.SetCurDataset(2, ImageLoad::kLoad), Code::kOk);
    doc.SetModified(0);
    bool hit = false;
    const auto rc = tova_test::WithFailingAllocation(skip, hit, [&] { return doc.RemoveDataset(0); });
    if (hit) {
      EXPECT_TRUE(rc == Code::kNoMemory && doc.GetNumDatasets() == 3u && doc.GetCurDataset() == 2u) << skip;
      EXPECT_TRUE(doc.data_headers[0]->Count() == 5u && doc.data_headers[1]->Count() == 2u && !doc.IsModified());
      continue;
    }
    ASSERT_EQ(rc, Code::kOk);
    ASSERT_EQ(doc.GetNumDatasets(), 2u);
    const CTOVASection& first = *doc.data_headers[0];
    std::vector<uint16_t> ids;
    for (const auto& e : first.Entries()) ids.push_back(e->Id());
    // Its own entries first, then the ones it lacked, in the removed header's order.
    EXPECT_EQ(ids, (std::vector<uint16_t>{0x0231, 0x0201, 0x0200, 0x0210, 0x0202}));
    EXPECT_TRUE(first.FindEntry(0x0231)->Data()[0] == 1 && first.FindEntry(0x0201)->Data()[0] == 0x40 &&
                first.FindEntry(0x0200)->Data()[0] == 2);
    // The global header now counts as modified; the data headers are as they were.
    for (const auto& e : doc.global_header.Entries()) EXPECT_EQ(e->modified, 1);
    EXPECT_EQ(doc.data_headers[1]->IsModified(), 0);
    break;
  }
}

}  // namespace
}  // namespace tova
