// The background scan that indexes a recording after its first dataset: the
// datasets it adds, its cancel byte (set from a file-layer hook at a chosen
// section), what another thread sees while it runs, its failures, and the
// cleanup of embedded documents that ends it and every file read.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "format/reader_test_support.h"
#include "support/fault_file_system.h"

namespace tova::reader_test {
namespace {

using testing::TempTree;

constexpr uint32_t kPixels = 8;

// A recording of `datasets` datasets written to a fresh directory and read
// with read-all 0 (its first dataset only).
struct FirstDatasetRead {
  explicit FirstDatasetRead(uint32_t datasets, const Bytes& trailer = {}) : r(MakeRecording(datasets, kPixels)) {
    if (!WriteParts(path, Concat({r.bytes, trailer}), {})) return;
    handle = std::make_unique<Handle>(OpenRead(path));
    h = handle->get();
    ok = handle->valid() && TOVADLL_READ_FROM_FILE(h, 0, 0) == 0 && NumDatasets(h) == 1;
  }
  TempTree dir;
  std::u16string path = dir.Path(u"rec.tova");
  Recording r;
  std::unique_ptr<Handle> handle;
  uint64_t h = TOVADLL_INVALID_HANDLE;
  bool ok = false;
};

TEST(BackgroundScan, AddsEveryDatasetAfterTheFirst) {
  FirstDatasetRead d(100);
  ASSERT_TRUE(d.ok);
  volatile uint8_t cancel = 0;
  ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, &cancel), 0);
  EXPECT_TRUE(HasRecordingDatasets(d.h, 100, kPixels));
  EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(TOVADLL_INVALID_HANDLE, nullptr), 1);
}

TEST(BackgroundScan, CancelledAfterTheTenthSectionKeepsWhatItFound) {
  FirstDatasetRead d(100);
  ASSERT_TRUE(d.ok);
  volatile uint8_t cancel = 0;
  HookFileSystem hooks(platform::SystemFileSystem());
  // The eleventh section's header is read from where the tenth ends.
  hooks.on_read = [&](const std::u16string& path, uint64_t position) {
    if (path == d.path && position == d.r.starts[10]) cancel = 1;
  };
  {
    testing::ScopedFileSystem scoped(hooks);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, &cancel), 8);
  }
  const uint32_t found = d.r.DatasetsWithin(d.r.ends[9]);
  ASSERT_EQ(found, 4u);
  EXPECT_TRUE(HasRecordingDatasets(d.h, found, kPixels));

  // A byte set before the call stops it before the first section.
  FirstDatasetRead e(5);
  ASSERT_TRUE(e.ok);
  cancel = 1;
  EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(e.h, &cancel), 8);
  EXPECT_EQ(NumDatasets(e.h), 1u);
}

TEST(BackgroundScan, FailuresKeepTheDatasetsFoundBefore) {
  {
    FirstDatasetRead d(6, Section(0xFF03, {}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, nullptr), 9);
    EXPECT_TRUE(HasRecordingDatasets(d.h, 6, kPixels));
  }
  {
    FirstDatasetRead d(6, Concat({DataHeaderSection(6), Header(0x7FFFFFFF, kIM)}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, nullptr), 9);
    EXPECT_TRUE(HasRecordingDatasets(d.h, 6, kPixels));
  }
  {
    FirstDatasetRead d(3);
    ASSERT_TRUE(d.ok);
    ASSERT_TRUE(platform::GetFileSystem().Delete(d.path));
    EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, nullptr), 9);
    EXPECT_EQ(NumDatasets(d.h), 1u);
  }
}

// Pauses the scanning thread when it is about to read the section at one of
// the given positions, until the test thread lets it go on.
class Checkpoints {
 public:
  void Arrive(uint64_t position) {
    std::unique_lock<std::mutex> lock(mutex_);
    paused_at_ = position;
    changed_.notify_all();
    changed_.wait(lock, [&] { return go_; });
    go_ = false;
    paused_at_ = 0;
  }
  void AwaitPause(uint64_t position) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return paused_at_ == position; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    go_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t paused_at_ = 0;
  bool go_ = false;
};

TEST(BackgroundScan, AnotherThreadSeesTheDatasetsGrowUnderTheLock) {
  FirstDatasetRead d(100);
  ASSERT_TRUE(d.ok);
  const std::vector<uint32_t> stops = {25, 50, 75};
  Checkpoints checkpoints;
  HookFileSystem hooks(platform::SystemFileSystem());
  hooks.on_read = [&](const std::u16string& path, uint64_t position) {
    for (uint32_t stop : stops)
      if (path == d.path && position == d.r.DatasetStart(stop)) checkpoints.Arrive(position);
  };
  testing::ScopedFileSystem scoped(hooks);

  std::atomic<bool> done{false};
  int32_t result = -1;
  std::thread scanner([&] {
    result = TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, nullptr);
    done = true;
  });
  // A second reader polls the count throughout; it never goes down.
  std::atomic<bool> shrank{false};
  std::thread poller([&] {
    uint32_t last = 0;
    while (!done) {
      TOVADLL_LOCK(d.h);
      const uint32_t n = NumDatasets(d.h);
      TOVADLL_UNLOCK(d.h);
      if (n < last) shrank = true;
      last = n;
    }
  });
  for (uint32_t stop : stops) {
    checkpoints.AwaitPause(d.r.DatasetStart(stop));
    ASSERT_EQ(TOVADLL_LOCK(d.h), 0);
    EXPECT_EQ(NumDatasets(d.h), stop);  // every dataset before the one about to be read
    ASSERT_EQ(TOVADLL_UNLOCK(d.h), 0);
    checkpoints.Release();
  }
  scanner.join();
  poller.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(shrank);
  EXPECT_TRUE(HasRecordingDatasets(d.h, 100, kPixels));
}

// ---- embedded documents ---------------------------------------------------

constexpr uint16_t kDerivation = TOVA_DH_WINDOW_DERIVATION;
constexpr uint16_t kEmbedded[] = {0x0601, 0x0602, 0x0603, 0x0606, 0x0609};

// Window derivation records (40 bytes each) naming the identifiers, then
// `tail` more bytes that are no whole record.
Bytes Derivation(const std::vector<uint16_t>& named, uint16_t in_tail, uint32_t tail) {
  Bytes b;
  for (uint16_t id : named) {
    Bytes record(40, 0);
    record[6] = static_cast<uint8_t>(id);
    record[7] = static_cast<uint8_t>(id >> 8);
    b.insert(b.end(), record.begin(), record.end());
  }
  Bytes partial(tail, 0);
  if (tail >= 8) {
    partial[6] = static_cast<uint8_t>(in_tail);
    partial[7] = static_cast<uint8_t>(in_tail >> 8);
  }
  b.insert(b.end(), partial.begin(), partial.end());
  return b;
}

std::vector<Bytes> EmbeddedEntries(uint16_t value) {
  std::vector<Bytes> e = {Entry(kValue, U16(value))};
  for (uint16_t id : kEmbedded) e.push_back(Entry(id, Text("doc")));
  return e;
}

// Three datasets whose data headers all hold the five embedded entries;
// dataset 0's also the derivation entry when one is given.
Bytes EmbeddedRecording(const Bytes* derivation) {
  std::vector<Bytes> dh0 = EmbeddedEntries(0);
  dh0.push_back(Entry(0x0200, U16(2)));
  if (derivation) dh0.push_back(Entry(kDerivation, *derivation));
  Bytes b = Concat({GlobalHeaderSection(), Section(kDH, dh0), ImageSection(0, kPixels)});
  for (uint16_t v : {1, 2})
    b = Concat({b, Section(kDH, EmbeddedEntries(v)), ImageSection(v, kPixels)});
  return b;
}

// Which embedded entries each data header kept, as "ids of dataset 0 | of 1 | of 2".
std::string Kept(uint64_t h, uint32_t datasets) {
  std::string out;
  for (uint32_t i = 0; i < datasets; ++i) {
    if (i) out += "|";
    for (uint16_t id : kEmbedded)
      if (DataHeaderHas(h, i, id)) out += std::to_string(id - 0x0600);
  }
  return out;
}

TEST(EmbeddedCleanup, DocumentsThatNoDerivationNamesAreRemovedFromEveryDataHeader) {
  struct Row {
    const char* name;
    bool has_derivation;
    std::vector<uint16_t> named;
    uint16_t in_tail;
    uint32_t tail;
    const char* kept;
  };
  const Row rows[] = {
      {"no derivation entry: nothing removed", false, {}, 0, 0, "12369|12369|12369"},
      {"0x0601 named", true, {0x0601}, 0, 0, "13|13|13"},
      {"a tail short of a record names nothing", true, {0x0601}, 0x0602, 39, "13|13|13"},
      {"0x0602 and 0x0609 named", true, {0x0609, 0x0602}, 0, 0, "239|239|239"},
      {"a derivation entry of no whole record", true, {}, 0x0601, 20, "3|3|3"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree dir;
    const std::u16string path = dir.Path(u"embedded.tova");
    const Bytes derivation = Derivation(row.named, row.in_tail, row.tail);
    ASSERT_TRUE(WriteParts(path, EmbeddedRecording(row.has_derivation ? &derivation : nullptr), {}));
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
    EXPECT_EQ(Kept(h, 3), row.kept);

    // Read in two steps, the background scan cleans the data headers it adds.
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), 0);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), 0);
    EXPECT_EQ(Kept(h, 3), row.kept);
  }
}

TEST(EmbeddedCleanup, TheBackgroundScanCleansUpUnderTheDocumentLock) {
  // The scan is held just before its cleanup until this thread holds the
  // document lock; this thread then looks at the data headers the cleanup
  // changes. Under the lock the cleanup waits and the headers are seen
  // whole; outside it the two would race (the thread sanitizer reports it).
  TempTree dir;
  const std::u16string path = dir.Path(u"embedded.tova");
  const Bytes derivation = Derivation({0x0601}, 0, 0);
  ASSERT_TRUE(WriteParts(path, EmbeddedRecording(&derivation), {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), 0);

  std::mutex mutex;
  std::condition_variable changed;
  bool scan_closed = false, locked = false;
  HookFileSystem hooks(platform::SystemFileSystem());
  hooks.on_close = [&](const std::u16string&) {  // the scan's last file call
    std::unique_lock<std::mutex> lock(mutex);
    scan_closed = true;
    changed.notify_all();
    changed.wait(lock, [&] { return locked; });
  };
  testing::ScopedFileSystem scoped(hooks);
  int32_t result = -1;
  std::thread scanner([&] { result = TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return scan_closed; });
  }
  ASSERT_EQ(TOVADLL_LOCK(h), 0);
  {
    std::lock_guard<std::mutex> lock(mutex);
    locked = true;
    changed.notify_all();
  }
  EXPECT_EQ(Kept(h, 3), "13|12369|12369");  // the added data headers, not yet cleaned
  ASSERT_EQ(TOVADLL_UNLOCK(h), 0);
  scanner.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Kept(h, 3), "13|13|13");
}

}  // namespace
}  // namespace tova::reader_test
