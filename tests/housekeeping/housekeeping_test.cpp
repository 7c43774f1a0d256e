// The continuation-file search, the delete / rename / size exports, and the deletion of old documents in a tree: on the
// fault-injecting file layer with the present time and directory creation times (which cannot be set) fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <utility>

#include "HOLMDAQTova.h"
#include "housekeeping/housekeeping.h"
#include "model/document_files.h"
#include "platform/file_system.h"
#include "support/file_systems.h"
#include "support/test_files.h"

namespace tova::testing {
namespace {

using Names = std::initializer_list<const char16_t*>;

const TOVA_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const TOVA_WCHAR*>(s.c_str()); }

class ContinuationFiles : public ::testing::Test {
 protected:
  // Creates the files, each holding its own name.
  void Make(Names names) {
    for (const char16_t* name : names) ASSERT_TRUE(WriteFileBytes(tree_.Path(name), NarrowPath(name)));
  }
  // Every file and directory (with a '/') left in the tree, sorted and joined by '|'.
  std::string Tree() const {
    const std::filesystem::path root(tree_.path());
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
      names.push_back(e.path().lexically_relative(root).generic_string() + (e.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    std::string tree;
    for (const std::string& name : names) tree += (tree.empty() ? "" : "|") + name;
    return tree;
  }
  std::string Content(const std::u16string& name) const {
    const std::vector<uint8_t> b = ReadFileBytes(tree_.Path(name));
    return std::string(b.begin(), b.end());
  }
  std::string Narrow(const std::u16string& name) const { return NarrowPath(tree_.Path(name)); }
  int32_t Delete(const std::u16string& name) { return TOVADLL_FILE_DELETE_UC(W(tree_.Path(name))); }
  int32_t Rename(const std::u16string& from, const std::u16string& to) {
    return TOVADLL_FILE_RENAME_UC(W(tree_.Path(from)), W(tree_.Path(to)));
  }
  // The part numbers found for main, sorted; each path must end in the text its number was read from (its start may
  // differ in case on Windows).
  std::vector<uint32_t> Found(const std::u16string& main) {
    std::vector<uint32_t> numbers;
    for (const ContinuationFile& part : FindContinuationFiles(tree_.Path(main))) {
      EXPECT_EQ(WtoiValue(std::u16string_view(part.path).substr(tree_.Path(main).size() + 1)),
                static_cast<int32_t>(part.number));
      EXPECT_EQ(part.path[tree_.Path(main).size()], u' ');
      numbers.push_back(part.number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }

  TempTree tree_;
};

struct ClockFileSystem final : FaultFileSystem {
  int64_t Now() override { return now; }
  bool GetTimes(const std::u16string& path, platform::FileTimes& times) override {
    if (!FaultFileSystem::GetTimes(path, times)) return false;
    if (const auto it = created.find(path); it != created.end()) times.creation = times.modification = it->second;
    return true;
  }
  int64_t now = platform::SystemFileSystem().Now();
  std::map<std::u16string, int64_t> created;
};

class DeleteOldFiles : public ContinuationFiles {
 protected:
  DeleteOldFiles() : scope_(fault_) {}
  // Files modified, and directories (names ending in '/') created, so many seconds before now; parents first.
  void Aged(std::initializer_list<std::pair<std::u16string, int64_t>> entries) {
    for (const auto& [name, age] : entries) {
      const bool dir = name.back() == u'/';
      const std::u16string path = tree_.Path(dir ? name.substr(0, name.size() - 1) : name);
      ASSERT_TRUE(dir ? MakeDirectory(path) : WriteFileBytes(path, std::string_view("x")));
      ASSERT_TRUE(dir ? fault_.created.emplace(path, fault_.now - age).second
                      : SetModificationTime(path, fault_.now - age));
    }
  }
  // The tree as the exports take it: a directory path ending in a separator.
  std::u16string Pattern() const { return tree_.path() + platform::kPathSeparator; }
  int32_t Run(uint32_t age, const volatile uint32_t* stop = nullptr) {
    return TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(W(Pattern()), age, stop);
  }

  ClockFileSystem fault_;
  ScopedFileSystem scope_;
};

TEST_F(ContinuationFiles, FindsOneToThreeCharacterPartNumbers) {
  Make({u"a.tova", u"a.tova 001", u"a.tova 002", u"a.tova 005", u"a.tova 7", u"a.tova 12", u"a.tova  9",
        u"a.tova +4", u"a.tova 3x", u"a.tova 000", u"a.tova x12", u"a.tova -1", u"a.tova 0001", u"b.tova 003",
        u"a.tovax 006", u"plain 001"});
  ASSERT_TRUE(MakeDirectory(tree_.Path(u"a.tova 008")));  // directories are never parts
  EXPECT_EQ(Found(u"a.tova"), (std::vector<uint32_t>{1, 2, 3, 4, 5, 7, 9, 12}));
  EXPECT_EQ(Found(u"b.tova"), (std::vector<uint32_t>{3}));
  EXPECT_EQ(Found(u"plain"), (std::vector<uint32_t>{1}));  // the whole main path, extension or not
  EXPECT_TRUE(Found(u"c.tova").empty());
  for (const std::u16string& odd : {std::u16string(), std::u16string(u"*.*"), tree_.path() + platform::kPathSeparator})
    EXPECT_TRUE(FindContinuationFiles(odd).empty()) << NarrowPath(odd);
}

#ifndef _WIN32
// Outside Windows '?' and '*' are legal in names and no wildcards in the search; narrow paths are UTF-8.
TEST_F(ContinuationFiles, WildcardCharactersInTheMainNameAreLiteral) {
  Make({u"w?.tova 001", u"wx.tova 002", u"w*.tova 003", u"gr\u00f6\u00dfe.tova", u"gr\u00f6\u00dfe.tova 001"});
  EXPECT_EQ(Found(u"w?.tova"), (std::vector<uint32_t>{1}));
  EXPECT_EQ(Delete(u"w*.tova"), TOVA_OK);
  EXPECT_EQ(TOVADLL_FILE_DELETE(Narrow(u"gr\u00f6\u00dfe.tova").c_str()), TOVA_OK);
  EXPECT_EQ(Tree(), "w?.tova 001|wx.tova 002");
}
#else
// Windows compares names without regard to case: so does the search.
TEST_F(ContinuationFiles, NamesCompareWithoutCaseOnWindows) {
  Make({u"A.TOVA 001", u"a.Tova 2"});
  EXPECT_EQ(Found(u"a.tova"), (std::vector<uint32_t>{1, 2}));
}
#endif

TEST_F(ContinuationFiles, DeleteRemovesMainAndEveryPart) {
  Make({u"doc.tova", u"doc.tova 001", u"doc.tova 002", u"doc.tova 005", u"doc.tova 7", u"doc.tova 000",
        u"other.tova 001", u"gone.tova 001", u"gone.tova 003"});
  EXPECT_EQ(Delete(u"doc.tova"), TOVA_OK);
  EXPECT_EQ(TOVADLL_FILE_DELETE(Narrow(u"gone.tova").c_str()), TOVA_OK);  // a missing main file counts as deleted
  EXPECT_EQ(Tree(), "doc.tova 000|other.tova 001");

  Make({u"doc.tova", u"doc.tova 001", u"doc.tova 002"});
  FaultFileSystem fault;
  ScopedFileSystem scope(fault);
  fault.FailNth(FsOp::Delete, 1);  // a main file that stays keeps its parts
  EXPECT_EQ(Delete(u"doc.tova"), TOVA_ERR_DELETE);
  EXPECT_EQ(Tree(), "doc.tova|doc.tova 000|doc.tova 001|doc.tova 002|other.tova 001");
  fault.Clear();
  fault.FailAlways(FsOp::Delete, u"doc.tova 001");  // a part that stays fails the call, but the others go
  EXPECT_EQ(Delete(u"doc.tova"), TOVA_ERR_DELETE);
  EXPECT_EQ(Tree(), "doc.tova 000|doc.tova 001|other.tova 001");
}

TEST_F(ContinuationFiles, RenameKeepsPartNumbersAndReplacesTheTargetSet) {
  Make({u"a.tova", u"a.tova 001", u"a.tova 002", u"a.tova 7", u"a.tova 009", u"b.tova", u"b.tova 003", u"b.tova 4"});
  {
    FaultFileSystem fault;
    ScopedFileSystem scope(fault);
    fault.FailAlways(FsOp::Rename, u"a.tova 009");  // a failed part renaming is ignored
    EXPECT_EQ(Rename(u"a.tova", u"b.tova"), TOVA_OK);
  }
  for (const char16_t* part : {u"", u" 001", u" 002"})
    EXPECT_EQ(Content(u"b.tova" + std::u16string(part)), "a.tova" + NarrowPath(part));
  EXPECT_EQ(Rename(u"b.tova", u"b.tova"), TOVA_OK);  // onto itself nothing is lost
  EXPECT_EQ(Content(u"b.tova 001"), "a.tova 001");
  // A missing main file fails and touches no part. "a.tova 7" is part 7 but addressed as "a.tova 007": it stays; the
  // target's own parts beyond the renamed ones would read as parts of the new document: they go.
  EXPECT_EQ(TOVADLL_FILE_RENAME(Narrow(u"a.tova").c_str(), Narrow(u"c.tova").c_str()), TOVA_ERR_RENAME);
  EXPECT_EQ(Tree(), "a.tova 009|a.tova 7|b.tova|b.tova 001|b.tova 002");
}

TEST_F(ContinuationFiles, SizeSumsMainAndPartsInMegabytes) {
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova"), 3u << 20));
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova 001"), 1u << 20));
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova 5"), 512u << 10));  // found as part 5
  double mb = -1;
  EXPECT_TRUE(TOVADLL_GET_FILE_SIZE(Narrow(u"a.tova").c_str(), &mb) == TOVA_OK && mb == 4.5) << mb;
  EXPECT_TRUE(TOVADLL_GET_FILE_SIZE_UC(W(tree_.Path(u"b.tova")), &mb) == TOVA_ERR_FILE_SIZE && mb == 0.0) << mb;
}

TEST_F(DeleteOldFiles, DeletesOldDocumentsWithTheirPartsAndEmptiedDirectories) {
  Aged({{u"old.tova", 200}, {u"old.tova 001", 200}, {u"old.tova 2", 200}, {u"edge.tova", 100} /* not older */,
        {u"older.tova", 101}, {u"young.tova", 50}, {u"upper.TOVA", 1000}, {u"mixed.Tova", 1000},
        {u"note.txt", 1000}, {u"near.tovax", 1000}, {u"orphan.tova 001", 1000} /* main missing */,
        {u"kept.tova", 1000}, {u"kept.tova 001", 1000}, {u"kept.tova 002", 10} /* a young part keeps all */,
        {u"sub/", 1000}, {u"sub/inner/", 1000}, {u"sub/inner/deep.tova", 1000}, {u"sub/s.tova", 1000},
        {u"busy/", 1000}, {u"busy/young.tova", 10}, {u"recent/", 10}, {u"recent/r.tova", 1000}});
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern()), 100), TOVA_OK);
  // sub: emptied and old, removed after its inner directory; recent: empty, but created within the age.
  EXPECT_EQ(Tree(), "busy/|busy/young.tova|edge.tova|kept.tova|kept.tova 001|kept.tova 002|near.tovax|note.txt|"
                    "orphan.tova 001|recent/|young.tova");
}

// Age 0 takes everything before the current second; ages of 2^31 seconds and more are still ages, not negative.
TEST_F(DeleteOldFiles, AgeLimits) {
  Aged({{u"past.tova", 1}, {u"now.tova", 0}, {u"empty/", 1}, {u"fresh/", 0}, {u"young.tova", 10}});
  fault_.created[tree_.path()] = fault_.now - 1000;  // the start directory is never removed
  EXPECT_TRUE(Run(0x80000000u) == TOVA_OK && Run(0xFFFFFFFFu) == TOVA_OK);
  EXPECT_EQ(Tree(), "empty/|fresh/|now.tova|past.tova|young.tova");
  EXPECT_EQ(Run(0), TOVA_OK);
  EXPECT_EQ(Tree(), "fresh/|now.tova");
  Aged({{u"young.tova", 10}});
  fault_.now += int64_t{0x80000000} + 1000;  // the file is now older than 2^31 seconds
  EXPECT_EQ(Run(0x80000000u), TOVA_OK);
  EXPECT_EQ(Tree(), "");
}

TEST_F(DeleteOldFiles, FailuresGiveTheDeleteCodeButTheOthersGo) {
  Aged({{u"bad.tova", 1000}, {u"good.tova", 1000}});
  fault_.FailAlways(FsOp::GetTimes, u"bad.tova");  // times that cannot be read
  EXPECT_EQ(Run(100), TOVA_ERR_DELETE);
  EXPECT_EQ(Tree(), "bad.tova");
  fault_.Clear();
  Aged({{u"sub/", 1000}, {u"sub/s.tova", 1000}, {u"sub/locked.tova", 1000}, {u"sub/t.tova", 1000}});
  fault_.FailAlways(FsOp::Delete, u"locked");  // a deletion that fails, down in a subdirectory
  EXPECT_EQ(Run(100), TOVA_ERR_DELETE);
  EXPECT_EQ(Tree(), "sub/|sub/locked.tova");
}

TEST_F(DeleteOldFiles, PatternRules) {
  Aged({{u"abc.tova", 1000}, {u"axe.tova", 1000}, {u"bcd.tova", 1000}});
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(u""), 0), TOVA_ERR_DELETE);
  // "*.*" is appended without a separator: the last component is a prefix.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern() + u"ab"), 100), TOVA_OK);
  EXPECT_EQ(Tree(), "axe.tova|bcd.tova");
  // A pattern that holds "*.*" is taken as it is.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD(NarrowPath(Pattern() + u"b*.*").c_str(), 100), TOVA_OK);
  EXPECT_EQ(Tree(), "axe.tova");
  const volatile uint32_t never = 0;
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_EX(NarrowPath(Pattern()).c_str(), 100, &never), TOVA_OK);
  EXPECT_EQ(Tree(), "");
}

#ifndef _WIN32
// Links are not walked: one up the tree would make the walk endless, one elsewhere delete documents outside.
TEST_F(DeleteOldFiles, DoesNotFollowLinksToDirectories) {
  TempTree outside;
  ASSERT_TRUE(WriteFileBytes(outside.Path(u"far.tova"), std::string_view("x")));
  ASSERT_TRUE(SetModificationTime(outside.Path(u"far.tova"), fault_.now - 500));
  std::filesystem::create_directory_symlink(NarrowPath(tree_.path()), NarrowPath(tree_.Path(u"loop")));
  std::filesystem::create_directory_symlink(NarrowPath(outside.path()), NarrowPath(tree_.Path(u"away")));
  Aged({{u"old.tova", 500}});
  EXPECT_EQ(Run(100), TOVA_OK);
  EXPECT_EQ(Tree(), "away/|loop/");
  EXPECT_TRUE(PathExists(outside.Path(u"far.tova")));
}
#endif

}  // namespace
}  // namespace tova::testing
