// A document held open by a writer, in this process or another, is neither
// deleted, renamed, nor replaced by a save: every platform refuses with the
// codes Windows gives (its share modes; flock locks elsewhere), and the
// writer's datasets all reach the file.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "support/documents.h"

namespace tova::testing {
namespace {

struct Files {
  TempTree dir;
  std::u16string held = dir.Path(u"held.tova"), other = dir.Path(u"other.tova"), fresh = dir.Path(u"fresh.tova");
};

int32_t SaveCopyOnto(const std::u16string& from, const std::u16string& to) {
  const uint64_t h = TOVADLL_OPEN_FILE_READ_UC(W(from).c_str());
  const int32_t rc = TOVADLL_READ_FROM_FILE(h, 1, 0) == 0 ? Save(h, to) : -1;
  TOVADLL_CLOSE_FILE(h);
  return rc;
}

void ExpectEveryRemovalRefused(const Files& f) {
  const struct {
    const char* what;
    int32_t rc;
    int32_t code;
  } refusals[] = {
      {"delete", TOVADLL_FILE_DELETE_UC(W(f.held).c_str()), 14},
      {"rename it", TOVADLL_FILE_RENAME_UC(W(f.held).c_str(), W(f.fresh).c_str()), 15},
      {"rename onto it", TOVADLL_FILE_RENAME_UC(W(f.other).c_str(), W(f.held).c_str()), 15},
      {"save onto it", SaveCopyOnto(f.other, f.held), 15},
  };
  for (const auto& r : refusals) EXPECT_EQ(r.rc, r.code) << r.what;
  EXPECT_EQ(OpenWrite(f.held, 0), TOVADLL_INVALID_HANDLE) << "a new document over it";
}

// Called once the writer has appended 2 and closed.
void ExpectNothingLost(const Files& f) {
  EXPECT_EQ(ReadValues(f.held), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(ReadValues(f.other), std::vector<uint16_t>{9});
  EXPECT_FALSE(PathExists(f.fresh));
  EXPECT_TRUE(DirectoryNames(f.dir.path(), u"$$$").empty());
  EXPECT_EQ(TOVADLL_FILE_DELETE_UC(W(f.held).c_str()), 0) << "released on close";
}

TEST(ShareLocks, AWriterInThisProcessKeepsItsFile) {
  for (auto open : {OpenWrite, OpenReadWrite}) {
    Files f;
    ASSERT_EQ(WriteDocument(f.held, {1}), TOVA_OK);
    ASSERT_EQ(WriteDocument(f.other, {9}), TOVA_OK);
    const uint64_t writer = open(f.held, 1);
    ASSERT_NE(writer, TOVADLL_INVALID_HANDLE);
    ExpectEveryRemovalRefused(f);
    EXPECT_EQ(AppendValues(writer, {2}), TOVA_OK);
    EXPECT_EQ(TOVADLL_CLOSE_FILE(writer), TOVA_OK);
    ExpectNothingLost(f);
  }
}

#ifndef _WIN32
// A child process that opens path for appending through the public API, says
// so on a pipe, and appends 2 and closes when told to.
class WriterProcess {
 public:
  explicit WriterProcess(const std::u16string& path) {
    int ready[2], go[2];
    if (::pipe(ready) != 0 || ::pipe(go) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const uint64_t h = OpenWrite(path, 1);
      char c = h != TOVADLL_INVALID_HANDLE ? 'y' : 'n';
      bool ok = ::write(ready[1], &c, 1) == 1 && ::read(go[0], &c, 1) == 1;
      ok = ok && AppendValues(h, {2}) == 0 && TOVADLL_CLOSE_FILE(h) == 0;
      ::_exit(ok ? 0 : 1);
    }
    ::close(ready[1]);
    ::close(go[0]);
    go_ = go[1];
    char c = 0;
    opened_ = pid_ > 0 && ::read(ready[0], &c, 1) == 1 && c == 'y';
    ::close(ready[0]);
  }
  ~WriterProcess() { Finish(); }
  bool opened() const { return opened_; }
  // True when the child appended and closed.
  bool Finish() {
    if (go_ < 0) return false;
    const char c = 'g';
    const bool told = ::write(go_, &c, 1) == 1;
    ::close(go_);
    go_ = -1;
    int status = 0;
    return ::waitpid(pid_, &status, 0) == pid_ && told && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  pid_t pid_ = -1;
  int go_ = -1;
  bool opened_ = false;
};

TEST(ShareLocks, AWriterInAnotherProcessKeepsItsFile) {
  Files f;
  ASSERT_EQ(WriteDocument(f.held, {1}), TOVA_OK);
  ASSERT_EQ(WriteDocument(f.other, {9}), TOVA_OK);
  WriterProcess writer(f.held);
  ASSERT_TRUE(writer.opened());
  ExpectEveryRemovalRefused(f);
  EXPECT_TRUE(writer.Finish());
  ExpectNothingLost(f);
}
#endif

}  // namespace
}  // namespace tova::testing
