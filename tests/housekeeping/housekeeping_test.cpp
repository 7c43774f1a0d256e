// The housekeeping of documents on disk: the continuation-file search, the
// delete / rename / size exports, and the deletion of old documents in a
// directory tree. The old-file tests run on the fault-injecting file layer
// with the present time fixed, so that ages are exact; directory creation
// times (which cannot be set) come from its times hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <tuple>
#include <utility>

#include "HOLMDAQTova.h"
#include "housekeeping/housekeeping.h"
#include "platform/file_system.h"
#include "model/document_files.h"
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
  // Those of the names that exist, joined by '|'.
  std::string Present(Names names) const {
    std::string present;
    for (const char16_t* name : names)
      if (PathExists(tree_.Path(name))) present += (present.empty() ? "" : "|") + NarrowPath(name);
    return present;
  }
  std::string Content(const std::u16string& name) const {
    const std::vector<uint8_t> b = ReadFileBytes(tree_.Path(name));
    return std::string(b.begin(), b.end());
  }
  int32_t Delete(const std::u16string& name) { return TOVADLL_FILE_DELETE_UC(W(tree_.Path(name))); }
  int32_t Rename(const std::u16string& from, const std::u16string& to) {
    return TOVADLL_FILE_RENAME_UC(W(tree_.Path(from)), W(tree_.Path(to)));
  }
  // The part numbers found for main, sorted (the directory decides the order);
  // each path must end in the text its number was read from.
  std::vector<uint32_t> Found(const std::u16string& main) {
    std::vector<uint32_t> numbers;
    for (const ContinuationFile& part : FindContinuationFiles(tree_.Path(main))) {
      EXPECT_EQ(WtoiValue(std::u16string_view(part.path).substr(tree_.Path(main).size() + 1)),
                static_cast<int32_t>(part.number));
      numbers.push_back(part.number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }

  TempTree tree_;
};

// The fault-injecting file layer with the present time fixed and the
// creation times of directories (which cannot be set) given by the test.
struct ClockFileSystem final : FaultFileSystem {
  int64_t Now() override { return now; }
  bool GetTimes(const std::u16string& path, platform::FileTimes& times) override {
    if (!FaultFileSystem::GetTimes(path, times)) return false;
    if (on_get_times) on_get_times();
    if (const auto it = created.find(path); it != created.end()) times.creation = times.modification = it->second;
    return true;
  }
  int64_t now = platform::SystemFileSystem().Now();
  std::map<std::u16string, int64_t> created;
  std::function<void()> on_get_times;
};

// The old-file walk, on that file layer.
class DeleteOldFiles : public ContinuationFiles {
 protected:
  DeleteOldFiles() : scope_(fault_) {}
  // Files modified, and directories (names ending in '/') created, the given
  // number of seconds before now; in order, so parents come first.
  void Aged(std::initializer_list<std::pair<std::u16string, int64_t>> entries) {
    for (const auto& [name, age] : entries) {
      const bool dir = name.back() == u'/';
      const std::u16string path = tree_.Path(dir ? name.substr(0, name.size() - 1) : name);
      ASSERT_TRUE(dir ? MakeDirectory(path) : WriteFileBytes(path, std::string_view("x")));
      ASSERT_TRUE(dir ? created_.emplace(path, now_ - age).second : SetModificationTime(path, now_ - age));
    }
  }
  // The tree as the exports take it: a directory path ending in a separator.
  std::u16string Pattern(const std::u16string& sub = u"") const {
    return (sub.empty() ? tree_.path() : tree_.Path(sub)) + platform::kPathSeparator;
  }
  int32_t Run(uint32_t age, const volatile uint32_t* stop = nullptr) {
    return TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(W(Pattern()), age, stop);
  }

  ClockFileSystem fault_;
  ScopedFileSystem scope_;
  int64_t& now_ = fault_.now;
  std::map<std::u16string, int64_t>& created_ = fault_.created;
};

TEST(Housekeeping, WtoiValueReadsAsTheCRunTimeDoes) {
  const std::pair<std::u16string, int32_t> cases[] = {
      {u"001", 1},  {u"7", 7},     {u" 9", 9}, {u"\t5", 5},   {u"+4", 4},  {u"-3", -3},
      {u"3x", 3},   {u"x12", 0},   {u"", 0},   {u"+-1", 0},   {u"000", 0}, {u"2147483648", INT32_MAX},
      {u"-2147483648", INT32_MIN}, {u"99999999999999999999", INT32_MAX},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(WtoiValue(text), value) << NarrowPath(text);
}

// The wildcard rules the continuation search and the old-file walk rely on.
TEST(Housekeeping, WildcardRulesOfTheSearchPatterns) {
  const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
      {u"*.*", u"noext", true}, {u"*.*", u"a.tova 001", true}, {u"a*.*", u"a", true}, {u"a*.*", u"ba.tova", false},
      {u"a.tova ???", u"a.tova 001", true}, {u"a.tova ???", u"a.tova 7", true} /* trailing '?' may match nothing */,
      {u"a.tova ???", u"a.tova 12", true},  {u"a.tova ???", u"a.tova 0001", false}, {u"a.tova ???", u"a.tova", false},
      {u"a.tova ???", u"b.tova 001", false}, {u"a.tova ???", u"a.tovax 001", false}};
  for (const auto& [pattern, name, match] : cases)
    EXPECT_EQ(platform::WildcardMatch(pattern, name), match) << NarrowPath(pattern) << " / " << NarrowPath(name);
}

TEST_F(ContinuationFiles, FindsOneToThreeCharacterPartNumbers) {
  Make({u"a.tova", u"a.tova 001", u"a.tova 002", u"a.tova 005", u"a.tova 7", u"a.tova 12", u"a.tova  9",
        u"a.tova +4", u"a.tova 3x", u"a.tova 000", u"a.tova x12", u"a.tova -1", u"a.tova 0001", u"b.tova 003",
        u"a.tovax 006", u"plain 001"});
  ASSERT_TRUE(MakeDirectory(tree_.Path(u"a.tova 008")));  // directories are never parts
  EXPECT_EQ(Found(u"a.tova"), (std::vector<uint32_t>{1, 2, 3, 4, 5, 7, 9, 12}));
  EXPECT_EQ(Found(u"b.tova"), (std::vector<uint32_t>{3}));
  EXPECT_EQ(Found(u"plain"), (std::vector<uint32_t>{1}));  // the whole main path, extension or not
  EXPECT_TRUE(Found(u"c.tova").empty());

  const std::vector<ContinuationFile> b = FindContinuationFiles(tree_.Path(u"b.tova"));
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].path, tree_.Path(u"b.tova 003"));
  for (const std::u16string& odd : {std::u16string(), std::u16string(u"*.*"), tree_.path() + platform::kPathSeparator})
    EXPECT_TRUE(FindContinuationFiles(odd).empty()) << NarrowPath(odd);
}

#ifndef _WIN32
// Outside Windows '?' and '*' are legal in names: a main file named with them
// must not take other documents' continuation files for its own.
TEST_F(ContinuationFiles, WildcardCharactersInTheMainNameAreLiteral) {
  Make({u"w?.tova 001", u"wx.tova 002", u"w*.tova 003"});
  EXPECT_EQ(Found(u"w?.tova"), (std::vector<uint32_t>{1}));
  EXPECT_EQ(Delete(u"w*.tova"), TOVA_OK);
  EXPECT_EQ(Present({u"w?.tova 001", u"wx.tova 002", u"w*.tova 003"}), "w?.tova 001|wx.tova 002");
}

TEST_F(ContinuationFiles, NarrowPathsAreUtf8) {
  Make({u"gr\u00f6\u00dfe.tova", u"gr\u00f6\u00dfe.tova 001"});
  EXPECT_EQ(TOVADLL_FILE_DELETE(NarrowPath(tree_.Path(u"gr\u00f6\u00dfe.tova")).c_str()), TOVA_OK);
  EXPECT_EQ(Present({u"gr\u00f6\u00dfe.tova", u"gr\u00f6\u00dfe.tova 001"}), "");
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
  EXPECT_EQ(Present({u"doc.tova", u"doc.tova 001", u"doc.tova 002", u"doc.tova 005", u"doc.tova 7", u"doc.tova 000",
                     u"other.tova 001"}),
            "doc.tova 000|other.tova 001");
  // A missing main file counts as deleted: its parts still go.
  EXPECT_EQ(TOVADLL_FILE_DELETE(NarrowPath(tree_.Path(u"gone.tova")).c_str()), TOVA_OK);
  EXPECT_EQ(Present({u"gone.tova 001", u"gone.tova 003"}), "");
}

TEST_F(ContinuationFiles, FailedDeletions) {
  const Names all = {u"doc.tova", u"doc.tova 001", u"doc.tova 002", u"doc.tova 005"};
  Make(all);
  FaultFileSystem fault;
  ScopedFileSystem scope(fault);
  // A main file that stays keeps its parts.
  fault.FailNth(FsOp::Delete, 1);
  EXPECT_EQ(Delete(u"doc.tova"), TOVA_ERR_DELETE);
  EXPECT_EQ(fault.Count(FsOp::Delete), 1);
  EXPECT_EQ(Present(all), "doc.tova|doc.tova 001|doc.tova 002|doc.tova 005");
  // A part that stays fails the call, but the others go.
  fault.Clear();
  fault.FailAlways(FsOp::Delete, u"doc.tova 002");
  EXPECT_EQ(Delete(u"doc.tova"), TOVA_ERR_DELETE);
  EXPECT_EQ(Present(all), "doc.tova 002");
}

TEST_F(ContinuationFiles, RenameKeepsPartNumbers) {
  Make({u"a.tova", u"a.tova 001", u"a.tova 002", u"a.tova 005", u"a.tova 7", u"a.tova 009"});
  FaultFileSystem fault;
  ScopedFileSystem scope(fault);
  fault.FailAlways(FsOp::Rename, u"a.tova 009");  // a failed part renaming is ignored
  EXPECT_EQ(Rename(u"a.tova", u"b.tova"), TOVA_OK);
  for (const char16_t* part : {u"", u" 001", u" 002", u" 005"})
    EXPECT_EQ(Content(u"b.tova" + std::u16string(part)), "a.tova" + NarrowPath(part));
  // Found as part 7, but addressed by the name of part 7 ("a.tova 007"): it stays.
  EXPECT_EQ(Present({u"a.tova", u"a.tova 001", u"a.tova 002", u"a.tova 005", u"a.tova 7", u"a.tova 009",
                     u"b.tova 7", u"b.tova 007", u"b.tova 009"}),
            "a.tova 7|a.tova 009");
  // A missing main file: the renaming fails and touches no part.
  EXPECT_EQ(TOVADLL_FILE_RENAME(NarrowPath(tree_.Path(u"a.tova")).c_str(), NarrowPath(tree_.Path(u"c.tova")).c_str()),
            TOVA_ERR_RENAME);
  EXPECT_EQ(Present({u"a.tova 7", u"c.tova 7", u"c.tova 007"}), "a.tova 7");
}

// Renaming onto an existing document replaces its whole set: parts it had
// beyond those of the renamed document would otherwise read as parts of the
// new one.
TEST_F(ContinuationFiles, RenameOntoADocumentReplacesItsParts) {
  Make({u"new.tova", u"new.tova 001", u"old.tova", u"old.tova 001", u"old.tova 002", u"old.tova 003", u"old.tova 4"});
  EXPECT_EQ(Rename(u"new.tova", u"old.tova"), TOVA_OK);
  EXPECT_EQ(Content(u"old.tova"), "new.tova");
  EXPECT_EQ(Content(u"old.tova 001"), "new.tova 001");
  EXPECT_EQ(Present({u"old.tova 002", u"old.tova 003", u"old.tova 4"}), "");
  EXPECT_EQ(Rename(u"old.tova", u"old.tova"), TOVA_OK);  // onto itself nothing is lost
  EXPECT_EQ(Content(u"old.tova 001"), "new.tova 001");
}

TEST_F(ContinuationFiles, SizeSumsMainAndPartsInMegabytes) {
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova"), 3u << 20));
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova 001"), 1u << 20));
  double mb = -1;
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE_UC(W(tree_.Path(u"a.tova")), &mb), TOVA_OK);
  EXPECT_EQ(mb, 4.0);
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova 5"), 512u << 10));  // found as part 5
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE(NarrowPath(tree_.Path(u"a.tova")).c_str(), &mb), TOVA_OK);
  EXPECT_EQ(mb, 4.5);
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE_UC(W(tree_.Path(u"b.tova")), &mb), TOVA_ERR_FILE_SIZE);
  EXPECT_EQ(mb, 0.0);
}

// ---- old documents in a tree

TEST_F(DeleteOldFiles, DeletesOldTovaDocumentsWithTheirParts) {
  Aged({{u"old.tova", 200}, {u"old.tova 001", 200}, {u"old.tova 2", 200}, {u"edge.tova", 100} /* not older */,
        {u"older.tova", 101}, {u"young.tova", 50}, {u"upper.TOVA", 1000}, {u"mixed.Tova", 1000},
        {u"note.txt", 1000}, {u"near.tovax", 1000}, {u"orphan.tova 001", 1000} /* main missing */,
        {u"kept.tova", 1000}, {u"kept.tova 001", 1000}, {u"kept.tova 002", 10} /* a young part keeps all */});
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern()), 100), TOVA_OK);
  EXPECT_EQ(Present({u"old.tova", u"old.tova 001", u"old.tova 2", u"edge.tova", u"older.tova", u"young.tova",
                     u"upper.TOVA", u"mixed.Tova", u"note.txt", u"near.tovax", u"orphan.tova 001", u"kept.tova",
                     u"kept.tova 001", u"kept.tova 002"}),
            "edge.tova|young.tova|note.txt|near.tovax|orphan.tova 001|kept.tova|kept.tova 001|kept.tova 002");
}

TEST_F(DeleteOldFiles, AgeZeroTakesEverythingBeforeTheCurrentSecond) {
  Aged({{u"past.tova", 1}, {u"now.tova", 0}, {u"empty/", 1}, {u"fresh/", 0}});
  created_[tree_.path()] = now_ - 1000;  // the start directory is never removed
  EXPECT_EQ(Run(0), TOVA_OK);
  EXPECT_EQ(Present({u"past.tova", u"now.tova", u"empty", u"fresh"}), "now.tova|fresh");
  EXPECT_TRUE(PathExists(tree_.path()));
}

TEST_F(DeleteOldFiles, WalksSubdirectoriesAndRemovesThoseLeftEmpty) {
  Aged({{u"sub/", 1000}, {u"sub/inner/", 1000}, {u"sub/inner/deep.tova", 1000}, {u"sub/s.tova", 1000},
        {u"busy/", 1000}, {u"busy/young.tova", 10}, {u"recent/", 10}, {u"recent/r.tova", 1000}});
  EXPECT_EQ(Run(100), TOVA_OK);
  // sub: emptied and old, removed after its inner directory; recent: empty, but created within the age.
  EXPECT_EQ(Present({u"sub", u"busy/young.tova", u"recent/r.tova", u"recent"}), "busy/young.tova|recent");
}

TEST_F(DeleteOldFiles, FailuresGive14ButTheOthersGo) {
  Aged({{u"bad.tova", 1000}, {u"good.tova", 1000}});
  fault_.FailAlways(FsOp::GetTimes, u"bad.tova");  // times that cannot be read
  EXPECT_EQ(Run(100), TOVA_ERR_DELETE);
  EXPECT_EQ(Present({u"bad.tova", u"good.tova"}), "bad.tova");
  fault_.Clear();
  // A deletion that fails, down in a subdirectory.
  Aged({{u"sub/", 1000}, {u"sub/s.tova", 1000}, {u"sub/locked.tova", 1000}, {u"sub/t.tova", 1000}});
  fault_.FailAlways(FsOp::Delete, u"locked");
  EXPECT_EQ(Run(100), TOVA_ERR_DELETE);
  EXPECT_EQ(Present({u"bad.tova", u"sub/s.tova", u"sub/locked.tova", u"sub/t.tova"}), "sub/locked.tova");
}

TEST_F(DeleteOldFiles, StopFlag) {
  const Names all = {u"a.tova", u"b.tova", u"c.tova", u"sub/d.tova", u"sub/e.tova"};
  Aged({{u"sub/", 1000}, {u"a.tova", 1000}, {u"b.tova", 1000}, {u"c.tova", 1000}, {u"sub/d.tova", 1000},
        {u"sub/e.tova", 1000}});
  // Set before the call: success, nothing touched, not even a file's times.
  volatile uint32_t stop = 1;
  EXPECT_EQ(Run(0, &stop), TOVA_OK);
  EXPECT_EQ(Present(all), "a.tova|b.tova|c.tova|sub/d.tova|sub/e.tova");
  EXPECT_EQ(fault_.Count(FsOp::GetTimes), 0);
  // The flag is read before every entry at every level: set while the first
  // document is examined, it ends the walk after that document.
  stop = 0;
  fault_.on_get_times = [&stop] { stop = 1; };
  EXPECT_EQ(Run(100, &stop), TOVA_OK);
  int left = 0;
  for (const char16_t* name : all) left += PathExists(tree_.Path(name));
  EXPECT_EQ(left, 4);
}

TEST_F(DeleteOldFiles, PatternRules) {
  Aged({{u"abc.tova", 1000}, {u"axe.tova", 1000}, {u"bcd.tova", 1000}});
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(u""), 0), TOVA_ERR_DELETE);
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(u"*.*"), 0), TOVA_ERR_DELETE);
  // A missing directory finds nothing, which is success.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern(u"missing")), 0), TOVA_OK);
  // "*.*" is appended without a separator: the last component is a prefix.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(W(Pattern() + u"ab"), 100), TOVA_OK);
  EXPECT_EQ(Present({u"abc.tova", u"axe.tova", u"bcd.tova"}), "axe.tova|bcd.tova");
  // A pattern that holds "*.*" is taken as it is.
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD(NarrowPath(Pattern() + u"b*.*").c_str(), 100), TOVA_OK);
  EXPECT_EQ(Present({u"axe.tova", u"bcd.tova"}), "axe.tova");
  const volatile uint32_t never = 0;
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_EX(NarrowPath(Pattern()).c_str(), 100, &never), TOVA_OK);
  EXPECT_EQ(Present({u"axe.tova"}), "");
}

// Ages of 2^31 seconds and more are still ages: no file younger than that is
// deleted (read as a signed 32-bit value they would turn negative and make
// every file old).
TEST_F(DeleteOldFiles, HugeAgesKeepYoungFiles) {
  Aged({{u"young.tova", 10}});
  EXPECT_EQ(Run(0x80000000u), TOVA_OK);
  EXPECT_EQ(Run(0xFFFFFFFFu), TOVA_OK);
  EXPECT_EQ(Present({u"young.tova"}), "young.tova");
  now_ += int64_t{0x80000000} + 1000;  // the file is now older than 2^31 seconds
  EXPECT_EQ(Run(0x80000000u), TOVA_OK);
  EXPECT_EQ(Present({u"young.tova"}), "");
}

#ifndef _WIN32
// A link back up the tree would make the walk endless, and a link elsewhere
// would delete documents outside the start directory: links are not walked.
TEST_F(DeleteOldFiles, DoesNotFollowLinksToDirectories) {
  TempTree outside;
  ASSERT_TRUE(WriteFileBytes(outside.Path(u"far.tova"), std::string_view("x")));
  ASSERT_TRUE(SetModificationTime(outside.Path(u"far.tova"), now_ - 500));
  std::filesystem::create_directory_symlink(NarrowPath(tree_.path()), NarrowPath(tree_.Path(u"loop")));
  std::filesystem::create_directory_symlink(NarrowPath(outside.path()), NarrowPath(tree_.Path(u"away")));
  Aged({{u"old.tova", 500}});
  EXPECT_EQ(Run(100), TOVA_OK);
  EXPECT_EQ(Present({u"old.tova"}), "");
  EXPECT_TRUE(PathExists(outside.Path(u"far.tova")));
}
#endif

}  // namespace
}  // namespace tova::testing
