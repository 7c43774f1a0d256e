// Reading documents across their part files: every cut position of a small
// recording, a sparse main file at the real part limit whose image data are
// never read, the bytes an open reads, the image loader's parts and failures,
// file-layer faults and running out of memory anywhere in a read, the progress
// dialog, the background scan (cancel, failures, another thread watching) and
// the cleanup of embedded documents.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "progress/progress_test_support.h"
#include "support/alloc_failure.h"
#include "support/documents.h"
#include "support/file_systems.h"

namespace tova::testing {
namespace {

using tova_test::WithFailingAllocation;

constexpr uint32_t kPixels = 8;

TEST(FileReader, EveryCutPositionReadsBackEveryDatasetAndImage) {
  TempTree dir;
  const std::u16string path = dir.Path(u"cut.tova");
  const Recording r = MakeRecording(4, kPixels);
  const uint32_t total = static_cast<uint32_t>(r.bytes.size());
  // With limit 1 every length field and identifier is split, and every section
  // boundary falls on the end of a full part for some limit.
  for (uint32_t limit = 1; limit <= total; ++limit) {
    SCOPED_TRACE(::testing::Message() << "limit " << limit);
    PartLimit scoped(limit);
    ASSERT_TRUE(WriteParts(path, r.bytes, CutsEvery(limit, total)));
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
    ASSERT_EQ(DocumentValues(h), Iota(4));
    // Each image lies in the part where its section header ends.
    for (uint32_t i = 0; i < 4; ++i) {
      const TTOVASectInfo info = Doc(h)->image_index.at(i);
      const uint32_t data = r.starts[2 + 2 * i] + 6, part = (data - 1) / limit;
      EXPECT_EQ(std::make_tuple(info.part_number, info.data_offset, info.data_size),
                std::make_tuple(uint16_t(part), data - part * limit, r.ends[2 + 2 * i] - data));
    }
    // The first dataset alone, then the rest indexed by the background scan.
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), TOVA_OK);
    EXPECT_EQ(NumDatasets(h), 1u);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), TOVA_OK);
    ASSERT_EQ(DocumentValues(h), Iota(4));
  }
}

TEST(FileReader, PartsAndExtensions) {
  TempTree dir;
  const Recording r = MakeRecording(2, kPixels);
  const uint32_t first = r.DatasetStart(1);
  const std::u16string path = dir.Path(u"short.tova");
  ASSERT_TRUE(WriteParts(path, r.bytes, {first}));
  {
    // A part below the limit ends the document even when a continuation exists.
    PartLimit scoped(first + 10);
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
    EXPECT_EQ(DocumentValues(h), Iota(1));
  }
  {
    // A section cut short at the end of a part goes on in the next one.
    ASSERT_TRUE(WriteParts(path, r.bytes, {10}));
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
    EXPECT_EQ(DocumentValues(h), Iota(2));
  }
  // The extension is checked without regard to case, and required.
  for (const auto& [name, code] : {std::pair{u"d.TOVA", TOVA_OK}, std::pair{u"d.dat", TOVA_ERR_EXTENSION}}) {
    ASSERT_TRUE(WriteParts(dir.Path(name), r.bytes, {}));
    Handle h(OpenRead(dir.Path(name)));
    EXPECT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), code);
    EXPECT_EQ(NumDatasets(h), code == TOVA_OK ? 2u : 0u);
  }
}

TEST(FileReader, ReadWriteDocumentsReadImagesThroughThePartTheyHoldOpen) {
  TempTree dir;
  const std::u16string path = dir.Path(u"rw.tova");
  uint32_t first_size = 0;
  {
    Handle source(MakeSource(0, kPixels));
    ASSERT_EQ(TOVADLL_GET_BUFFERSIZE(source, &first_size), TOVA_OK);
  }
  // first_size: the main file is filled to the limit exactly, on a section boundary.
  for (uint32_t limit : {7u, first_size - 3, first_size, first_size + 5, 1000000u}) {
    SCOPED_TRACE(::testing::Message() << "limit " << limit);
    PartLimit scoped(limit);
    {
      Handle rw(OpenReadWrite(path, 0));
      ASSERT_EQ(AppendValues(rw, {0, 1, 2, 3}, kPixels), TOVA_OK);
      EXPECT_EQ(DocumentValues(rw), Iota(4));
      ASSERT_EQ(AppendValues(rw, {4}, kPixels), TOVA_OK);  // goes on at the end of the held part
      EXPECT_EQ(DocumentValues(rw), Iota(5));
    }
    {
      Handle rw(OpenReadWrite(path, 1));  // reopened, the datasets are read from the file
      ASSERT_EQ(AppendValues(rw, {5}, kPixels), TOVA_OK);
      EXPECT_EQ(DocumentValues(rw), Iota(6));
    }
    EXPECT_EQ(ReadValues(path), Iota(6));
  }
}

// A main file of exactly the real part limit whose dataset 1 image spans
// almost all of it, unwritten (a hole), and a dataset 2 that ends the main
// file (`split` bytes of its first section header) and goes on in part 001.
void RealLimitRecording(uint32_t split) {
  TempTree dir;
  const std::u16string path = dir.Path(u"big.tova");
  const uint64_t limit = format::kPartSizeLimit;
  const Bytes before = Concat({GlobalHeaderSection(), DataHeaderSection(0), ImageSection(0, kPixels),
                               DataHeaderSection(1)});
  const uint64_t image_end = limit - split;
  const Bytes head = Concat({before, Header(static_cast<uint32_t>(image_end - before.size()), kIM)});
  const Bytes tail = Concat({DataHeaderSection(2), ImageSection(2, kPixels)});
  if (!MakeFileOfSize(path, limit)) GTEST_SKIP() << "the file system cannot hold a 2 GiB sparse file";
  {
    auto file = platform::GetFileSystem().Open(path, platform::OpenMode::WriteExisting);
    ASSERT_TRUE(file && file->Write(head.data(), static_cast<uint32_t>(head.size())));
    ASSERT_TRUE(split == 0 || (file->Seek(image_end) && file->Write(tail.data(), split)));
    ASSERT_TRUE(file->Close());
  }
  ASSERT_TRUE(WriteFileBytes(PartFileName(path, 1), tail.data() + split, tail.size() - split));

  FaultFileSystem fs;
  ScopedFileSystem scoped(fs);
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
  EXPECT_EQ(NumDatasets(h), 3u);
  EXPECT_LT(fs.BytesRead(), 4096u) << "the scan read image data";
  const TTOVASectInfo info = Doc(h)->image_index[2];
  EXPECT_EQ(info.part_number, 1u);
  EXPECT_EQ(info.data_offset, DataHeaderSection(2).size() - split + 6);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 2), TOVA_OK);
  EXPECT_EQ(ValueOf(h), 2u);
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(2, kPixels));
  ASSERT_EQ(TOVADLL_SET_CURDATASET_EX(h, 1, 0), TOVA_OK);  // dataset 1's header without its image
  EXPECT_EQ(ValueOf(h), 1u);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), TOVA_OK);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), TOVA_OK);
  EXPECT_EQ(NumDatasets(h), 3u);
  EXPECT_LT(fs.BytesRead(), 8192u);
}

TEST(FileReader, AMainFileEndingOnASectionBoundaryAtTheRealLimitIsContinued) { RealLimitRecording(0); }
TEST(FileReader, ASectionHeaderSplitThreeBytesBeforeTheRealLimitIsReassembled) { RealLimitRecording(3); }

TEST(FileReader, OpeningReadsNoImageButTheFirstAndLoadingReadsOnlyTheAskedOne) {
  TempTree dir;
  const std::u16string path = dir.Path(u"rec.tova");
  const Recording r = MakeRecording(100, 1024);
  ASSERT_TRUE(WriteParts(path, r.bytes, {}));
  FaultFileSystem fs;
  ScopedFileSystem scoped(fs);
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
  EXPECT_EQ(NumDatasets(h), 100u);
  EXPECT_LE(fs.BytesRead(), r.bytes.size() - 99 * (1024 + 6));
  const uint64_t after_open = fs.BytesRead();
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 57), TOVA_OK);
  EXPECT_EQ(fs.BytesRead() - after_open, 1024 + 6u);  // exactly dataset 57's image section data
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(57, 1024));
  // A loaded image keeps dataset 0's other image entries and clears the modified state.
  void* data = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, kIM, kImageData, &data, &size, 1), TOVA_OK);
  ASSERT_EQ(Modified(h), 1u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 5), TOVA_OK);
  EXPECT_EQ(EntryData(h, kIM, kImageExtra), Text("keep"));
  EXPECT_EQ(Modified(h), 0u);
}

// A recording whose datasets 2 and 3 lie in part 001 fails to load dataset 3
// in every way a part can fail; dataset 1 stays current with its image, and
// the load succeeds once the fault is gone.
TEST(FileReader, ImageLoaderFailuresChangeNothing) {
  // kReadPixels: the read of the pixels, straight into the image's storage,
  // fails after the record header was read.
  enum Fault { kDeleted, kTruncated, kOpen, kRead, kSeek, kSize, kReadPixels };
  const std::pair<Fault, int32_t> rows[] = {{kDeleted, TOVA_ERR_OPEN}, {kTruncated, TOVA_ERR_SHORT},
                                            {kOpen, TOVA_ERR_OPEN},    {kRead, TOVA_ERR_SHORT},
                                            {kSeek, TOVA_ERR_SHORT},   {kSize, TOVA_ERR_SHORT},
                                            {kReadPixels, TOVA_ERR_SHORT}};
  for (const auto& [fault, code] : rows) {
    SCOPED_TRACE(static_cast<int>(fault));
    TempTree dir;
    const std::u16string path = dir.Path(u"split.tova"), part1 = PartFileName(path, 1);
    const Recording r = MakeRecording(4, kPixels);
    PartLimit limit(r.DatasetStart(2));
    ASSERT_TRUE(WriteParts(path, r.bytes, {r.DatasetStart(2)}));
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
    ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), TOVA_OK);
    const Bytes whole = ReadFileBytes(part1);
    FaultFileSystem fs;
    ScopedFileSystem scoped(fs);
    if (fault == kDeleted) ASSERT_TRUE(std::filesystem::remove(part1));
    if (fault == kTruncated) ASSERT_TRUE(WriteFileBytes(part1, whole.data(), whole.size() - 3));
    const FsOp ops[] = {FsOp::Open, FsOp::Open, FsOp::Open, FsOp::Read, FsOp::Seek, FsOp::Size};
    if (fault >= kOpen && fault <= kSize) fs.FailAlways(ops[fault]);
    if (fault == kReadPixels) fs.FailNth(FsOp::Read, 2);
    EXPECT_EQ(TOVADLL_SET_CURDATASET(h, 3), code);
    EXPECT_EQ(CurDataset(h), 1u);
    EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(1, kPixels));
    if (fault == kTruncated) EXPECT_EQ(TOVADLL_SET_CURDATASET(h, 2), TOVA_OK);  // dataset 2 is whole
    fs.Clear();
    ASSERT_TRUE(WriteFileBytes(part1, whole));
    EXPECT_EQ(TOVADLL_SET_CURDATASET(h, 3), TOVA_OK);
    EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(3, kPixels));
  }
}

TEST(FileReader, AFailingFileCallNeverGivesASuccessfulReadOfLessThanTheDocument) {
  TempTree dir;
  const std::u16string path = dir.Path(u"faults.tova");
  const Recording r = MakeRecording(8, kPixels);
  const uint32_t limit = r.DatasetStart(1);  // the main file ends on a section boundary, later parts elsewhere
  PartLimit scoped_limit(limit);
  ASSERT_TRUE(WriteParts(path, r.bytes, CutsEvery(limit, r.bytes.size())));
  for (FsOp op : {FsOp::Open, FsOp::Read, FsOp::Seek, FsOp::Size}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(::testing::Message() << "op " << static_cast<int>(op) << " call " << n);
      ASSERT_LT(n, 500);
      FaultFileSystem fs;
      ScopedFileSystem scoped(fs);
      Handle h(OpenRead(path));
      fs.ResetCounters();
      fs.FailNth(op, n);
      const int32_t rc = TOVADLL_READ_FROM_FILE(h, 1, 0);
      const bool hit = fs.Count(op) >= n;
      fs.Clear();
      if (rc == TOVA_OK) {
        // Only a failure the read can do without (a size asked twice) may pass.
        EXPECT_TRUE(op == FsOp::Size || !hit) << "a failed call was reported as success";
        EXPECT_EQ(DocumentValues(h), Iota(8));
      } else {
        EXPECT_TRUE(rc == TOVA_ERR_READ || rc == TOVA_ERR_OPEN || rc == TOVA_ERR_SHORT) << rc;
        EXPECT_EQ(NumDatasets(h), 0u);
      }
      if (!hit) break;
    }
  }
}

TEST(FileReader, RunningOutOfMemoryAnywhereInAReadLeavesTheDocumentEmptyOrWhole) {
  TempTree dir;
  const std::u16string path = dir.Path(u"oom.tova");
  const Recording r = MakeRecording(4, kPixels);
  const uint32_t limit = r.DatasetStart(2) + 3;
  PartLimit scoped_limit(limit);
  ASSERT_TRUE(WriteParts(path, r.bytes, CutsEvery(limit, r.bytes.size())));
  FakeWindowLog log;
  FakeWindowFactory factory(log);
  for (uint32_t show : {0u, 1u}) {
    Handle h(OpenRead(path));
    for (long skip = 0;; ++skip) {
      SCOPED_TRACE(::testing::Message() << "show " << show << ", allocation " << skip + 1);
      ASSERT_LT(skip, 2000);
      bool hit = false;
      const auto rc = WithFailingAllocation(skip, hit, [&] { return TOVADLL_READ_FROM_FILE(h, 1, show); });
      if (!hit) {
        ASSERT_EQ(rc, TOVA_OK);
        EXPECT_EQ(DocumentValues(h), Iota(4));
        break;
      }
      // TOVA_ERR_READ from the scan; the others when dataset 0's image cannot be loaded.
      EXPECT_TRUE(rc == TOVA_ERR_NO_MEMORY || rc == TOVA_ERR_READ || rc == TOVA_ERR_OPEN || rc == TOVA_ERR_SHORT ||
                  rc == TOVA_ERR_STORE) << rc;
      EXPECT_EQ(NumDatasets(h), 0u);
    }
  }
  // In the background scan, the datasets found before the failure stay whole.
  Handle h(OpenRead(path));
  for (long skip = 0;; ++skip) {
    SCOPED_TRACE(::testing::Message() << "background scan, allocation " << skip + 1);
    ASSERT_LT(skip, 2000);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), TOVA_OK);
    bool hit = false;
    const int32_t rc = WithFailingAllocation(skip, hit, [&] { return TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr); });
    EXPECT_EQ(DocumentValues(h), Iota(static_cast<uint16_t>(NumDatasets(h))));
    if (!hit) {
      ASSERT_EQ(rc, TOVA_OK);
      EXPECT_EQ(NumDatasets(h), 4u);
      break;
    }
    EXPECT_EQ(rc, TOVA_ERR_READ);
  }
}

TEST(FileReader, CancelInTheDialogLeavesTheDocumentEmpty) {
  TempTree dir;
  const std::u16string path = dir.Path(u"progress.tova");
  ASSERT_TRUE(WriteParts(path, MakeRecording(20, kPixels).bytes, {}));
  FakeCounter counter(1000);
  HookFileSystem hooks;
  hooks.on_read = [&](const std::u16string&, uint64_t) { counter.Advance(5000); };  // 5 s per read
  ScopedFileSystem scoped(hooks);
  for (uint32_t show : {0u, 1u, 2u}) {  // 2: shown and cancelled
    SCOPED_TRACE(show);
    FakeWindowLog log;
    log.cancel_pressed = show == 2;
    FakeWindowFactory factory(log);
    Handle h(OpenRead(path));
    EXPECT_EQ(TOVADLL_READ_FROM_FILE(h, 1, show > 0), show == 2 ? TOVA_ERR_CANCELLED : TOVA_OK);
    EXPECT_EQ(NumDatasets(h), show == 2 ? 0u : 20u);
    EXPECT_EQ(log.windows_made, show > 0 ? 1 : 0);
    EXPECT_EQ(log.Count("Destroy"), log.windows_made);  // the dialog is gone after the read
    if (show == 1) EXPECT_NE(log.texts.at(log.texts.size() - 1).find(u"Analysing"), std::u16string::npos);
  }
}

TEST(FileReader, RemovingTheCurrentFirstDatasetLoadsTheImageOfTheNewFirst) {
  TempTree dir;
  const std::u16string path = dir.Path(u"remove.tova");
  ASSERT_TRUE(WriteParts(path, MakeRecording(3, kPixels).bytes, {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(h, 0), TOVA_OK);
  EXPECT_EQ(CurDataset(h), 0u);
  EXPECT_EQ(ValueOf(h), 1u);
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(1, kPixels));
  EXPECT_EQ(EntryData(h, kDH, 0x0200), U16(2));  // inherited from the removed first data header
  EXPECT_EQ(NumDatasets(h), 2u);

  Handle rw(OpenReadWrite(dir.Path(u"remove_rw.tova"), 0));
  ASSERT_EQ(AppendValues(rw, {10, 11, 12}, kPixels), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(rw, 0), TOVA_OK);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(rw, 0), TOVA_OK);
  EXPECT_EQ(ValueOf(rw), 11u);
  EXPECT_EQ(EntryData(rw, kIM, kImageData), Pixels(11, kPixels));
}

// ---- the background scan -------------------------------------------------------

// A recording written to a fresh directory and read with read-all 0. Its
// images are larger than the reader reads ahead, so each dataset's data
// header is read from where the dataset starts.
struct FirstDatasetRead {
  explicit FirstDatasetRead(uint32_t datasets, const Bytes& trailer = {})
      : r(MakeRecording(datasets, 600)), written(WriteParts(path, Concat({r.bytes, trailer}), {})),
        h(OpenRead(path)), ok(written && TOVADLL_READ_FROM_FILE(h, 0, 0) == TOVA_OK) {}
  TempTree dir;
  std::u16string path = dir.Path(u"rec.tova");
  Recording r;
  bool written;
  Handle h;
  bool ok;
};

TEST(BackgroundScan, CancelKeepsWhatItFoundAndFailuresKeepTheDatasetsFoundBefore) {
  FirstDatasetRead d(100);
  ASSERT_TRUE(d.ok);
  volatile uint8_t cancel = 0;
  HookFileSystem hooks;
  // Cancelled as dataset 5's data header is read.
  hooks.on_read = [&](const std::u16string& path, uint64_t position) {
    if (path == d.path && position == d.r.DatasetStart(5)) cancel = 1;
  };
  {
    ScopedFileSystem scoped(hooks);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, &cancel), TOVA_ERR_CANCELLED);
  }
  EXPECT_EQ(DocumentValues(d.h), Iota(5));
  // A byte set before the call stops it before the first section.
  EXPECT_EQ(TOVADLL_READ_FROM_FILE(d.h, 0, 0), TOVA_OK);
  EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, &cancel), TOVA_ERR_CANCELLED);
  EXPECT_EQ(NumDatasets(d.h), 1u);
  EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(TOVADLL_INVALID_HANDLE, nullptr), TOVA_ERR_HANDLE);

  for (const Bytes& trailer : {Section(0xFF03, {}), Concat({DataHeaderSection(6), Header(0x7FFFFFFF, kIM)})}) {
    FirstDatasetRead bad(6, trailer);
    ASSERT_TRUE(bad.ok);
    EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(bad.h, nullptr), TOVA_ERR_READ);
    EXPECT_EQ(DocumentValues(bad.h), Iota(6));
  }
  FirstDatasetRead gone(3);
  ASSERT_TRUE(gone.ok && std::filesystem::remove(gone.path));
  EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(gone.h, nullptr), TOVA_ERR_READ);
  EXPECT_EQ(NumDatasets(gone.h), 1u);
}

// The scanning thread pauses before the sections at three dataset starts
// until this thread, holding the document lock, has seen the count so far;
// a second reader polls the count throughout and never sees it go down.
TEST(BackgroundScan, AnotherThreadSeesTheDatasetsGrowUnderTheLock) {
  FirstDatasetRead d(100);
  ASSERT_TRUE(d.ok);
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t paused_at = 0;
  bool go = false;
  HookFileSystem hooks;
  hooks.on_read = [&](const std::u16string& path, uint64_t position) {
    for (uint32_t stop : {25u, 50u, 75u}) {
      if (path != d.path || position != d.r.DatasetStart(stop)) continue;
      std::unique_lock<std::mutex> lock(mutex);
      paused_at = position;
      changed.notify_all();
      changed.wait(lock, [&] { return go; });
      go = false, paused_at = 0;
    }
  };
  ScopedFileSystem scoped(hooks);
  std::atomic<bool> done{false}, shrank{false};
  int32_t result = -1;
  std::thread scanner([&] { result = TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, nullptr), done = true; });
  std::thread poller([&] {
    for (uint32_t last = 0; !done;) {
      TOVADLL_LOCK(d.h);
      const uint32_t n = NumDatasets(d.h);
      TOVADLL_UNLOCK(d.h);
      if (n < last) shrank = true;
      last = n;
    }
  });
  for (uint32_t stop : {25u, 50u, 75u}) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return paused_at == d.r.DatasetStart(stop); });
    }
    ASSERT_EQ(TOVADLL_LOCK(d.h), TOVA_OK);
    EXPECT_EQ(NumDatasets(d.h), stop);  // every dataset before the one about to be read
    ASSERT_EQ(TOVADLL_UNLOCK(d.h), TOVA_OK);
    std::lock_guard<std::mutex> lock(mutex);
    go = true;
    changed.notify_all();
  }
  scanner.join();
  poller.join();
  EXPECT_EQ(result, TOVA_OK);
  EXPECT_FALSE(shrank);
  EXPECT_EQ(DocumentValues(d.h), Iota(100));
}

// ---- embedded documents ----------------------------------------------------------

constexpr uint16_t kEmbedded[] = {0x0601, 0x0602, 0x0603, 0x0606, 0x0609};

// Window derivation records (40 bytes each) naming the identifiers, then
// `tail` bytes that are no whole record (naming in_tail where they reach).
Bytes Derivation(const std::vector<uint16_t>& named, uint16_t in_tail = 0, uint32_t tail = 0) {
  Bytes b;
  for (uint16_t id : named) b = Concat({b, Bytes(6, 0), U16(id), Bytes(32, 0)});
  return tail < 8 ? b : Concat({b, Bytes(6, 0), U16(in_tail), Bytes(tail - 8, 0)});
}

// Three datasets whose data headers all hold the five embedded entries;
// dataset 0's also the derivation entry when one is given.
Bytes EmbeddedRecording(const Bytes* derivation) {
  Bytes b = GlobalHeaderSection();
  for (uint16_t v : {0, 1, 2}) {
    std::vector<Bytes> dh = {Entry(kValue, U16(v))};
    for (uint16_t id : kEmbedded) dh.push_back(Entry(id, Text("doc")));
    if (v == 0 && derivation) dh.push_back(Entry(TOVA_DH_WINDOW_DERIVATION, *derivation));
    b = Concat({b, Section(kDH, dh), ImageSection(v, kPixels)});
  }
  return b;
}

// Which embedded entries each data header holds itself: "ids of dataset 0|of 1|of 2".
std::string Kept(uint64_t h) {
  std::shared_ptr<CTOVAFile> doc = Doc(h);
  platform::DocumentLockGuard guard(doc->lock);
  std::string out;
  for (size_t i = 0; i < doc->data_headers.size(); ++i) {
    if (i) out += "|";
    for (uint16_t id : kEmbedded)
      if (doc->data_headers[i]->FindEntry(id)) out += std::to_string(id - 0x0600);
  }
  return out;
}

TEST(EmbeddedCleanup, DocumentsThatNoDerivationNamesAreRemovedFromEveryDataHeader) {
  const struct {
    bool has_derivation;
    Bytes derivation;
    const char* kept;
  } rows[] = {
      {false, {}, "12369|12369|12369"},
      {true, Derivation({0x0601}), "13|13|13"},
      {true, Derivation({0x0601}, 0x0602, 39), "13|13|13"},  // a tail short of a record names nothing
      {true, Derivation({0x0609, 0x0602}), "239|239|239"},
      {true, Derivation({}, 0x0601, 20), "3|3|3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kept);
    TempTree dir;
    const std::u16string path = dir.Path(u"embedded.tova");
    ASSERT_TRUE(WriteParts(path, EmbeddedRecording(row.has_derivation ? &row.derivation : nullptr), {}));
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
    EXPECT_EQ(Kept(h), row.kept);
    // Read in two steps, the background scan cleans the data headers it adds.
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), TOVA_OK);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), TOVA_OK);
    EXPECT_EQ(Kept(h), row.kept);
  }
}

// The scan is held just before its cleanup until this thread holds the
// document lock; under the lock the cleanup waits and the headers are seen
// whole (outside it the two would race, as the thread sanitizer reports).
TEST(EmbeddedCleanup, TheBackgroundScanCleansUpUnderTheDocumentLock) {
  TempTree dir;
  const std::u16string path = dir.Path(u"embedded.tova");
  const Bytes derivation = Derivation({0x0601});
  ASSERT_TRUE(WriteParts(path, EmbeddedRecording(&derivation), {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), TOVA_OK);
  std::mutex mutex;
  std::condition_variable changed;
  bool scan_closed = false, locked = false;
  HookFileSystem hooks;
  hooks.on_close = [&](const std::u16string&) {  // the scan's last file call
    std::unique_lock<std::mutex> lock(mutex);
    scan_closed = true;
    changed.notify_all();
    changed.wait(lock, [&] { return locked; });
  };
  ScopedFileSystem scoped(hooks);
  int32_t result = -1;
  std::thread scanner([&] { result = TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return scan_closed; });
  }
  ASSERT_EQ(TOVADLL_LOCK(h), TOVA_OK);
  {
    std::lock_guard<std::mutex> lock(mutex);
    locked = true;
    changed.notify_all();
  }
  EXPECT_EQ(Kept(h), "13|12369|12369");  // the added data headers, not yet cleaned
  ASSERT_EQ(TOVADLL_UNLOCK(h), TOVA_OK);
  scanner.join();
  EXPECT_EQ(result, TOVA_OK);
  EXPECT_EQ(Kept(h), "13|13|13");
}

}  // namespace
}  // namespace tova::testing
