// Finding, deleting, renaming and sizing a document's file set: the internal
// continuation-file search and the delete / rename / size exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "HOLMDAQTova.h"
#include "housekeeping/housekeeping.h"
#include "platform/file_system.h"
#include "support/fault_file_system.h"
#include "support/test_files.h"

namespace tova::testing {
namespace {

using housekeeping::FindContinuationFiles;

const TOVA_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const TOVA_WCHAR*>(s.c_str()); }

class ContinuationFiles : public ::testing::Test {
 protected:
  // Creates the file with its own name as content.
  std::u16string Make(const std::u16string& name) {
    const std::u16string path = tree_.Path(name);
    EXPECT_TRUE(WriteFileBytes(path, NarrowPath(name)));
    return path;
  }
  bool Exists(const std::u16string& name) const { return PathExists(tree_.Path(name)); }
  std::string Content(const std::u16string& name) const {
    const std::vector<uint8_t> b = ReadFileBytes(tree_.Path(name));
    return std::string(b.begin(), b.end());
  }
  // The part numbers found for main, sorted (the directory decides the order).
  std::vector<uint32_t> Found(const std::u16string& main) {
    std::vector<std::u16string> paths;
    std::vector<uint32_t> numbers;
    const uint32_t n = FindContinuationFiles(tree_.Path(main), paths, numbers);
    EXPECT_EQ(n, paths.size());
    EXPECT_EQ(n, numbers.size());
    for (size_t i = 0; i < paths.size(); ++i)
      EXPECT_EQ(housekeeping::WtoiValue(std::u16string_view(paths[i]).substr(tree_.Path(main).size() + 1)),
                static_cast<int32_t>(numbers[i]));
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }

  TempTree tree_;
};

TEST(Housekeeping, WtoiValueReadsAsTheCRunTimeDoes) {
  const std::pair<std::u16string, int32_t> cases[] = {
      {u"001", 1},   {u"7", 7},     {u"12", 12},   {u"999", 999},  {u" 9", 9},    {u"\t5", 5},
      {u"+4", 4},    {u"-3", -3},   {u"3x", 3},    {u"x12", 0},    {u"", 0},      {u"-", 0},
      {u"+-1", 0},   {u"000", 0},   {u"2147483647", INT32_MAX},    {u"2147483648", INT32_MAX},
      {u"-2147483648", INT32_MIN},  {u"99999999999999999999", INT32_MAX},
  };
  for (const auto& [text, value] : cases)
    EXPECT_EQ(housekeeping::WtoiValue(text), value) << std::string(text.begin(), text.end());
}

// The wildcard rules the continuation search and the old-file walk rely on.
TEST(Housekeeping, WildcardRulesOfTheSearchPatterns) {
  using platform::WildcardMatch;
  EXPECT_TRUE(WildcardMatch(u"*.*", u"noext"));
  EXPECT_TRUE(WildcardMatch(u"*.*", u"a.tova 001"));
  EXPECT_TRUE(WildcardMatch(u"a*.*", u"a"));
  EXPECT_FALSE(WildcardMatch(u"a*.*", u"ba.tova"));
  EXPECT_TRUE(WildcardMatch(u"a.tova ???", u"a.tova 001"));
  EXPECT_TRUE(WildcardMatch(u"a.tova ???", u"a.tova 7"));   // trailing '?' may match nothing
  EXPECT_TRUE(WildcardMatch(u"a.tova ???", u"a.tova 12"));
  EXPECT_FALSE(WildcardMatch(u"a.tova ???", u"a.tova 0001"));
  EXPECT_FALSE(WildcardMatch(u"a.tova ???", u"a.tova"));
  EXPECT_FALSE(WildcardMatch(u"a.tova ???", u"b.tova 001"));
  EXPECT_FALSE(WildcardMatch(u"a.tova ???", u"a.tovax 001"));
}

TEST_F(ContinuationFiles, FindsOneToThreeCharacterPartNumbers) {
  for (const char16_t* name : {u"a.tova", u"a.tova 001", u"a.tova 002", u"a.tova 005", u"a.tova 7", u"a.tova 12",
                               u"a.tova  9", u"a.tova +4", u"a.tova 3x", u"a.tova 000", u"a.tova x12",
                               u"a.tova -1", u"a.tova 0001", u"b.tova 003", u"a.tovax 006"})
    Make(name);
  ASSERT_TRUE(MakeDirectory(tree_.Path(u"a.tova 008")));  // directories are never parts
  EXPECT_EQ(Found(u"a.tova"), (std::vector<uint32_t>{1, 2, 3, 4, 5, 7, 9, 12}));
  EXPECT_EQ(Found(u"b.tova"), (std::vector<uint32_t>{3}));
  EXPECT_TRUE(Found(u"c.tova").empty());
}

TEST_F(ContinuationFiles, FullPathsAndEdgePaths) {
  Make(u"a.tova 001");
  std::vector<std::u16string> paths{u"stale"};
  std::vector<uint32_t> numbers{42};
  ASSERT_EQ(FindContinuationFiles(tree_.Path(u"a.tova"), paths, numbers), 1u);
  EXPECT_EQ(paths[0], tree_.Path(u"a.tova 001"));
  EXPECT_EQ(numbers[0], 1u);
  EXPECT_EQ(FindContinuationFiles(u"", paths, numbers), 0u);
  EXPECT_TRUE(paths.empty() && numbers.empty());
  EXPECT_EQ(FindContinuationFiles(u"*.*", paths, numbers), 0u);
  EXPECT_EQ(FindContinuationFiles(tree_.path() + platform::kPathSeparator, paths, numbers), 0u);
}

// Part names are formed from the whole main path, extension or not.
TEST_F(ContinuationFiles, MainFileWithoutExtensionHasItsParts) {
  Make(u"plain");
  Make(u"plain 001");
  Make(u"plain 002");
  EXPECT_EQ(Found(u"plain"), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(tree_.Path(u"plain"))), TOVA_OK);
  EXPECT_FALSE(Exists(u"plain 001") || Exists(u"plain 002"));
}

#ifndef _WIN32
// Outside Windows '?' and '*' are legal in names: a main file named with them
// must not take other documents' continuation files for its own.
TEST_F(ContinuationFiles, WildcardCharactersInTheMainNameAreLiteral) {
  Make(u"w?.tova 001");
  Make(u"wx.tova 002");
  Make(u"w*.tova 003");
  EXPECT_EQ(Found(u"w?.tova"), (std::vector<uint32_t>{1}));
  EXPECT_EQ(Found(u"w*.tova"), (std::vector<uint32_t>{3}));
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(tree_.Path(u"w*.tova"))), TOVA_OK);
  EXPECT_TRUE(Exists(u"w?.tova 001"));
  EXPECT_TRUE(Exists(u"wx.tova 002"));
  EXPECT_FALSE(Exists(u"w*.tova 003"));
}
#endif

#ifdef _WIN32
// Windows compares names without regard to case: so does the search.
TEST_F(ContinuationFiles, NamesCompareWithoutCaseOnWindows) {
  Make(u"A.TOVA 001");
  Make(u"a.Tova 2");
  EXPECT_EQ(Found(u"a.tova"), (std::vector<uint32_t>{1, 2}));
}
#endif

// ---- deletion

TEST_F(ContinuationFiles, DeleteRemovesMainAndEveryPart) {
  for (const char16_t* name : {u"doc.tova", u"doc.tova 001", u"doc.tova 002", u"doc.tova 005", u"doc.tova 7",
                               u"doc.tova 000", u"other.tova 001"})
    Make(name);
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(tree_.Path(u"doc.tova"))), TOVA_OK);
  for (const char16_t* gone : {u"doc.tova", u"doc.tova 001", u"doc.tova 002", u"doc.tova 005", u"doc.tova 7"})
    EXPECT_FALSE(Exists(gone)) << NarrowPath(gone);
  EXPECT_TRUE(Exists(u"doc.tova 000"));
  EXPECT_TRUE(Exists(u"other.tova 001"));
}

TEST_F(ContinuationFiles, DeleteOfMissingMainStillDeletesItsParts) {
  Make(u"doc.tova 001");
  Make(u"doc.tova 003");
  EXPECT_EQ(TOVADLL_FILE_DELETE(NarrowPath(tree_.Path(u"doc.tova")).c_str()), TOVA_OK);
  EXPECT_FALSE(Exists(u"doc.tova 001") || Exists(u"doc.tova 003"));
}

TEST_F(ContinuationFiles, MainThatStaysLeavesItsPartsAlone) {
  Make(u"doc.tova");
  Make(u"doc.tova 001");
  FaultFileSystem fault;
  ScopedFileSystem scope(fault);
  fault.FailNth(FsOp::Delete, 1);
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(tree_.Path(u"doc.tova"))), TOVA_ERR_DELETE);
  EXPECT_EQ(fault.Count(FsOp::Delete), 1);
  EXPECT_TRUE(Exists(u"doc.tova") && Exists(u"doc.tova 001"));
}

TEST_F(ContinuationFiles, PartThatStaysFailsButTheOthersGo) {
  for (const char16_t* name : {u"doc.tova", u"doc.tova 001", u"doc.tova 002", u"doc.tova 005"}) Make(name);
  FaultFileSystem fault;
  ScopedFileSystem scope(fault);
  fault.FailAlways(FsOp::Delete, u"doc.tova 002");
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(tree_.Path(u"doc.tova"))), TOVA_ERR_DELETE);
  EXPECT_FALSE(Exists(u"doc.tova") || Exists(u"doc.tova 001") || Exists(u"doc.tova 005"));
  EXPECT_TRUE(Exists(u"doc.tova 002"));
}

// ---- renaming

TEST_F(ContinuationFiles, RenameKeepsPartNumbers) {
  for (const char16_t* name : {u"a.tova", u"a.tova 001", u"a.tova 002", u"a.tova 005", u"a.tova 7"}) Make(name);
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(W(tree_.Path(u"a.tova")), W(tree_.Path(u"b.tova"))), TOVA_OK);
  EXPECT_EQ(Content(u"b.tova"), "a.tova");
  EXPECT_EQ(Content(u"b.tova 001"), "a.tova 001");
  EXPECT_EQ(Content(u"b.tova 002"), "a.tova 002");
  EXPECT_EQ(Content(u"b.tova 005"), "a.tova 005");
  EXPECT_FALSE(Exists(u"a.tova") || Exists(u"a.tova 001") || Exists(u"a.tova 002") || Exists(u"a.tova 005"));
  // Found as part 7, but addressed by the name of part 7 ("a.tova 007"): it stays.
  EXPECT_TRUE(Exists(u"a.tova 7"));
  EXPECT_FALSE(Exists(u"b.tova 007") || Exists(u"b.tova 7"));
}

TEST_F(ContinuationFiles, RenameOfMissingMainFailsAndTouchesNothing) {
  Make(u"a.tova 001");
  EXPECT_EQ(TOVADLL_FILE_RENAME(NarrowPath(tree_.Path(u"a.tova")).c_str(), NarrowPath(tree_.Path(u"b.tova")).c_str()),
            TOVA_ERR_RENAME);
  EXPECT_TRUE(Exists(u"a.tova 001"));
  EXPECT_FALSE(Exists(u"b.tova 001"));
}

TEST_F(ContinuationFiles, FailedPartRenameIsIgnored) {
  for (const char16_t* name : {u"a.tova", u"a.tova 001", u"a.tova 002"}) Make(name);
  FaultFileSystem fault;
  ScopedFileSystem scope(fault);
  fault.FailAlways(FsOp::Rename, u"a.tova 002");
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(W(tree_.Path(u"a.tova")), W(tree_.Path(u"b.tova"))), TOVA_OK);
  EXPECT_EQ(Content(u"b.tova 001"), "a.tova 001");
  EXPECT_TRUE(Exists(u"a.tova 002"));
}

// Renaming onto an existing document replaces its whole set: parts it had
// beyond those of the renamed document would otherwise read as parts of the
// new one.
TEST_F(ContinuationFiles, RenameOntoADocumentReplacesItsParts) {
  for (const char16_t* name : {u"new.tova", u"new.tova 001", u"old.tova", u"old.tova 001", u"old.tova 002",
                               u"old.tova 003", u"old.tova 4"})
    Make(name);
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(W(tree_.Path(u"new.tova")), W(tree_.Path(u"old.tova"))), TOVA_OK);
  EXPECT_EQ(Content(u"old.tova"), "new.tova");
  EXPECT_EQ(Content(u"old.tova 001"), "new.tova 001");
  EXPECT_FALSE(Exists(u"old.tova 002") || Exists(u"old.tova 003") || Exists(u"old.tova 4"));
  // Onto itself nothing is lost.
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(W(tree_.Path(u"old.tova")), W(tree_.Path(u"old.tova"))), TOVA_OK);
  EXPECT_EQ(Content(u"old.tova 001"), "new.tova 001");
}

// ---- size

TEST_F(ContinuationFiles, SizeSumsMainAndPartsInMegabytes) {
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova"), 3u << 20));
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova 001"), 1u << 20));
  double mb = -1;
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE_UC(W(tree_.Path(u"a.tova")), &mb), TOVA_OK);
  EXPECT_EQ(mb, 4.0);
  ASSERT_TRUE(MakeFileOfSize(tree_.Path(u"a.tova 5"), 512u << 10));  // found as part 5
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE(NarrowPath(tree_.Path(u"a.tova")).c_str(), &mb), TOVA_OK);
  EXPECT_EQ(mb, 4.5);
}

TEST_F(ContinuationFiles, SizeOfMissingMainFails) {
  Make(u"a.tova 001");
  double mb = 7.0;
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE_UC(W(tree_.Path(u"a.tova")), &mb), TOVA_ERR_FILE_SIZE);
  EXPECT_EQ(mb, 0.0);
}

TEST(HousekeepingExports, NullPointers) {
  const TOVA_WCHAR path[] = {'x', 0};
  double mb = 1.0;
  EXPECT_EQ(TOVADLL_FILE_DELETE(nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_RENAME(nullptr, "x"), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_RENAME("x", nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(path, nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(nullptr, path), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE(nullptr, &mb), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE("x", nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE_UC(path, nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_GET_FILE_SIZE_UC(nullptr, &mb), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD(nullptr, 0), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_UC(nullptr, 0), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_EX(nullptr, 0, nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(nullptr, 0, nullptr), TOVA_ERR_NULL_POINTER);
  EXPECT_EQ(mb, 1.0);
}

#ifndef _WIN32
TEST_F(ContinuationFiles, NarrowPathsAreUtf8) {
  Make(u"gr\u00f6\u00dfe.tova");
  Make(u"gr\u00f6\u00dfe.tova 001");
  EXPECT_EQ(TOVADLL_FILE_DELETE(NarrowPath(tree_.Path(u"gr\u00f6\u00dfe.tova")).c_str()), TOVA_OK);
  EXPECT_FALSE(Exists(u"gr\u00f6\u00dfe.tova") || Exists(u"gr\u00f6\u00dfe.tova 001"));
}
#endif

}  // namespace
}  // namespace tova::testing
