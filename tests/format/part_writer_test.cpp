// The part writer: continuation files at every cut position, part numbers ending
// at 999, and appends whose N-th file call fails.
#include <gtest/gtest.h>

#include <tuple>

#include "format/part_files.h"
#include "support/documents.h"
#include "support/file_systems.h"

namespace tova::testing {
namespace {

using IndexList = std::vector<std::tuple<uint32_t, uint32_t, uint32_t>>;
IndexList Index(const std::vector<TTOVASectInfo>& index) {
  IndexList out;
  for (const TTOVASectInfo& i : index) out.emplace_back(i.part_number, i.data_offset, i.data_size);
  return out;
}
IndexList ReaderIndex(const std::u16string& path) {
  Handle r(OpenRead(path));
  return TOVADLL_READ_FROM_FILE(r, 1, 0) == TOVA_OK ? Index(Doc(r)->image_index) : IndexList{};
}
format::PartWriter& Writer(uint64_t h) { return *format::WriterOf(*Doc(h)); }

TEST(PartWriter, EveryCutPositionKeepsTheByteStreamAndTheImageIndex) {
  NoSyncFileSystem no_sync;
  ScopedFileSystem scope(no_sync);
  TempTree dir;
  const Values values = {1, 2, 3};
  ASSERT_EQ(WriteDocument(dir.Path(u"ref.tova"), values), TOVA_OK);
  const Bytes stream = ReadFileBytes(dir.Path(u"ref.tova"));
  const uint32_t total = static_cast<uint32_t>(stream.size());
  const auto whole_index = ReaderIndex(dir.Path(u"ref.tova"));
  ASSERT_EQ(whole_index.size(), values.size());
  // Every byte is a cut position for some limit of 20 and more; small limits cut every dataset often.
  std::vector<uint32_t> limits = {3, 7, 13};
  for (uint32_t l = 20; l <= total + 1; ++l) limits.push_back(l);
  for (uint32_t limit : limits) {
    PartLimit scoped(limit);
    // An image lies in the part where its section header ends.
    IndexList expected;
    for (const auto& [part, position, size] : whole_index) {
      const uint32_t p = position == 0 ? 0 : (position - 1) / limit;
      expected.emplace_back(p, position - p * limit, size);
    }
    for (uint32_t rw : {0u, 1u}) {
      if (rw && limit >= 20 && limit % 5 != 0) continue;  // read-write at every fifth limit and the small ones
      SCOPED_TRACE(::testing::Message() << "limit " << limit << (rw ? " read-write" : " write"));
      const std::u16string path = dir.Path(rw ? u"rw.tova" : u"w.tova");
      {
        Handle h(rw ? OpenReadWrite(path, 0) : OpenWrite(path, 0));
        ASSERT_EQ(AppendValues(h, values), TOVA_OK);
        if (rw) EXPECT_EQ(std::pair(Index(Doc(h)->image_index), DocumentValues(h)), std::pair(expected, values));
      }
      const std::vector<uint64_t> sizes = PartSizes(path);
      ASSERT_EQ(sizes.size(), (total + limit - 1) / limit);
      for (size_t p = 0; p + 1 < sizes.size(); ++p) EXPECT_EQ(sizes[p], limit) << "part " << p;
      EXPECT_FALSE(PathExists(PartFileName(path, static_cast<uint32_t>(sizes.size()))));
      EXPECT_EQ(FileSetBytes(path), stream);
      if (!rw && limit >= 20) EXPECT_EQ(std::pair(ReaderIndex(path), ReadValues(path)), std::pair(expected, values));
    }
  }
}

// A part that already holds more than the limit (written with a higher one) takes
// nothing more; datasets with images ten times the limit are cut as often as needed.
TEST(PartWriter, APartBeyondTheLimitTakesNothingMoreAndLargeDatasetsAreCut) {
  TempTree dir;
  const std::u16string path = dir.Path(u"over.tova");
  ASSERT_EQ(WriteDocument(path, {1, 2}), TOVA_OK);
  const uint64_t main_size = ReadFileBytes(path).size();
  PartLimit scoped(100);
  ASSERT_GT(main_size, 100u);
  ASSERT_EQ(AppendValues(Handle(OpenReadWrite(path, 1)), {3, 4}, 1000), TOVA_OK);
  const std::vector<uint64_t> sizes = PartSizes(path);
  EXPECT_EQ(sizes.front(), main_size);
  EXPECT_GT(sizes.size(), 20u);
  for (size_t p = 1; p < sizes.size(); ++p) EXPECT_LE(sizes[p], 100u);
  EXPECT_EQ(ReadValues(path), (Values{1, 2, 3, 4}));
}

TEST(PartWriter, ADatasetThatWouldNeedPart1000IsRefused) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  PartLimit scoped(200);
  Handle w(OpenWrite(path, 0));
  ASSERT_EQ(AppendValues(w, {1}, 10), TOVA_OK);
  const uint64_t main_size = PartSizes(path).at(0);
  Writer(w).SetPositionForTesting(998, 200);  // as if parts 1 to 997 were written and 998 is full
  EXPECT_EQ(AppendValues(w, {2}, 250), TOVA_ERR_OPEN);  // parts 999 and 1000 needed
  EXPECT_FALSE(PathExists(path + u" 999"));
  EXPECT_EQ(AppendValues(w, {3}, 200 - 26), TOVA_OK);   // fills part 999
  EXPECT_EQ(AppendValues(w, {4}, 2), TOVA_ERR_OPEN);    // every further byte would need part 1000
  EXPECT_EQ(Writer(w).part(), 999);
  EXPECT_EQ(Writer(w).part_size(), 200u);
  TOVADLL_CLOSE_FILE(w);
  EXPECT_FALSE(PathExists(path + u" 1000"));
  EXPECT_EQ(ReadFileBytes(path + u" 999").size(), 200u);
  EXPECT_EQ(ReadFileBytes(path).size(), main_size);
}

constexpr uint32_t kLimit = 100;
constexpr uint32_t kPixels = 60;  // full form 164 bytes, per-dataset form 86: every dataset meets a cut

TEST(PartWriter, AFailedAppendLeavesWholeDatasetsOnly) {
  const Values added = {2, 3, 4};
  const struct {
    const char* name;
    bool read_write;
    Values existing;
  } cases[] = {{"new write document", false, {}}, {"new read-write document", true, {}},
               {"write document appending", false, {1}}, {"read-write document appending", true, {1}}};
  PartLimit limit(kLimit);
  for (const auto& c : cases) {
    auto open_target = [&](const std::u16string& path) {
      if (!c.existing.empty()) WriteDocument(path, c.existing, kPixels);
      const uint32_t append = c.existing.empty() ? 0 : 1;
      return c.read_write ? OpenReadWrite(path, append) : OpenWrite(path, append);
    };
    auto stream_length = [](uint64_t h) { return uint64_t{Writer(h).part()} * kLimit + Writer(h).part_size(); };
    // The byte stream without faults, and its length after each whole dataset (parts before the last are full).
    Bytes reference;
    std::vector<uint64_t> boundaries;
    {
      NoSyncFileSystem no_sync;
      ScopedFileSystem scope(no_sync);
      TempTree dir;
      {
        Handle t(open_target(dir.Path(u"a.tova")));
        boundaries.push_back(stream_length(t));
        for (uint16_t v : added) {
          ASSERT_EQ(AppendValues(t, {v}, kPixels), TOVA_OK);
          boundaries.push_back(stream_length(t));
        }
      }
      reference = FileSetBytes(dir.Path(u"a.tova"));
      ASSERT_EQ(reference.size(), boundaries.back());
    }
    for (FsOp op : {FsOp::Write, FsOp::Flush, FsOp::Close, FsOp::Open, FsOp::Seek}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(::testing::Message() << c.name << ": " << OpName(op) << " " << n << " fails");
        ASSERT_LT(n, 100);
        TempTree dir;
        const std::u16string path = dir.Path(u"a.tova");
        FaultFileSystem fs;
        ScopedFileSystem scope(fs);
        Handle t(open_target(path));
        Handle source(MakeMemoryDocument(added, kPixels));
        fs.ResetCounters();
        fs.FailNth(op, n);
        const int32_t rc = TOVADLL_ADD_TOVA(t, source, 1);
        const bool hit = fs.Count(op) >= n;
        fs.Clear();
        if (!hit) {
          EXPECT_EQ(rc, TOVA_OK);
          TOVADLL_CLOSE_FILE(t);
          EXPECT_EQ(FileSetBytes(path), reference);
          break;
        }
        EXPECT_EQ(rc, op == FsOp::Open ? TOVA_ERR_OPEN : TOVA_ERR_FILE_WRITE);
        // The file ends after a whole dataset, and its parts are only those that hold it.
        const uint64_t length = stream_length(t);
        const size_t whole = std::find(boundaries.begin(), boundaries.end(), length) - boundaries.begin();
        ASSERT_LT(whole, boundaries.size()) << "the document stands inside a dataset: " << length;
        const std::vector<uint64_t> sizes = PartSizes(path);
        EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), uint64_t{0}), length);
        EXPECT_EQ(DirectoryNames(dir.path()).size(), sizes.size());
        Values kept = c.existing;
        kept.insert(kept.end(), added.begin(), added.begin() + static_cast<ptrdiff_t>(whole));
        if (c.read_write) EXPECT_EQ(DocumentValues(t), kept);
        // The document goes on where the file ends, and the file reads back whole.
        EXPECT_EQ(TOVADLL_ADD_TOVA(t, source, 1), TOVA_OK);
        TOVADLL_CLOSE_FILE(t);
        const Bytes bytes = FileSetBytes(path);
        ASSERT_GE(bytes.size(), length);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length), reference.begin()));
        kept.insert(kept.end(), added.begin(), added.end());
        EXPECT_EQ(ReadValues(path), kept);
        for (uint64_t size : PartSizes(path)) EXPECT_LE(size, kLimit);
      }
    }
  }
}

// When no file can be opened any more: a failed write is cut back through the
// handle the document holds and the document goes on; a part whose close
// failed at a cut cannot be opened again, and the document's file stays closed.
TEST(PartWriter, FailuresWhileNoFileCanBeOpened) {
  for (FsOp op : {FsOp::Write, FsOp::Close}) {
    SCOPED_TRACE(OpName(op));
    PartLimit limit(op == FsOp::Write ? 1000 : 150);
    TempTree dir;
    const std::u16string path = dir.Path(u"a.tova");
    FaultFileSystem fs;
    ScopedFileSystem scope(fs);
    Handle w(OpenWrite(path, 0));
    ASSERT_EQ(AppendValues(w, {1}, 10), TOVA_OK);
    const std::vector<uint64_t> before = PartSizes(path);
    fs.FailNth(op, 1);
    fs.FailAlways(FsOp::Open);
    EXPECT_EQ(AppendValues(w, {2}, op == FsOp::Write ? 10 : kPixels), TOVA_ERR_FILE_WRITE);
    if (op == FsOp::Write) EXPECT_EQ(PartSizes(path), before);
    EXPECT_EQ(AppendValues(w, {3}, 10), op == FsOp::Write ? TOVA_OK : TOVA_ERR_OPEN);
    fs.Clear();
    TOVADLL_CLOSE_FILE(w);
    EXPECT_FALSE(PathExists(path + u" 001"));
    if (op == FsOp::Write) EXPECT_EQ(ReadValues(path), (Values{1, 3}));
  }
}

}  // namespace
}  // namespace tova::testing
