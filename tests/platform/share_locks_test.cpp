// A document held open by a writer, in this process or another, is neither deleted, renamed, nor replaced by a save:
// every platform refuses with the codes Windows gives (its share modes; flock locks elsewhere), and the writer's
// datasets all reach the file.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "support/documents.h"

namespace tova::testing {
namespace {

struct Files {
  Files() {
    EXPECT_EQ(WriteDocument(held, {1}), TOVA_OK);
    EXPECT_EQ(WriteDocument(other, {9}), TOVA_OK);
  }
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
    EXPECT_EQ(AppendValues(writer, {2}), TOVA_OK);
    EXPECT_EQ(TOVADLL_CLOSE_FILE(writer), TOVA_OK);
    ExpectNothingLost(f);
  }
}

#ifndef _WIN32
// A child process opens the document for appending through the public API, says so on a pipe, and appends 2 and closes
// when told to.
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
