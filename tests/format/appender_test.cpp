// Appending datasets: the rules per target type, restoring the source's current
// dataset, the layered copy of one dataset, and the buffered append whose successive
// buffers make the file that appending writes.
#include <gtest/gtest.h>

#include <functional>

#include "support/documents.h"

namespace tova::testing {
namespace {

TEST(Appender, TargetTypes) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(path, {1}), TOVA_OK);
  Handle s(MakeSource(2)), b(TOVADLL_OPEN_FILE_WRITE_BUFFER()), one(TOVADLL_OPEN_FILE_MEM(1, 2, 0x0100));
  {
    Handle r(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), TOVA_OK);
    for (uint32_t all : {0u, 1u}) EXPECT_EQ(TOVADLL_ADD_TOVA(r, s, all), TOVA_ERR_DOCUMENT_TYPE);
  }
  EXPECT_EQ(TOVADLL_ADD_TOVA(b, s, 0), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(AppendValues(one, {1}), TOVA_OK);
  EXPECT_EQ(AppendValues(one, {2}), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(DocumentValues(one), (Values{1}));
  // A memory document keeps every dataset; later ones hold only their own
  // entries, and those that hold for every dataset answer from the first.
  Handle m(MakeMemoryDocument({10, 11, 12}));
  EXPECT_EQ(EntryData(m, kDH, TOVA_DH_DREC_SizeX), U16(4));
  EXPECT_EQ(Doc(m)->data_headers[2]->Count(), 1u);
  // A new read-write document holds its first dataset's image without reading it back.
  Handle fresh(OpenReadWrite(dir.Path(u"f.tova"), 0));
  ASSERT_EQ(AppendValues(fresh, {5}), TOVA_OK);
  EXPECT_EQ(EntryData(fresh, kIM, kImageData), Pixels(5, 32));
  {
    Handle rw(OpenReadWrite(path, 1));
    EXPECT_EQ(TOVADLL_ADD_TOVA(rw, rw, 1), TOVA_OK);
    EXPECT_EQ(DocumentValues(rw), (Values{1, 1}));
  }
  EXPECT_EQ(ReadValues(path), (Values{1, 1}));
}

// Appending all datasets of a source leaves its current dataset (and image)
// as it was; one dataset taken from the middle of a document merges dataset
// 0's entries that hold for every dataset with the current one's own.
TEST(Appender, AllDatasetsOrTheLayeredCopyOfTheCurrentOne) {
  TempTree dir;
  const std::u16string src = dir.Path(u"src.tova"), path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(src, {1, 2}), TOVA_OK);
  Handle r(OpenRead(src)), m(MakeMemoryDocument({1, 2}));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(r, 1), TOVA_OK);
  ASSERT_EQ(TOVADLL_ADD_TOVA(Handle(OpenWrite(path, 0)), r, 1), TOVA_OK);
  EXPECT_EQ(CurDataset(r), 1u);
  EXPECT_EQ(EntryData(r, kIM, kImageData), Pixels(2, 32));  // dataset 1's image is loaded again
  EXPECT_EQ(ReadValues(path), (Values{1, 2}));
  for (uint64_t source : {uint64_t{r}, uint64_t{m}}) {
    ASSERT_EQ(TOVADLL_SET_CURDATASET(source, 1), TOVA_OK);
    Handle mem(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
    EXPECT_EQ(TOVADLL_ADD_TOVA(Handle(OpenWrite(path, 0)), source, 0), TOVA_OK);
    EXPECT_EQ(TOVADLL_ADD_TOVA(mem, source, 0), TOVA_OK);
    EXPECT_EQ(CurDataset(source), 1u);
    Handle back(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(back, 1, 0), TOVA_OK);
    for (uint64_t doc : {uint64_t{back}, uint64_t{mem}}) {
      EXPECT_EQ(DocumentValues(doc), (Values{2}));
      EXPECT_EQ(EntryData(doc, kDH, TOVA_DH_DREC_SizeX), U16(4));
      EXPECT_EQ(EntryData(doc, kDH, TOVA_DH_DREC_SizeY), U16(4));
      EXPECT_EQ(EntryData(doc, kDH, TOVA_DH_PARAM_MeasurementRange), U16(3));
    }
  }
}

TEST(Appender, SuccessiveBuffersMakeTheFileThatAppendingWrites) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  const Values values = {1, 2, 3, 4};
  ASSERT_EQ(WriteDocument(path, values, 40), TOVA_OK);
  Handle b(TOVADLL_OPEN_FILE_WRITE_BUFFER());
  Bytes file;
  for (uint16_t v : values) {
    Handle s(MakeSource(v, 40));
    uint32_t needed = 0, written = 0;
    ASSERT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, nullptr, 0, &needed), TOVA_ERR_WRITE_INCOMPLETE);
    // One byte too small: refused, the buffer untouched, the size needed told.
    Bytes buffer(needed - 1, 0xEE);
    EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), needed - 1, &written), TOVA_ERR_WRITE_INCOMPLETE);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(buffer, Bytes(needed - 1, 0xEE));
    buffer.assign(needed + 16, 0xEE);
    ASSERT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), needed + 16, &written), TOVA_OK);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(buffer[written], 0xEE);  // nothing beyond the dataset
    file.insert(file.end(), buffer.begin(), buffer.begin() + written);
  }
  EXPECT_EQ(file, ReadFileBytes(path));
  EXPECT_TRUE(EntryData(b, kIM, kImageData).empty());  // the target keeps no image
}

TEST(Appender, BufferedAppendRefusals) {
  Handle b(TOVADLL_OPEN_FILE_WRITE_BUFFER()), s(MakeSource(1)), two(MakeMemoryDocument({1, 2}));
  Handle m(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
  Bytes buffer(4096);
  uint32_t written = 12345;
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, two, buffer.data(), 4096, &written), TOVA_ERR_MISMATCH_RANGE);
  EXPECT_EQ(written, 12345u);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(m, s, buffer.data(), 4096, &written), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, nullptr, 4096, &written), TOVA_ERR_NULL_POINTER);
  // A document without sections (its read failed) has an empty buffer, and no dataset to append or take one.
  TempTree dir;
  ASSERT_TRUE(WriteFileBytes(dir.Path(u"x.dat"), "abc"));
  Handle empty(OpenRead(dir.Path(u"x.dat")));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(empty, 1, 0), TOVA_ERR_EXTENSION);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, empty, buffer.data(), 4096, &written), TOVA_ERR_WRITE_INCOMPLETE);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(TOVADLL_ADD_TOVA(m, empty, 0), TOVA_ERR_NO_SECTION);
  uint32_t size = 7, offset = 0;
  EXPECT_EQ(TOVADLL_GET_BUFFERSIZE(empty, &size), TOVA_OK);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(empty, buffer.data(), 1, &written), TOVA_OK);
  EXPECT_EQ(written, 0u);
  const Bytes sections = Concat({Section(kGH, {Entry(0x0100, Text("v1"))}), Section(kDH, {})});
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER_EX(empty, sections.data(), 20, &offset, &size), TOVA_ERR_NO_SECTION);
}

}  // namespace
}  // namespace tova::testing
