// Reading documents across their part files and loading images: every cut
// position of a small recording at a lowered part size limit, a sparse main
// file at the real limit whose image data are never read, the bytes an open
// reads, the image loader's choice of part, offset and failures, file-layer
// faults during a read, read-write documents that read through the part they
// append to, and the reload of the image when dataset 0 is removed.
#include <gtest/gtest.h>

#include "model/document_files.h"

#include <memory>
#include <string>
#include <vector>

#include "api/alloc_failure.h"
#include "format/reader_test_support.h"
#include "progress/progress_test_support.h"
#include "support/fault_file_system.h"

namespace tova::reader_test {
namespace {

using testing::FaultFileSystem;
using testing::FsOp;
using testing::ScopedFileSystem;
using testing::TempTree;

constexpr uint32_t kPixels = 8;

// ---- every cut position ------------------------------------------------------

TEST(ReaderParts, EveryCutPositionReadsBackEveryDatasetAndImage) {
  TempTree dir;
  const std::u16string path = dir.Path(u"cut.tova");
  const Recording r = MakeRecording(4, kPixels);
  const uint32_t total = static_cast<uint32_t>(r.bytes.size());
  // Parts of `limit` bytes each, as the writer cuts them: with limit 1 every
  // length field and identifier is split, and every section boundary falls
  // on the end of a full part for some limit.
  for (uint32_t limit = 1; limit <= total; ++limit) {
    SCOPED_TRACE(::testing::Message() << "limit " << limit << " of " << total);
    PartLimitScope scoped(limit);
    ASSERT_TRUE(WriteParts(path, r.bytes, CutsEvery(limit, total)));
    Handle h(OpenRead(path));
    ASSERT_TRUE(h.valid());
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
    ASSERT_TRUE(HasRecordingDatasets(h, 4, kPixels));
    // The first dataset alone, then the rest indexed by the background scan.
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), 0);
    EXPECT_EQ(NumDatasets(h), 1u);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), 0);
    ASSERT_TRUE(HasRecordingDatasets(h, 4, kPixels));
  }
}

TEST(ReaderParts, EachImageIsFoundInThePartWhereItsHeaderEnds) {
  TempTree dir;
  const std::u16string path = dir.Path(u"index.tova");
  const Recording r = MakeRecording(3, kPixels);
  const uint32_t im1 = r.starts[4];  // dataset 1's image section
  // Cut inside the length field, inside the identifier, right after the
  // header (the data begin in the next part) and inside the entry data.
  for (uint32_t cut : {im1 + 2, im1 + 5, im1 + 6, im1 + 9}) {
    SCOPED_TRACE(::testing::Message() << "cut at " << cut);
    PartLimitScope scoped(cut);
    ASSERT_TRUE(WriteParts(path, r.bytes, {cut}));
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
    const TTOVASectInfo info = Doc(h)->image_index[1];
    const bool header_in_main = cut >= im1 + 6;
    EXPECT_EQ(info.part_number, header_in_main ? 0u : 1u);
    EXPECT_EQ(info.data_offset, header_in_main ? im1 + 6 : im1 + 6 - cut);
    EXPECT_EQ(info.data_size, r.ends[4] - r.starts[4] - 6);
    EXPECT_TRUE(HasRecordingDatasets(h, 3, kPixels));
  }
}

TEST(ReaderParts, APartBelowTheLimitEndsTheDocumentEvenWhenAContinuationExists) {
  TempTree dir;
  const std::u16string path = dir.Path(u"short.tova");
  const Recording r = MakeRecording(2, kPixels);
  const uint32_t first = r.DatasetStart(1);
  ASSERT_TRUE(WriteParts(path, r.bytes, {first}));
  PartLimitScope scoped(first + 10);
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_TRUE(HasRecordingDatasets(h, 1, kPixels));
}

// A single-dataset memory document that the writer accepts after any other
// made here; the value goes into 0x0231 and the image.
uint64_t MakeSource(uint16_t value, uint32_t pixel_bytes) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(1, 2, 0x0100);
  const char device[] = "CAM-ID: 7";
  TOVADLL_SET_ENTRY(h, kGH, 0x0110, sizeof device, device);
  for (uint16_t id : {0x0111, 0x0112}) TOVADLL_SET_ENTRY(h, kGH, id, 2, U16(4).data());
  for (uint16_t id : {0x0201, 0x0202}) TOVADLL_SET_ENTRY(h, kDH, id, 2, U16(4).data());
  TOVADLL_SET_ENTRY(h, kDH, 0x0244, 2, U16(3).data());
  TOVADLL_SET_ENTRY(h, kDH, kValue, 2, U16(value).data());
  const Bytes pixels = Pixels(value, pixel_bytes);
  TOVADLL_SET_ENTRY(h, kIM, kImageData, pixel_bytes, pixels.data());
  return h;
}

int32_t Append(uint64_t target, uint16_t value, uint32_t pixel_bytes = kPixels) {
  Handle source(MakeSource(value, pixel_bytes));
  return TOVADLL_ADD_TOVA(target, source, 0);
}

::testing::AssertionResult HasValues(uint64_t h, const std::vector<uint16_t>& values) {
  if (NumDatasets(h) != values.size()) return ::testing::AssertionFailure() << NumDatasets(h) << " datasets";
  for (uint32_t i = 0; i < values.size(); ++i) {
    if (int32_t rc = TOVADLL_SET_CURDATASET(h, i)) return ::testing::AssertionFailure() << "dataset " << i << ": " << rc;
    if (ValueOf(h) != values[i] || EntryData(h, kIM, kImageData) != Pixels(values[i], kPixels))
      return ::testing::AssertionFailure() << "dataset " << i << " differs";
  }
  return ::testing::AssertionSuccess();
}

TEST(ReaderParts, AWriterFileFilledExactlyToTheLimitGoesOnInItsContinuation) {
  TempTree dir;
  const std::u16string path = dir.Path(u"exact.tova");
  uint32_t first_size = 0;
  {
    Handle source(MakeSource(0, kPixels));
    ASSERT_EQ(TOVADLL_GET_BUFFERSIZE(source, &first_size), 0);
  }
  // The first dataset fills the main file to the limit, ending on a section
  // boundary; the writer starts the next dataset in part 001.
  PartLimitScope scoped(first_size);
  {
    Handle w(TOVADLL_OPEN_FILE_WRITE_UC(W(path).c_str(), 0));
    ASSERT_TRUE(w.valid());
    for (uint16_t v : {0, 1, 2}) ASSERT_EQ(Append(w, v), 0);
  }
  ASSERT_EQ(testing::ReadFileBytes(path).size(), first_size);
  ASSERT_TRUE(testing::PathExists(PartFileName(path, 1)));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_TRUE(HasValues(h, {0, 1, 2}));
}

TEST(ReaderParts, AReadWriteDocumentReadsImagesThroughThePartItHoldsOpen) {
  TempTree dir;
  const std::u16string path = dir.Path(u"rw.tova");
  uint32_t first_size = 0;
  {
    Handle source(MakeSource(0, kPixels));
    ASSERT_EQ(TOVADLL_GET_BUFFERSIZE(source, &first_size), 0);
  }
  for (uint32_t limit : {7u, first_size - 3, first_size, first_size + 5, 1000000u}) {
    SCOPED_TRACE(::testing::Message() << "limit " << limit);
    PartLimitScope scoped(limit);
    {
      Handle rw(TOVADLL_OPEN_FILE_READWRITE_UC(W(path).c_str(), 0));
      ASSERT_TRUE(rw.valid());
      for (uint16_t v : {0, 1, 2, 3}) ASSERT_EQ(Append(rw, v), 0);
      EXPECT_TRUE(HasValues(rw, {0, 1, 2, 3}));
      // Appending after reading goes on at the end of the held part.
      ASSERT_EQ(Append(rw, 4), 0);
      EXPECT_TRUE(HasValues(rw, {0, 1, 2, 3, 4}));
    }
    {
      // Reopened for appending, the existing datasets are read from the file.
      Handle rw(TOVADLL_OPEN_FILE_READWRITE_UC(W(path).c_str(), 1));
      ASSERT_TRUE(rw.valid());
      ASSERT_EQ(Append(rw, 5), 0);
      EXPECT_TRUE(HasValues(rw, {0, 1, 2, 3, 4, 5}));
    }
    Handle h(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
    EXPECT_TRUE(HasValues(h, {0, 1, 2, 3, 4, 5}));
  }
}

// ---- the real limit, on a sparse file ---------------------------------

// A main file of exactly the real part size limit whose dataset 1 image
// spans almost all of it, unwritten (a hole), and a dataset 2 that ends the
// main file (`split` bytes of its first section header) and goes on in part 001.
void RealLimitRecording(uint32_t split) {
  TempTree dir;
  const std::u16string path = dir.Path(u"big.tova");
  const uint64_t limit = format::kPartSizeLimit;
  const Bytes before = Concat({GlobalHeaderSection(), DataHeaderSection(0), ImageSection(0, kPixels),
                               DataHeaderSection(1)});
  const uint64_t image_end = limit - split;
  const uint64_t image_data = image_end - before.size() - 6;
  const Bytes head = Concat({before, Header(static_cast<uint32_t>(image_data + 6), kIM)});
  const Bytes tail = Concat({DataHeaderSection(2), ImageSection(2, kPixels)});

  if (!testing::MakeFileOfSize(path, limit)) GTEST_SKIP() << "the file system cannot hold a 2 GiB sparse file";
  {
    auto file = platform::GetFileSystem().Open(path, platform::OpenMode::WriteExisting);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Write(head.data(), static_cast<uint32_t>(head.size())));
    if (split > 0) {
      ASSERT_TRUE(file->Seek(image_end));
      ASSERT_TRUE(file->Write(tail.data(), split));
    }
    ASSERT_TRUE(file->Close());
  }
  ASSERT_TRUE(testing::WriteFileBytes(PartFileName(path, 1), tail.data() + split, tail.size() - split));
  uint64_t size = 0;
  ASSERT_TRUE(platform::GetFileSystem().Size(path, size));
  ASSERT_EQ(size, limit);

  FaultFileSystem fs;
  ScopedFileSystem scoped(fs);
  Handle h(OpenRead(path));
  ASSERT_TRUE(h.valid());
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_EQ(NumDatasets(h), 3u);
  EXPECT_LT(fs.BytesRead(), 4096u) << "the scan read image data";
  const TTOVASectInfo info = Doc(h)->image_index[2];
  EXPECT_EQ(info.part_number, 1u);
  EXPECT_EQ(info.data_offset, DataHeaderSection(2).size() - split + 6);

  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 2), 0);
  EXPECT_EQ(ValueOf(h), 2u);
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(2, kPixels));
  ASSERT_EQ(TOVADLL_SET_CURDATASET_EX(h, 1, 0), 0);  // dataset 1's header without its image
  EXPECT_EQ(ValueOf(h), 1u);

  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), 0);
  ASSERT_EQ(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), 0);
  EXPECT_EQ(NumDatasets(h), 3u);
  EXPECT_LT(fs.BytesRead(), 8192u);
}

TEST(ReaderRealLimit, AMainFileEndingOnASectionBoundaryAtTheLimitIsContinued) { RealLimitRecording(0); }

TEST(ReaderRealLimit, ASectionHeaderSplitThreeBytesBeforeTheLimitIsReassembled) { RealLimitRecording(3); }

// ---- what an open reads --------------------------------------------------

TEST(ReaderBytes, OpeningARecordingReadsNoImageButTheFirstAndLoadingReadsOnlyTheAskedOne) {
  TempTree dir;
  const std::u16string path = dir.Path(u"rec.tova");
  constexpr uint32_t kBig = 1024;
  const Recording r = MakeRecording(100, kBig);
  ASSERT_TRUE(WriteParts(path, r.bytes, {}));
  uint64_t later_images = 0;
  for (size_t s = 0; s < r.ids.size(); ++s)
    if (r.ids[s] == kIM && s != 2) later_images += r.ends[s] - r.starts[s] - 6;  // all but dataset 0's

  FaultFileSystem fs;
  ScopedFileSystem scoped(fs);
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_EQ(NumDatasets(h), 100u);
  EXPECT_LE(fs.BytesRead(), r.bytes.size() - later_images);
  const uint64_t after_open = fs.BytesRead();
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 57), 0);
  EXPECT_EQ(fs.BytesRead() - after_open, kBig + 6u);  // exactly dataset 57's image section data
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(57, kBig));
}

// ---- the image loader ----------------------------------------------------

TEST(ReaderImageLoader, LaterImagesKeepDatasetZerosOtherEntriesAndClearTheModifiedState) {
  TempTree dir;
  const std::u16string path = dir.Path(u"img.tova");
  const Recording r = MakeRecording(6, kPixels);
  ASSERT_TRUE(WriteParts(path, r.bytes, {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  void* data = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, kIM, kImageData, &data, &size, 1), 0);
  uint32_t modified = 0;
  ASSERT_EQ(TOVADLL_GET_MODIFIED(h, &modified), 0);
  ASSERT_EQ(modified, 1u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 5), 0);
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(5, kPixels));
  EXPECT_EQ(EntryData(h, kIM, kImageExtra), ExtraImageBytes());
  ASSERT_EQ(TOVADLL_GET_MODIFIED(h, &modified), 0);
  EXPECT_EQ(modified, 0u);
}

// A recording whose datasets 2 and 3 lie in continuation file 001 and whose
// dataset 3 image begins in 001; dataset 1 is current.
struct SplitRecording {
  TempTree dir;
  std::u16string path = dir.Path(u"split.tova");
  Recording r = MakeRecording(4, kPixels);
  std::unique_ptr<PartLimitScope> limit;
  std::unique_ptr<Handle> h;

  ::testing::AssertionResult Open() {
    const uint32_t cut = r.DatasetStart(2);
    limit = std::make_unique<PartLimitScope>(cut);
    if (!WriteParts(path, r.bytes, {cut})) return ::testing::AssertionFailure() << "cannot write";
    h = std::make_unique<Handle>(OpenRead(path));
    if (TOVADLL_READ_FROM_FILE(*h, 1, 0) != 0 || TOVADLL_SET_CURDATASET(*h, 1) != 0)
      return ::testing::AssertionFailure() << "cannot read";
    return ::testing::AssertionSuccess();
  }
  // Dataset 1 is still current with its image.
  ::testing::AssertionResult Unchanged() {
    if (CurDataset(*h) != 1) return ::testing::AssertionFailure() << "current dataset " << CurDataset(*h);
    if (EntryData(*h, kIM, kImageData) != Pixels(1, kPixels)) return ::testing::AssertionFailure() << "image changed";
    return ::testing::AssertionSuccess();
  }
};

TEST(ReaderImageLoader, AMissingPartIsTenATruncatedOneElevenAndNothingChanges) {
  SplitRecording s;
  ASSERT_TRUE(s.Open());
  const std::u16string part1 = PartFileName(s.path, 1);
  const Bytes whole = testing::ReadFileBytes(part1);

  // Cut inside dataset 3's image data.
  ASSERT_TRUE(testing::WriteFileBytes(part1, whole.data(), s.r.ends.back() - s.r.DatasetStart(2) - 3));
  EXPECT_EQ(TOVADLL_SET_CURDATASET(*s.h, 3), 11);
  EXPECT_TRUE(s.Unchanged());
  EXPECT_EQ(TOVADLL_SET_CURDATASET(*s.h, 2), 0);  // dataset 2 is whole
  ASSERT_EQ(TOVADLL_SET_CURDATASET(*s.h, 1), 0);

  ASSERT_TRUE(platform::GetFileSystem().Delete(part1));
  EXPECT_EQ(TOVADLL_SET_CURDATASET(*s.h, 3), 10);
  EXPECT_TRUE(s.Unchanged());
}

TEST(ReaderImageLoader, FileLayerFailuresNeverFillTheImageWithUnreadBytes) {
  struct Row {
    FsOp op;
    int32_t expected;
  };
  for (const Row& row : {Row{FsOp::Open, 10}, Row{FsOp::Read, 11}, Row{FsOp::Seek, 11}, Row{FsOp::Size, 11}}) {
    SCOPED_TRACE(static_cast<int>(row.op));
    SplitRecording s;
    ASSERT_TRUE(s.Open());
    FaultFileSystem fs;
    ScopedFileSystem scoped(fs);
    fs.FailAlways(row.op);
    EXPECT_EQ(TOVADLL_SET_CURDATASET(*s.h, 3), row.expected);
    EXPECT_TRUE(s.Unchanged());
    fs.Clear();
    EXPECT_EQ(TOVADLL_SET_CURDATASET(*s.h, 3), 0);
    EXPECT_EQ(EntryData(*s.h, kIM, kImageData), Pixels(3, kPixels));
  }
  // A read that fails part-way through the pixels leaves no mix of two frames.
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    SplitRecording s;
    ASSERT_TRUE(s.Open());
    FaultFileSystem fs;
    ScopedFileSystem scoped(fs);
    fs.FailNth(FsOp::Read, n);
    if (TOVADLL_SET_CURDATASET(*s.h, 3) != 0) EXPECT_TRUE(s.Unchanged());
  }
}

// ---- file-layer faults during a read ---------------------------------------

TEST(ReaderFaults, AFailingFileCallNeverGivesASuccessfulReadOfLessThanTheDocument) {
  TempTree dir;
  const std::u16string path = dir.Path(u"faults.tova");
  const Recording r = MakeRecording(8, kPixels);
  // The main file ends on a section boundary at the limit, the later parts
  // elsewhere.
  const uint32_t limit = r.DatasetStart(1);
  PartLimitScope scoped_limit(limit);
  ASSERT_TRUE(WriteParts(path, r.bytes, CutsEvery(limit, r.bytes.size())));
  ASSERT_GE(CutsEvery(limit, r.bytes.size()).size(), 2u);

  for (FsOp op : {FsOp::Open, FsOp::Read, FsOp::Seek, FsOp::Size}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(::testing::Message() << "op " << static_cast<int>(op) << " call " << n);
      ASSERT_LT(n, 500);
      FaultFileSystem fs;
      ScopedFileSystem scoped(fs);
      Handle h(OpenRead(path));
      ASSERT_TRUE(h.valid());
      fs.ResetCounters();
      fs.FailNth(op, n);
      const int32_t rc = TOVADLL_READ_FROM_FILE(h, 1, 0);
      const bool hit = fs.Count(op) >= n;
      fs.Clear();
      if (rc == 0) {
        // Only a failure the read could do without (a size asked twice) may
        // pass; the document is then whole.
        EXPECT_TRUE(op == FsOp::Size || !hit) << "a failed call was reported as success";
        EXPECT_TRUE(HasRecordingDatasets(h, 8, kPixels));
      } else {
        EXPECT_TRUE(hit);
        EXPECT_TRUE(rc == 9 || rc == 10 || rc == 11) << rc;
        EXPECT_EQ(NumDatasets(h), 0u);
      }
      if (!hit) break;
    }
  }
}

TEST(ReaderFaults, RunningOutOfMemoryAnywhereInAReadLeavesTheDocumentEmpty) {
  TempTree dir;
  const std::u16string path = dir.Path(u"oom.tova");
  const Recording r = MakeRecording(4, kPixels);
  const uint32_t limit = r.DatasetStart(2) + 3;
  PartLimitScope scoped_limit(limit);
  ASSERT_TRUE(WriteParts(path, r.bytes, CutsEvery(limit, r.bytes.size())));
  testing::FakeWindowLog log;
  testing::FakeWindowFactory factory(log);
  for (uint32_t show : {0u, 1u}) {
    Handle h(OpenRead(path));
    for (long skip = 0;; ++skip) {
      SCOPED_TRACE(::testing::Message() << "show " << show << ", allocation " << skip + 1);
      ASSERT_LT(skip, 2000);
      bool hit = false;
      const auto rc = tova_test::WithFailingAllocation(skip, hit, [&] { return TOVADLL_READ_FROM_FILE(h, 1, show); });
      if (!hit) {
        ASSERT_EQ(rc, 0);
        EXPECT_TRUE(HasRecordingDatasets(h, 4, kPixels));
        break;
      }
      // 9 from the scan; 3, 10, 11 or 30 when dataset 0's image cannot be loaded.
      EXPECT_TRUE(rc == 3 || rc == 9 || rc == 10 || rc == 11 || rc == 30) << rc;
      EXPECT_EQ(NumDatasets(h), 0u);
    }
  }
}

TEST(ReaderFaults, RunningOutOfMemoryInTheBackgroundScanKeepsACoherentDocument) {
  TempTree dir;
  const std::u16string path = dir.Path(u"oom_bg.tova");
  const Recording r = MakeRecording(5, kPixels);
  ASSERT_TRUE(WriteParts(path, r.bytes, {}));
  Handle h(OpenRead(path));
  for (long skip = 0;; ++skip) {
    SCOPED_TRACE(::testing::Message() << "allocation " << skip + 1);
    ASSERT_LT(skip, 2000);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), 0);
    bool hit = false;
    const int32_t rc =
        tova_test::WithFailingAllocation(skip, hit, [&] { return TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr); });
    if (!hit) {
      ASSERT_EQ(rc, 0);
      EXPECT_TRUE(HasRecordingDatasets(h, 5, kPixels));
      break;
    }
    EXPECT_EQ(rc, 9);
    EXPECT_TRUE(HasRecordingDatasets(h, NumDatasets(h), kPixels));
  }
}

// ---- the progress dialog of a read ----------------------------------------

TEST(ReaderProgress, CancelInTheDialogLeavesTheDocumentEmpty) {
  TempTree dir;
  const std::u16string path = dir.Path(u"progress.tova");
  const Recording r = MakeRecording(20, kPixels);
  ASSERT_TRUE(WriteParts(path, r.bytes, {}));
  testing::FakeCounter counter(1000);
  HookFileSystem hooks(platform::SystemFileSystem());
  hooks.on_read = [&](const std::u16string&, uint64_t) { counter.Advance(5000); };  // 5 s per read
  ScopedFileSystem scoped(hooks);
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "not cancelled");
    testing::FakeWindowLog log;
    log.cancel_pressed = cancel;
    testing::FakeWindowFactory factory(log);
    Handle h(OpenRead(path));
    EXPECT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 1), cancel ? 8 : 0);
    EXPECT_EQ(NumDatasets(h), cancel ? 0u : 20u);
    EXPECT_EQ(log.windows_made, 1);
    EXPECT_EQ(log.Count("Destroy"), 1);  // the dialog is gone after the read
    if (!cancel) {
      ASSERT_FALSE(log.texts.empty());
      EXPECT_NE(log.texts.back().find(u"Analysing"), std::u16string::npos);
    }
  }
  // Without show-progress there is no dialog.
  testing::FakeWindowLog log;
  testing::FakeWindowFactory factory(log);
  Handle h(OpenRead(path));
  EXPECT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_EQ(log.windows_made, 0);
}

// ---- removing dataset 0 reloads the image ---------------------------------

TEST(ReaderRemoveDataset, RemovingTheCurrentFirstDatasetLoadsTheImageOfTheNewFirst) {
  TempTree dir;
  const std::u16string path = dir.Path(u"remove.tova");
  const Recording r = MakeRecording(3, kPixels);
  ASSERT_TRUE(WriteParts(path, r.bytes, {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(h, 0), 0);
  EXPECT_EQ(NumDatasets(h), 2u);
  EXPECT_EQ(CurDataset(h), 0u);
  EXPECT_EQ(ValueOf(h), 1u);
  EXPECT_EQ(EntryData(h, kIM, kImageData), Pixels(1, kPixels));
  EXPECT_EQ(EntryData(h, kDH, 0x0200), U16(2));  // inherited from the removed first data header

  const std::u16string rw_path = dir.Path(u"remove_rw.tova");
  Handle rw(TOVADLL_OPEN_FILE_READWRITE_UC(W(rw_path).c_str(), 0));
  ASSERT_TRUE(rw.valid());
  for (uint16_t v : {10, 11, 12}) ASSERT_EQ(Append(rw, v), 0);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(rw, 0), 0);
  ASSERT_EQ(TOVADLL_REMOVE_DATASET(rw, 0), 0);
  EXPECT_EQ(ValueOf(rw), 11u);
  EXPECT_EQ(EntryData(rw, kIM, kImageData), Pixels(11, kPixels));
}

}  // namespace
}  // namespace tova::reader_test
