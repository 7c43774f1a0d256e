// The platform layer as both builds must agree on it: share modes and wildcards, paths beyond MAX_PATH, share
// locks on documents (the codes Windows gives, flock locks elsewhere).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/file_system.h"
#include "support/documents.h"

namespace tova::testing {
namespace {

using platform::OpenMode;

// Readers share a file; a writer is refused beside them and cuts nothing, and itself refuses readers and writers.
TEST(SystemFiles, ShareModesRefuseASecondWriterAndAReaderOfAWrittenFile) {
  auto& fs = platform::SystemFileSystem();
  TempTree dir;
  const std::u16string path = dir.Path(u"shared.tova");
  ASSERT_TRUE(WriteFileBytes(path, std::string_view("0123456789")));
  {
    auto reader = fs.Open(path, OpenMode::ReadShared);
    EXPECT_TRUE(reader && fs.Open(path, OpenMode::ReadShared));
    for (OpenMode writer : {OpenMode::WriteCreate, OpenMode::ReadWriteCreate, OpenMode::ReadWriteExisting})
      EXPECT_EQ(fs.Open(path, writer), nullptr) << "writer mode " << static_cast<int>(writer);
  }
  uint64_t at = 0, size = 0;
  EXPECT_TRUE(fs.Size(path, size) && size == 10u) << "a refused create must not cut the file";
  auto writer = fs.Open(path, OpenMode::ReadWriteExisting);
  ASSERT_NE(writer, nullptr);
  EXPECT_FALSE(fs.Open(path, OpenMode::ReadShared) || fs.Open(path, OpenMode::WriteExisting));
  ASSERT_TRUE(writer->Seek(8) && writer->Truncate(5) && writer->Position(at));
  writer->Abort();
  EXPECT_TRUE(at == 8u && fs.Size(path, size) && size == 5u) << "cut at 5 after a seek to 8, the position stays";
  EXPECT_NE(fs.Open(path, OpenMode::ReadShared), nullptr) << "released by Abort";
}

// Deletion and renaming are seen through the housekeeping exports; here the searches, and what is no file.
// The name rules of a search: "x*.*" also matches "x"; "*.*" and "*" match every name, other patterns need an
// extension.
TEST(SystemFiles, WildcardRules) {
  const std::tuple<const char16_t*, const char16_t*, bool> rows[] = {
      {u"x*.*", u"x", true},       {u"x*.*", u"xa.b", true}, {u"x?", u"x", true}, {u"x*.b", u"xa", false},
      {u"*.*", u"noext", true},    {u"*", u"a.b", true},     {u"a.*", u"a", true},   {u"x*.*", u"y", false},
      {u"*.tova", u"a.tov", false}, {u"name.", u"name", true}};
  for (const auto& [pattern, name, match] : rows)
    EXPECT_EQ(platform::WildcardMatch(pattern, name), match) << NarrowPath(pattern) << " " << NarrowPath(name);
}

// Creates dir level by level, on Windows in the \\?\ form (the plain form stops at 248 characters).
bool MakeLongDirectory(const std::u16string& dir) {
  std::u16string level;
  std::error_code ec;
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i < dir.size() && dir[i] != u'/' && dir[i] != u'\\') continue;
    level = dir.substr(0, i);
#ifdef _WIN32
    for (char16_t& c : level) c = c == u'/' ? u'\\' : c;
    level = u"\\\\?\\" + level;
#endif
    if (!level.empty()) std::filesystem::create_directory(std::filesystem::path(level), ec);
  }
  return std::filesystem::is_directory(std::filesystem::path(level), ec);
}

// The whole life of a document on a path of more than 300 characters with a ".." step, which Windows must resolve.
TEST(LongPaths, DocumentLifeBeyondMaxPath) {
  TempTree tree;
  std::u16string dir = tree.path();
  for (char16_t c = u'a'; c < u'g'; ++c) dir += u"/" + std::u16string(50, c);
  ASSERT_TRUE(MakeLongDirectory(dir));
  const std::u16string path = dir + u"/../" + std::u16string(50, u'f') + u"/recording.tova";
  const std::u16string renamed = dir + u"/renamed.tova";
  ASSERT_GT(path.size(), 300u);

  ASSERT_EQ(WriteDocument(path, {1}), TOVA_OK);
  const uint64_t appender = OpenWrite(path, 1);
  EXPECT_TRUE(AppendValues(appender, {2}) == TOVA_OK && TOVADLL_CLOSE_FILE(appender) == TOVA_OK);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1, 2}));

  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(W(path).c_str(), W(renamed).c_str()), TOVA_OK);
  double megabytes = 0;
  EXPECT_TRUE(TOVADLL_GET_FILE_SIZE_UC(W(renamed).c_str(), &megabytes) == TOVA_OK && megabytes > 0.0);
  EXPECT_EQ(ReadValues(renamed), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(renamed).c_str()), TOVA_OK);
  EXPECT_NE(TOVADLL_GET_FILE_SIZE_UC(W(renamed).c_str(), &megabytes), 0) << "deleted";
}

struct Files {
  Files() { EXPECT_TRUE(WriteDocument(held, {1}) == TOVA_OK && WriteDocument(other, {9}) == TOVA_OK); }
  TempTree dir;
  std::u16string held = dir.Path(u"held.tova"), other = dir.Path(u"other.tova"), fresh = dir.Path(u"fresh.tova");
};

int32_t SaveCopyOnto(const std::u16string& from, const std::u16string& to) {
  const Handle h(OpenRead(from));
  return TOVADLL_READ_FROM_FILE(h, 1, 0) == TOVA_OK ? Save(h, to) : -1;
}

// While the writer holds f.held; then, once it appended 2 and closed, nothing is lost.
void ExpectEveryRemovalRefused(const Files& f) {
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(f.held).c_str()), TOVA_ERR_DELETE);
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(W(f.held).c_str(), W(f.fresh).c_str()), TOVA_ERR_RENAME) << "rename it";
  EXPECT_EQ(TOVADLL_FILE_RENAME_UC(W(f.other).c_str(), W(f.held).c_str()), TOVA_ERR_RENAME) << "rename onto it";
  EXPECT_EQ(SaveCopyOnto(f.other, f.held), TOVA_ERR_RENAME) << "save onto it";
  EXPECT_EQ(OpenWrite(f.held, 0), TOVADLL_INVALID_HANDLE) << "a new document over it";
}
void ExpectNothingLost(const Files& f) {
  EXPECT_EQ(ReadValues(f.held), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(ReadValues(f.other), std::vector<uint16_t>{9});
  EXPECT_FALSE(PathExists(f.fresh));
  EXPECT_TRUE(DirectoryNames(f.dir.path(), u"$$$").empty());
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(f.held).c_str()), TOVA_OK) << "released on close";
}

TEST(ShareLocks, AWriterInThisProcessKeepsItsFile) {
  for (auto open : {OpenWrite, OpenReadWrite}) {
    Files f;
    const uint64_t writer = open(f.held, 1);
    ASSERT_NE(writer, TOVADLL_INVALID_HANDLE);
    ExpectEveryRemovalRefused(f);
    EXPECT_TRUE(AppendValues(writer, {2}) == TOVA_OK && TOVADLL_CLOSE_FILE(writer) == TOVA_OK);
    ExpectNothingLost(f);
  }
}

#ifndef _WIN32
// A child process opens the document for appending, says so on a pipe, and appends 2 and closes when told to.
TEST(ShareLocks, AWriterInAnotherProcessKeepsItsFile) {
  Files f;
  int ready[2], go[2];
  ASSERT_TRUE(::pipe(ready) == 0 && ::pipe(go) == 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const uint64_t h = OpenWrite(f.held, 1);
    char c = h != TOVADLL_INVALID_HANDLE ? 'y' : 'n';
    bool ok = ::write(ready[1], &c, 1) == 1 && ::read(go[0], &c, 1) == 1;
    ::_exit(ok && AppendValues(h, {2}) == TOVA_OK && TOVADLL_CLOSE_FILE(h) == TOVA_OK ? 0 : 1);
  }
  ::close(ready[1]);
  ::close(go[0]);
  char c = 0;
  const bool opened = pid > 0 && ::read(ready[0], &c, 1) == 1 && c == 'y';
  ::close(ready[0]);
  if (opened) ExpectEveryRemovalRefused(f);
  c = 'g';
  const bool told = ::write(go[1], &c, 1) == 1;
  ::close(go[1]);
  int status = 0;
  ASSERT_TRUE(opened && told && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ExpectNothingLost(f);
}
#endif

}  // namespace
}  // namespace tova::testing
