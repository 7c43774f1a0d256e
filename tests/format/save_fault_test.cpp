// The safe save under failures: the file layer fails its N-th call of one
// operation (write, flush, close, rename, open, and the others a save makes),
// for N = 1, 2, ... until the save goes through. After
// every attempt the path holds exactly the old document or exactly the new
// one (main file and continuation files alike), no temporary file is left,
// and the saved document is in a state that matches one of them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "format/writer_test_support.h"
#include "support/fault_file_system.h"

namespace tova::writer_test {
namespace {

using testing::FaultFileSystem;
using testing::FsOp;
using testing::ScopedFileSystem;
using testing::TempTree;

uint64_t OpenRead(const std::u16string& path) {
  const uint64_t r = TOVADLL_OPEN_FILE_READ_UC(W(path).c_str());
  if (r != TOVADLL_INVALID_HANDLE && TOVADLL_READ_FROM_FILE(r, 1, 0) != 0) {
    TOVADLL_CLOSE_FILE(r);
    return TOVADLL_INVALID_HANDLE;
  }
  return r;
}

struct SaveCase {
  const char* name;
  // Writes what lies in dir before the save (the old document at path) and
  // opens the document to save.
  std::function<uint64_t(const TempTree& dir, const std::u16string& path)> setup;
  std::vector<uint16_t> new_values;  // the saved document
};

const std::vector<SaveCase>& Cases() {
  static const std::vector<SaveCase> cases = {
      {"memory document over a longer document",
       [](const TempTree&, const std::u16string& path) {
         WriteDocument(path, {1, 2, 3, 4, 5});
         return MakeMemoryDocument({7, 8});
       },
       {7, 8}},
      {"memory document over a shorter document",
       [](const TempTree&, const std::u16string& path) {
         WriteDocument(path, {1});
         return MakeMemoryDocument({7, 8, 9, 10});
       },
       {7, 8, 9, 10}},
      {"memory document to a new path",
       [](const TempTree&, const std::u16string&) { return MakeMemoryDocument({7, 8}); }, {7, 8}},
      {"read document onto its own path",
       [](const TempTree&, const std::u16string& path) {
         WriteDocument(path, {1, 2, 3});
         const uint64_t r = OpenRead(path);
         TOVADLL_REMOVE_DATASET(r, 1);
         return r;
       },
       {1, 3}},
      {"read document over another document",
       [](const TempTree& dir, const std::u16string& path) {
         WriteDocument(dir.Path(u"src.tova"), {4, 5, 6});
         WriteDocument(path, {1, 2});
         return OpenRead(dir.Path(u"src.tova"));
       },
       {4, 5, 6}},
      {"read-write document onto its own path",
       [](const TempTree&, const std::u16string& path) {
         WriteDocument(path, {1, 2, 3, 4});
         const uint64_t rw = OpenReadWrite(path, 1);
         TOVADLL_REMOVE_DATASET(rw, 3);
         return rw;
       },
       {1, 2, 3}},
  };
  return cases;
}

const char* OpName(FsOp op) {
  switch (op) {
    case FsOp::Write: return "write";
    case FsOp::Flush: return "flush";
    case FsOp::Close: return "close";
    case FsOp::Rename: return "rename";
    case FsOp::Open: return "open";
    case FsOp::FindFiles: return "find";
    case FsOp::Delete: return "delete";
    case FsOp::Exists: return "exists";
    case FsOp::Size: return "size";
    case FsOp::Seek: return "seek";
    case FsOp::Read: return "read";
    default: return "other";
  }
}

// The names in dir that belong to the document at a.tova (temporary names
// included).
std::vector<std::u16string> DocumentNames(const TempTree& dir) {
  std::vector<std::u16string> names;
  for (const std::u16string& n : DirectoryNames(dir.path()))
    if (n.rfind(u"a.tova", 0) == 0) names.push_back(n);
  return names;
}

// What lies at the path: its bytes and the names of its file set.
struct Stored {
  std::vector<uint8_t> bytes;
  std::vector<std::u16string> names;
  bool operator==(const Stored& o) const { return bytes == o.bytes && names == o.names; }
};

Stored StoredAt(const TempTree& dir, const std::u16string& path) { return {FileSetBytes(path), DocumentNames(dir)}; }

class SaveFault : public ::testing::TestWithParam<FsOp> {};

TEST_P(SaveFault, APathHoldsTheOldOrTheNewDocumentWhateverFails) {
  const FsOp op = GetParam();
  ScopedPartLimit limit(100);  // old and new documents span several parts
  for (const SaveCase& c : Cases()) {
    // What lies at the path before and after a save without faults (read
    // once no document holds the files: Windows share modes).
    Stored old_doc, new_doc;
    {
      NoSyncFileSystem no_sync;
      ScopedFileSystem scope(no_sync);
      TempTree before, after;
      TOVADLL_CLOSE_FILE(c.setup(before, before.Path(u"a.tova")));
      old_doc = StoredAt(before, before.Path(u"a.tova"));
      const std::u16string path = after.Path(u"a.tova");
      const uint64_t d = c.setup(after, path);
      ASSERT_NE(d, TOVADLL_INVALID_HANDLE) << c.name;
      ASSERT_EQ(Save(d, path), 0) << c.name;
      TOVADLL_CLOSE_FILE(d);
      new_doc = StoredAt(after, path);
      ASSERT_EQ(ReadValues(path), c.new_values) << c.name;
    }

    for (int n = 1;; ++n) {
      SCOPED_TRACE(::testing::Message() << c.name << ": " << OpName(op) << " " << n << " fails");
      ASSERT_LT(n, 200);
      TempTree dir;
      const std::u16string path = dir.Path(u"a.tova");
      uint64_t d;
      {
        NoSyncFileSystem no_sync;
        ScopedFileSystem scope(no_sync);
        d = c.setup(dir, path);
      }
      Closer cd(d);
      int32_t rc;
      bool hit;
      {
        FaultFileSystem fs;
        ScopedFileSystem scope(fs);
        fs.FailNth(op, n);
        rc = Save(d, path);
        hit = fs.Count(op) >= n;
        fs.Clear();  // files the document holds stay with this layer
      }
      std::vector<std::u16string> left = TemporaryLeftovers(dir.path());
      if (op == FsOp::Delete && rc == 0 && !left.empty()) {
        // An old part that could not be deleted after the commit stays aside
        // under a temporary name; the next save removes it.
        for (const std::u16string& name : left) EXPECT_NE(name.find(u"$$$old "), std::u16string::npos);
        EXPECT_EQ(Save(d, path), 0);
        left = TemporaryLeftovers(dir.path());
      }
      EXPECT_EQ(left, std::vector<std::u16string>{});
      const std::vector<uint16_t> values = DocumentValues(d);
      TOVADLL_CLOSE_FILE(d);
      const Stored now = StoredAt(dir, path);
      if (rc == 0) {
        EXPECT_TRUE(now == new_doc) << Show(now.names);
        EXPECT_EQ(values, c.new_values);
      } else if (now == old_doc) {
        // Nothing committed: the document is as it was.
        EXPECT_EQ(values, c.new_values);
      } else {
        EXPECT_TRUE(now == new_doc) << "result " << rc << ", a mix: " << Show(now.names);
        // Committed, then reading the saved file failed: the document holds
        // the saved datasets or none.
        EXPECT_TRUE(values == c.new_values || values.empty());
      }
      if (!hit) {
        EXPECT_EQ(rc, 0);
        break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, SaveFault,
                         ::testing::Values(FsOp::Write, FsOp::Flush, FsOp::Close, FsOp::Rename, FsOp::Open,
                                           FsOp::Delete, FsOp::FindFiles, FsOp::Exists, FsOp::Size, FsOp::Seek,
                                           FsOp::Read),
                         [](const ::testing::TestParamInfo<FsOp>& info) { return std::string(OpName(info.param)); });

}  // namespace
}  // namespace tova::writer_test
