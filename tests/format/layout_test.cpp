// The byte layout as the file reader meets it: every malformed record the
// reader rejects and the code it gives, a small file cut at every byte, the
// parsing rules of repeated and empty entry records, dataset serialisation,
// the section scan's check of untrusted lengths before it allocates, and the
// part reader's view of a chain of part files.
#include <gtest/gtest.h>

#include "catalog/catalog.h"

#include <cstring>
#include <string>
#include <vector>

#include "api/alloc_failure.h"
#include "format/layout.h"
#include "format/part_reader.h"
#include "format/reader_test_support.h"

namespace tova::reader_test {
namespace {

using testing::TempTree;

constexpr uint32_t kPixels = 8;

Bytes ValidDataset() { return Concat({GlobalHeaderSection(), DataHeaderSection(0), ImageSection(0, kPixels)}); }

// ---- what the reader rejects ------------------------------------------------

struct FileCase {
  const char* name;
  std::vector<Bytes> parts;  // main file, then continuation files 001, 002, ...
  int32_t expected;
  uint32_t datasets;              // after a successful read
  const char16_t* file = u"doc.tova";
};

std::vector<FileCase> FileCases() {
  const Bytes gh = GlobalHeaderSection();
  const Bytes dh0 = DataHeaderSection(0);
  const Bytes im0 = ImageSection(0, kPixels);
  const Bytes valid = ValidDataset();
  const Bytes second = Concat({DataHeaderSection(1), ImageSection(1, kPixels)});
  // 10 bytes whose section claims 14 data bytes: a 6-byte record, then an
  // 8-byte record 0x0111 = 4; the rest lies in part 001 when it exists.
  Bytes ten = Header(20, kGH);
  ten.insert(ten.end(), {6, 0, 0, 0});
  const Bytes rest_of_ten = Concat({{1, 0, 8, 0, 0, 0, 0x11, 0x01, 4, 0}, dh0, im0});
  return {
      {"valid dataset", {valid}, 0, 1},
      {"extension checked without regard to case", {valid}, 0, 1, u"doc.TOVA"},
      {"extension not tova", {valid}, 43, 0, u"doc.dat"},
      {"first section length 5", {Concat({Header(5, kGH), valid})}, 9, 0},
      {"first section length 0", {Concat({Header(0, kGH), valid})}, 9, 0},
      {"later section length below 6", {Concat({valid, Header(3, kDH), {0, 0, 0, 0}})}, 9, 0},
      {"section identifier 0x0300", {Concat({Section(0x0300, {Entry(0x0100, Text("x"))}), valid})}, 9, 0},
      {"unknown section after the first dataset", {Concat({valid, second, Section(0xFF03, {})})}, 9, 0},
      {"entry record length 5 in the global header", {Concat({Section(kGH, {Header(5, 0x0100)}), dh0, im0})}, 9, 0},
      {"entry record length 0 in a data header", {Concat({gh, Section(kDH, {Header(0, 0x0200)}), im0})}, 9, 0},
      {"entry record running past its section",
       {Concat({Section(kGH, {Concat({Header(20, 0x0100), Text("abcd")})}), dh0, im0})}, 9, 0},
      {"section tail too short for an entry header",
       {Concat({Section(kGH, {Entry(0x0100, Text("v1")), {1, 2, 3}}), dh0, im0})}, 9, 0},
      {"length 20 in a 10-byte file without a continuation", {ten}, 9, 0},
      {"length 20 in a 10-byte file continued in part 001", {ten, rest_of_ten}, 0, 1},
      {"section length 0xFFFFFFFF", {Concat({Header(0xFFFFFFFF, kGH), valid})}, 9, 0},
      {"image section longer than the file", {Concat({gh, dh0, Header(0x7FFFFFFF, kIM), {1, 2, 3, 4}})}, 9, 0},
      {"single trailing byte ignored", {Concat({valid, {0xAB}})}, 0, 1},
      {"two trailing bytes are a cut section header", {Concat({valid, {0x06, 0x00}})}, 9, 0},
      {"empty dataset of 18 bytes", {Concat({Section(kGH, {}), Section(kDH, {}), Section(kIM, {})})}, 50, 0},
      {"global header without entries", {Concat({Section(kGH, {}), dh0, im0})}, 50, 0},
      {"global header and data header without image", {Concat({gh, dh0})}, 50, 0},
      {"no global header", {Concat({dh0, im0})}, 50, 0},
      {"image of dataset 0 with an entry record below 6", {Concat({gh, dh0, Section(kIM, {Header(4, 0x0300)})})}, 32, 0},
      {"image of dataset 0 with an entry running past its section",
       {Concat({gh, dh0, Section(kIM, {Concat({Header(40, 0x0300), Text("abcd")})})})}, 32, 0},
      {"second dataset without its image", {Concat({valid, DataHeaderSection(1)})}, 0, 1},
      {"two datasets", {Concat({valid, second})}, 0, 2},
  };
}

TEST(ReaderRejects, EveryMalformedLayoutGivesItsCode) {
  for (const FileCase& c : FileCases()) {
    SCOPED_TRACE(c.name);
    TempTree dir;
    const std::u16string path = dir.Path(c.file);
    std::vector<uint32_t> cuts;
    Bytes all;
    for (size_t k = 0; k < c.parts.size(); ++k) {
      if (k > 0) cuts.push_back(static_cast<uint32_t>(all.size()));
      all.insert(all.end(), c.parts[k].begin(), c.parts[k].end());
    }
    ASSERT_TRUE(WriteParts(path, all, cuts));
    Handle h(OpenRead(path));
    ASSERT_TRUE(h.valid());
    EXPECT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), c.expected);
    EXPECT_EQ(NumDatasets(h), c.datasets);
    uint32_t modified = 1;
    EXPECT_EQ(TOVADLL_GET_MODIFIED(h, &modified), 0);
    EXPECT_EQ(modified, 0u);
    if (c.expected != 0) {
      // A failed read leaves no datasets behind.
      uint32_t count = 0;
      EXPECT_EQ(TOVADLL_GET_NUM_ENTRIES(h, kGH, &count), 0);
      EXPECT_EQ(count, 0u);
      EXPECT_EQ(TOVADLL_SET_CURDATASET(h, 0), 50);
    }
  }
}

TEST(ReaderRejects, AMalformedImageOfALaterDatasetFailsOnlyWhenItIsLoaded) {
  TempTree dir;
  const std::u16string path = dir.Path(u"doc.tova");
  const Bytes bad_image = Section(kIM, {Header(3, kImageData)});
  ASSERT_TRUE(WriteParts(path, Concat({ValidDataset(), DataHeaderSection(1), bad_image}), {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_EQ(NumDatasets(h), 2u);
  EXPECT_EQ(TOVADLL_SET_CURDATASET(h, 1), 32);
  EXPECT_EQ(CurDataset(h), 0u);
  EXPECT_EQ(ValueOf(h), 0u);
}

// ---- a small file cut at every byte ---------------------------------------

// The code a prefix of the recording gives: a cut on a section boundary (or
// one byte after it) reads what lies before it, 0 when that holds a dataset
// and 50 when not; a cut anywhere else leaves a section short: 9.
int32_t ExpectedForPrefix(const Recording& r, uint32_t prefix, uint32_t& datasets) {
  uint32_t boundary = 0;
  for (uint32_t end : r.ends)
    if (end <= prefix) boundary = end;
  datasets = 0;
  if (prefix - boundary > 1) return 9;
  datasets = r.DatasetsWithin(boundary);
  return datasets > 0 ? 0 : 50;
}

TEST(ReaderTruncation, EveryPrefixOfASmallFileGivesItsExactCode) {
  TempTree dir;
  const std::u16string path = dir.Path(u"cut.tova");
  const Recording r = MakeRecording(3, kPixels);
  const uint32_t total = static_cast<uint32_t>(r.bytes.size());
  for (uint32_t prefix = 0; prefix <= total; ++prefix) {
    SCOPED_TRACE(::testing::Message() << "prefix " << prefix << " of " << total);
    ASSERT_TRUE(testing::WriteFileBytes(path, r.bytes.data(), prefix));
    Handle h(OpenRead(path));
    if (prefix == 0) {
      EXPECT_FALSE(h.valid());  // an empty file is no document
      continue;
    }
    ASSERT_TRUE(h.valid());
    uint32_t datasets = 0;
    const int32_t expected = ExpectedForPrefix(r, prefix, datasets);
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), expected);
    EXPECT_TRUE(HasRecordingDatasets(h, datasets, kPixels));

    // Reading only the first dataset ignores whatever follows it.
    const bool first_complete = prefix >= r.ends[2];
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), first_complete ? 0 : expected);
    EXPECT_TRUE(HasRecordingDatasets(h, first_complete ? 1 : datasets, kPixels));
  }
}

// ---- parsing rules -----------------------------------------------------------

TEST(ReaderParsing, RepeatedIdentifiersAndEmptyRecordsInOneDataHeader) {
  TempTree dir;
  const std::u16string path = dir.Path(u"rules.tova");
  const Bytes header = Section(kDH, {Entry(kValue, U16(1)), Entry(0x0201, U16(4)), Header(6, 0x0203),
                                     Entry(kValue, U16(2)), Entry(0x0201, U16(5))});
  ASSERT_TRUE(WriteParts(path, Concat({GlobalHeaderSection(), header, ImageSection(0, kPixels)}), {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_EQ(EntryData(h, kDH, kValue), U16(1));    // first-wins identifier keeps its first value
  EXPECT_EQ(EntryData(h, kDH, 0x0201), U16(5));    // every other one its last
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, kDH, 0x0203), 33 - 2000);  // a 6-byte record is dropped
  uint32_t count = 0;
  ASSERT_EQ(TOVADLL_GET_NUM_ENTRIES(h, kDH, &count), 0);
  EXPECT_EQ(count, 2u);
}

TEST(ReaderParsing, AGlobalHeaderAfterTheFirstDatasetJoinsTheOneGlobalHeader) {
  TempTree dir;
  const std::u16string path = dir.Path(u"late.tova");
  const Bytes late = Section(kGH, {Entry(0x0101, Text("late")), Entry(0x0111, U16(9))});
  ASSERT_TRUE(WriteParts(path, Concat({ValidDataset(), late, DataHeaderSection(1), ImageSection(1, kPixels)}), {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), 0);
  EXPECT_EQ(NumDatasets(h), 2u);
  EXPECT_EQ(EntryData(h, kGH, 0x0101), Text("late"));
  EXPECT_EQ(EntryData(h, kGH, 0x0111), U16(9));
}

// ---- serialisation --------------------------------------------------------

TEST(LayoutWriteDataset, FullAndPerDatasetFormsAreTheRecordsBackToBack) {
  CTOVASection gh(TOVA_SECT_GlobalHeader, catalog::Rules()), dh(TOVA_SECT_DataHeader, catalog::Rules()),
      im(TOVA_SECT_Image, catalog::Rules());
  gh.AddEntry(0x0100, 2, "v1", StoreMode::kOverwrite);
  gh.AddEntry(0x0111, 2, U16(4).data(), StoreMode::kOverwrite);
  dh.AddEntry(0x0200, 2, U16(2).data(), StoreMode::kOverwrite);
  dh.AddEntry(kValue, 2, U16(7).data(), StoreMode::kOverwrite);
  dh.AddEntry(0x0201, 0, nullptr, StoreMode::kOverwrite);  // no data: a 6-byte record
  const Bytes pixels = Pixels(7, 10);
  im.AddEntry(kImageData, 10, pixels.data(), StoreMode::kOverwrite);
  im.AddEntry(kImageExtra, 4, "keep", StoreMode::kOverwrite);
  const format::DatasetSections s{&gh, &dh, &im};

  const Bytes full = Concat({Section(kGH, {Entry(0x0100, Text("v1")), Entry(0x0111, U16(4))}),
                             Section(kDH, {Entry(0x0200, U16(2)), Entry(kValue, U16(7)), Header(6, 0x0201)}),
                             Section(kIM, {Entry(kImageData, pixels), Entry(kImageExtra, Text("keep"))})});
  const Bytes per_dataset = Concat({Section(kDH, {Entry(kValue, U16(7))}), Section(kIM, {Entry(kImageData, pixels)})});
  for (format::DatasetForm form : {format::DatasetForm::kFull, format::DatasetForm::kPerDataset}) {
    const bool later = form == format::DatasetForm::kPerDataset;
    SCOPED_TRACE(later ? "per-dataset form" : "full form");
    const Bytes& expected = later ? per_dataset : full;
    EXPECT_EQ(format::DatasetByteCount(s, form), expected.size());
    Bytes out(expected.size() + 4, 0xEE);
    EXPECT_EQ(format::WriteDataset(s, form, out.data(), static_cast<uint32_t>(expected.size())), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    EXPECT_EQ(out[expected.size()], 0xEE);  // nothing beyond the dataset
    Bytes small(expected.size() - 1);
    EXPECT_EQ(format::WriteDataset(s, form, small.data(), static_cast<uint32_t>(small.size())), 0u);
  }
}

// ---- the scan checks untrusted lengths before it allocates ----------------

// Caller bytes as a scan source whose remaining byte count the test sets.
class ClaimSource final : public format::SectionSource {
 public:
  ClaimSource(Bytes bytes, uint64_t remaining_after_header)
      : bytes_(std::move(bytes)), remaining_(remaining_after_header) {}
  bool AtEnd() override { return pos_ + 1 >= bytes_.size(); }
  Code ReadExact(uint8_t* d, uint32_t n) override {
    RETURN_IF(n > bytes_.size() - pos_, Code::kShort);
    std::memcpy(d, bytes_.data() + pos_, n);
    pos_ += n;
    return Code::kOk;
  }
  Code Skip(uint32_t n) override {
    ++skips;
    RETURN_IF(n > bytes_.size() - pos_, Code::kShort);
    pos_ += n;
    return Code::kOk;
  }
  uint64_t BytesRemaining() override { return remaining_; }
  void Where(uint16_t& part, uint32_t& offset) override {
    part = 0;
    offset = static_cast<uint32_t>(pos_);
  }
  int skips = 0;

 private:
  Bytes bytes_;
  size_t pos_ = 0;
  uint64_t remaining_;
};

class OneSectionSink final : public format::SectionSink {
 public:
  Code Begin(const format::SectionMeeting&, bool& take) override {
    take = parse;
    return Code::kOk;
  }
  Code Parse(uint16_t, const uint8_t* data, uint32_t size) override { return section.ReadSection(data, size); }
  format::ScanControl End(uint16_t) override { return format::ScanControl::kGoOn; }
  bool parse = true;
  CTOVASection section{TOVA_SECT_DataHeader, catalog::Rules()};
};

TEST(LayoutScan, ALengthTheDataCannotHoldIsShortWithoutAnyAllocation) {
  for (bool parse : {true, false}) {
    ClaimSource source(Concat({Header(0x7FFFFFFF, kGH), Entry(0x0100, Text("v1"))}), 8);
    OneSectionSink sink;
    sink.parse = parse;
    bool allocated = true;
    const auto rc = tova_test::WithFailingAllocation(0, allocated, [&] { return format::ScanSections(source, sink); });
    EXPECT_EQ(rc, 11);
    EXPECT_FALSE(allocated) << "the scan allocated for a section the data cannot hold";
    EXPECT_EQ(source.skips, 0);
  }
  // A length the data can hold is allocated once, exactly; a failure is 3.
  ClaimSource source(Section(kGH, {Entry(0x0100, Text("v1"))}), 8);
  OneSectionSink sink;
  bool allocated = false;
  EXPECT_EQ(tova_test::WithFailingAllocation(0, allocated, [&] { return format::ScanSections(source, sink); }), 3);
  EXPECT_TRUE(allocated);
  EXPECT_EQ(sink.section.Count(), 0u);
}

TEST(LayoutScan, SectionLengthBelowSixAndMalformedEntriesStopTheScan) {
  struct Row {
    Bytes bytes;
    int32_t expected;
  };
  const Row rows[] = {
      {Header(5, kGH), 23},
      {Concat({Section(kGH, {}), Header(0, kDH)}), 23},
      {Concat({Section(kGH, {Header(5, 1)})}), 32},
      {Concat({Section(kGH, {}), {7}}), 0},
  };
  for (const Row& row : rows) {
    ClaimSource source(row.bytes, row.bytes.size());
    OneSectionSink sink;
    EXPECT_EQ(format::ScanSections(source, sink), row.expected);
  }
}

// ---- the part reader ----------------------------------------------------

TEST(LayoutPartReader, RemainingBytesCountTheContinuationFilesThatExist) {
  TempTree dir;
  const std::u16string path = dir.Path(u"p.tova");
  const Bytes stream(25, 0x5A);
  ASSERT_TRUE(WriteParts(path, stream, {10, 20}));
  PartLimitScope limit(10);
  format::PartReader reader(path);
  ASSERT_EQ(reader.Open(0, 4), 0);
  EXPECT_EQ(reader.BytesRemaining(), 21u);
  uint8_t buf[16];
  ASSERT_EQ(reader.ReadExact(buf, 6), 0);  // to the end of the main file
  uint16_t part = 9;
  uint32_t offset = 0;
  reader.Where(part, offset);
  EXPECT_EQ(part, 0u);
  EXPECT_EQ(offset, 10u);  // at the end of the part, not yet in the next
  EXPECT_FALSE(reader.AtEnd());  // the part is full and 001 exists
  ASSERT_EQ(reader.ReadExact(buf, 12), 0);  // across 001 into 002
  reader.Where(part, offset);
  EXPECT_EQ(part, 2u);
  EXPECT_EQ(offset, 2u);
  EXPECT_EQ(reader.BytesRemaining(), 3u);
  EXPECT_EQ(reader.ReadExact(buf, 4), 11);

  // Without the continuation files the main file is all there is.
  ASSERT_TRUE(WriteParts(path, Bytes(10, 1), {}));
  format::PartReader alone(path);
  ASSERT_EQ(alone.Open(0, 9), 0);
  EXPECT_EQ(alone.BytesRemaining(), 1u);
  EXPECT_TRUE(alone.AtEnd());
  format::PartReader missing(path);
  EXPECT_EQ(missing.Open(3, 0), 10);
}

TEST(LayoutPartReader, APartBelowTheLimitEndsTheDocumentAtItsLastTwoBytes) {
  TempTree dir;
  const std::u16string path = dir.Path(u"q.tova");
  ASSERT_TRUE(WriteParts(path, Bytes(20, 2), {10}));
  for (uint32_t limit : {11u, 10u}) {
    PartLimitScope scoped(limit);
    format::PartReader reader(path);
    ASSERT_EQ(reader.Open(0, 9), 0);
    EXPECT_EQ(reader.AtEnd(), limit > 10) << "limit " << limit;
  }
  // A full part followed by an empty one ends the document too.
  ASSERT_TRUE(WriteParts(path, Bytes(10, 2), {10}));
  PartLimitScope scoped(10);
  format::PartReader reader(path);
  ASSERT_EQ(reader.Open(0, 10), 0);
  EXPECT_TRUE(reader.AtEnd());
}

}  // namespace
}  // namespace tova::reader_test
