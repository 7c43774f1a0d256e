// Reading documents across their part files: cut positions, the
// real part limit, the bytes an open reads, file-layer faults and running out of
// memory, the dialog, the background scan and the cleanup of embedded documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>

#include "format/part_reader.h"
#include "progress/progress_test_support.h"
#include "support/alloc_failure.h"
#include "support/documents.h"
#include "support/file_systems.h"

namespace tova::testing {
namespace {

using tova_test::WithFailingAllocation;

constexpr uint32_t kPixels = 8;

struct Written {
  Written(uint32_t datasets, uint32_t pixels, std::vector<uint32_t> cuts = {}, const Bytes& trailer = {})
      : r(MakeRecording(datasets, pixels)), ok(WriteParts(path, Concat({r.bytes, trailer}), cuts)), h(OpenRead(path)) {}
  TempTree dir;
  std::u16string path = dir.Path(u"rec.tova");
  Recording r;
  bool ok;
  Handle h;
};

TEST(FileReader, EveryCutPositionReadsBackEveryDatasetAndImage) {
  TempTree dir;
  const std::u16string path = dir.Path(u"cut.tova");
  const Recording r = MakeRecording(4, kPixels);
  const uint32_t total = static_cast<uint32_t>(r.bytes.size());
  // Limit 1 splits every field; every section boundary ends a full part for some limit.
  for (uint32_t limit = 1; limit <= total; ++limit) {
    SCOPED_TRACE(::testing::Message() << "limit " << limit);
    PartLimit scoped(limit);
    ASSERT_TRUE(WriteParts(path, r.bytes, CutsEvery(limit, total)));
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
    ASSERT_EQ(DocumentValues(h), Iota(4));
    for (uint32_t i = 0; i < 4; ++i) {
      const TTOVASectInfo info = Doc(h)->image_index.at(i);
      const uint32_t data = r.starts[2 + 2 * i] + 6, part = (data - 1) / limit;
      EXPECT_EQ(std::make_tuple(info.part_number, info.data_offset, info.data_size),
                std::make_tuple(uint16_t(part), data - part * limit, r.ends[2 + 2 * i] - data));
    }
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), TOVA_OK);
    EXPECT_EQ(NumDatasets(h), 1u);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), TOVA_OK);
    ASSERT_EQ(DocumentValues(h), Iota(4));
  }
}

TEST(FileReader, APartBelowTheLimitEndsTheDocument) {
  const uint32_t first = MakeRecording(2, kPixels).DatasetStart(1);
  PartLimit scoped(first + 10);
  Written w(2, kPixels, {first});
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(w.h, 1, 0), TOVA_OK);
  EXPECT_EQ(DocumentValues(w.h), Iota(1));
}

// A sparse main file of exactly the real part limit, filled by dataset 1's image,
// ends with 3 bytes of dataset 2's first section header, which goes on in part 001.
TEST(FileReader, ASectionHeaderSplitAtTheRealLimitIsReassembled) {
  constexpr uint32_t split = 3;
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
    ASSERT_TRUE(file->Seek(image_end) && file->Write(tail.data(), split));
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
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(2, kPixels));
}

TEST(FileReader, OpeningReadsNoImageButTheFirstAndLoadingReadsOnlyTheAskedOne) {
  Written w(100, 1024);
  FaultFileSystem fs;
  ScopedFileSystem scoped(fs);
  Handle h(OpenRead(w.path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
  EXPECT_EQ(NumDatasets(h), 100u);
  EXPECT_LE(fs.BytesRead(), w.r.bytes.size() - 99 * (1024 + 6));
  const uint64_t after_open = fs.BytesRead();
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 57), TOVA_OK);
  EXPECT_EQ(fs.BytesRead() - after_open, 1024 + 6u);  // exactly dataset 57's image section data
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(57, 1024));
  const int opens = fs.Count(FsOp::Open);
  uint32_t present = 0;
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 3), TOVA_OK);
#ifndef _WIN32  // a Windows share mode lasts as long as its handle: there each load opens the part
  EXPECT_EQ(fs.Count(FsOp::Open), opens) << "the part stays open from load to load";
#endif
  EXPECT_TRUE(TOVADLL_GET_NUM_ENTRIES(h, kIM, &present) == TOVA_OK && present == 1u);  // the image data alone
  // A loaded image keeps dataset 0's other image entries and clears the modified state.
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, kIM, kImageData, 1024, Pixels(1, 1024).data()), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 5), TOVA_OK);
  EXPECT_EQ(EntryData(h, kIM, kImageExtra), Text("keep"));
  EXPECT_EQ(Modified(h), 0u);
}

// Dataset 3's image in part 001 fails to load in every way a part can fail: dataset 1
// stays current with its image, and the load succeeds once the fault is gone.
TEST(FileReader, ImageLoaderFailuresChangeNothing) {
  enum Fault { kOpen, kRead, kSeek, kDeleted, kTruncated };
  const FsOp ops[] = {FsOp::Open, FsOp::Read, FsOp::Seek};
  for (Fault fault : {kOpen, kRead, kSeek, kDeleted, kTruncated}) {
    SCOPED_TRACE(static_cast<int>(fault));
    const Recording r = MakeRecording(4, kPixels);
    PartLimit limit(r.DatasetStart(2));
    Written w(4, kPixels, {r.DatasetStart(2)});
    const std::u16string part1 = PartFileName(w.path, 1);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(w.h, 1, 0), TOVA_OK);
    ASSERT_EQ(TOVADLL_SET_CURDATASET(w.h, 1), TOVA_OK);
    const Bytes whole = ReadFileBytes(part1);
    FaultFileSystem fs;
    ScopedFileSystem scoped(fs);
    if (fault == kDeleted) ASSERT_TRUE(std::filesystem::remove(part1));
    if (fault == kTruncated) ASSERT_TRUE(WriteFileBytes(part1, whole.data(), whole.size() - 3));
    if (fault <= kSeek) fs.FailAlways(ops[fault]);
    EXPECT_EQ(TOVADLL_SET_CURDATASET(w.h, 3), fault == kOpen || fault == kDeleted ? TOVA_ERR_OPEN : TOVA_ERR_SHORT);
    EXPECT_EQ(CurDataset(w.h), 1u);
    EXPECT_EQ(EntryData(w.h, kIM, kImageData), Pixels(1, kPixels));
    if (fault == kTruncated) EXPECT_EQ(TOVADLL_SET_CURDATASET(w.h, 2), TOVA_OK);  // dataset 2 is whole
    fs.Clear();
    ASSERT_TRUE(WriteFileBytes(part1, whole));
    EXPECT_EQ(TOVADLL_SET_CURDATASET(w.h, 3), TOVA_OK);
    EXPECT_EQ(EntryData(w.h, kIM, kImageData), Pixels(3, kPixels));
  }
}

// Between loads a read document keeps its parts open but not their share: a
// writer may open a part then, a load while it holds the part is refused, and a
// part replaced meanwhile is read from the new file, an image record that is
// not the image entry parsed as what it is.
TEST(FileReader, BetweenLoadsAPartIsFreeAndAReplacedPartIsReadAnew) {
  Written w(4, kPixels);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(w.h, 1, 0), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(w.h, 1), TOVA_OK);
  // The new file: dataset 2's image other pixels, dataset 3's another entry of the image's size.
  Bytes other = w.r.bytes;
  const Bytes nine = Pixels(9, kPixels), image3 = Entry(kImageData, Pixels(3, kPixels));
  auto at = [&other](const Bytes& b) { return std::search(other.begin(), other.end(), b.begin(), b.end()); };
  std::copy(nine.begin(), nine.end(), at(Pixels(2, kPixels)));
  at(image3)[4] = 0x11;  // 0x0311
  const std::u16string replacement = w.dir.Path(u"new.tova");
  ASSERT_TRUE(WriteFileBytes(replacement, other));
  std::filesystem::rename(std::filesystem::path(replacement), std::filesystem::path(w.path));
  ASSERT_EQ(TOVADLL_SET_CURDATASET(w.h, 2), TOVA_OK);
  EXPECT_EQ(EntryData(w.h, kIM, kImageData), nine);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(w.h, 3), TOVA_OK);
  EXPECT_TRUE(EntryData(w.h, kIM, 0x0311) == Pixels(3, kPixels) && EntryData(w.h, kIM, kImageData) == nine);
  const auto writer = platform::GetFileSystem().Open(w.path, platform::OpenMode::WriteExisting);
  ASSERT_TRUE(writer);
  EXPECT_EQ(TOVADLL_SET_CURDATASET(w.h, 1), TOVA_ERR_OPEN);
}

TEST(FileReader, AFailingFileCallNeverGivesASuccessfulReadOfLessThanTheDocument) {
  const uint32_t limit = MakeRecording(8, kPixels).DatasetStart(1);  // the main file ends on a section boundary
  PartLimit scoped_limit(limit);
  Written w(8, kPixels, CutsEvery(limit, MakeRecording(8, kPixels).bytes.size()));
  for (FsOp op : {FsOp::Open, FsOp::Read, FsOp::Seek, FsOp::Size}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(::testing::Message() << OpName(op) << " call " << n);
      ASSERT_LT(n, 500);
      FaultFileSystem fs;
      ScopedFileSystem scoped(fs);
      Handle h(OpenRead(w.path));
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

// Read whole, a document is empty or whole; the background scan keeps whole datasets.
TEST(FileReader, RunningOutOfMemoryAnywhereInAReadLeavesTheDocumentEmptyOrWhole) {
  const uint32_t limit = MakeRecording(4, kPixels).DatasetStart(2) + 3;
  PartLimit scoped_limit(limit);
  Written w(4, kPixels, CutsEvery(limit, MakeRecording(4, kPixels).bytes.size()));
  FakeWindowLog log;
  FakeWindowFactory factory(log);
  for (uint32_t mode : {0u, 1u, 2u}) {  // 2: the first dataset, then the background scan
    for (long skip = 0;; ++skip) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << ", allocation " << skip + 1);
      ASSERT_LT(skip, 2000);
      if (mode == 2) ASSERT_EQ(TOVADLL_READ_FROM_FILE(w.h, 0, 0), TOVA_OK);
      bool hit = false;
      const int32_t rc = WithFailingAllocation(skip, hit, [&] {
        return mode == 2 ? TOVADLL_READ_FROM_FILE_AFTER_FIRST(w.h, nullptr) : TOVADLL_READ_FROM_FILE(w.h, 1, mode);
      });
      EXPECT_EQ(DocumentValues(w.h), Iota(static_cast<uint16_t>(NumDatasets(w.h))));
      if (!hit) {
        ASSERT_EQ(rc, TOVA_OK);
        EXPECT_EQ(NumDatasets(w.h), 4u);
        break;
      }
      if (mode == 2) EXPECT_EQ(rc, TOVA_ERR_READ);
      if (mode < 2) EXPECT_EQ(NumDatasets(w.h), 0u);
      EXPECT_TRUE(rc == TOVA_ERR_NO_MEMORY || rc == TOVA_ERR_READ || rc == TOVA_ERR_OPEN || rc == TOVA_ERR_SHORT ||
                  rc == TOVA_ERR_STORE) << rc;
    }
  }
}

TEST(FileReader, CancelInTheDialogLeavesTheDocumentEmpty) {
  Written w(20, kPixels);
  FakeCounter counter(1000);
  HookFileSystem hooks;
  hooks.on_read = [&](const std::u16string&, uint64_t) { counter.Advance(5000); };  // 5 s per read
  ScopedFileSystem scoped(hooks);
  for (uint32_t show : {0u, 1u, 2u}) {  // 2: shown and cancelled
    SCOPED_TRACE(show);
    FakeWindowLog log;
    log.cancel_pressed = show == 2;
    FakeWindowFactory factory(log);
    EXPECT_EQ(TOVADLL_READ_FROM_FILE(w.h, 1, show > 0), show == 2 ? TOVA_ERR_CANCELLED : TOVA_OK);
    EXPECT_EQ(NumDatasets(w.h), show == 2 ? 0u : 20u);
    EXPECT_EQ(log.windows_made, show > 0 ? 1 : 0);
    EXPECT_EQ(log.Count("Destroy"), log.windows_made);  // the dialog is gone after the read
    if (show == 1) EXPECT_NE(log.texts.back().find(u"Analysing"), std::u16string::npos);
  }
}

// A later dataset's data header changed in place or to another size keeps the change when its dataset stops
// being current (an unchanged one goes back to its compact form).
TEST(FileReader, ChangedLaterDataHeadersKeepTheirChanges) {
  Written w(4, kPixels);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(w.h, 1, 0), TOVA_OK);
  ASSERT_TRUE(TOVADLL_SET_CURDATASET(w.h, 2) == TOVA_OK && SetU16(w.h, kDH, kValue, 77) == TOVA_OK);
  ASSERT_TRUE(TOVADLL_SET_CURDATASET(w.h, 3) == TOVA_OK && TOVADLL_SET_ENTRY(w.h, kDH, kValue, 4, "abcd") == TOVA_OK);
  ASSERT_TRUE(TOVADLL_SET_CURDATASET(w.h, 1) == TOVA_OK && TOVADLL_SET_MODIFIED(w.h, 0) == TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(w.h, 2), TOVA_OK);
  EXPECT_EQ(EntryData(w.h, kDH, kValue), U16(77));
  ASSERT_EQ(TOVADLL_SET_CURDATASET(w.h, 3), TOVA_OK);
  EXPECT_TRUE(EntryData(w.h, kDH, kValue) == Text("abcd") && Modified(w.h) == 0u);
}

TEST(FileReader, RemovingTheCurrentFirstDatasetLoadsTheImageOfTheNewFirst) {
  Written w(3, kPixels);
  Handle rw(OpenReadWrite(w.dir.Path(u"remove_rw.tova"), 0));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(w.h, 1, 0), TOVA_OK);
  ASSERT_EQ(AppendValues(rw, {0, 1, 2}, kPixels), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(rw, 0), TOVA_OK);
  for (uint64_t h : {uint64_t{w.h}, uint64_t{rw}}) {
    ASSERT_EQ(TOVADLL_REMOVE_DATASET(h, 0), TOVA_OK);
    EXPECT_EQ(CurDataset(h), 0u);
    EXPECT_EQ(ValueOf(h), 1u);
    EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(1, kPixels));
    EXPECT_EQ(NumDatasets(h), 2u);
  }
  EXPECT_EQ(EntryData(w.h, kDH, 0x0200), U16(2));  // inherited from the removed first data header
}

// Images larger than the reader reads ahead: each data header is read from its dataset's start.
constexpr uint32_t kScanPixels = 600;

TEST(BackgroundScan, CancelKeepsWhatItFoundAndFailuresKeepTheDatasetsFoundBefore) {
  Written d(100, kScanPixels);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(d.h, 0, 0), TOVA_OK);
  volatile uint8_t cancel = 0;
  HookFileSystem hooks;
  hooks.on_read = [&](const std::u16string& path, uint64_t position) {
    if (path == d.path && position == d.r.DatasetStart(5)) cancel = 1;  // as dataset 5 is read
  };
  {
    ScopedFileSystem scoped(hooks);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, &cancel), TOVA_ERR_CANCELLED);
  }
  EXPECT_EQ(DocumentValues(d.h), Iota(5));
  EXPECT_EQ(TOVADLL_READ_FROM_FILE(d.h, 0, 0), TOVA_OK);  // a cancel set before the call stops it at once
  EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, &cancel), TOVA_ERR_CANCELLED);
  EXPECT_EQ(NumDatasets(d.h), 1u);
  for (const Bytes& trailer : {Section(0xFF03, {}), Concat({DataHeaderSection(6), Header(0x7FFFFFFF, kIM)}), Bytes{}}) {
    Written bad(6, kScanPixels, {}, trailer);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(bad.h, 0, 0), TOVA_OK);
    if (trailer.empty()) ASSERT_TRUE(std::filesystem::remove(bad.path));
    EXPECT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(bad.h, nullptr), TOVA_ERR_READ);
    EXPECT_EQ(NumDatasets(bad.h), trailer.empty() ? 1u : 6u);
  }
}

// Lets a file-layer hook on the scanning thread stop (its n-th pause) until this thread releases it.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  int paused = 0, released = 0;
  void Pause() {
    std::unique_lock<std::mutex> lock(m);
    const int me = ++paused;
    cv.notify_all();
    cv.wait(lock, [&] { return released >= me; });
  }
  void AwaitPause(int n) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return paused >= n; });
  }
  void Release(int n) {
    std::lock_guard<std::mutex> lock(m);
    released = n;
    cv.notify_all();
  }
};

// The scan pauses at three dataset starts until this thread, under the lock, has seen the count.
TEST(BackgroundScan, AnotherThreadSeesTheDatasetsGrowUnderTheLock) {
  Written d(100, kScanPixels);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(d.h, 0, 0), TOVA_OK);
  const uint32_t stops[] = {25, 50, 75};
  Gate gate;
  HookFileSystem hooks;
  hooks.on_read = [&](const std::u16string& path, uint64_t position) {
    for (uint32_t stop : stops)
      if (path == d.path && position == d.r.DatasetStart(stop)) gate.Pause();
  };
  ScopedFileSystem scoped(hooks);
  int32_t result = -1;
  std::thread scanner([&] { result = TOVADLL_READ_FROM_FILE_AFTER_FIRST(d.h, nullptr); });
  for (int i = 0; i < 3; ++i) {
    const uint32_t stop = stops[i];
    gate.AwaitPause(i + 1);
    ASSERT_EQ(TOVADLL_LOCK(d.h), TOVA_OK);
    EXPECT_EQ(NumDatasets(d.h), stop);  // every dataset before the one about to be read
    ASSERT_EQ(TOVADLL_UNLOCK(d.h), TOVA_OK);
    gate.Release(i + 1);
  }
  scanner.join();
  EXPECT_EQ(result, TOVA_OK);
  EXPECT_EQ(DocumentValues(d.h), Iota(100));
}

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
Bytes EmbeddedRecording(const Bytes& derivation) {
  Bytes b = GlobalHeaderSection();
  for (uint16_t v : {0, 1, 2}) {
    std::vector<Bytes> dh = {Entry(kValue, U16(v))};
    for (uint16_t id : kEmbedded) dh.push_back(Entry(id, Text("doc")));
    if (v == 0 && !derivation.empty()) dh.push_back(Entry(TOVA_DH_WINDOW_DERIVATION, derivation));
    b = Concat({b, Section(kDH, dh), ImageSection(v, kPixels)});
  }
  return b;
}
// That recording written and read with read-all 0.
struct Embedded {
  explicit Embedded(const Bytes& derivation)
      : written(WriteParts(path, EmbeddedRecording(derivation), {})), h(OpenRead(path)),
        ok(written && TOVADLL_READ_FROM_FILE(h, 0, 0) == TOVA_OK) {}
  TempTree dir;
  std::u16string path = dir.Path(u"embedded.tova");
  bool written;
  Handle h;
  bool ok;
};

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

// Documents that no window derivation names are removed from every data header.
// The background scan is held at its last file call (the close) before its
// cleanup until this thread holds the document lock: the cleanup waits for it.
TEST(EmbeddedCleanup, DocumentsThatNoDerivationNamesAreRemovedUnderTheDocumentLock) {
  const struct {
    Bytes derivation;
    std::string kept;
  } rows[] = {
      {{}, "12369"},
      {Derivation({0x0601}), "13"},
      {Derivation({0x0601}, 0x0602, 39), "13"},  // a tail short of a record names nothing
      {Derivation({0x0609, 0x0602}), "239"},
      {Derivation({}, 0x0601, 20), "3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kept);
    Embedded e(row.derivation);
    ASSERT_TRUE(e.ok);
    Gate gate;
    HookFileSystem hooks;
    hooks.on_close = [&](const std::u16string&) { gate.Pause(); };
    ScopedFileSystem scoped(hooks);
    int32_t result = -1;
    std::thread scanner([&] { result = TOVADLL_READ_FROM_FILE_AFTER_FIRST(e.h, nullptr); });
    gate.AwaitPause(1);
    EXPECT_EQ(TOVADLL_LOCK(e.h), TOVA_OK);
    gate.Release(1 << 30);  // and every later close
    EXPECT_EQ(Kept(e.h), row.kept + "|12369|12369");  // the added data headers, not yet cleaned
    EXPECT_EQ(TOVADLL_UNLOCK(e.h), TOVA_OK);
    scanner.join();
    EXPECT_EQ(result, TOVA_OK);
    const std::string all = row.kept + "|" + row.kept + "|" + row.kept;
    EXPECT_EQ(Kept(e.h), all);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(e.h, 1, 0), TOVA_OK);
    EXPECT_EQ(Kept(e.h), all);
  }
}

}  // namespace
}  // namespace tova::testing
