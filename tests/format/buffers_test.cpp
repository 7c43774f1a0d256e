// Dataset buffers: a buffer's size, the place of its image data, the
// per-dataset form and merging into a document.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "support/documents.h"

namespace tova::testing {
namespace {

void AddMemoryDataset(uint64_t h) {
  std::shared_ptr<CTOVAFile> doc = Doc(h);
  platform::DocumentLockGuard guard(doc->lock);
  doc->CreateFirstDatasetSections();
}

Bytes WriteBuffer(uint64_t h) {
  uint32_t size = 0, written = 0;
  if (TOVADLL_GET_BUFFERSIZE(h, &size) != TOVA_OK) return {};
  Bytes b(size);
  return TOVADLL_WRITE_TO_BUFFER(h, b.data(), size, &written) == TOVA_OK && written == size ? b : Bytes{};
}

TEST(Buffers, TheWorkedExampleReportsTheSameImagePlaceOnWriteAndRead) {
  Handle h(TOVADLL_OPEN_FILE_READ_BUFFER());
  const Bytes pixels = Pixels(9, 614400);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0100, 10, "0123456789"), TOVA_OK);
  ASSERT_EQ(SetU16(h, kDH, 0x0201, 640), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 614400, pixels.data()), TOVA_OK);
  uint32_t size = 0, written = 0, offset = 0, image_size = 0;
  ASSERT_EQ(TOVADLL_GET_BUFFERSIZE(h, &size), TOVA_OK);
  ASSERT_EQ(size, 22u + 14u + 614412u);
  Bytes buffer(size);
  ASSERT_EQ(TOVADLL_WRITE_TO_BUFFER_EX(h, buffer.data(), size, &written, &offset, &image_size), TOVA_OK);
  EXPECT_EQ(written, 614448u);
  EXPECT_EQ(offset, 48u);
  EXPECT_EQ(image_size, 614400u);
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), buffer.begin() + offset));
  EXPECT_EQ(WriteBuffer(h), buffer);  // the plain form writes the same bytes

  Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
  offset = image_size = 0;
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER_EX(r, buffer.data(), size, &offset, &image_size), TOVA_OK);
  EXPECT_EQ(offset, 48u);
  EXPECT_EQ(image_size, 614400u);
  EXPECT_EQ(WriteBuffer(r), buffer);  // every entry came back

  // One byte short: refused, the buffer and the outputs unchanged.
  Bytes small(size - 1, 0xAB);
  written = offset = image_size = 77;
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER_EX(h, small.data(), size - 1, &written, &offset, &image_size),
            TOVA_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(h, small.data(), size - 1, &written), TOVA_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, Bytes(size - 1, 0xAB));
  EXPECT_EQ(written + offset + image_size, 3 * 77u);
}

TEST(Buffers, APerDatasetBufferIsScannedToItsEnd) {
  const Bytes per_dataset = Concat({
      Section(kDH, {Entry(kValue, U16(1)), Entry(0x0201, U16(4))}), Section(kIM, {Entry(kImageData, Pixels(1, 10))}),
      Section(kDH, {Entry(kValue, U16(2)), Entry(0x0201, U16(5))}), Section(kIM, {Entry(kImageData, Pixels(2, 10))}),
  });
  Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
  uint32_t offset = 0, size = 0;
  const uint32_t n = static_cast<uint32_t>(per_dataset.size());
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER_EX(r, per_dataset.data(), n, &offset, &size), TOVA_OK);
  EXPECT_EQ(EntryData(r, kDH, kValue), U16(1));  // first-wins in the data header
  EXPECT_EQ(EntryData(r, kDH, 0x0201), U16(5));  // the later header's value
  EXPECT_EQ(EntryData(r, kIM, kImageData), Pixels(2, 10));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(offset, n - 10);  // the last image section's data
  // Without a global header nothing stops the scan: a bad section at the end is met.
  const Bytes bad = Concat({per_dataset, Section(0xFF03, {})});
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(r, bad.data(), n + 6), TOVA_ERR_SECTION_ID);
}

TEST(Buffers, ReadingMergesIntoTheFirstDatasetAndKeepsTheCurrentDatasetAndModifiedState) {
  Handle h(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0100, 3, "old"), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0101, 4, "stay"), TOVA_OK);
  ASSERT_EQ(SetU16(h, kDH, kValue, 7), TOVA_OK);
  ASSERT_EQ(SetU16(h, kDH, 0x0201, 4), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 2, "i0"), TOVA_OK);
  AddMemoryDataset(h);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 2, "i1"), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_MODIFIED(h, 1), TOVA_OK);
  const Bytes buffer = Concat({Section(kGH, {Entry(0x0100, Text("new"))}),
                               Section(kDH, {Entry(kValue, U16(8)), Entry(0x0201, U16(5)), Entry(0x0282, U16(1))}),
                               Section(kIM, {Entry(kImageData, Text("px"))})});
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER(h, buffer.data(), static_cast<uint32_t>(buffer.size())), TOVA_OK);
  EXPECT_EQ(CurDataset(h), 1u);
  EXPECT_EQ(Modified(h), 1u);
  EXPECT_EQ(EntryData(h, kIM, kImageData), Text("i1"));  // dataset 1's image is not the target
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 0), TOVA_OK);
  EXPECT_EQ(EntryData(h, kGH, 0x0100), Text("new"));
  EXPECT_EQ(EntryData(h, kGH, 0x0101), Text("stay"));
  EXPECT_EQ(EntryData(h, kDH, kValue), U16(7));   // first-wins keeps the value it had
  EXPECT_EQ(EntryData(h, kDH, 0x0201), U16(5));
  EXPECT_EQ(EntryData(h, kDH, 0x0282), U16(1));   // first-wins identifiers are added when absent
  EXPECT_EQ(EntryData(h, kDH, 0x0200), U16(2));   // not in the buffer: stays
  EXPECT_EQ(EntryData(h, kIM, kImageData), Text("px"));
}

}  // namespace
}  // namespace tova::testing
