// The fault-injecting file layer itself: the suite's fault tests are only as
// good as the failures it produces.
#include "support/fault_file_system.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/test_files.h"

namespace tova::testing {
namespace {

using platform::OpenMode;

TEST(FaultFileSystem, FailingWriteLeavesHalfTheBytes) {
  TempTree tree;
  const std::u16string path = tree.Path(u"w.bin");
  FaultFileSystem fault;
  fault.FailNth(FsOp::Write, 2);
  auto file = fault.Open(path, OpenMode::WriteCreate);
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->Write("abcd", 4));
  EXPECT_FALSE(file->Write("efghij", 6));
  EXPECT_TRUE(file->Write("k", 1));  // only the chosen call fails
  EXPECT_TRUE(file->Close());
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdefgk");
  EXPECT_EQ(fault.Count(FsOp::Write), 3);
}

TEST(FaultFileSystem, FailingCloseReleasesTheFile) {
  TempTree tree;
  const std::u16string path = tree.Path(u"c.bin");
  FaultFileSystem fault;
  fault.FailAlways(FsOp::Close);
  auto file = fault.Open(path, OpenMode::WriteCreate);
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->Close());
  // Writers are exclusive: a second writer gets the file only once it is released.
  auto again = platform::SystemFileSystem().Open(path, OpenMode::WriteExisting);
  EXPECT_TRUE(again);
}

TEST(FaultFileSystem, PathPartSelectsTheFailingCalls) {
  TempTree tree;
  ASSERT_TRUE(WriteFileBytes(tree.Path(u"keep.bin"), std::string_view("12345")));
  ASSERT_TRUE(WriteFileBytes(tree.Path(u"fail.bin"), std::string_view("12345")));
  FaultFileSystem fault;
  fault.FailAlways(FsOp::Open, u"fail");
  fault.FailAlways(FsOp::Read, u"keep");
  EXPECT_FALSE(fault.Open(tree.Path(u"fail.bin"), OpenMode::ReadShared));
  auto file = fault.Open(tree.Path(u"keep.bin"), OpenMode::ReadShared);
  ASSERT_TRUE(file);
  char buffer[8];
  uint32_t got = 99;
  EXPECT_FALSE(file->Read(buffer, 5, got));
  EXPECT_EQ(got, 0u);
  fault.Clear();
  EXPECT_TRUE(file->Read(buffer, 8, got));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(fault.BytesRead(), 5u);
  EXPECT_EQ(fault.Count(FsOp::Read), 2);
  EXPECT_EQ(fault.Count(FsOp::Open), 2);
  fault.ResetCounters();
  EXPECT_EQ(fault.Count(FsOp::Open), 0);
  EXPECT_EQ(fault.BytesRead(), 0u);
}

TEST(FaultFileSystem, FailNthCountsFromNowAndClearsWithZero) {
  TempTree tree;
  FaultFileSystem fault;
  const std::u16string path = tree.Path(u"x");
  EXPECT_TRUE(fault.Delete(path));
  fault.FailNth(FsOp::Delete, 2);
  EXPECT_TRUE(fault.Delete(path));
  EXPECT_FALSE(fault.Delete(path));
  EXPECT_TRUE(fault.Delete(path));
  fault.FailNth(FsOp::Delete, 1);
  fault.FailNth(FsOp::Delete, 0);
  EXPECT_TRUE(fault.Delete(path));
  EXPECT_EQ(fault.Count(FsOp::Delete), 5);
}

TEST(FaultFileSystem, ScopesNestAndRestore) {
  FaultFileSystem outer, inner;
  {
    ScopedFileSystem a(outer);
    EXPECT_EQ(&platform::GetFileSystem(), &outer);
    {
      ScopedFileSystem b(inner);
      EXPECT_EQ(&platform::GetFileSystem(), &inner);
    }
    EXPECT_EQ(&platform::GetFileSystem(), &outer);
  }
  EXPECT_EQ(&platform::GetFileSystem(), &platform::SystemFileSystem());
}

TEST(FaultFileSystem, CountsFromSeveralThreads) {
  TempTree tree;
  FaultFileSystem fault;
  const std::u16string path = tree.Path(u"none");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) fault.Exists(path);
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(fault.Count(FsOp::Exists), 1000);
}

}  // namespace
}  // namespace tova::testing
