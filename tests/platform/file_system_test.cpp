// The platform layer as both builds must agree on it: share modes and directory searches, paths beyond MAX_PATH, share
// locks on documents (the codes Windows gives, flock locks elsewhere), text formatting and decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/file_system.h"
#include "platform/text.h"
#include "support/documents.h"

namespace tova::testing {
namespace {

using platform::FormatU16;
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
TEST(SystemFiles, DirectorySearchAndDirectories) {
  auto& fs = platform::SystemFileSystem();
  TempTree dir;
  for (const char16_t* name : {u"b.tova", u"noext"}) ASSERT_TRUE(WriteFileBytes(dir.Path(name), std::string_view("x")));
  ASSERT_TRUE(MakeDirectory(dir.Path(u"sub.tova")));
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
  EXPECT_FALSE(fs.Exists(dir.Path(u"sub.tova")) || fs.Delete(dir.Path(u"sub.tova"))) << "a directory is no file";
  EXPECT_TRUE(fs.Delete(dir.Path(u"no_dir/x"))) << "a missing directory counts as deleted";
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

// Formatting must give the C standard's result in both builds, where the Windows C library differs.
struct Case {
  const char* what;
  std::u16string actual, expected;
};
#define F(expected, format, ...) Case{format " of " #__VA_ARGS__, FormatU16(format, __VA_ARGS__), expected}

TEST(FormatU16Test, ConversionsFollowTheCStandardInBothBuilds) {
  const double inf = std::numeric_limits<double>::infinity();
  const double negative_nan = std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0);
  const Case cases[] = {
      // Fixed point rounds the stored binary value: 0.05 lies above the half, 0.15, 0.35, 9.95, 21.45 below.
      F(u"0.1", "%.1f", 0.05), F(u"0.1", "%.1f", 0.15), F(u"0.2", "%.1f", 0.25), F(u"0.3", "%.1f", 0.35),
      F(u"9.9", "%.1f", 9.95), F(u"21.4", "%.1f", 21.45), F(u"1.00", "%.2f", 1.005), F(u"2", "%.0f", 2.5),
      F(u"4", "%.0f", 3.5), F(u"2", "%1.f", 2.5), F(u"2", "%1.f", 1.5), F(u" 1", "%2.f", 0.95),
      F(u"-01.2", "%05.1f", -1.25), F(u"-0.000000", "%f", -0.0), F(u"3.", "%#.0f", 3.0),
      F(u"0.10000000000000000555", "%.20f", 0.1),
      // Exponents have at least two digits.
      F(u"1.234568e+04", "%e", 12345.678), F(u"1e-05", "%g", 1e-5), F(u"1E-10", "%G", 1e-10),
      F(u"1.000000e+300", "%e", 1e300), F(u"0.10000000000000001", "%.17g", 0.1),
      // A NaN read from stored bytes may carry the sign bit; it shows no sign.
      F(u"inf", "%.1f", inf), F(u"-inf", "%.1f", -inf), F(u"INF", "%F", inf), F(u"nan", "%.1f", negative_nan),
      F(u"NAN", "%G", negative_nan), F(u"   nan|", "%6.2f|", negative_nan),
      // Integers: zero with precision 0 is empty.
      F(u"[]", "[%.u]", 0u), F(u"[]", "[%.0d]", 0), F(u"[     ]", "[%5.u]", 0u), F(u"007", "%.3u", 7u),
      F(u"ABCDEF", "%X", 0xABCDEFu), F(u"FF01", "%04X", 0xFF01u), F(u"0xff", "%#x", 255u), F(u"+5", "%+d", 5),
      F(u"42   |", "%-5d|", 42), F(u"7   |", "%*d|", -4, 7), F(u"0.500000", "%.*f", -1, 0.5),
      F(u"5000000000", "%zu", static_cast<size_t>(5000000000ull)),
      F(u"-9223372036854775808", "%lld", static_cast<long long>(INT64_MIN)), F(u"A%  B", "%c%%%3c", 'A', 'B'),
      // %s takes UTF-16, %hs narrow entry text; both are cut and padded in UTF-16 units.
      F(u"<\u00b0C>", "<%s>", u"\u00b0C"), F(u"abc   |", "%-6.3s|", u"abcdef"),
      F(u"(null)", "%s", static_cast<const char16_t*>(nullptr)), F(u"Camera \u00b0", "%hs", "Camera \xB0"),
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;
  std::u16string out = u"T=";
  platform::AppendFormatU16(out, "%.1f%s", 21.45, u"\u00b0C");
  EXPECT_EQ(out, u"T=21.4\u00b0C");
  EXPECT_EQ(platform::NarrowTextToUtf16("\xB0 \x80 \xE9 A"), u"\u00b0 \u20ac \u00e9 A");
  EXPECT_EQ(platform::Utf16ToNarrowText(u"\u00b0\u20ac"), "\xB0\x80");
}

}  // namespace
}  // namespace tova::testing
