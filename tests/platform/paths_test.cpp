// Paths and the system file layer, as both builds must agree on them: a narrow
// path names the same file as its UTF-16 form (ANSI code page on Windows,
// UTF-8 elsewhere), share modes refuse a second writer and a reader of a file
// being written, and deletion, renaming, sizes, times and directory searches
// give the same results on Windows and elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "HOLMDAQTova.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using tova::platform::DirEntry;
using tova::platform::File;
using tova::platform::FileSystem;
using tova::platform::OpenMode;
using tova::platform::SystemFileSystem;

// A fresh directory under the system's temporary directory, removed afterwards.
class SystemFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() / ("tova_paths_" + std::string(info->name()) + "_" + std::to_string(stamp));
    fs::create_directories(dir_);
    wide_dir_ = dir_.u16string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::u16string Path(std::u16string_view name) const {
    return wide_dir_ + tova::platform::kPathSeparator + std::u16string(name);
  }
  // Writes bytes to a new file through the system layer.
  void MakeFile(const std::u16string& path, std::string_view bytes) {
    auto f = fs_.Open(path, OpenMode::WriteCreate);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->Write(bytes.data(), static_cast<uint32_t>(bytes.size())));
    ASSERT_TRUE(f->Close());
  }
  uint64_t SizeOf(const std::u16string& path) {
    uint64_t size = UINT64_MAX;
    EXPECT_TRUE(fs_.Size(path, size));
    return size;
  }

  FileSystem& fs_ = SystemFileSystem();
  fs::path dir_;
  std::u16string wide_dir_;
};

const TOVA_WCHAR* Wide(const std::u16string& s) { return reinterpret_cast<const TOVA_WCHAR*>(s.c_str()); }

// The narrow form of a directory made of the system's temporary path.
std::string NarrowDirectory(const std::u16string& dir) {
#ifdef _WIN32
  return tova::platform::Utf16ToNarrowText(dir);
#else
  return tova::platform::Utf16ToUtf8(dir);
#endif
}

TEST_F(SystemFilesTest, NarrowPathWithAccentOpensTheSameFileAsItsWideForm) {
  const std::u16string wide = Path(u"caf\u00e9.tova");
#ifdef _WIN32
  const std::string own_name = "caf\xE9.tova";          // ANSI code page
  const std::string foreign_name = "caf\xC3\xA9.tova";  // UTF-8: "cafÃ©" in the ANSI code page
#else
  const std::string own_name = "caf\xC3\xA9.tova";  // UTF-8
  const std::string foreign_name = "caf\xE9.tova";  // a Windows-1252 byte: no valid UTF-8
#endif
  const std::string narrow_dir = NarrowDirectory(wide_dir_);
  if (tova::platform::NarrowPathToUtf16(narrow_dir.c_str()) != wide_dir_ ||
      tova::platform::NarrowPathToUtf16(own_name.c_str()) != u"caf\u00e9.tova")
    GTEST_SKIP() << "the ANSI code page has no e with acute accent at 0xE9";
  MakeFile(wide, "TOVA");

  const std::string narrow = narrow_dir + static_cast<char>(tova::platform::kPathSeparator) + own_name;
  const uint64_t by_narrow = TOVADLL_OPEN_FILE_READ(narrow.c_str());
  const uint64_t by_wide = TOVADLL_OPEN_FILE_READ_UC(Wide(wide));
  EXPECT_NE(by_narrow, TOVADLL_INVALID_HANDLE);
  EXPECT_NE(by_wide, TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(TOVADLL_CLOSE_FILE(by_narrow), TOVA_OK);
  EXPECT_EQ(TOVADLL_CLOSE_FILE(by_wide), TOVA_OK);

  // The other platform's encoding of the same name names no file here.
  const std::string foreign = narrow_dir + static_cast<char>(tova::platform::kPathSeparator) + foreign_name;
  EXPECT_EQ(TOVADLL_OPEN_FILE_READ(foreign.c_str()), TOVADLL_INVALID_HANDLE);
}

TEST_F(SystemFilesTest, ShareModesRefuseSecondWriterAndReaderOfWrittenFile) {
  const std::u16string path = Path(u"shared.tova");
  MakeFile(path, "0123456789");
  {
    auto reader1 = fs_.Open(path, OpenMode::ReadShared);
    auto reader2 = fs_.Open(path, OpenMode::ReadShared);
    ASSERT_NE(reader1, nullptr);
    EXPECT_NE(reader2, nullptr) << "readers share the file";
    for (OpenMode writer : {OpenMode::WriteCreate, OpenMode::WriteExisting, OpenMode::ReadWriteCreate,
                            OpenMode::ReadWriteExisting}) {
      EXPECT_EQ(fs_.Open(path, writer), nullptr) << "writer mode " << static_cast<int>(writer);
    }
    EXPECT_EQ(SizeOf(path), 10u) << "a refused create must not cut the file";
  }
  {
    auto writer = fs_.Open(path, OpenMode::WriteExisting);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(fs_.Open(path, OpenMode::ReadShared), nullptr);
    EXPECT_EQ(fs_.Open(path, OpenMode::ReadWriteExisting), nullptr);
    writer->Abort();
  }
  EXPECT_NE(fs_.Open(path, OpenMode::ReadShared), nullptr) << "released by Abort";
  EXPECT_EQ(fs_.Open(Path(u"missing.tova"), OpenMode::ReadShared), nullptr);
}

TEST_F(SystemFilesTest, CreateModesTruncateAndExistingModesKeepAndCreate) {
  const std::u16string path = Path(u"modes.tova");
  MakeFile(path, "0123456789");
  {
    auto f = fs_.Open(path, OpenMode::ReadWriteExisting);
    ASSERT_NE(f, nullptr);
    uint64_t end = 0;
    ASSERT_TRUE(f->SeekToEnd(end));
    EXPECT_EQ(end, 10u);
    ASSERT_TRUE(f->Write("ab", 2));
    ASSERT_TRUE(f->Seek(0));
    char head[4] = {};
    uint32_t got = 0;
    ASSERT_TRUE(f->Read(head, 4, got));
    EXPECT_EQ(std::string(head, got), "0123");
    // Cutting keeps the file position, as ftruncate does.
    ASSERT_TRUE(f->Seek(12));
    ASSERT_TRUE(f->Truncate(5));
    uint64_t at = 0, size = 0;
    ASSERT_TRUE(f->Position(at));
    ASSERT_TRUE(f->Size(size));
    EXPECT_EQ(at, 12u);
    EXPECT_EQ(size, 5u);
    ASSERT_TRUE(f->Seek(5));
    ASSERT_TRUE(f->Read(head, 4, got));
    EXPECT_EQ(got, 0u) << "reading at the end gives nothing";
    EXPECT_TRUE(f->Flush());
    EXPECT_TRUE(f->Close());
    EXPECT_TRUE(f->Close()) << "a second close does nothing";
  }
  EXPECT_EQ(SizeOf(path), 5u);
  auto created = fs_.Open(Path(u"new.tova"), OpenMode::WriteExisting);
  ASSERT_NE(created, nullptr);
  created->Abort();
  EXPECT_TRUE(fs_.Exists(Path(u"new.tova")));
  auto cut = fs_.Open(path, OpenMode::ReadWriteCreate);
  ASSERT_NE(cut, nullptr);
  cut->Abort();
  EXPECT_EQ(SizeOf(path), 0u);
}

TEST_F(SystemFilesTest, DeleteRenameSizeAndExistence) {
  const std::u16string a = Path(u"a.tova"), b = Path(u"b.tova");
  MakeFile(a, "aaa");
  MakeFile(b, "bbbbbb");
  EXPECT_TRUE(fs_.Exists(a));
  EXPECT_FALSE(fs_.Exists(wide_dir_)) << "a directory is no file";
  uint64_t size = 0;
  EXPECT_FALSE(fs_.Size(wide_dir_, size));
  EXPECT_FALSE(fs_.Size(Path(u"missing"), size));

  EXPECT_TRUE(fs_.Rename(a, b)) << "renaming replaces the file of the new name";
  EXPECT_FALSE(fs_.Exists(a));
  EXPECT_EQ(SizeOf(b), 3u);
  EXPECT_FALSE(fs_.Rename(Path(u"missing"), a));
  EXPECT_TRUE(fs_.SyncDirectoryOf(b));

  EXPECT_TRUE(fs_.Delete(b));
  EXPECT_FALSE(fs_.Exists(b));
  EXPECT_TRUE(fs_.Delete(b)) << "a missing file counts as deleted";
  EXPECT_TRUE(fs_.Delete(Path(u"no_dir") + tova::platform::kPathSeparator + u"x")) << "missing directory too";
  EXPECT_FALSE(fs_.Delete(wide_dir_)) << "a directory is not deleted as a file";
}

TEST_F(SystemFilesTest, TimesAreSecondsSince1970) {
  const std::u16string path = Path(u"t.tova");
  MakeFile(path, "x");
  tova::platform::FileTimes times;
  ASSERT_TRUE(fs_.GetTimes(path, times));
  const int64_t now = fs_.Now();
  EXPECT_GT(now, 1600000000);  // after 2020
  EXPECT_NEAR(static_cast<double>(times.modification), static_cast<double>(now), 120.0);
  EXPECT_NEAR(static_cast<double>(times.creation), static_cast<double>(now), 120.0);
  EXPECT_FALSE(fs_.GetTimes(Path(u"missing"), times));
}

std::set<std::u16string> Names(const std::vector<DirEntry>& entries) {
  std::set<std::u16string> out;
  for (const DirEntry& e : entries) out.insert(e.name);
  return out;
}

TEST_F(SystemFilesTest, DirectorySearchFollowsOneSetOfWildcardRules) {
  for (const char16_t* name : {u"rec.tova", u"rec.tova 001", u"rec.tova 002", u"other.tova", u"noext", u"rec.tova.bak"})
    MakeFile(Path(name), "x");
  fs::create_directory(dir_ / "sub.tova");

  struct Row {
    const char16_t* pattern;
    std::set<std::u16string> names;
  };
  const Row rows[] = {
      {u"*.tova", {u"rec.tova", u"other.tova", u"sub.tova"}},
      {u"rec.tova ???", {u"rec.tova 001", u"rec.tova 002"}},
      {u"rec.tova*", {u"rec.tova", u"rec.tova 001", u"rec.tova 002", u"rec.tova.bak"}},
      {u"noext.", {u"noext"}},
      {u"noext.*", {u"noext"}},
      {u"?????", {u".", u"..", u"noext"}},  // trailing '?' may match nothing
      {u"*.*",
       {u".", u"..", u"rec.tova", u"rec.tova 001", u"rec.tova 002", u"other.tova", u"noext", u"rec.tova.bak",
        u"sub.tova"}},
      {u"nothing*", {}},
  };
  for (const Row& row : rows) {
    std::vector<DirEntry> entries;
    ASSERT_TRUE(fs_.FindFiles(Path(row.pattern), entries)) << tova::platform::Utf16ToUtf8(row.pattern);
    EXPECT_EQ(Names(entries), row.names) << tova::platform::Utf16ToUtf8(row.pattern);
  }

  std::vector<DirEntry> entries;
  ASSERT_TRUE(fs_.FindFiles(Path(u"sub.*"), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].is_directory);
  ASSERT_TRUE(fs_.FindFiles(Path(u"other.*"), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(entries[0].is_directory);

  EXPECT_FALSE(fs_.FindFiles(Path(u"no_dir") + tova::platform::kPathSeparator + u"*", entries));
  EXPECT_TRUE(fs_.RemoveDirectory(Path(u"sub.tova")));
  EXPECT_FALSE(fs_.RemoveDirectory(Path(u"sub.tova")));
}

}  // namespace
