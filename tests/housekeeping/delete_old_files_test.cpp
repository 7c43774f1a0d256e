// The deletion of old documents in a directory tree, through the exports. The
// file layer is the fault-injecting one with the present time fixed, so that
// ages are exact; directory creation times (which cannot be set) come from its
// times hook.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "HOLMDAQTova.h"
#include "platform/file_system.h"
#include "support/fault_file_system.h"
#include "support/test_files.h"

namespace tova::testing {
namespace {

const TOVA_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const TOVA_WCHAR*>(s.c_str()); }

class DeleteOldFiles : public ::testing::Test {
 protected:
  DeleteOldFiles() : scope_(fault_) {
    fault_.now_hook = [this] { return now_; };
    fault_.times_hook = [this](const std::u16string& path, platform::FileTimes& times) {
      const auto it = created_.find(path);
      if (it == created_.end()) return false;
      times.creation = times.modification = it->second;
      return true;
    };
  }

  // A file modified `age` seconds before now.
  void File(const std::u16string& name, int64_t age) {
    const std::u16string path = tree_.Path(name);
    ASSERT_TRUE(WriteFileBytes(path, std::string_view("x")));
    ASSERT_TRUE(SetModificationTime(path, now_ - age));
  }
  // A directory created `age` seconds before now.
  void Dir(const std::u16string& name, int64_t age) {
    ASSERT_TRUE(MakeDirectory(tree_.Path(name)));
    created_[tree_.Path(name)] = now_ - age;
  }
  bool Exists(const std::u16string& name) const { return PathExists(tree_.Path(name)); }
  // The tree as the exports take it: a directory path ending in a separator.
  std::u16string Pattern(const std::u16string& sub = u"") const {
    return (sub.empty() ? tree_.path() : tree_.Path(sub)) + platform::kPathSeparator;
  }
  int32_t Run(uint32_t age, const volatile uint32_t* stop = nullptr) {
    return TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(W(Pattern()), age, stop);
  }

  TempTree tree_;
  FaultFileSystem fault_;
  ScopedFileSystem scope_;
  int64_t now_ = platform::SystemFileSystem().Now();
  std::map<std::u16string, int64_t> created_;
};

TEST_F(DeleteOldFiles, DeletesOldTovaDocumentsWithTheirParts) {
  File(u"old.tova", 200);
  File(u"old.tova 001", 200);
  File(u"old.tova 2", 200);
  File(u"edge.tova", 100);     // exactly the age: not older
  File(u"older.tova", 101);
  File(u"young.tova", 50);
  File(u"upper.TOVA", 1000);
  File(u"mixed.Tova", 1000);
  File(u"note.txt", 1000);
  File(u"near.tovax", 1000);
  File(u"orphan.tova 001", 1000);  // its main file is missing: stays
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern()), 100), TOVA_OK);
  for (const char16_t* gone : {u"old.tova", u"old.tova 001", u"old.tova 2", u"older.tova", u"upper.TOVA",
                               u"mixed.Tova"})
    EXPECT_FALSE(Exists(gone)) << NarrowPath(gone);
  for (const char16_t* kept : {u"edge.tova", u"young.tova", u"note.txt", u"near.tovax", u"orphan.tova 001"})
    EXPECT_TRUE(Exists(kept)) << NarrowPath(kept);
}

TEST_F(DeleteOldFiles, YoungPartKeepsTheWholeDocument) {
  File(u"a.tova", 1000);
  File(u"a.tova 001", 1000);
  File(u"a.tova 002", 10);
  EXPECT_EQ(Run(100), TOVA_OK);
  EXPECT_TRUE(Exists(u"a.tova") && Exists(u"a.tova 001") && Exists(u"a.tova 002"));
}

TEST_F(DeleteOldFiles, AgeZeroTakesEverythingBeforeTheCurrentSecond) {
  File(u"past.tova", 1);
  File(u"now.tova", 0);
  Dir(u"empty", 1);
  Dir(u"fresh", 0);
  created_[tree_.path()] = now_ - 1000;  // the start directory is never removed
  EXPECT_EQ(Run(0), TOVA_OK);
  EXPECT_FALSE(Exists(u"past.tova"));
  EXPECT_TRUE(Exists(u"now.tova"));
  EXPECT_FALSE(Exists(u"empty"));
  EXPECT_TRUE(Exists(u"fresh"));
  EXPECT_TRUE(PathExists(tree_.path()));
}

TEST_F(DeleteOldFiles, WalksSubdirectoriesAndRemovesThoseLeftEmpty) {
  Dir(u"sub", 1000);
  Dir(u"sub/inner", 1000);
  File(u"sub/inner/deep.tova", 1000);
  File(u"sub/s.tova", 1000);
  Dir(u"busy", 1000);
  File(u"busy/young.tova", 10);
  Dir(u"recent", 10);
  File(u"recent/r.tova", 1000);
  EXPECT_EQ(Run(100), TOVA_OK);
  EXPECT_FALSE(Exists(u"sub"));        // emptied, old: removed after its inner directory
  EXPECT_TRUE(Exists(u"busy/young.tova"));
  EXPECT_FALSE(Exists(u"recent/r.tova"));
  EXPECT_TRUE(Exists(u"recent"));      // empty, but created within the age
}

TEST_F(DeleteOldFiles, FailedDeletionFailsButTheOthersGo) {
  File(u"first.tova", 1000);
  File(u"locked.tova", 1000);
  File(u"last.tova", 1000);
  Dir(u"sub", 1000);
  File(u"sub/s.tova", 1000);
  File(u"sub/locked2.tova", 1000);
  fault_.FailAlways(FsOp::Delete, u"locked");
  EXPECT_EQ(Run(100), TOVA_ERR_DELETE);
  EXPECT_FALSE(Exists(u"first.tova") || Exists(u"last.tova") || Exists(u"sub/s.tova"));
  EXPECT_TRUE(Exists(u"locked.tova") && Exists(u"sub/locked2.tova"));
}

TEST_F(DeleteOldFiles, UnreadableTimesFailButTheOthersGo) {
  File(u"bad.tova", 1000);
  File(u"good.tova", 1000);
  fault_.FailAlways(FsOp::GetTimes, u"bad.tova");
  EXPECT_EQ(Run(100), TOVA_ERR_DELETE);
  EXPECT_TRUE(Exists(u"bad.tova"));
  EXPECT_FALSE(Exists(u"good.tova"));
}

TEST_F(DeleteOldFiles, StopFlagSetBeforeTheCallTouchesNothing) {
  File(u"a.tova", 1000);
  Dir(u"empty", 1000);
  const volatile uint32_t stop = 1;
  EXPECT_EQ(Run(0, &stop), TOVA_OK);
  EXPECT_TRUE(Exists(u"a.tova") && Exists(u"empty"));
  EXPECT_EQ(fault_.Count(FsOp::GetTimes), 0);
}

// The flag is read before every entry at every level: set while the first
// document is examined, it ends the walk after that document.
TEST_F(DeleteOldFiles, StopFlagSetDuringTheWalkEndsItAtTheNextEntry) {
  Dir(u"sub", 1000);
  for (const char16_t* name : {u"a.tova", u"b.tova", u"c.tova", u"sub/d.tova", u"sub/e.tova"}) File(name, 1000);
  volatile uint32_t stop = 0;
  fault_.times_hook = [&stop](const std::u16string&, platform::FileTimes&) {
    stop = 1;
    return false;
  };
  EXPECT_EQ(Run(100, &stop), TOVA_OK);
  int left = 0;
  for (const char16_t* name : {u"a.tova", u"b.tova", u"c.tova", u"sub/d.tova", u"sub/e.tova"}) left += Exists(name);
  EXPECT_EQ(left, 4);
}

TEST_F(DeleteOldFiles, PatternRules) {
  File(u"abc.tova", 1000);
  File(u"axe.tova", 1000);
  File(u"bcd.tova", 1000);
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(u""), 0), TOVA_ERR_DELETE);
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(u"*.*"), 0), TOVA_ERR_DELETE);
  // A missing directory finds nothing, which is success.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern(u"missing")), 0), TOVA_OK);
  // "*.*" is appended without a separator: the last component is a prefix.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern() + u"ab"), 100), TOVA_OK);
  EXPECT_FALSE(Exists(u"abc.tova"));
  EXPECT_TRUE(Exists(u"axe.tova") && Exists(u"bcd.tova"));
  // A pattern that holds "*.*" is taken as it is.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD(NarrowPath(Pattern() + u"b*.*").c_str(), 100), TOVA_OK);
  EXPECT_TRUE(Exists(u"axe.tova"));
  EXPECT_FALSE(Exists(u"bcd.tova"));
  const volatile uint32_t never = 0;
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_EX(NarrowPath(Pattern()).c_str(), 100, &never), TOVA_OK);
  EXPECT_FALSE(Exists(u"axe.tova"));
}

// Ages of 2^31 seconds and more are still ages: no file younger than that is
// deleted (read as a signed 32-bit value they would turn negative and make
// every file old).
TEST_F(DeleteOldFiles, HugeAgesKeepYoungFiles) {
  File(u"young.tova", 10);
  EXPECT_EQ(Run(0x80000000u), TOVA_OK);
  EXPECT_EQ(Run(0xFFFFFFFFu), TOVA_OK);
  EXPECT_TRUE(Exists(u"young.tova"));
  now_ += int64_t{0x80000000} + 1000;  // the file is now older than 2^31 seconds
  EXPECT_EQ(Run(0x80000000u), TOVA_OK);
  EXPECT_FALSE(Exists(u"young.tova"));
}

// The real clock and the real file layer: age 0 takes what lies in the past.
TEST(DeleteOldFilesRealClock, AgeZero) {
  TempTree tree;
  const int64_t now = platform::SystemFileSystem().Now();
  ASSERT_TRUE(WriteFileBytes(tree.Path(u"past.tova"), std::string_view("x")));
  ASSERT_TRUE(SetModificationTime(tree.Path(u"past.tova"), now - 10));
  ASSERT_TRUE(WriteFileBytes(tree.Path(u"future.tova"), std::string_view("x")));
  ASSERT_TRUE(SetModificationTime(tree.Path(u"future.tova"), now + 3600));
  const std::u16string pattern = tree.path() + platform::kPathSeparator;
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(pattern), 0), TOVA_OK);
  EXPECT_FALSE(PathExists(tree.Path(u"past.tova")));
  EXPECT_TRUE(PathExists(tree.Path(u"future.tova")));
}

}  // namespace
}  // namespace tova::testing

#ifndef _WIN32
namespace tova::testing {
namespace {

// A link back up the tree would make the walk endless, and a link elsewhere
// would delete documents outside the start directory: links are not walked.
TEST_F(DeleteOldFiles, DoesNotFollowLinksToDirectories) {
  TempTree outside;
  ASSERT_TRUE(WriteFileBytes(outside.Path(u"far.tova"), std::string_view("x")));
  ASSERT_TRUE(SetModificationTime(outside.Path(u"far.tova"), now_ - 500));
  std::filesystem::create_directory_symlink(NarrowPath(tree_.path()), NarrowPath(tree_.Path(u"loop")));
  std::filesystem::create_directory_symlink(NarrowPath(outside.path()), NarrowPath(tree_.Path(u"away")));
  File(u"old.tova", 500);
  EXPECT_EQ(Run(100), TOVA_OK);
  EXPECT_FALSE(Exists(u"old.tova"));
  EXPECT_TRUE(PathExists(outside.Path(u"far.tova")));
}

}  // namespace
}  // namespace tova::testing
#endif
