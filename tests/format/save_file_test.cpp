// The safe save: what a saved document is bound to afterwards (read,
// read-write and memory documents, onto their own path or another one), the
// removal of what the old document at the path had beyond the new one, the
// flush before the commit, the refusals, and the progress dialog of a save.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "api/registry.h"
#include "format/writer_test_support.h"
#include "platform/performance_counter.h"
#include "progress/progress_test_support.h"
#include "support/fault_file_system.h"

namespace tova::writer_test {
namespace {

using testing::FaultFileSystem;
using testing::FsOp;
using testing::PathExists;
using testing::ReadFileBytes;
using testing::ScopedFileSystem;
using testing::TempTree;
using testing::WriteFileBytes;

std::shared_ptr<CTOVAFile> Doc(uint64_t h) { return api::TheRegistry().Find(h); }

uint32_t TypeOf(uint64_t h) {
  uint32_t type = 99;
  TOVADLL_GET_TOVA_TYPE(h, &type);
  return type;
}
uint32_t CurrentOf(uint64_t h) {
  uint32_t cur = 99;
  TOVADLL_GET_CURDATASET(h, &cur);
  return cur;
}
uint32_t ModifiedOf(uint64_t h) {
  uint32_t modified = 99;
  TOVADLL_GET_MODIFIED(h, &modified);
  return modified;
}

uint64_t OpenRead(const std::u16string& path) {
  const uint64_t r = TOVADLL_OPEN_FILE_READ_UC(W(path).c_str());
  if (r != TOVADLL_INVALID_HANDLE && TOVADLL_READ_FROM_FILE(r, 1, 0) != 0) {
    TOVADLL_CLOSE_FILE(r);
    return TOVADLL_INVALID_HANDLE;
  }
  return r;
}

TEST(SaveFile, AReadDocumentSavedToANewPathIsBoundToIt) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  const std::u16string b = dir.Path(u"b.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2, 3}), 0);
  const std::vector<uint8_t> a_bytes = ReadFileBytes(a);
  const uint64_t r = OpenRead(a);
  ASSERT_NE(r, TOVADLL_INVALID_HANDLE);
  Closer cr(r);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(r, 2), 0);
  ASSERT_EQ(Save(r, b), 0);
  EXPECT_EQ(Doc(r)->path, b);
  EXPECT_EQ(TypeOf(r), TOVA_TYPE_READ);
  EXPECT_EQ(CurrentOf(r), 2u);
  EXPECT_EQ(ModifiedOf(r), 0u);
  EXPECT_EQ(TemporaryLeftovers(dir.path()), std::vector<std::u16string>{});
  EXPECT_EQ(ReadFileBytes(a), a_bytes);
  EXPECT_EQ(ReadValues(b), (std::vector<uint16_t>{1, 2, 3}));
  // The images now come from the new file.
  ASSERT_EQ(TOVADLL_FILE_DELETE_UC(W(a).c_str()), 0);
  EXPECT_EQ(DocumentValues(r), (std::vector<uint16_t>{1, 2, 3}));
}

TEST(SaveFile, AReadDocumentSavedOntoItsOwnPathKeepsItsChanges) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2, 3}), 0);
  const uint64_t r = OpenRead(a);
  Closer cr(r);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(r, 1), 0);
  EXPECT_EQ(ModifiedOf(r), 1u);
  ASSERT_EQ(Save(r, a), 0);
  EXPECT_EQ(ModifiedOf(r), 0u);
  EXPECT_EQ(DocumentValues(r), (std::vector<uint16_t>{1, 3}));
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{1, 3}));
  EXPECT_EQ(TemporaryLeftovers(dir.path()), std::vector<std::u16string>{});
}

// The document's own file is closed before the commit (no file held open can
// be replaced on Windows) and the document is opened again afterwards.
TEST(SaveFile, AReadWriteDocumentSavedOntoItsOwnPathGoesOnAppending) {
  NoSyncFileSystem no_sync;
  ScopedFileSystem scope(no_sync);
  ScopedPartLimit limit(100);
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2, 3, 4}), 0);
  const uint64_t rw = OpenReadWrite(a, 1);
  ASSERT_NE(rw, TOVADLL_INVALID_HANDLE);
  Closer crw(rw);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(rw, 3), 0);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(rw, 2), 0);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(rw, 1), 0);
  ASSERT_EQ(Save(rw, a), 0);
  EXPECT_EQ(TypeOf(rw), TOVA_TYPE_READWRITE);
  EXPECT_EQ(CurrentOf(rw), 1u);
  EXPECT_EQ(ModifiedOf(rw), 0u);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2}));
  // The parts of the longer old document are gone.
  EXPECT_EQ(DirectoryNames(dir.path()).size(), PartSizes(a).size());
  EXPECT_EQ(AppendValues(rw, {9}), 0);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2, 9}));
  TOVADLL_CLOSE_FILE(rw);
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{1, 2, 9}));
}

TEST(SaveFile, AReadWriteDocumentWhoseCommitFailedGoesOnAppending) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2}), 0);
  const uint64_t rw = OpenReadWrite(a, 1);
  Closer crw(rw);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(rw, 1), 0);
  {
    FaultFileSystem fs;
    ScopedFileSystem scope(fs);
    fs.FailAlways(FsOp::Rename);
    EXPECT_EQ(Save(rw, a), TOVA_ERR_RENAME);
  }
  EXPECT_EQ(TypeOf(rw), TOVA_TYPE_READWRITE);
  EXPECT_EQ(CurrentOf(rw), 1u);
  EXPECT_EQ(AppendValues(rw, {3}), 0);
  EXPECT_EQ(DocumentValues(rw), (std::vector<uint16_t>{1, 2, 3}));
  TOVADLL_CLOSE_FILE(rw);
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{1, 2, 3}));
  EXPECT_EQ(TemporaryLeftovers(dir.path()), std::vector<std::u16string>{});
}

TEST(SaveFile, AReadWriteDocumentSavedToAnotherPathAppendsThere) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  const std::u16string b = dir.Path(u"b.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2}), 0);
  const uint64_t rw = OpenReadWrite(a, 1);
  Closer crw(rw);
  ASSERT_EQ(Save(rw, b), 0);
  EXPECT_EQ(Doc(rw)->path, b);
  EXPECT_EQ(TypeOf(rw), TOVA_TYPE_READWRITE);
  EXPECT_EQ(AppendValues(rw, {3}), 0);
  TOVADLL_CLOSE_FILE(rw);
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(ReadValues(b), (std::vector<uint16_t>{1, 2, 3}));
}

TEST(SaveFile, TheOldDocumentsContinuationFilesBeyondTheNewOnesAreRemoved) {
  NoSyncFileSystem no_sync;
  ScopedFileSystem scope(no_sync);
  ScopedPartLimit limit(100);
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2, 3, 4, 5}), 0);
  ASSERT_GE(PartSizes(a).size(), 4u);
  ASSERT_TRUE(WriteFileBytes(a + u" 017", std::string_view("stray part")));
  const uint64_t m = MakeMemoryDocument({7});
  Closer cm(m);
  ASSERT_EQ(Save(m, a), 0);
  EXPECT_EQ(TypeOf(m), TOVA_TYPE_MEMORY);
  EXPECT_EQ(DocumentValues(m), (std::vector<uint16_t>{7}));
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::u16string>{u"a.tova", u"a.tova 001"}));
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{7}));
}

TEST(SaveFile, WhatAnEarlierSaveLeftIsClearedFirst) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_TRUE(WriteFileBytes(a + u"$$$", std::string_view("left over")));
  ASSERT_TRUE(WriteFileBytes(a + u"$$$ 001", std::string_view("left over")));
  ASSERT_TRUE(WriteFileBytes(a + u"$$$ 005", std::string_view("left over")));
  const uint64_t m = MakeMemoryDocument({7, 8});
  Closer cm(m);
  ASSERT_EQ(Save(m, a), 0);
  EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::u16string>{u"a.tova"});
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{7, 8}));
}

TEST(SaveFile, RefusalsLeaveTheOldDocument) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1}), 0);
  const std::vector<uint8_t> old_bytes = ReadFileBytes(a);
  const uint64_t m = MakeMemoryDocument({7, 8});
  Closer cm(m);

  const uint64_t w = OpenWrite(dir.Path(u"w.tova"), 0);
  Closer cw(w);
  EXPECT_EQ(Save(w, a), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(TOVADLL_SAVE_FILE(m, nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_SAVE_FILE_UC(0x7777777, W(a).c_str()), TOVA_ERR_HANDLE);

  FaultFileSystem fs;
  ScopedFileSystem scope(fs);
  ASSERT_TRUE(WriteFileBytes(a + u"$$$", std::string_view("left over")));
  fs.FailAlways(FsOp::Delete, u"$$$");
  EXPECT_EQ(Save(m, a), TOVA_ERR_DELETE);
  fs.Clear();
  // A failed commit leaves the modified state alone; a failed append sets it.
  ASSERT_EQ(TOVADLL_SET_MODIFIED(m, 0), 0);
  fs.FailAlways(FsOp::Rename);
  EXPECT_EQ(Save(m, a), TOVA_ERR_RENAME);
  EXPECT_EQ(ModifiedOf(m), 0u);
  fs.Clear();
  fs.FailAlways(FsOp::Write);
  EXPECT_EQ(Save(m, a), TOVA_ERR_FILE_WRITE);
  EXPECT_EQ(ModifiedOf(m), 1u);
  fs.Clear();
  EXPECT_EQ(ReadFileBytes(a), old_bytes);
  EXPECT_EQ(TemporaryLeftovers(dir.path()), std::vector<std::u16string>{});
}

// Every part of the new file set reaches stable storage before the first
// rename, and the directory is synced after the commit.
TEST(SaveFile, TheNewFilesAreFlushedBeforeTheyReplaceTheOldOnes) {
  ScopedPartLimit limit(100);
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1}), 0);
  const std::vector<uint8_t> old_bytes = FileSetBytes(a);
  const uint64_t m = MakeMemoryDocument({7, 8, 9});
  Closer cm(m);

  FaultFileSystem fs;
  ScopedFileSystem scope(fs);
  for (const char16_t* part : {u"$$$", u"$$$ 001", u"$$$ 002"}) {
    fs.ResetCounters();
    fs.FailAlways(FsOp::Flush, part);
    EXPECT_EQ(Save(m, a), TOVA_ERR_FILE_WRITE);
    fs.Clear();
    EXPECT_EQ(fs.Count(FsOp::Rename), 0);
    EXPECT_EQ(FileSetBytes(a), old_bytes);
    EXPECT_EQ(TemporaryLeftovers(dir.path()), std::vector<std::u16string>{});
  }

  fs.ResetCounters();
  ASSERT_EQ(Save(m, a), 0);
  const size_t parts = PartSizes(a).size();
  ASSERT_GE(parts, 3u);
  EXPECT_GE(fs.Count(FsOp::Flush), static_cast<int>(parts));
  EXPECT_GE(fs.Count(FsOp::SyncDirectory), 1);
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{7, 8, 9}));
}

// A counter that moves on by a second at every look, so that a progress
// dialog appears at its first step.
class RushingCounter final : public platform::PerformanceCounter {
 public:
  RushingCounter() { platform::SetPerformanceCounterForTesting(this); }
  ~RushingCounter() override { platform::SetPerformanceCounterForTesting(nullptr); }
  int64_t Frequency() override { return 1000; }
  int64_t Now() override { return now_ += 1000; }

 private:
  int64_t now_ = 0;
};

bool ShowsText(const testing::FakeWindowLog& log, std::u16string_view text) {
  for (const std::u16string& t : log.texts)
    if (t.find(text) != std::u16string::npos) return true;
  return false;
}

TEST(SaveFile, SavingSeveralDatasetsShowsTheDialogOnlyWhenTheSettingIsOn) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(a, {1, 2}), 0);
  const uint64_t m = MakeMemoryDocument({7, 8});
  Closer cm(m);
  const uint64_t r = OpenRead(a);
  Closer cr(r);
  RushingCounter counter;

  for (uint64_t doc : {m, r}) {
    TOVADLL_SET_DLG_SHOW(1);
    testing::FakeWindowLog on;
    {
      testing::FakeWindowFactory factory(on);
      ASSERT_EQ(Save(doc, doc == m ? dir.Path(u"m.tova") : a), 0);
    }
    EXPECT_GE(on.windows_made, 1);
    EXPECT_TRUE(ShowsText(on, u"Adding"));

    TOVADLL_SET_DLG_SHOW(0);
    testing::FakeWindowLog off;
    {
      testing::FakeWindowFactory factory(off);
      ASSERT_EQ(Save(doc, doc == m ? dir.Path(u"m.tova") : a), 0);
    }
    TOVADLL_SET_DLG_SHOW(1);
    EXPECT_EQ(off.windows_made, 0);
  }
  EXPECT_EQ(ReadValues(a), (std::vector<uint16_t>{1, 2}));
}

// A single dataset needs no dialog.
TEST(SaveFile, SavingOneDatasetShowsNoDialog) {
  TempTree dir;
  const uint64_t m = MakeMemoryDocument({7});
  Closer cm(m);
  RushingCounter counter;
  TOVADLL_SET_DLG_SHOW(1);
  testing::FakeWindowLog log;
  {
    testing::FakeWindowFactory factory(log);
    ASSERT_EQ(Save(m, dir.Path(u"m.tova")), 0);
  }
  EXPECT_EQ(log.windows_made, 0);
}

}  // namespace
}  // namespace tova::writer_test
