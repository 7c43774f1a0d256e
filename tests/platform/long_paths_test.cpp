// Documents whose paths pass the 260 characters of MAX_PATH: the whole life of a document through the public API, on a
// path with forward slashes and a ".." step, which Windows must resolve before it takes the path's long form.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/documents.h"

namespace tova::testing {
namespace {

// Creates dir and the directories above it that are missing, one level at a time and, on Windows, in the \\?\ form (the
// plain form stops at 248).
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

TEST(LongPaths, DocumentLifeBeyondMaxPath) {
  TempTree tree;
  std::u16string dir = tree.path();
  for (char16_t c = u'a'; c < u'g'; ++c) dir += u"/" + std::u16string(50, c);
  ASSERT_TRUE(MakeLongDirectory(dir));
  const std::u16string path = dir + u"/../" + std::u16string(50, u'f') + u"/recording.tova";
  const std::u16string renamed = dir + u"/renamed.tova";
  ASSERT_GT(path.size(), 300u);

  ASSERT_EQ(WriteDocument(path, {1}), TOVA_OK);
  EXPECT_EQ(ReadValues(path), std::vector<uint16_t>{1});
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

}  // namespace
}  // namespace tova::testing
