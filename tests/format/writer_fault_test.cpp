// Appends that fail part-way: the file layer fails its N-th write, flush,
// close, open or seek, for N = 1, 2, ... until the append goes through. After
// every failure the file set holds the datasets appended before, whole, and
// nothing of the one that failed; the document stays usable and a retry
// completes the file.
#include <gtest/gtest.h>

#include "format/part_files.h"

#include <memory>
#include <string>
#include <vector>

#include "api/registry.h"
#include "format/writer_test_support.h"
#include "support/fault_file_system.h"

namespace tova::writer_test {
namespace {

using testing::FaultFileSystem;
using testing::FsOp;
using testing::ScopedFileSystem;
using testing::TempTree;

constexpr uint32_t kLimit = 100;
constexpr uint32_t kPixels = 60;  // full form 164 bytes, per-dataset form 86: every dataset meets a cut

struct AppendCase {
  const char* name;
  bool read_write;
  std::vector<uint16_t> existing;  // datasets in the file before the append
};

const char* OpName(FsOp op) {
  switch (op) {
    case FsOp::Write: return "write";
    case FsOp::Flush: return "flush";
    case FsOp::Close: return "close";
    case FsOp::Open: return "open";
    case FsOp::Seek: return "seek";
    default: return "other";
  }
}

// Opens the target of the case on path, the file layer in force.
uint64_t OpenTarget(const AppendCase& c, const std::u16string& path) {
  if (!c.existing.empty() && WriteDocument(path, c.existing, kPixels) != 0) return TOVADLL_INVALID_HANDLE;
  const uint32_t append = c.existing.empty() ? 0 : 1;
  return c.read_write ? OpenReadWrite(path, append) : OpenWrite(path, append);
}

// The length of the byte stream a file document has written: its parts
// before the current one are full.
uint64_t StreamLength(uint64_t h) {
  std::shared_ptr<CTOVAFile> doc = api::TheRegistry().Find(h);
  format::PartWriter* writer = doc ? format::WriterOf(*doc) : nullptr;
  return writer ? static_cast<uint64_t>(writer->part()) * kLimit + writer->part_size() : 0;
}

std::vector<uint16_t> Concat(std::vector<uint16_t> a, const std::vector<uint16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(WriterFault, AFailedAppendLeavesWholeDatasetsOnly) {
  const std::vector<uint16_t> added = {2, 3, 4};
  const std::vector<AppendCase> cases = {
      {"new write document", false, {}},
      {"new read-write document", true, {}},
      {"write document appending", false, {1}},
      {"read-write document appending", true, {1}},
  };
  ScopedPartLimit limit(kLimit);
  for (const AppendCase& c : cases) {
    // The byte stream without faults, and its length after each whole dataset.
    std::vector<uint8_t> reference;
    std::vector<uint64_t> boundaries;
    {
      NoSyncFileSystem no_sync;
      ScopedFileSystem scope(no_sync);
      TempTree dir;
      const std::u16string path = dir.Path(u"a.tova");
      const uint64_t t = OpenTarget(c, path);
      ASSERT_NE(t, TOVADLL_INVALID_HANDLE) << c.name;
      boundaries.push_back(StreamLength(t));
      for (uint16_t v : added) {
        ASSERT_EQ(AppendValues(t, {v}, kPixels), 0);
        boundaries.push_back(StreamLength(t));
      }
      TOVADLL_CLOSE_FILE(t);
      reference = FileSetBytes(path);
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
        const uint64_t t = OpenTarget(c, path);
        ASSERT_NE(t, TOVADLL_INVALID_HANDLE);
        Closer ct(t);
        const uint64_t source = MakeMemoryDocument(added, kPixels);
        Closer cs(source);
        fs.ResetCounters();
        fs.FailNth(op, n);
        const int32_t rc = TOVADLL_ADD_TOVA(t, source, 1);
        const bool hit = fs.Count(op) >= n;
        fs.Clear();

        if (!hit) {
          EXPECT_EQ(rc, 0);
          TOVADLL_CLOSE_FILE(t);
          EXPECT_EQ(FileSetBytes(path), reference);
          break;
        }
        EXPECT_EQ(rc, op == FsOp::Open ? TOVA_ERR_OPEN : TOVA_ERR_FILE_WRITE);
        // The file ends after a whole dataset, and its parts are only those
        // that hold it.
        const uint64_t length = StreamLength(t);
        size_t whole = 0;
        while (whole < boundaries.size() && boundaries[whole] != length) ++whole;
        ASSERT_LT(whole, boundaries.size()) << "the document stands inside a dataset: " << length;
        const std::vector<uint64_t> sizes = PartSizes(path);
        uint64_t on_disk = 0;
        for (uint64_t size : sizes) on_disk += size;
        EXPECT_EQ(on_disk, length);
        EXPECT_EQ(DirectoryNames(dir.path()).size(), sizes.size());
        const std::vector<uint16_t> kept =
            Concat(c.existing, std::vector<uint16_t>(added.begin(), added.begin() + whole));
        if (c.read_write) EXPECT_EQ(DocumentValues(t), kept);

        // The document goes on where the file ends: the first bytes are those
        // of the datasets kept, and the file reads back whole.
        EXPECT_EQ(TOVADLL_ADD_TOVA(t, source, 1), 0);
        if (c.read_write) EXPECT_EQ(DocumentValues(t), Concat(kept, added));
        TOVADLL_CLOSE_FILE(t);
        const std::vector<uint8_t> bytes = FileSetBytes(path);
        ASSERT_GE(bytes.size(), length);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length), reference.begin()));
        EXPECT_EQ(ReadValues(path), Concat(kept, added));
        for (uint64_t size : PartSizes(path)) EXPECT_LE(size, kLimit);
      }
    }
  }
}

// A continuation file that cannot be created: 10, and the part the dataset
// began in is cut back.
TEST(WriterFault, AContinuationFileThatCannotBeCreatedGives10) {
  ScopedPartLimit limit(150);  // the first dataset (114 bytes) fits the main file
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  FaultFileSystem fs;
  ScopedFileSystem scope(fs);
  const uint64_t w = OpenWrite(path, 0);
  Closer cw(w);
  ASSERT_EQ(AppendValues(w, {1}, 10), 0);
  const std::vector<uint64_t> before = PartSizes(path);
  fs.FailAlways(FsOp::Open, u" 001");
  EXPECT_EQ(AppendValues(w, {2}, kPixels), TOVA_ERR_OPEN);
  EXPECT_EQ(PartSizes(path), before);
  EXPECT_FALSE(testing::PathExists(path + u" 001"));
  fs.Clear();
  EXPECT_EQ(AppendValues(w, {2}, kPixels), 0);
  TOVADLL_CLOSE_FILE(w);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2}));
}

// A write that fails while no file can be opened any more: the part is cut
// back through the handle the document holds, and the document goes on.
TEST(WriterFault, AFailedWriteIsCutBackWithoutOpeningThePartAgain) {
  ScopedPartLimit limit(1000);
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  FaultFileSystem fs;
  ScopedFileSystem scope(fs);
  const uint64_t w = OpenWrite(path, 0);
  ASSERT_EQ(AppendValues(w, {1}, 10), 0);
  const std::vector<uint64_t> before = PartSizes(path);
  fs.FailNth(FsOp::Write, 1);
  fs.FailAlways(FsOp::Open);
  EXPECT_EQ(AppendValues(w, {2}, 10), TOVA_ERR_FILE_WRITE);
  EXPECT_EQ(PartSizes(path), before);
  EXPECT_EQ(AppendValues(w, {3}, 10), 0);
  fs.Clear();
  TOVADLL_CLOSE_FILE(w);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 3}));
}

// A part whose close failed at a cut is gone from the document, and when it
// cannot be opened again either, the document's file stays closed: every
// later append gives 10.
TEST(WriterFault, APartThatCannotBeReopenedLeavesTheDocumentsFileClosed) {
  ScopedPartLimit limit(150);
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  FaultFileSystem fs;
  ScopedFileSystem scope(fs);
  const uint64_t w = OpenWrite(path, 0);
  Closer cw(w);
  ASSERT_EQ(AppendValues(w, {1}, 10), 0);
  fs.FailNth(FsOp::Close, 1);
  fs.FailAlways(FsOp::Open);
  EXPECT_EQ(AppendValues(w, {2}, kPixels), TOVA_ERR_FILE_WRITE);
  fs.Clear();
  EXPECT_EQ(AppendValues(w, {3}, 10), TOVA_ERR_OPEN);
  EXPECT_FALSE(testing::PathExists(path + u" 001"));
}

}  // namespace
}  // namespace tova::writer_test
