// The safe save: whichever file call fails, the path holds exactly the old or the
// new document and no temporary file; what a saved document is bound to,
// leftovers, refusals, durability and the dialog.
#include <gtest/gtest.h>

#include "platform/performance_counter.h"
#include "progress/progress_test_support.h"
#include "support/documents.h"
#include "support/file_systems.h"

namespace tova::testing {
namespace {

uint64_t ReadDocument(const std::u16string& path) {
  const uint64_t r = OpenRead(path);
  return TOVADLL_READ_FROM_FILE(r, 1, 0), r;
}

enum class Kind { kMemory, kRead, kReadOther, kReadWrite };
struct SaveCase {
  const char* name;
  Values old_doc;  // at the path before the save
  Kind kind;
  Values source;  // the memory document's or the other file's datasets
  int removed;    // the dataset a read or read-write document of the path drops
  Values saved;
};

const SaveCase kCases[] = {
    {"memory document over a longer document", {1, 2, 3, 4, 5}, Kind::kMemory, {7, 8}, 0, {7, 8}},
    {"memory document over a shorter document", {1}, Kind::kMemory, {7, 8, 9, 10}, 0, {7, 8, 9, 10}},
    {"memory document to a new path", {}, Kind::kMemory, {7, 8}, 0, {7, 8}},
    {"read document onto its own path", {1, 2, 3}, Kind::kRead, {}, 1, {1, 3}},
    {"read document over another document", {1, 2}, Kind::kReadOther, {4, 5, 6}, 0, {4, 5, 6}},
    {"read-write document onto its own path", {1, 2, 3, 4}, Kind::kReadWrite, {}, 3, {1, 2, 3}},
};

// Writes the old document at path (and the other file in dir) and opens the document to save.
uint64_t OpenToSave(const SaveCase& c, const TempTree& dir, const std::u16string& path) {
  if (!c.old_doc.empty()) WriteDocument(path, c.old_doc);
  if (c.kind == Kind::kMemory) return MakeMemoryDocument(c.source);
  if (c.kind == Kind::kReadOther) {
    WriteDocument(dir.Path(u"src.tova"), c.source);
    return ReadDocument(dir.Path(u"src.tova"));
  }
  const uint64_t h = c.kind == Kind::kRead ? ReadDocument(path) : OpenReadWrite(path, 1);
  TOVADLL_REMOVE_DATASET(h, c.removed);
  return h;
}

// What lies at the path: the bytes and names of its file set (temporary names included).
using Stored = std::pair<Bytes, std::vector<std::u16string>>;
Stored StoredAt(const TempTree& dir) {
  return {FileSetBytes(dir.Path(u"a.tova")), DirectoryNames(dir.path(), u"a.tova")};
}

TEST(SafeSave, APathHoldsTheOldOrTheNewDocumentWhateverFails) {
  PartLimit limit(100);  // old and new documents span several parts
  NoSyncFileSystem no_sync;
  for (FsOp op : {FsOp::Write, FsOp::Flush, FsOp::Close, FsOp::Rename, FsOp::Open, FsOp::Delete, FsOp::FindFiles,
                  FsOp::Exists, FsOp::Size, FsOp::Seek, FsOp::Read}) {
    for (const SaveCase& c : kCases) {
      // The path before and after a save without faults (read once no document holds the files).
      Stored old_doc, new_doc;
      {
        ScopedFileSystem scope(no_sync);
        TempTree before, after;
        TOVADLL_CLOSE_FILE(OpenToSave(c, before, before.Path(u"a.tova")));
        old_doc = StoredAt(before);
        Handle d(OpenToSave(c, after, after.Path(u"a.tova")));
        ASSERT_EQ(Save(d, after.Path(u"a.tova")), TOVA_OK) << c.name;
        TOVADLL_CLOSE_FILE(d);
        new_doc = StoredAt(after);
        ASSERT_EQ(ReadValues(after.Path(u"a.tova")), c.saved) << c.name;
      }
      for (int n = 1;; ++n) {
        SCOPED_TRACE(::testing::Message() << c.name << ": " << OpName(op) << " " << n << " fails");
        ASSERT_LT(n, 200);
        TempTree dir;
        const std::u16string path = dir.Path(u"a.tova");
        Handle d([&] { ScopedFileSystem scope(no_sync); return OpenToSave(c, dir, path); }());
        FaultFileSystem fs;
        fs.FailNth(op, n);
        const int32_t rc = [&] { ScopedFileSystem scope(fs); return Save(d, path); }();
        fs.Clear();  // files the document holds stay with this layer
        std::vector<std::u16string> left = DirectoryNames(dir.path(), u"$$$");
        if (op == FsOp::Delete && rc == TOVA_OK && !left.empty()) {
          // An old part not deleted after the commit stays aside until the next save.
          for (const std::u16string& name : left) EXPECT_NE(name.find(u"$$$old "), std::u16string::npos);
          EXPECT_EQ(Save(d, path), TOVA_OK);
          left = DirectoryNames(dir.path(), u"$$$");
        }
        EXPECT_TRUE(left.empty());
        const Values values = DocumentValues(d);
        TOVADLL_CLOSE_FILE(d);
        const Stored now = StoredAt(dir);
        // Saved, or nothing committed and the document as it was; or committed, and then
        // reading the saved file failed: the saved datasets or none.
        const bool committed = rc == TOVA_OK || now != old_doc;
        EXPECT_TRUE(now == (committed ? new_doc : old_doc)) << "result " << rc << ": a mix";
        EXPECT_TRUE(values == c.saved || (rc != TOVA_OK && committed && values.empty()));
        if (fs.Count(op) < n) {
          EXPECT_EQ(rc, TOVA_OK);
          break;
        }
      }
    }
  }
}

// A saved document reads and appends from where it was saved, keeps its type and
// current dataset; a failed commit leaves it at home.
TEST(SafeSave, ASavedDocumentIsBoundToThePathItWasSavedTo) {
  PartLimit limit(100);
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova"), b = dir.Path(u"b.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2, 3}), TOVA_OK);
  const Bytes a_bytes = FileSetBytes(a);
  {
    Handle r(ReadDocument(a));
    ASSERT_EQ(TOVADLL_SET_CURDATASET(r, 2), TOVA_OK);
    ASSERT_EQ(TOVADLL_SET_MODIFIED(r, 1), TOVA_OK);
    ASSERT_EQ(Save(r, b), TOVA_OK);
    EXPECT_EQ(Doc(r)->path, b);
    EXPECT_EQ(TypeOf(r), TOVA_TYPE_READ);
    EXPECT_EQ(CurDataset(r), 2u);
    EXPECT_EQ(Modified(r), 0u);
    EXPECT_EQ(FileSetBytes(a), a_bytes);
    ASSERT_EQ(TOVADLL_FILE_DELETE_UC(W(a).c_str()), TOVA_OK);
    EXPECT_EQ(DocumentValues(r), (Values{1, 2, 3}));  // the images now come from the new file
  }
  Handle rw(OpenReadWrite(b, 1));
  ASSERT_EQ(Save(rw, a), TOVA_OK);
  {
    FaultFileSystem fs;
    ScopedFileSystem scope(fs);
    fs.FailAlways(FsOp::Rename);
    EXPECT_EQ(Save(rw, b), TOVA_ERR_RENAME);
  }
  ASSERT_EQ(AppendValues(rw, {4}), TOVA_OK);
  EXPECT_TRUE(Modified(rw) == 1u && DocumentValues(rw) == (Values{1, 2, 3, 4}));  // the new header held as changed
  EXPECT_EQ(ReadValues(b), (Values{1, 2, 3}));
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(rw, 3), TOVA_OK);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(rw, 2), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(rw, 1), TOVA_OK);
  ASSERT_EQ(Save(rw, a), TOVA_OK);
  EXPECT_EQ(TypeOf(rw), TOVA_TYPE_READWRITE);
  EXPECT_EQ(CurDataset(rw), 1u);
  EXPECT_EQ(Modified(rw), 0u);
  EXPECT_EQ(DirectoryNames(dir.path(), u"a.tova").size(), PartSizes(a).size());  // the longer old one's parts go
  EXPECT_EQ(AppendValues(rw, {9}), TOVA_OK);
  EXPECT_EQ(DocumentValues(rw), (Values{1, 2, 9}));
  TOVADLL_CLOSE_FILE(rw);
  EXPECT_EQ(ReadValues(a), (Values{1, 2, 9}));
}

// Leftovers of an earlier save and stray old parts go; refused saves leave the old
// document; new parts are flushed and the directory synced.
TEST(SafeSave, LeftoversRefusalsAndDurability) {
  PartLimit limit(100);
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1}), TOVA_OK);
  for (const char16_t* name : {u"a.tova$$$", u"a.tova$$$ 001", u"a.tova$$$ 005", u"a.tova 017"})
    ASSERT_TRUE(WriteFileBytes(dir.Path(name), "left over"));
  const Bytes old_bytes = FileSetBytes(a);
  Handle m(MakeMemoryDocument({7, 8, 9})), w(OpenWrite(dir.Path(u"w.tova"), 0));
  EXPECT_EQ(Save(w, a), TOVA_ERR_DOCUMENT_TYPE);
  FaultFileSystem fs;
  ScopedFileSystem scope(fs);
  ASSERT_EQ(TOVADLL_SET_MODIFIED(m, 0), TOVA_OK);
  for (const auto& [op, code, modified] : {std::tuple{FsOp::Rename, TOVA_ERR_RENAME, 0u},
                                           std::tuple{FsOp::Write, TOVA_ERR_FILE_WRITE, 1u}}) {
    fs.FailAlways(op);
    EXPECT_EQ(Save(m, a), code);
    EXPECT_EQ(Modified(m), modified);
    fs.Clear();
  }
  EXPECT_EQ(FileSetBytes(a), old_bytes);
  fs.ResetCounters();
  ASSERT_EQ(Save(m, a), TOVA_OK);
  const size_t parts = PartSizes(a).size();
  EXPECT_GE(parts, 3u);
  EXPECT_GE(fs.Count(FsOp::Flush), static_cast<int>(parts));
  EXPECT_GE(fs.Count(FsOp::SyncDirectory), 1);
  EXPECT_EQ(DirectoryNames(dir.path(), u"a.tova").size(), parts);
  EXPECT_EQ(ReadValues(a), (Values{7, 8, 9}));
}

// A counter that moves on by a second at every look: a dialog appears at its first step.
class RushingCounter final : public platform::PerformanceCounter {
 public:
  RushingCounter() { platform::SetPerformanceCounterForTesting(this); }
  ~RushingCounter() override { platform::SetPerformanceCounterForTesting(nullptr); }
  int64_t Frequency() override { return 1000; }
  int64_t Now() override { return now_ += 1000; }

 private:
  int64_t now_ = 0;
};

TEST(SafeSave, SavingSeveralDatasetsShowsTheDialogOnlyWhenTheSettingIsOn) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2}), TOVA_OK);
  Handle m(MakeMemoryDocument({7, 8})), r(ReadDocument(a)), one(MakeMemoryDocument({7}));
  RushingCounter counter;
  for (uint64_t doc : {uint64_t{m}, uint64_t{r}, uint64_t{one}}) {
    for (uint32_t show : {1u, 0u}) {
      TOVADLL_SET_DLG_SHOW(show);
      FakeWindowLog log;
      {
        FakeWindowFactory factory(log);
        ASSERT_EQ(Save(doc, doc == r ? a : dir.Path(u"m.tova")), TOVA_OK);
      }
      const bool shown = show && doc != one;  // a single dataset needs no dialog
      EXPECT_EQ(log.windows_made > 0, shown);
      EXPECT_EQ(std::any_of(log.texts.begin(), log.texts.end(),  // the last of the two datasets
                            [](const std::u16string& t) { return t.find(u"Adding [Section: 3]") != t.npos; }),
                shown);
      EXPECT_EQ(CurDataset(doc), 0u);  // the source's current dataset is given back
    }
  }
  TOVADLL_SET_DLG_SHOW(1);
  EXPECT_EQ(ReadValues(a), (Values{1, 2}));
}

}  // namespace
}  // namespace tova::testing
