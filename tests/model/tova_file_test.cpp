// CTOVAFile: opening a memory document, section lookups with the data-header
// routing, the fallback of CopyEntryData, present-flag counting, moving
// between datasets, removing datasets, the modified state and part names.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "api/alloc_failure.h"
#include "model/tova_file.h"
#include "support/test_files.h"

namespace tova {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes U16Bytes(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

// A memory document of n datasets; each data header i holds the per-dataset
// entry 0x0231 = i and each image the entry 0x0300 = i, so that a dataset can
// be recognised after others were removed.
void MakeMemoryDocument(CTOVAFile& doc, uint32_t n) {
  ASSERT_EQ(doc.OpenMem(0, 2, 0x0100), 0);
  ASSERT_EQ(doc.SetEntry(kSectGlobalHeader, 0x0100, 2, "v1"), 0);
  for (uint32_t i = 0; i < n; ++i) {
    if (i > 0) doc.CreateFirstDatasetSections();  // appends a data header and an image
    const uint8_t tag = static_cast<uint8_t>(i);
    doc.data_headers[i]->AddEntry(0x0231, 1, &tag, 1);
    doc.images[i]->AddEntry(0x0300, 1, &tag, 1);
  }
  ASSERT_EQ(doc.GetNumDatasets(), n);
}

// The tag of the current dataset's data header (0x0231), or -1.
int CurrentTag(CTOVAFile& doc) {
  CTOVAEntry* e = nullptr;
  if (doc.LocateEntry(kSectDataHeader, 0x0231, e) != 0) return -1;
  return e->Data()[0];
}

TEST(FileOpenMem, DataUnitAndCalibrationVersionAndNoDatasets) {
  CTOVAFile doc;
  ASSERT_EQ(doc.OpenMem(1, 2, 0x0100), 0);
  EXPECT_EQ(doc.type, kTypeMemory);
  EXPECT_EQ(doc.single_dataset, 1u);
  EXPECT_EQ(doc.GetNumDatasets(), 0u);
  uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  uint32_t copied = 99;
  ASSERT_EQ(doc.CopyEntryData(kSectDataHeader, 0x0200, 2, out, copied), 0);
  EXPECT_EQ(copied, 2u);
  EXPECT_EQ(Bytes(out, out + 2), U16Bytes(2));
  ASSERT_EQ(doc.CopyEntryData(kSectDataHeader, 0x0210, 4, out, copied), 0);
  EXPECT_EQ(Bytes(out, out + 2), U16Bytes(0x0100));
  ASSERT_EQ(doc.SetEntry(kSectGlobalHeader, 0x0101, 1, "x"), 0);
  EXPECT_EQ(doc.GetNumDatasets(), 1u);
}

TEST(FileOpenMem, OutOfMemoryLeavesAClosedDocumentNeverAHalfMadeOne) {
  for (long skip = 0;; ++skip) {
    CTOVAFile doc;
    bool hit = false;
    int32_t rc = -1;
    try {
      rc = tova_test::WithFailingAllocation(skip, hit, [&] { return doc.OpenMem(0, 2, 0x0100); });
    } catch (const std::bad_alloc&) {
      tova_test::DisarmAllocationFailure();
      continue;  // the section lists themselves could not grow; the export frame turns this into 3
    }
    if (!hit) {
      EXPECT_EQ(rc, 0);
      break;
    }
    if (rc == 0) {
      // Succeeded although an allocation failed: only if nothing was lost.
      CTOVAEntry* e = nullptr;
      EXPECT_EQ(doc.LocateEntry(kSectDataHeader, 0x0200, e), 0);
      EXPECT_EQ(doc.LocateEntry(kSectDataHeader, 0x0210, e), 0);
    } else {
      EXPECT_EQ(rc, 3);
      EXPECT_EQ(doc.type, kTypeClosed);
    }
  }
}

TEST(FileRouting, DataHeaderIdentifiersGoToTheFirstOrTheCurrentDataset) {
  CTOVAFile doc;
  MakeMemoryDocument(doc, 5);
  ASSERT_EQ(doc.SetCurDataset(3, 1), 0);
  struct Case {
    uint16_t id;
    uint32_t dataset;
  } cases[] = {{0x0200, 0}, {0x0201, 0}, {0x0210, 0}, {0x0231, 3}, {0x0300, 3}, {0x0182, 3}, {0x0427, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.id);
    const uint8_t v[3] = {0xAB, 0xCD, 0xEF};
    ASSERT_EQ(doc.SetEntry(kSectDataHeader, c.id, 3, v), 0);
    for (uint32_t i = 0; i < 5; ++i) {
      const CTOVAEntry* e = doc.data_headers[i]->FindEntry(c.id);
      const bool holds = e && e->DataSize() == 3;
      EXPECT_EQ(holds, i == c.dataset) << "dataset " << i;
    }
    ASSERT_EQ(doc.RemoveEntry(kSectDataHeader, c.id), 0);
    EXPECT_EQ(doc.data_headers[c.dataset]->FindEntry(c.id), nullptr);
  }
}

TEST(FileRouting, CopyEntryDataFallsBackToTheFirstDatasetLocateEntryDoesNot) {
  CTOVAFile doc;
  MakeMemoryDocument(doc, 3);
  const uint8_t first = 0x11;
  doc.data_headers[0]->AddEntry(0x0240, 1, &first, 1);  // per dataset, held only by dataset 0
  ASSERT_EQ(doc.SetCurDataset(2, 1), 0);

  uint8_t out = 0;
  uint32_t copied = 0;
  ASSERT_EQ(doc.CopyEntryData(kSectDataHeader, 0x0240, 1, &out, copied), 0);
  EXPECT_EQ(out, 0x11);
  CTOVAEntry* e = nullptr;
  EXPECT_EQ(doc.LocateEntry(kSectDataHeader, 0x0240, e), 33);
  EXPECT_EQ(doc.ExistEntry(kSectDataHeader, 0x0240), 33 - 2000);
  void* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(doc.GetEntry(kSectDataHeader, 0x0240, data, size, 0), 33);
  EXPECT_EQ(doc.GetEntryDataSize(kSectDataHeader, 0x0240, size), 33);

  // The current dataset's own entry wins over the first dataset's.
  ASSERT_EQ(doc.CopyEntryData(kSectDataHeader, 0x0231, 1, &out, copied), 0);
  EXPECT_EQ(out, 2);
  // No fallback for other sections.
  EXPECT_EQ(doc.CopyEntryData(kSectImage, 0x0380, 1, &out, copied), 33);
}

TEST(FileCopyEntryData, ShortCapacityAndEmptyEntries) {
  CTOVAFile doc;
  MakeMemoryDocument(doc, 1);
  uint8_t out[2] = {0xEE, 0xEE};
  uint32_t copied = 7;
  EXPECT_EQ(doc.CopyEntryData(kSectDataHeader, 0x0200, 1, out, copied), 13);
  EXPECT_EQ(copied, 0u);
  EXPECT_EQ(out[0], 0xEE);
  ASSERT_EQ(doc.SetEntry(kSectGlobalHeader, 0x0101, 0, nullptr), 0);
  copied = 7;
  EXPECT_EQ(doc.CopyEntryData(kSectGlobalHeader, 0x0101, 0, nullptr, copied), 0);
  EXPECT_EQ(copied, 0u);
  copied = 7;
  EXPECT_EQ(doc.CopyEntryData(kSectGlobalHeader, 0x0999, 2, out, copied), 33);
  EXPECT_EQ(copied, 0u);
}

TEST(FileGetSection, ClosedDocumentAndUnknownIdentifiers) {
  CTOVAFile doc;  // closed: no dataset sections at all
  CTOVASection* s = nullptr;
  EXPECT_EQ(doc.GetSection(kSectGlobalHeader, s), 0);
  EXPECT_EQ(doc.GetSection(kSectDataHeader, s), 22);
  EXPECT_EQ(doc.GetSection(kSectImage, s), 22);
  for (uint16_t id : {0x0000, 0xFF00, 0xFF03, 0xFF11, 0xFFFF, 0x0300}) EXPECT_EQ(doc.GetSection(id, s), 21);
  EXPECT_EQ(doc.SetEntry(kSectDataHeader, 0x0200, 1, "x"), 22);
  EXPECT_EQ(doc.SetEntry(kSectDataHeader, 0x0231, 1, "x"), 22);
  uint32_t count = 5;
  EXPECT_EQ(doc.GetNumEntries(kSectImage, count), 22);
  EXPECT_EQ(count, 5u);
}

TEST(FileGetSection, ImageOfAFileDocumentIsItsOneImageSection) {
  CTOVAFile mem;
  MakeMemoryDocument(mem, 5);
  ASSERT_EQ(mem.SetCurDataset(4, 1), 0);
  CTOVASection* s = nullptr;
  ASSERT_EQ(mem.GetSection(kSectImage, s), 0);
  EXPECT_EQ(s, mem.images[4].get());

  // A read document keeps one image section and refills it per dataset.
  CTOVAFile file;
  file.CreateFirstDatasetSections();
  file.type = kTypeRead;
  file.global_header.AddEntry(0x0100, 1, "v", 1);
  for (int i = 1; i < 5; ++i) file.data_headers.push_back(std::make_unique<CTOVASection>(kSectDataHeader));
  file.image_index.resize(5);
  ASSERT_EQ(file.GetNumDatasets(), 5u);
  ASSERT_EQ(file.SetCurDataset(4, 0), 0);  // load 0: no image is read
  EXPECT_EQ(file.GetCurDataset(), 4u);
  ASSERT_EQ(file.GetSection(kSectImage, s), 0);
  EXPECT_EQ(s, file.images[0].get());
  ASSERT_EQ(file.GetSection(kSectDataHeader, s), 0);
  EXPECT_EQ(s, file.data_headers[4].get());
}

TEST(FileNumEntries, LaterDatasetsCountOnlyPresentEntries) {
  CTOVAFile doc;
  MakeMemoryDocument(doc, 3);
  doc.SetEntry(kSectGlobalHeader, 0x0101, 1, "o");
  uint32_t count = 0;
  ASSERT_EQ(doc.GetNumEntries(kSectGlobalHeader, count), 0);
  EXPECT_EQ(count, 2u);

  ASSERT_EQ(doc.SetCurDataset(1, 1), 0);
  ASSERT_EQ(doc.GetNumEntries(kSectGlobalHeader, count), 0);
  EXPECT_EQ(count, 0u);  // the entries are there, but none was stored since the change
  ASSERT_EQ(doc.GetNumEntries(kSectDataHeader, count), 0);
  EXPECT_EQ(count, 1u);  // dataset 1's tag was stored after the last change
  doc.SetEntry(kSectGlobalHeader, 0x0101, 1, "p");
  ASSERT_EQ(doc.GetNumEntries(kSectGlobalHeader, count), 0);
  EXPECT_EQ(count, 1u);

  // A refused change clears nothing.
  EXPECT_EQ(doc.SetCurDataset(3, 1), 50);
  EXPECT_EQ(doc.SetCurDataset(0xFFFFFFFFu, 1), 50);
  EXPECT_EQ(doc.GetCurDataset(), 1u);
  ASSERT_EQ(doc.GetNumEntries(kSectGlobalHeader, count), 0);
  EXPECT_EQ(count, 1u);

  ASSERT_EQ(doc.SetCurDataset(0, 1), 0);
  ASSERT_EQ(doc.GetNumEntries(kSectGlobalHeader, count), 0);
  EXPECT_EQ(count, 2u);  // dataset 0 counts every entry
}

TEST(FileRemoveDataset, RefusedRemovals) {
  CTOVAFile none;
  EXPECT_EQ(none.RemoveDataset(0), 51);
  CTOVAFile one;
  MakeMemoryDocument(one, 1);
  EXPECT_EQ(one.RemoveDataset(0), 51);
  CTOVAFile three;
  MakeMemoryDocument(three, 3);
  EXPECT_EQ(three.RemoveDataset(3), 50);
  EXPECT_EQ(three.RemoveDataset(0xFFFFFFFFu), 50);
  EXPECT_EQ(three.GetNumDatasets(), 3u);

  CTOVAFile write;
  write.CreateFirstDatasetSections();
  write.data_headers.push_back(std::make_unique<CTOVASection>(kSectDataHeader));
  write.image_index.resize(2);
  write.global_header.AddEntry(0x0100, 1, "v", 1);
  write.type = kTypeWrite;
  ASSERT_EQ(write.GetNumDatasets(), 2u);
  EXPECT_EQ(write.RemoveDataset(1), 7);
  EXPECT_EQ(write.RemoveDataset(2), 50);  // the range is checked first
  EXPECT_EQ(write.GetNumDatasets(), 2u);
}

TEST(FileRemoveDataset, CurrentDatasetKeepsNamingTheSameDataset) {
  struct Case {
    uint32_t current, index;
    uint32_t new_current;
    int tag;  // tag of the dataset current afterwards
  } cases[] = {
      {2, 2, 1, 1}, {0, 2, 0, 0}, {1, 2, 1, 1}, {2, 1, 1, 2}, {1, 1, 0, 0},
      {0, 1, 0, 0}, {0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "current " << c.current << " remove " << c.index);
    CTOVAFile doc;
    MakeMemoryDocument(doc, 3);
    ASSERT_EQ(doc.SetCurDataset(c.current, 1), 0);
    ASSERT_EQ(doc.RemoveDataset(c.index), 0);
    EXPECT_EQ(doc.GetNumDatasets(), 2u);
    EXPECT_EQ(doc.GetCurDataset(), c.new_current);
    EXPECT_EQ(CurrentTag(doc), c.tag);
    CTOVASection* image = nullptr;
    ASSERT_EQ(doc.GetSection(kSectImage, image), 0);
    EXPECT_EQ(image->FindEntry(0x0300)->Data()[0], c.tag);  // the image went with its data header
  }
}

TEST(FileRemoveDataset, RemovingTheFirstMergesItsDataHeaderIntoTheNext) {
  CTOVAFile doc;
  MakeMemoryDocument(doc, 3);
  doc.data_headers[0]->AddEntry(0x0201, 2, U16Bytes(640).data(), 1);
  doc.data_headers[0]->AddEntry(0x0202, 2, U16Bytes(480).data(), 1);
  doc.data_headers[1]->AddEntry(0x0201, 2, U16Bytes(320).data(), 1);  // its own value wins
  doc.SetModified(0);

  ASSERT_EQ(doc.RemoveDataset(0), 0);
  ASSERT_EQ(doc.GetNumDatasets(), 2u);
  const CTOVASection& first = *doc.data_headers[0];
  std::vector<uint16_t> ids;
  for (uint32_t i = 0; i < first.Count(); ++i) ids.push_back(first.GetEntryAt(i)->Id());
  // Its own entries first, then the ones it lacked, in the removed header's order.
  EXPECT_EQ(ids, (std::vector<uint16_t>{0x0231, 0x0201, 0x0200, 0x0210, 0x0202}));
  EXPECT_EQ(first.FindEntry(0x0231)->Data()[0], 1);
  EXPECT_EQ(Bytes(first.FindEntry(0x0201)->Data(), first.FindEntry(0x0201)->Data() + 2), U16Bytes(320));
  EXPECT_EQ(Bytes(first.FindEntry(0x0200)->Data(), first.FindEntry(0x0200)->Data() + 2), U16Bytes(2));
  // The global header now counts as modified; the data headers are as they were.
  for (const auto& e : doc.global_header.Entries()) EXPECT_EQ(e->modified, 1);
  EXPECT_EQ(doc.data_headers[1]->IsModified(), 0);
  EXPECT_EQ(doc.IsModified(), 1);
}

TEST(FileRemoveDataset, OutOfMemoryWhileMergingChangesNothing) {
  for (long skip = 0;; ++skip) {
    CTOVAFile doc;
    MakeMemoryDocument(doc, 3);
    ASSERT_EQ(doc.SetCurDataset(2, 1), 0);
    bool hit = false;
    const int32_t rc = tova_test::WithFailingAllocation(skip, hit, [&] { return doc.RemoveDataset(0); });
    if (!hit) {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(doc.GetNumDatasets(), 2u);
      break;
    }
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(doc.GetNumDatasets(), 3u);
    EXPECT_EQ(doc.GetCurDataset(), 2u);
    EXPECT_EQ(doc.data_headers[1]->Count(), 1u);
    EXPECT_EQ(doc.data_headers[0]->Count(), 3u);
  }
}

TEST(FileRemoveDataset, FileDocumentDropsTheImageIndexRecord) {
  CTOVAFile doc;
  doc.CreateFirstDatasetSections();
  doc.type = kTypeWriteBuffer;
  doc.global_header.AddEntry(0x0100, 1, "v", 1);
  for (uint32_t i = 0; i < 3; ++i) {
    if (i > 0) doc.data_headers.push_back(std::make_unique<CTOVASection>(kSectDataHeader));
    doc.image_index.push_back(TTOVASectInfo{10, 0, 100 * i});
  }
  ASSERT_EQ(doc.RemoveDataset(1), 0);
  ASSERT_EQ(doc.image_index.size(), 2u);
  EXPECT_EQ(doc.image_index[0].data_offset, 0u);
  EXPECT_EQ(doc.image_index[1].data_offset, 200u);
  EXPECT_EQ(doc.images.size(), 1u);
}

TEST(FileModified, ReportsAndSetsEverySection) {
  CTOVAFile doc;
  MakeMemoryDocument(doc, 3);
  doc.SetModified(0);
  EXPECT_EQ(doc.IsModified(), 0);
  doc.images[2]->GetEntryAt(0)->modified = 1;
  EXPECT_EQ(doc.IsModified(), 1);
  doc.SetModified(0);
  doc.data_headers[1]->GetEntryAt(0)->modified = 1;
  EXPECT_EQ(doc.IsModified(), 1);
  doc.SetModified(7);
  for (const auto& s : doc.images) EXPECT_EQ(s->GetEntryAt(0)->modified, 1);
}

TEST(FileClose, DropsEverythingButTheSingleDatasetFlag) {
  CTOVAFile doc;
  MakeMemoryDocument(doc, 3);
  doc.single_dataset = 1;
  ASSERT_EQ(doc.SetCurDataset(2, 1), 0);
  doc.Close();
  EXPECT_EQ(doc.type, kTypeClosed);
  EXPECT_EQ(doc.GetNumDatasets(), 0u);
  EXPECT_EQ(doc.GetCurDataset(), 0u);
  EXPECT_TRUE(doc.data_headers.empty());
  EXPECT_TRUE(doc.images.empty());
  EXPECT_EQ(doc.global_header.Count(), 0u);
  EXPECT_EQ(doc.single_dataset, 1u);
}

TEST(FileOpenRead, MissingOrEmptyFileLeavesTheDocumentClosed) {
  tova::testing::TempTree dir;
  ASSERT_TRUE(tova::testing::WriteFileBytes(dir.Path(u"empty.tova"), std::string_view()));
  ASSERT_TRUE(tova::testing::WriteFileBytes(dir.Path(u"one.tova"), std::string_view("x")));
  CTOVAFile doc;
  EXPECT_EQ(doc.OpenRead(dir.Path(u"missing.tova")), 2);
  EXPECT_EQ(doc.type, kTypeClosed);
  EXPECT_EQ(doc.OpenRead(dir.Path(u"empty.tova")), 2);
  EXPECT_EQ(doc.type, kTypeClosed);
  EXPECT_TRUE(doc.data_headers.empty());
  ASSERT_EQ(doc.OpenRead(dir.Path(u"one.tova")), 0);
  EXPECT_EQ(doc.type, kTypeRead);
  EXPECT_EQ(doc.path, dir.Path(u"one.tova"));
  EXPECT_EQ(doc.data_headers.size(), 1u);
}

TEST(FilePartFileName, BlankAndAtLeastThreeDigits) {
  const struct {
    uint32_t part;
    std::u16string name;
  } cases[] = {{0, u"a.tova"}, {1, u"a.tova 001"}, {7, u"a.tova 007"}, {12, u"a.tova 012"},
               {999, u"a.tova 999"}, {1234, u"a.tova 1234"}};
  for (const auto& c : cases) EXPECT_EQ(CTOVAFile::PartFileName(u"a.tova", c.part), c.name) << c.part;
}

}  // namespace
}  // namespace tova
