// Cutting a document into continuation files at the part size limit, lowered
// through its seam so that every cut position is tried on small files: the
// byte stream is the same whatever the limit, no part passes the limit, a
// dataset larger than the room left is cut as often as needed, and a
// read-write document finds each image in the right part at the right offset.
#include <gtest/gtest.h>

#include "format/part_files.h"

#include "model/document_files.h"

#include <memory>
#include <string>
#include <vector>

#include "api/registry.h"
#include "format/writer_test_support.h"
#include "support/fault_file_system.h"

namespace tova::writer_test {
namespace {

using testing::PathExists;
using testing::ReadFileBytes;
using testing::TempTree;

std::shared_ptr<CTOVAFile> Doc(uint64_t h) { return api::TheRegistry().Find(h); }

// Where a fresh read of the file finds the images.
std::vector<TTOVASectInfo> ReaderIndex(const std::u16string& path) {
  const uint64_t r = TOVADLL_OPEN_FILE_READ_UC(W(path).c_str());
  std::vector<TTOVASectInfo> index;
  if (r == TOVADLL_INVALID_HANDLE) return index;
  if (TOVADLL_READ_FROM_FILE(r, 1, 0) == 0) index = Doc(r)->image_index;
  TOVADLL_CLOSE_FILE(r);
  return index;
}

bool SameIndex(const std::vector<TTOVASectInfo>& a, const std::vector<TTOVASectInfo>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].data_size != b[i].data_size || a[i].part_number != b[i].part_number ||
        a[i].data_offset != b[i].data_offset)
      return false;
  return true;
}

// Where an image whose data begin at byte `position` of the stream lies when
// the stream is cut every `limit` bytes: in the part where its section header
// ends, so data that begin right at a cut are found at the end of the part
// before it.
TTOVASectInfo Expected(const TTOVASectInfo& whole, uint32_t limit) {
  const uint32_t position = whole.data_offset;
  const uint32_t part = position == 0 ? 0 : (position - 1) / limit;
  return TTOVASectInfo{whole.data_size, static_cast<uint16_t>(part), position - part * limit};
}

TEST(WriterCut, EveryCutPositionKeepsTheByteStreamAndTheImageIndex) {
  NoSyncFileSystem no_sync;
  testing::ScopedFileSystem scope(no_sync);
  TempTree dir;
  const std::vector<uint16_t> values = {1, 2, 3};
  const std::u16string ref_path = dir.Path(u"ref.tova");
  ASSERT_EQ(WriteDocument(ref_path, values), 0);
  const std::vector<uint8_t> stream = ReadFileBytes(ref_path);
  const uint32_t total = static_cast<uint32_t>(stream.size());
  const std::vector<TTOVASectInfo> whole_index = ReaderIndex(ref_path);
  ASSERT_EQ(whole_index.size(), values.size());

  // Every byte of the stream is a cut position for some limit of 20 and more;
  // the small limits cut each dataset many times.
  std::vector<uint32_t> limits = {3, 7, 13};
  for (uint32_t l = 20; l <= total + 1; ++l) limits.push_back(l);
  for (uint32_t limit : limits) {
    ScopedPartLimit scoped(limit);
    std::vector<TTOVASectInfo> expected_index;
    for (const TTOVASectInfo& info : whole_index) expected_index.push_back(Expected(info, limit));
    // Read-write documents at every fifth limit and the small ones.
    for (uint32_t rw : {0u, 1u}) {
      if (rw && limit >= 20 && limit % 5 != 0) continue;
      SCOPED_TRACE(::testing::Message() << "limit " << limit << (rw ? " read-write" : " write"));
      const std::u16string path = dir.Path(rw ? u"rw.tova" : u"w.tova");
      const uint64_t h = rw ? OpenReadWrite(path, 0) : OpenWrite(path, 0);
      ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
      ASSERT_EQ(AppendValues(h, values), 0);
      if (rw) {
        // The images appended after the cuts come back from the right part.
        EXPECT_TRUE(SameIndex(Doc(h)->image_index, expected_index));
        EXPECT_EQ(DocumentValues(h), values);
      }
      TOVADLL_CLOSE_FILE(h);

      const std::vector<uint64_t> sizes = PartSizes(path);
      const size_t expected_parts = (total + limit - 1) / limit;
      ASSERT_EQ(sizes.size(), expected_parts);
      for (size_t p = 0; p + 1 < sizes.size(); ++p) EXPECT_EQ(sizes[p], limit) << "part " << p;
      EXPECT_LE(sizes.back(), limit);
      EXPECT_FALSE(PathExists(PartFileName(path, static_cast<uint32_t>(sizes.size()))));
      EXPECT_EQ(FileSetBytes(path), stream);
      if (!rw && limit >= 20) {
        EXPECT_EQ(ReadValues(path), values);
        EXPECT_TRUE(SameIndex(ReaderIndex(path), expected_index));
      }
    }
  }
}

// 1,000 bytes appended 647 bytes before the limit: 647 bytes fill the part,
// the first continuation file takes the other 353, and the part size is 353.
TEST(WriterCut, TheWorkedExampleAtAScaledLimit) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  for (uint32_t rw : {0u, 1u}) {
    SCOPED_TRACE(rw ? "read-write" : "write");
    ASSERT_EQ(WriteDocument(path, {1}), 0);
    const uint32_t first = static_cast<uint32_t>(ReadFileBytes(path).size());
    ScopedPartLimit scoped(first + 647);
    const uint64_t h = rw ? OpenReadWrite(path, 1) : OpenWrite(path, 1);
    ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
    // Per-dataset form: data header 6 + 8, image 6 + 6 + pixels.
    const uint64_t s = MakeSource(2, 1000 - 26);
    ASSERT_EQ(TOVADLL_ADD_TOVA(h, s, 0), 0);
    TOVADLL_CLOSE_FILE(s);
    EXPECT_EQ(format::WriterOf(*Doc(h))->part(), 1);
    EXPECT_EQ(format::WriterOf(*Doc(h))->part_size(), 353u);
    if (rw) {
      ASSERT_EQ(Doc(h)->image_index.size(), 2u);
      EXPECT_EQ(Doc(h)->image_index[1].part_number, 0);
      EXPECT_EQ(Doc(h)->image_index[1].data_offset, first + 20);
      EXPECT_EQ(Doc(h)->image_index[1].data_size, 1000u - 20);
      EXPECT_EQ(DocumentValues(h), (std::vector<uint16_t>{1, 2}));
    }
    TOVADLL_CLOSE_FILE(h);
    EXPECT_EQ(PartSizes(path), (std::vector<uint64_t>{first + 647ull, 353}));
    EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2}));
  }
}

TEST(WriterCut, ADatasetLargerThanTheLimitIsCutAsOftenAsNeeded) {
  NoSyncFileSystem no_sync;
  testing::ScopedFileSystem scope(no_sync);
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ScopedPartLimit scoped(100);
  const uint64_t rw = OpenReadWrite(path, 0);
  ASSERT_NE(rw, TOVADLL_INVALID_HANDLE);
  ASSERT_EQ(AppendValues(rw, {1, 2, 3}, 1000), 0);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2, 3}));
  const std::vector<TTOVASectInfo> index = Doc(rw)->image_index;
  TOVADLL_CLOSE_FILE(rw);
  const std::vector<uint64_t> sizes = PartSizes(path);
  ASSERT_GT(sizes.size(), 30u);
  for (uint64_t s : sizes) EXPECT_LE(s, 100u);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 3}));
  EXPECT_TRUE(SameIndex(index, ReaderIndex(path)));
}

// A part that already holds more than the limit (a lower limit than the one
// it was written with) takes nothing more: the next dataset starts the next
// part.
TEST(WriterCut, APartAlreadyBeyondTheLimitIsContinuedInTheNextPart) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(path, {1, 2}), 0);
  const uint64_t main_size = ReadFileBytes(path).size();
  ScopedPartLimit scoped(100);
  ASSERT_GT(main_size, 100u);
  const uint64_t rw = OpenReadWrite(path, 1);
  ASSERT_NE(rw, TOVADLL_INVALID_HANDLE);
  ASSERT_EQ(AppendValues(rw, {3, 4}), 0);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2, 3, 4}));
  const std::vector<TTOVASectInfo> index = Doc(rw)->image_index;
  TOVADLL_CLOSE_FILE(rw);
  EXPECT_EQ(PartSizes(path).front(), main_size);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_TRUE(SameIndex(index, ReaderIndex(path)));
}

// Part numbers end at 999: a dataset that would need part 1000 is refused
// before a byte is written.
TEST(WriterCut, ADatasetThatWouldNeedPart1000IsRefused) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ScopedPartLimit scoped(200);
  const uint64_t w = OpenWrite(path, 0);
  ASSERT_NE(w, TOVADLL_INVALID_HANDLE);
  Closer cw(w);
  ASSERT_EQ(AppendValues(w, {1}, 10), 0);
  const uint64_t main_size = PartSizes(path).at(0);
  ASSERT_LT(main_size, 200u);
  {
    // Pretend parts 1 to 997 were written before and part 998 is full.
    std::shared_ptr<CTOVAFile> doc = Doc(w);
    platform::DocumentLockGuard guard(doc->lock);
    format::WriterOf(*doc)->SetPositionForTesting(998, 200);
  }
  // Two more parts needed (999 and 1000): refused, nothing written.
  EXPECT_EQ(AppendValues(w, {2}, 250), TOVA_ERR_OPEN);
  EXPECT_EQ(PartSizes(path).at(0), main_size);
  EXPECT_FALSE(PathExists(path + u" 999"));
  // One more part (999) is allowed; the dataset fills it.
  EXPECT_EQ(AppendValues(w, {3}, 200 - 26), 0);
  EXPECT_EQ(format::WriterOf(*Doc(w))->part(), 999);
  EXPECT_EQ(format::WriterOf(*Doc(w))->part_size(), 200u);
  // Now every further byte would need part 1000.
  EXPECT_EQ(AppendValues(w, {4}, 2), TOVA_ERR_OPEN);
  EXPECT_EQ(format::WriterOf(*Doc(w))->part(), 999);
  EXPECT_EQ(format::WriterOf(*Doc(w))->part_size(), 200u);
  EXPECT_FALSE(PathExists(path + u" 1000"));
  TOVADLL_CLOSE_FILE(w);
  EXPECT_EQ(ReadFileBytes(path + u" 999").size(), 200u);
  EXPECT_EQ(ReadFileBytes(path).size(), main_size);
}

}  // namespace
}  // namespace tova::writer_test
