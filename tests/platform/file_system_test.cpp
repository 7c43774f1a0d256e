// The system file layer as both builds must agree on it: narrow paths, share modes (a refused writer cuts nothing),
// deletion, renaming, directory searches.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "HOLMDAQTova.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace tova {
namespace {

using platform::OpenMode;
using testing::NarrowPath;
using testing::TempTree;
using testing::WriteFileBytes;

uint64_t SizeOf(const std::u16string& path) {
  uint64_t size = UINT64_MAX;
  platform::SystemFileSystem().Size(path, size);
  return size;
}

TEST(SystemFiles, NarrowPathWithAccentOpensTheSameFileAsItsWideForm) {
  TempTree dir;
  const std::u16string wide = dir.Path(u"caf\u00e9.tova");
  const std::string narrow = NarrowPath(wide);  // UTF-8; the ANSI code page on Windows
  if (platform::NarrowPathToUtf16(narrow.c_str()) != wide) GTEST_SKIP() << "no e with accent in the code page";
  ASSERT_TRUE(WriteFileBytes(wide, std::string_view("TOVA")));
  const uint64_t by_narrow = TOVADLL_OPEN_FILE_READ(narrow.c_str());
  EXPECT_EQ(TOVADLL_CLOSE_FILE(by_narrow), TOVA_OK);
#ifndef _WIN32
  // A Windows-1252 byte is no UTF-8: that name names no file here.
  const std::string foreign = NarrowPath(dir.path()) + "/caf\xE9.tova";
  EXPECT_EQ(TOVADLL_OPEN_FILE_READ(foreign.c_str()), TOVADLL_INVALID_HANDLE);
#endif
}

TEST(SystemFiles, ShareModesRefuseASecondWriterAndAReaderOfAWrittenFile) {
  auto& fs = platform::SystemFileSystem();
  TempTree dir;
  const std::u16string path = dir.Path(u"shared.tova");
  ASSERT_TRUE(WriteFileBytes(path, std::string_view("0123456789")));
  {
    auto reader = fs.Open(path, OpenMode::ReadShared);
    EXPECT_TRUE(reader && fs.Open(path, OpenMode::ReadShared)) << "readers share the file";
    for (OpenMode writer : {OpenMode::WriteCreate, OpenMode::ReadWriteCreate, OpenMode::ReadWriteExisting})
      EXPECT_EQ(fs.Open(path, writer), nullptr) << "writer mode " << static_cast<int>(writer);
    EXPECT_EQ(SizeOf(path), 10u) << "a refused create must not cut the file";
  }
  auto writer = fs.Open(path, OpenMode::ReadWriteExisting);
  ASSERT_NE(writer, nullptr);
  EXPECT_FALSE(fs.Open(path, OpenMode::ReadShared) || fs.Open(path, OpenMode::WriteExisting));
  // Cutting keeps the file position, as ftruncate does.
  uint64_t at = 0;
  ASSERT_TRUE(writer->Seek(8) && writer->Truncate(5) && writer->Position(at));
  EXPECT_EQ(at, 8u);
  writer->Abort();
  EXPECT_EQ(SizeOf(path), 5u);
  EXPECT_NE(fs.Open(path, OpenMode::ReadShared), nullptr) << "released by Abort";
}

TEST(SystemFiles, DeleteRenameAndDirectorySearch) {
  auto& fs = platform::SystemFileSystem();
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova"), b = dir.Path(u"b.tova");
  ASSERT_TRUE(WriteFileBytes(a, std::string_view("aaa")));
  ASSERT_TRUE(WriteFileBytes(b, std::string_view("bbbbbb")));
  ASSERT_TRUE(WriteFileBytes(dir.Path(u"noext"), std::string_view("x")));
  ASSERT_TRUE(testing::MakeDirectory(dir.Path(u"sub.tova")));
  EXPECT_FALSE(fs.Exists(dir.Path(u"sub.tova"))) << "a directory is no file";
  EXPECT_TRUE(fs.Rename(a, b)) << "renaming replaces the file of the new name";
  EXPECT_EQ(SizeOf(b), 3u);
  EXPECT_FALSE(fs.Rename(a, b));

  const std::pair<const char16_t*, std::set<std::u16string>> searches[] = {  // directories end in '/'
      {u"*.tova", {u"b.tova", u"sub.tova/"}},
      {u"noext.", {u"noext"}},  // a trailing dot stands for no extension
      {u"*.*", {u"./", u"../", u"b.tova", u"noext", u"sub.tova/"}}};
  for (const auto& [pattern, names] : searches) {
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(fs.FindFiles(dir.Path(pattern), entries));
    std::set<std::u16string> found;
    for (const auto& e : entries) found.insert(e.is_directory ? e.name + u"/" : e.name);
    EXPECT_EQ(found, names) << NarrowPath(pattern);
  }
  std::vector<platform::DirEntry> none;
  EXPECT_FALSE(fs.FindFiles(dir.Path(u"no_dir/*"), none));

  EXPECT_TRUE(fs.Delete(b) && !fs.Exists(b));
  EXPECT_TRUE(fs.Delete(b)) << "a missing file counts as deleted";
  EXPECT_TRUE(fs.Delete(dir.Path(u"no_dir/x"))) << "so does a missing directory";
  EXPECT_FALSE(fs.Delete(dir.Path(u"sub.tova"))) << "a directory is not deleted as a file";
  EXPECT_TRUE(fs.RemoveDirectory(dir.Path(u"sub.tova")));
}

}  // namespace
}  // namespace tova
