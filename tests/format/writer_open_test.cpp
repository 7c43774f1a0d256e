// Opening for writing and read-write (new files, appends to missing, empty,
// non-empty and foreign files, continuation files), the byte layout that
// appends produce, and the append rules per target type (memory targets,
// refused targets, restoring the source's dataset, the layered copy).
#include <gtest/gtest.h>

#include "format/open_for_writing.h"

#include "format/part_files.h"

#include "catalog/catalog.h"

#include <string>
#include <vector>

#include "api/registry.h"
#include "format/appender.h"
#include "platform/byte_order.h"
#include "format/writer_test_support.h"

namespace tova::writer_test {
namespace {

using testing::PathExists;
using testing::ReadFileBytes;
using testing::TempTree;
using testing::WriteFileBytes;

// One section record of a file: its identifier and its entries' identifiers.
struct SectionShape {
  uint16_t id;
  std::vector<uint16_t> entries;
  bool operator==(const SectionShape& o) const { return id == o.id && entries == o.entries; }
};

// Splits a byte stream into section records; an inconsistent length ends the
// list with a section of identifier 0.
std::vector<SectionShape> Shapes(const std::vector<uint8_t>& bytes) {
  std::vector<SectionShape> out;
  size_t pos = 0;
  while (pos + 6 <= bytes.size()) {
    const uint32_t length = platform::GetU32(&bytes[pos]);
    SectionShape s{platform::GetU16(&bytes[pos + 4]), {}};
    if (length < 6 || pos + length > bytes.size()) return out.push_back({0, {}}), out;
    size_t e = pos + 6;
    while (e + 6 <= pos + length) {
      const uint32_t record = platform::GetU32(&bytes[e]);
      if (record < 6 || e + record > pos + length) return out.push_back({0, {}}), out;
      s.entries.push_back(platform::GetU16(&bytes[e + 4]));
      e += record;
    }
    if (e != pos + length) return out.push_back({0, {}}), out;
    out.push_back(s);
    pos += length;
  }
  if (pos != bytes.size()) out.push_back({0, {}});
  return out;
}

size_t RegisteredDocuments() { return api::TheRegistry().Count(); }

TEST(WriterOpen, NewFileDeletesTheExistingDocumentWithItsContinuationFiles) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_TRUE(WriteFileBytes(path, std::string_view("old main")));
  ASSERT_TRUE(WriteFileBytes(path + u" 001", std::string_view("old 1")));
  ASSERT_TRUE(WriteFileBytes(path + u" 002", std::string_view("old 2")));
  const uint64_t w = OpenWrite(path, 0);
  ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
  uint32_t type = 0;
  EXPECT_EQ(TOVADLL_GET_TOVA_TYPE(w, &type), 0);
  EXPECT_EQ(type, TOVA_TYPE_WRITE);
  EXPECT_EQ(TOVADLL_CLOSE_FILE(w), 0);
  EXPECT_TRUE(ReadFileBytes(path).empty());
  EXPECT_FALSE(PathExists(path + u" 001"));
  EXPECT_FALSE(PathExists(path + u" 002"));
}

// Continuation files whose main file is gone would otherwise be counted by
// the next append-open, which would then write where no reader looks.
TEST(WriterOpen, NewFileRemovesOrphanContinuationFiles) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_TRUE(WriteFileBytes(path + u" 001", std::string_view("orphan 1")));
  ASSERT_TRUE(WriteFileBytes(path + u" 002", std::string_view("orphan 2")));
  ASSERT_EQ(WriteDocument(path, {1}), 0);
  EXPECT_FALSE(PathExists(path + u" 001"));
  const uint64_t w = OpenWrite(path, 1);
  ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(AppendValues(w, {2}), 0);
  TOVADLL_CLOSE_FILE(w);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2}));
}

TEST(WriterOpen, AppendToAMissingFileCreatesIt) {
  TempTree dir;
  for (uint32_t rw : {0u, 1u}) {
    const std::u16string path = dir.Path(rw ? u"rw.tova" : u"w.tova");
    const uint64_t h = rw ? OpenReadWrite(path, 1) : OpenWrite(path, 1);
    ASSERT_NE(h, TOVADLL_INVALID_HANDLE) << rw;
    EXPECT_TRUE(PathExists(path));
    EXPECT_EQ(AppendValues(h, {5, 6}), 0);
    if (rw) EXPECT_EQ(DocumentValues(h), (std::vector<uint16_t>{5, 6}));
    TOVADLL_CLOSE_FILE(h);
    EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{5, 6})) << rw;
  }
}

TEST(WriterOpen, WriteOnlyAppendToAnEmptyFileWritesFromItsStart) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_TRUE(WriteFileBytes(path, std::string_view()));
  const uint64_t w = OpenWrite(path, 1);
  ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(AppendValues(w, {1, 2}), 0);
  TOVADLL_CLOSE_FILE(w);
  const std::vector<SectionShape> shapes = Shapes(ReadFileBytes(path));
  ASSERT_FALSE(shapes.empty());
  EXPECT_EQ(shapes[0].id, kGH);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2}));
}

TEST(WriterOpen, ReadWriteAppendToAnEmptyFileFails) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_TRUE(WriteFileBytes(path, std::string_view()));
  const size_t before = RegisteredDocuments();
  EXPECT_EQ(OpenReadWrite(path, 1), TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(RegisteredDocuments(), before);
  CTOVAFile doc(catalog::Rules());
  EXPECT_EQ(format::OpenForWriting(doc, path, format::WriteStart::kAppend, format::Access::kReadWrite, NoProgress()), 50);
  EXPECT_EQ(doc.type, DocumentType::kClosed);
  EXPECT_EQ(format::WriterOf(doc), nullptr);
  EXPECT_TRUE(PathExists(path));
  EXPECT_TRUE(ReadFileBytes(path).empty());
}

TEST(WriterOpen, AppendToANonEmptyFileAddsDatasetsInPerDatasetForm) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(path, {1}), 0);
  const std::vector<uint8_t> first = ReadFileBytes(path);

  const uint64_t w = OpenWrite(path, 1);
  ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(AppendValues(w, {2}), 0);
  TOVADLL_CLOSE_FILE(w);
  const std::vector<uint8_t> both = ReadFileBytes(path);
  ASSERT_GT(both.size(), first.size());
  EXPECT_TRUE(std::equal(first.begin(), first.end(), both.begin()));
  const std::vector<SectionShape> added(Shapes({both.begin() + first.size(), both.end()}));
  EXPECT_EQ(added, (std::vector<SectionShape>{{kDH, {kValidFrames}}, {kIM, {kImageData}}}));

  // A read-write document reads what is there and goes on after it.
  const uint64_t rw = OpenReadWrite(path, 1);
  ASSERT_NE(rw, TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(AppendValues(rw, {3}), 0);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2, 3}));
  TOVADLL_CLOSE_FILE(rw);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 3}));
}

TEST(WriterOpen, AppendOpenOfAFileWithoutTheTovaExtensionIsRefused) {
  TempTree dir;
  const std::u16string tova = dir.Path(u"a.tova");
  const std::u16string dat = dir.Path(u"a.dat");
  ASSERT_EQ(WriteDocument(tova, {1}), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes(tova);
  ASSERT_TRUE(WriteFileBytes(dat, bytes));
  const size_t before = RegisteredDocuments();
  EXPECT_EQ(OpenWrite(dat, 1), TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(OpenReadWrite(dat, 1), TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(TOVADLL_OPEN_FILE_WRITE(testing::NarrowPath(dat).c_str(), 1), TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(RegisteredDocuments(), before);
  CTOVAFile doc(catalog::Rules());
  EXPECT_EQ(format::OpenForWriting(doc, dat, format::WriteStart::kAppend, format::Access::kWrite, NoProgress()), 2043);
  EXPECT_EQ(doc.type, DocumentType::kClosed);
  EXPECT_EQ(ReadFileBytes(dat), bytes);
}

TEST(WriterOpen, AppendOpenContinuesInTheLastContinuationFile) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  std::vector<uint64_t> sizes;
  {
    ScopedPartLimit limit(200);
    ASSERT_EQ(WriteDocument(path, {1, 2, 3, 4, 5, 6, 7}), 0);
    sizes = PartSizes(path);
    ASSERT_EQ(sizes.size(), 3u);  // main, 001 and 002, with room left in 002
    ASSERT_LT(sizes[2], 100u);

    const uint64_t w = OpenWrite(path, 1);
    ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
    EXPECT_EQ(AppendValues(w, {8}), 0);
    TOVADLL_CLOSE_FILE(w);
  }
  const std::vector<uint64_t> after = PartSizes(path);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[0], sizes[0]);
  EXPECT_EQ(after[1], sizes[1]);
  EXPECT_GT(after[2], sizes[2]);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

// Appending to a document the reader sees only in part: the datasets go
// exactly where its scan ended, or the open is refused and no file changes.
TEST(WriterOpen, AppendGoesWhereTheReaderEndsOrIsRefused) {
  using Bytes = std::vector<uint8_t>;
  const Bytes empty_image = {6, 0, 0, 0, 0x10, 0xFF}, empty_header = {6, 0, 0, 0, 0x02, 0xFF};
  const struct {
    const char* name;
    Bytes tail;         // appended to the main file of a two-dataset document
    Bytes stray_part;   // content of a leftover "a.tova 001", if any
    bool refused;
  } cases[] = {
      {"one stray byte after the last dataset", {0xAB}, {}, false},
      {"a leftover continuation file beside a main file with room", {}, {1, 2, 3}, true},
      {"one image section more than data headers", empty_image, {}, true},
      {"one data header more than image sections", empty_header, {}, true},
  };
  for (const auto& c : cases) {
    for (bool rw : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (rw ? ", read-write" : ", write"));
      TempTree dir;
      const std::u16string path = dir.Path(u"a.tova");
      ASSERT_EQ(WriteDocument(path, {1, 2}), 0);
      Bytes main = ReadFileBytes(path);
      main.insert(main.end(), c.tail.begin(), c.tail.end());
      ASSERT_TRUE(WriteFileBytes(path, main));
      if (!c.stray_part.empty()) ASSERT_TRUE(WriteFileBytes(path + u" 001", c.stray_part));

      const uint64_t h = rw ? OpenReadWrite(path, 1) : OpenWrite(path, 1);
      if (c.refused) {
        EXPECT_EQ(h, TOVADLL_INVALID_HANDLE);
        EXPECT_EQ(ReadFileBytes(path), main);
        if (!c.stray_part.empty()) EXPECT_EQ(ReadFileBytes(path + u" 001"), c.stray_part);
        continue;
      }
      ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
      EXPECT_EQ(AppendValues(h, {3}), 0);
      TOVADLL_CLOSE_FILE(h);
      EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 3}));
    }
  }
}

TEST(WriterLayout, ThreeDatasetsGiveTheFullFormThenPerDatasetForms) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  const uint64_t w = OpenWrite(path, 0);
  ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
  for (uint16_t v : {1, 2, 3}) {
    const uint64_t s = MakeSource(v);
    // An image entry that holds for every dataset is stored once.
    SetU16(s, kIM, 0x0380, 9);
    ASSERT_EQ(TOVADLL_ADD_TOVA(w, s, 0), 0);
    TOVADLL_CLOSE_FILE(s);
  }
  TOVADLL_CLOSE_FILE(w);
  const std::vector<SectionShape> expected = {
      {kGH, {kDeviceMbc, kSensorX, kSensorY}},
      {kDH, {kDataUnit, kCalVersion, kSizeX, kSizeY, kRange, kValidFrames}},
      {kIM, {kImageData, 0x0380}},
      {kDH, {kValidFrames}},
      {kIM, {kImageData}},
      {kDH, {kValidFrames}},
      {kIM, {kImageData}},
  };
  EXPECT_EQ(Shapes(ReadFileBytes(path)), expected);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 3}));
}

TEST(WriterTargets, ReadAndWriteBufferTargetsAreRefused) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(path, {1}), 0);
  const uint64_t s = MakeSource(2);
  Closer cs(s);
  const uint64_t r = TOVADLL_OPEN_FILE_READ_UC(W(path).c_str());
  Closer cr(r);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), 0);
  EXPECT_EQ(TOVADLL_ADD_TOVA(r, s, 0), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(TOVADLL_ADD_TOVA(r, s, 1), TOVA_ERR_DOCUMENT_TYPE);
  const uint64_t b = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  Closer cb(b);
  EXPECT_EQ(TOVADLL_ADD_TOVA(b, s, 0), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1}));
}

TEST(WriterTargets, ASingleDatasetMemoryTargetTakesOneDataset) {
  const uint64_t m = TOVADLL_OPEN_FILE_MEM(1, 2, 0x0100);
  Closer cm(m);
  EXPECT_EQ(AppendValues(m, {1}), 0);
  EXPECT_EQ(AppendValues(m, {2}), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(DocumentValues(m), (std::vector<uint16_t>{1}));
}

TEST(WriterTargets, AMemoryTargetKeepsEveryDataset) {
  const uint64_t m = MakeMemoryDocument({10, 11, 12});
  ASSERT_NE(m, TOVADLL_INVALID_HANDLE);
  Closer cm(m);
  EXPECT_EQ(DocumentValues(m), (std::vector<uint16_t>{10, 11, 12}));
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(TOVADLL_SET_CURDATASET(m, i), 0);
    // Entries that hold for every dataset answer from the first one.
    uint16_t size_x = 0;
    uint32_t copied = 0;
    EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(m, kDH, kSizeX, 2, &size_x, &copied), 0) << i;
    EXPECT_EQ(size_x, 4);
  }
  // The later datasets keep only their own entries.
  std::shared_ptr<CTOVAFile> doc = api::TheRegistry().Find(m);
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->data_headers.size(), 3u);
  EXPECT_EQ(doc->data_headers[1]->Count(), 1u);
  EXPECT_NE(doc->data_headers[2]->FindEntry(kValidFrames), nullptr);
}

TEST(WriterTargets, AppendingAllRestoresTheSourcesCurrentDataset) {
  TempTree dir;
  const std::u16string src_path = dir.Path(u"src.tova");
  ASSERT_EQ(WriteDocument(src_path, {1, 2, 3}), 0);
  const uint64_t r = TOVADLL_OPEN_FILE_READ_UC(W(src_path).c_str());
  Closer cr(r);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), 0);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(r, 1), 0);

  const std::u16string path = dir.Path(u"a.tova");
  const uint64_t w = OpenWrite(path, 0);
  ASSERT_EQ(TOVADLL_ADD_TOVA(w, r, 1), 0);
  TOVADLL_CLOSE_FILE(w);
  uint32_t cur = 0;
  EXPECT_EQ(TOVADLL_GET_CURDATASET(r, &cur), 0);
  EXPECT_EQ(cur, 1u);
  uint16_t value = 0;
  uint32_t copied = 0;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(r, kIM, kImageData, 2, &value, &copied), TOVA_ERR_BUFFER_TOO_SMALL);
  std::vector<uint8_t> image(32);
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(r, kIM, kImageData, 32, image.data(), &copied), 0);
  EXPECT_EQ(image, Pixels(2, 32));  // dataset 1's image is loaded again
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 3}));
}

// One dataset taken from the middle of a document: the entries that hold
// for every dataset come from dataset 0, the rest from the current one.
TEST(WriterTargets, TheLayeredCopyMergesDatasetZerosHeaderWithTheCurrentOne) {
  TempTree dir;
  const std::u16string src_path = dir.Path(u"src.tova");
  ASSERT_EQ(WriteDocument(src_path, {1, 2, 3}), 0);
  const uint64_t r = TOVADLL_OPEN_FILE_READ_UC(W(src_path).c_str());
  Closer cr(r);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), 0);
  const uint64_t m = MakeMemoryDocument({1, 2, 3});
  Closer cm(m);

  for (uint64_t source : {r, m}) {
    ASSERT_EQ(TOVADLL_SET_CURDATASET(source, 2), 0);
    const std::u16string path = dir.Path(u"a.tova");
    const uint64_t w = OpenWrite(path, 0);
    const uint64_t mem = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100);
    EXPECT_EQ(TOVADLL_ADD_TOVA(w, source, 0), 0);
    EXPECT_EQ(TOVADLL_ADD_TOVA(mem, source, 0), 0);
    TOVADLL_CLOSE_FILE(w);
    EXPECT_EQ(DocumentValues(mem), (std::vector<uint16_t>{3}));
    uint32_t cur = 0;
    EXPECT_EQ(TOVADLL_GET_CURDATASET(source, &cur), 0);
    EXPECT_EQ(cur, 2u);

    const uint64_t back = TOVADLL_OPEN_FILE_READ_UC(W(path).c_str());
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(back, 1, 0), 0);
    EXPECT_EQ(DocumentValues(back), (std::vector<uint16_t>{3}));
    for (uint64_t doc : {back, mem}) {
      for (uint16_t id : {kSizeX, kSizeY, kRange}) {
        uint16_t v = 0;
        uint32_t copied = 0;
        EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(doc, kDH, id, 2, &v, &copied), 0) << std::hex << id;
        EXPECT_EQ(v, id == kRange ? 3 : 4);
      }
    }
    TOVADLL_CLOSE_FILE(back);
    TOVADLL_CLOSE_FILE(mem);
  }
}

TEST(WriterTargets, AReadWriteDocumentAppendsItsOwnDatasets) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(path, {1, 2}), 0);
  const uint64_t rw = OpenReadWrite(path, 1);
  ASSERT_NE(rw, TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(TOVADLL_ADD_TOVA(rw, rw, 1), 0);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2, 1, 2}));
  TOVADLL_CLOSE_FILE(rw);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 1, 2}));
}

}  // namespace
}  // namespace tova::writer_test
