// Dataset buffers: the size of the current dataset's buffer, writing it into
// caller memory with the place of the image data, and reading buffers back:
// the worked example, refused writes that leave the buffer untouched, every
// cut of a buffer (heap copies of exactly the cut length, so that a read
// beyond them is caught by the address sanitizer), untrusted lengths, the
// per-dataset form, and merging into a document that already holds data.
#include <gtest/gtest.h>

#include "catalog/catalog.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/alloc_failure.h"
#include "format/buffers.h"
#include "format/reader_test_support.h"

namespace tova::reader_test {
namespace {

using EntryList = std::vector<std::pair<uint16_t, Bytes>>;

EntryList EntriesOf(const CTOVASection& section) {
  EntryList out;
  for (const auto& e : section.Entries())
    out.emplace_back(e->Id(), e->HasData() ? Bytes(e->Data(), e->Data() + e->DataSize()) : Bytes());
  return out;
}

// Global header, dataset 0's data header and the first image section.
struct FirstDataset {
  EntryList gh, dh, im;
  bool operator==(const FirstDataset& o) const { return gh == o.gh && dh == o.dh && im == o.im; }
};
FirstDataset FirstDatasetOf(uint64_t h) {
  std::shared_ptr<CTOVAFile> doc = Doc(h);
  platform::DocumentLockGuard guard(doc->lock);
  return {EntriesOf(doc->global_header), EntriesOf(*doc->data_headers[0]), EntriesOf(*doc->images[0])};
}

// Gives a memory document one more dataset (the appends that grow memory
// documents are tested elsewhere).
void AddMemoryDataset(uint64_t h) {
  std::shared_ptr<CTOVAFile> doc = Doc(h);
  platform::DocumentLockGuard guard(doc->lock);
  doc->data_headers.push_back(std::make_unique<CTOVASection>(TOVA_SECT_DataHeader, catalog::Rules()));
  doc->images.push_back(std::make_unique<CTOVASection>(TOVA_SECT_Image, catalog::Rules()));
}

Bytes WriteBuffer(uint64_t h) {
  uint32_t size = 0;
  if (TOVADLL_GET_BUFFERSIZE(h, &size) != 0) return {};
  Bytes b(size);
  uint32_t written = 0;
  if (TOVADLL_WRITE_TO_BUFFER(h, b.data(), size, &written) != 0 || written != size) return {};
  return b;
}

// A small dataset in full form and the ends of its first two sections.
struct SmallBuffer {
  Bytes bytes;
  uint32_t gh_end = 0, dh_end = 0;
};
SmallBuffer MakeSmallBuffer() {
  const Bytes gh = Section(kGH, {Entry(0x0100, Text("v1")), Entry(0x0111, U16(4))});
  const Bytes dh = Section(kDH, {Entry(0x0200, U16(2)), Entry(kValue, U16(3))});
  const Bytes im = Section(kIM, {Entry(kImageData, Pixels(3, 12))});
  return {Concat({gh, dh, im}), static_cast<uint32_t>(gh.size()), static_cast<uint32_t>(gh.size() + dh.size())};
}

// ---- writing ----------------------------------------------------------------

TEST(Buffers, TheWorkedExampleReportsTheSameImagePlaceOnWriteAndRead) {
  Handle h(TOVADLL_OPEN_FILE_READ_BUFFER());
  const Bytes pixels = Pixels(9, 614400);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0100, 10, "0123456789"), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kDH, 0x0201, 2, U16(640).data()), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 614400, pixels.data()), 0);
  uint32_t size = 0;
  ASSERT_EQ(TOVADLL_GET_BUFFERSIZE(h, &size), 0);
  ASSERT_EQ(size, 22u + 14u + 614412u);

  Bytes buffer(size);
  uint32_t written = 0, offset = 0, image_size = 0;
  ASSERT_EQ(TOVADLL_WRITE_TO_BUFFER_EX(h, buffer.data(), size, &written, &offset, &image_size), 0);
  EXPECT_EQ(written, 614448u);
  EXPECT_EQ(offset, 48u);
  EXPECT_EQ(image_size, 614400u);
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), buffer.begin() + offset));
  EXPECT_EQ(WriteBuffer(h), buffer);  // the plain form writes the same bytes

  Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
  offset = image_size = 0;
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER_EX(r, buffer.data(), size, &offset, &image_size), 0);
  EXPECT_EQ(offset, 48u);
  EXPECT_EQ(image_size, 614400u);
  EXPECT_TRUE(FirstDatasetOf(r) == FirstDatasetOf(h));

  // One byte short: refused, and neither the buffer nor the outputs change.
  Bytes small(size - 1, 0xAB);
  written = offset = image_size = 77;
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER_EX(h, small.data(), size - 1, &written, &offset, &image_size), 13);
  EXPECT_EQ(small, Bytes(size - 1, 0xAB));
  EXPECT_EQ(written, 77u);
  EXPECT_EQ(offset, 77u);
  EXPECT_EQ(image_size, 77u);
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(h, small.data(), size - 1, &written), 13);
  EXPECT_EQ(small, Bytes(size - 1, 0xAB));
}

TEST(Buffers, OnlyDatasetZeroIsWrittenAndTheSizeTestComesFirst) {
  Handle h(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0100, 2, "v1"), 0);
  AddMemoryDataset(h);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 4, "abcd"), 0);
  uint32_t size = 0;
  ASSERT_EQ(TOVADLL_GET_BUFFERSIZE(h, &size), 0);
  ASSERT_EQ(size, 14u + 6u + 16u);  // dataset 1's own (empty) data header
  Bytes buffer(size + 10, 0xCD);
  uint32_t written = 5;
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(h, buffer.data(), size + 10, &written), 50);
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(h, buffer.data(), size - 1, &written), 13);
  EXPECT_EQ(buffer, Bytes(size + 10, 0xCD));
  EXPECT_EQ(written, 5u);
}

TEST(Buffers, ImagePlaceIsZeroWithoutImageDataBeyondOneEntryHeader) {
  struct Row {
    const char* name;
    bool has_entry;
    uint32_t data;
    uint32_t expected_size;
  };
  for (const Row& row : {Row{"no entries", false, 0, 0}, Row{"one empty entry", true, 0, 0},
                         Row{"one entry of one byte", true, 1, 1}}) {
    SCOPED_TRACE(row.name);
    Handle h(TOVADLL_OPEN_FILE_READ_BUFFER());
    ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0100, 2, "v1"), 0);
    if (row.has_entry) ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, row.data, "z"), 0);
    const Bytes buffer = WriteBuffer(h);
    ASSERT_FALSE(buffer.empty());
    uint32_t written = 0, offset = 9, size = 9;
    Bytes out(buffer.size());
    ASSERT_EQ(TOVADLL_WRITE_TO_BUFFER_EX(h, out.data(), static_cast<uint32_t>(out.size()), &written, &offset, &size), 0);
    EXPECT_EQ(size, row.expected_size);
    EXPECT_EQ(offset, row.expected_size ? written - 1 : 0u);
    Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
    offset = size = 9;
    ASSERT_EQ(TOVADLL_READ_FROM_BUFFER_EX(r, buffer.data(), static_cast<uint32_t>(buffer.size()), &offset, &size), 0);
    EXPECT_EQ(size, row.expected_size);
    EXPECT_EQ(offset, row.expected_size ? written - 1 : 0u);
  }
}

TEST(Buffers, SizeIsZeroForADocumentWithoutSections) {
  testing::TempTree dir;
  const std::u16string path = dir.Path(u"x.dat");
  ASSERT_TRUE(testing::WriteFileBytes(path, "abc"));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 43);  // a failed read leaves no sections
  uint32_t size = 7, written = 7;
  EXPECT_EQ(TOVADLL_GET_BUFFERSIZE(h, &size), 0);
  EXPECT_EQ(size, 0u);
  uint8_t byte = 0xEE;
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(h, &byte, 1, &written), 0);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(byte, 0xEE);
  uint32_t offset = 0;
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER_EX(h, MakeSmallBuffer().bytes.data(), 40, &offset, &size), 22);
}

// ---- reading ----------------------------------------------------------------

TEST(Buffers, AMemoryDocumentRoundTripsThroughABufferIntoAFreshDocument) {
  Handle h(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
  const char16_t device[] = u"CAM-ID: 7";
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x1110, sizeof device, device), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0111, 2, U16(4).data()), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kDH, kValue, 2, U16(1).data()), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kDH, 0x0203, 0, nullptr), 0);  // no data: not carried over
  const Bytes pixels = Pixels(1, 32);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 32, pixels.data()), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageExtra, 4, "keep"), 0);
  const Bytes buffer = WriteBuffer(h);
  ASSERT_FALSE(buffer.empty());

  Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER(r, buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
  FirstDataset expected = FirstDatasetOf(h);
  std::erase_if(expected.dh, [](const auto& e) { return e.first == 0x0203; });
  EXPECT_TRUE(FirstDatasetOf(r) == expected);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(r, kDH, 0x0203), 33 - 2000);
  EXPECT_EQ(NumDatasets(r), 1u);
  EXPECT_EQ(WriteBuffer(r).size(), buffer.size() - 6);
}

// The code of a buffer cut after `cut` bytes: a cut on a section boundary, or
// one byte after it, ends the scan there; any other cut leaves a section short.
int32_t ExpectedForCut(const SmallBuffer& b, uint32_t cut) {
  uint32_t boundary = 0;
  for (uint32_t end : {b.gh_end, b.dh_end, static_cast<uint32_t>(b.bytes.size())})
    if (end <= cut) boundary = end;
  return cut - boundary <= 1 ? 0 : 11;
}

TEST(Buffers, ABufferCutAtEveryByteGivesItsCodeAndNeverReadsBeyondIt) {
  const SmallBuffer b = MakeSmallBuffer();
  const uint32_t total = static_cast<uint32_t>(b.bytes.size());
  for (uint32_t cut = 0; cut <= total; ++cut) {
    SCOPED_TRACE(::testing::Message() << "cut " << cut << " of " << total);
    std::unique_ptr<uint8_t[]> copy(new uint8_t[cut]);
    std::copy(b.bytes.begin(), b.bytes.begin() + cut, copy.get());
    Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
    uint32_t offset = 9, size = 9;
    ASSERT_EQ(TOVADLL_READ_FROM_BUFFER_EX(r, copy.get(), cut, &offset, &size), ExpectedForCut(b, cut));
    // The image place is reported only for image data inside the buffer.
    const bool whole = cut == total;
    EXPECT_EQ(offset, whole ? b.dh_end + 12 : 0u);
    EXPECT_EQ(size, whole ? 12u : 0u);
    // What was read before the cut stays.
    EXPECT_EQ(EntryData(r, kGH, 0x0100), cut >= b.gh_end ? Text("v1") : Bytes());
    EXPECT_EQ(EntryData(r, kDH, kValue), cut >= b.dh_end ? U16(3) : Bytes());
    EXPECT_EQ(EntryData(r, kIM, kImageData), whole ? Pixels(3, 12) : Bytes());
  }
}

TEST(Buffers, MalformedBuffersGiveTheirCodes) {
  struct Row {
    const char* name;
    Bytes bytes;
    int32_t expected;
  };
  const Bytes gh = Section(kGH, {Entry(0x0100, Text("v1"))});
  const Row rows[] = {
      {"section length 5", Header(5, kGH), 23},
      {"section length 0 after a section", Concat({gh, Header(0, kDH)}), 23},
      {"unknown section identifier", Concat({gh, Section(0x0300, {})}), 21},
      {"entry record length 5", Section(kDH, {Header(5, 0x0200)}), 32},
      {"entry record running past its section", Section(kDH, {Concat({Header(9, 0x0200), {1}})}), 32},
      {"section tail too short for an entry header", Section(kIM, {{1, 2, 3, 4, 5}}), 32},
      {"section longer than the buffer", Concat({Header(0xFFFFFFFF, kGH), Entry(0x0100, Text("v1"))}), 11},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
    EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(r, row.bytes.data(), static_cast<uint32_t>(row.bytes.size())), row.expected);
  }
  Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(r, nullptr, 10), 12);
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(r, nullptr, 0), 0);
  uint32_t n = 0;
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(TOVADLL_INVALID_HANDLE, gh.data(), 1), 1);
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER_EX(TOVADLL_INVALID_HANDLE, gh.data(), 1, &n, &n), 1);
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(TOVADLL_INVALID_HANDLE, nullptr, 0, &n), 1);
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER_EX(TOVADLL_INVALID_HANDLE, nullptr, 0, &n, &n, &n), 1);
  EXPECT_EQ(TOVADLL_GET_BUFFERSIZE(TOVADLL_INVALID_HANDLE, &n), 1);
}

TEST(Buffers, ASectionLengthBeyondTheBufferIsShortBeforeAnyAllocation) {
  CTOVAFile doc(catalog::Rules());
  ASSERT_EQ(doc.OpenReadBuffer(), 0);
  const Bytes bytes = Concat({Header(0x7FFFFFF0, kIM), Entry(kImageData, Text("px"))});
  uint32_t offset = 9, size = 9;
  bool allocated = true;
  const auto rc = tova_test::WithFailingAllocation(0, allocated, [&] {
    return format::ReadFromBuffer(doc, bytes.data(), static_cast<uint32_t>(bytes.size()), offset, size);
  });
  EXPECT_EQ(rc, 11);
  EXPECT_FALSE(allocated);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(size, 0u);
}

TEST(Buffers, ReadingTheSameBufferTwiceEqualsReadingItOnce) {
  const SmallBuffer b = MakeSmallBuffer();
  const uint32_t n = static_cast<uint32_t>(b.bytes.size());
  Handle once(TOVADLL_OPEN_FILE_READ_BUFFER());
  Handle twice(TOVADLL_OPEN_FILE_READ_BUFFER());
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER(once, b.bytes.data(), n), 0);
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER(twice, b.bytes.data(), n), 0);
  ASSERT_EQ(TOVADLL_SET_MODIFIED(twice, 0), 0);
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER(twice, b.bytes.data(), n), 0);
  EXPECT_TRUE(FirstDatasetOf(once) == FirstDatasetOf(twice));
  EXPECT_EQ(WriteBuffer(twice), b.bytes);
  uint32_t modified = 1;
  ASSERT_EQ(TOVADLL_GET_MODIFIED(twice, &modified), 0);
  EXPECT_EQ(modified, 0u);  // the same bytes again change nothing
}

TEST(Buffers, APerDatasetBufferIsScannedToItsEnd) {
  const Bytes per_dataset = Concat({
      Section(kDH, {Entry(kValue, U16(1)), Entry(0x0201, U16(4))}), Section(kIM, {Entry(kImageData, Pixels(1, 10))}),
      Section(kDH, {Entry(kValue, U16(2)), Entry(0x0201, U16(5))}), Section(kIM, {Entry(kImageData, Pixels(2, 10))}),
  });
  Handle r(TOVADLL_OPEN_FILE_READ_BUFFER());
  uint32_t offset = 0, size = 0;
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER_EX(r, per_dataset.data(), static_cast<uint32_t>(per_dataset.size()), &offset, &size), 0);
  EXPECT_EQ(EntryData(r, kDH, kValue), U16(1));   // first-wins in the data header
  EXPECT_EQ(EntryData(r, kDH, 0x0201), U16(5));   // the later header's value
  EXPECT_EQ(EntryData(r, kIM, kImageData), Pixels(2, 10));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(offset, per_dataset.size() - 10);      // the last image section's data

  // Without a global header nothing stops the scan: a bad section at the end is met.
  const Bytes bad = Concat({per_dataset, Section(0xFF03, {})});
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(r, bad.data(), static_cast<uint32_t>(bad.size())), 21);
  // A full dataset ends the scan after its third section.
  const Bytes full = Concat({MakeSmallBuffer().bytes, Section(0xFF03, {})});
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(r, full.data(), static_cast<uint32_t>(full.size())), 0);
}

TEST(Buffers, ReadingMergesIntoTheFirstDatasetAndKeepsTheCurrentDatasetAndModifiedState) {
  Handle h(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0100, 3, "old"), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kGH, 0x0101, 4, "stay"), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kDH, kValue, 2, U16(7).data()), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kDH, 0x0201, 2, U16(4).data()), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 2, "i0"), 0);
  AddMemoryDataset(h);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 2, "i1"), 0);
  ASSERT_EQ(TOVADLL_SET_MODIFIED(h, 1), 0);

  const Bytes buffer = Concat({Section(kGH, {Entry(0x0100, Text("new"))}),
                               Section(kDH, {Entry(kValue, U16(8)), Entry(0x0201, U16(5)), Entry(0x0282, U16(1))}),
                               Section(kIM, {Entry(kImageData, Text("px"))})});
  ASSERT_EQ(TOVADLL_READ_FROM_BUFFER(h, buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
  EXPECT_EQ(CurDataset(h), 1u);
  uint32_t modified = 0;
  ASSERT_EQ(TOVADLL_GET_MODIFIED(h, &modified), 0);
  EXPECT_EQ(modified, 1u);
  EXPECT_EQ(EntryData(h, kIM, kImageData), Text("i1"));  // dataset 1's image is not the target

  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 0), 0);
  EXPECT_EQ(EntryData(h, kGH, 0x0100), Text("new"));
  EXPECT_EQ(EntryData(h, kGH, 0x0101), Text("stay"));
  EXPECT_EQ(EntryData(h, kDH, kValue), U16(7));   // first-wins keeps the value it had
  EXPECT_EQ(EntryData(h, kDH, 0x0201), U16(5));
  EXPECT_EQ(EntryData(h, kDH, 0x0282), U16(1));   // first-wins identifiers are added when absent
  EXPECT_EQ(EntryData(h, kDH, 0x0200), U16(2));   // not in the buffer: stays
  EXPECT_EQ(EntryData(h, kIM, kImageData), Text("px"));
}

}  // namespace
}  // namespace tova::reader_test
