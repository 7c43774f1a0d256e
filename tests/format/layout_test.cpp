// The byte layout and dataset buffers: malformed records and documents in every
// reader, every prefix of a file or buffer, repeated and empty records, the
// scan's check of lengths before it allocates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

#include "catalog/catalog.h"
#include "format/layout.h"
#include "format/part_reader.h"
#include "support/alloc_failure.h"
#include "support/documents.h"

namespace tova::testing {
namespace {

using tova_test::WithFailingAllocation;

constexpr uint32_t kPixels = 8;
constexpr int32_t kSkip = INT32_MIN;  // the row says nothing about this reader

Bytes Dataset0() { return Concat({GlobalHeaderSection(), DataHeaderSection(0), ImageSection(0, kPixels)}); }

struct Malformed {
  const char* name;
  Bytes records;   // entry records of dataset 0's data header, when the parser has a code; else
  Bytes document;  // a whole document (file) and buffer
  int32_t section, file, buffer;  // the parser's, the file reader's and the buffer reader's codes
  uint32_t datasets;              // after a successful file read
};

std::vector<Malformed> Table() {
  const Bytes good = Entry(0x0201, U16(4));
  const Bytes gh = GlobalHeaderSection(), dh0 = DataHeaderSection(0), im0 = ImageSection(0, kPixels);
  const Bytes valid = Dataset0(), second = Concat({DataHeaderSection(1), ImageSection(1, kPixels)});
  Bytes ten = Concat({Header(20, kGH), {6, 0, 0, 0}});  // claims 14 data bytes, holds 4
  std::vector<Malformed> rows = {
      {"no records", {}, {}, TOVA_OK, TOVA_OK, TOVA_OK, 1},
      {"a 6-byte record is dropped", Concat({Header(6, 0x0203), good}), {}, TOVA_OK, TOVA_OK, TOVA_OK, 1},
      {"record ending exactly at the end", Concat({good, Entry(0x0203, {3})}), {}, TOVA_OK, TOVA_OK, TOVA_OK, 1},
      {"first section length 5", {}, Concat({Header(5, kGH), valid}), kSkip, TOVA_ERR_READ, TOVA_ERR_SECTION_SHORT, 0},
      {"section length 0 after a section", {}, Concat({gh, Header(0, kDH), {0, 0}}), kSkip, TOVA_ERR_READ,
       TOVA_ERR_SECTION_SHORT, 0},
      {"later section length below 6 after a dataset", {}, Concat({valid, Header(3, kDH), {0, 0, 0, 0}}), kSkip,
       TOVA_ERR_READ, TOVA_OK, 0},
      {"section identifier 0x0300", {}, Concat({Section(0x0300, {Entry(0x0100, Text("x"))}), valid}), kSkip,
       TOVA_ERR_READ, TOVA_ERR_SECTION_ID, 0},
      {"unknown section after two datasets", {}, Concat({valid, second, Section(0xFF03, {})}), kSkip, TOVA_ERR_READ,
       TOVA_OK, 0},
      {"global header record length 5", {}, Concat({Section(kGH, {Header(5, 0x0100)}), dh0, im0}), kSkip,
       TOVA_ERR_READ, TOVA_ERR_RECORD, 0},
      {"length 20 in a 10-byte document", {}, ten, kSkip, TOVA_ERR_READ, TOVA_ERR_SHORT, 0},
      {"length all ones", {}, Concat({Header(0xFFFFFFFF, kGH), valid}), kSkip, TOVA_ERR_READ, TOVA_ERR_SHORT, 0},
      {"image section longer than the document", {}, Concat({gh, dh0, Header(0x7FFFFFFF, kIM), {1, 2, 3, 4}}), kSkip,
       TOVA_ERR_READ, TOVA_ERR_SHORT, 0},
      {"single trailing byte ignored", {}, Concat({valid, {0xAB}}), kSkip, TOVA_OK, TOVA_OK, 1},
      {"two trailing bytes are a cut section header", {}, Concat({valid, {6, 0}}), kSkip, TOVA_ERR_READ, TOVA_OK, 0},
      {"three empty sections", {}, Concat({Section(kGH, {}), Section(kDH, {}), Section(kIM, {})}), kSkip,
       TOVA_ERR_DATASET, TOVA_OK, 0},
      {"global header without entries", {}, Concat({Section(kGH, {}), dh0, im0}), kSkip, TOVA_ERR_DATASET, TOVA_OK, 0},
      {"no image section", {}, Concat({gh, dh0}), kSkip, TOVA_ERR_DATASET, TOVA_OK, 0},
      {"no global header", {}, Concat({dh0, im0}), kSkip, TOVA_ERR_DATASET, TOVA_OK, 0},
      {"image record length 4", {}, Concat({gh, dh0, Section(kIM, {Header(4, kImageData)})}), kSkip, TOVA_ERR_RECORD,
       TOVA_ERR_RECORD, 0},
      {"image record past its section", {}, Concat({gh, dh0, Section(kIM, {Header(40, kImageData), Text("abcd")})}),
       kSkip, TOVA_ERR_RECORD, TOVA_ERR_RECORD, 0},
      {"second dataset without its image", {}, Concat({valid, DataHeaderSection(1)}), kSkip, TOVA_OK, TOVA_OK, 1},
      {"two datasets", {}, Concat({valid, second}), kSkip, TOVA_OK, TOVA_OK, 2},
  };
  // Entry records the parser refuses: so does every reader.
  for (const auto& [name, records] : {std::pair{"a one-byte tail", Concat({good, {7}})},
                                      {"record length 0", Header(0, 0x0202)},
                                      {"record length 5", Concat({good, Header(5, 0x0202)})},
                                      {"record past its section", Concat({good, Header(9, 0x0202), {1, 2}})},
                                      {"record length all ones", Concat({good, Header(0xFFFFFFFF, 0x0202), {1}})},
                                      {"tail short of a record header", Concat({good, {7, 0, 0, 0, 2}})}})
    rows.push_back({name, records, {}, TOVA_ERR_RECORD, TOVA_ERR_READ, TOVA_ERR_RECORD, 0});
  return rows;
}

TEST(Layout, EveryMalformedRecordAndDocumentGivesItsCodeInEveryReader) {
  TempTree dir;
  const std::u16string path = dir.Path(u"doc.tova");
  for (const Malformed& row : Table()) {
    SCOPED_TRACE(row.name);
    const Bytes document = row.section == kSkip ? row.document
                                               : Concat({GlobalHeaderSection(), Entry(kDH, row.records),
                                                         ImageSection(0, kPixels)});
    if (row.section != kSkip) {
      // Exactly the block's size on the heap, so that a read beyond it is caught.
      std::unique_ptr<uint8_t[]> block(new uint8_t[row.records.size()]);
      std::copy(row.records.begin(), row.records.end(), block.get());
      CTOVASection s(kDH, catalog::Rules());
      EXPECT_EQ(ToInt(s.ReadSection(block.get(), static_cast<uint32_t>(row.records.size()))), row.section);
    }
    ASSERT_TRUE(WriteParts(path, document, {}));
    Handle h(OpenRead(path));
    EXPECT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), row.file);
    EXPECT_EQ(NumDatasets(h), row.datasets);
    EXPECT_EQ(Modified(h), 0u);
    if (row.file != TOVA_OK) EXPECT_EQ(EntryData(h, kGH, 0x0100), Bytes());  // a failed read leaves nothing behind
    std::unique_ptr<uint8_t[]> copy(new uint8_t[document.size()]);
    std::memcpy(copy.get(), document.data(), document.size());
    Handle b(TOVADLL_OPEN_FILE_READ_BUFFER());
    EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(b, copy.get(), static_cast<uint32_t>(document.size())), row.buffer);
  }
}

// A cut on a section boundary (or one byte after it) reads what lies before it:
// from a file TOVA_OK with a dataset, TOVA_ERR_DATASET without; any other cut
// leaves a section short. A buffer, on the heap at exactly its length, is read
// up to the first image.
TEST(Layout, EveryPrefixOfASmallFileOrBufferGivesItsExactCode) {
  TempTree dir;
  const std::u16string path = dir.Path(u"cut.tova");
  const Recording r = MakeRecording(3, kPixels);
  for (uint32_t prefix = 0; prefix <= r.bytes.size(); ++prefix) {
    SCOPED_TRACE(::testing::Message() << "prefix " << prefix);
    uint32_t boundary = 0;
    for (uint32_t end : r.ends) boundary = end <= prefix ? end : boundary;
    const bool first_complete = prefix >= r.ends[2];
    std::unique_ptr<uint8_t[]> copy(new uint8_t[prefix]);
    std::copy_n(r.bytes.begin(), prefix, copy.get());
    Handle b(TOVADLL_OPEN_FILE_READ_BUFFER());
    uint32_t offset = 9, size = 9;
    EXPECT_EQ(TOVADLL_READ_FROM_BUFFER_EX(b, copy.get(), prefix, &offset, &size),
              first_complete || prefix - boundary <= 1 ? TOVA_OK : TOVA_ERR_SHORT);
    EXPECT_EQ(std::pair(offset, size), first_complete ? std::pair(r.starts[2] + 12, r.ends[2] - r.starts[2] - 12)
                                                      : std::pair(0u, 0u));
    EXPECT_EQ(EntryData(b, kGH, TOVA_GH_INFO_SensorX).empty(), prefix < r.ends[0]);
    EXPECT_EQ(EntryData(b, kDH, kValue).empty(), prefix < r.ends[1]);
    EXPECT_EQ(EntryData(b, kIM, kImageData), first_complete ? Pixels(0, kPixels) : Bytes());

    ASSERT_TRUE(WriteFileBytes(path, r.bytes.data(), prefix));
    Handle h(OpenRead(path));
    ASSERT_EQ(h.valid(), prefix > 0);  // an empty file is no document
    if (prefix == 0) continue;
    const uint32_t datasets = prefix - boundary > 1 ? 0 : r.DatasetsWithin(boundary);
    const int32_t expected = prefix - boundary > 1 ? TOVA_ERR_READ : datasets ? TOVA_OK : TOVA_ERR_DATASET;
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), expected);
    EXPECT_EQ(DocumentValues(h), Iota(static_cast<uint16_t>(datasets)));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 0, 0), first_complete ? TOVA_OK : expected);
    EXPECT_EQ(NumDatasets(h), first_complete ? 1u : datasets);
  }
}

TEST(Layout, RepeatedIdentifiersEmptyRecordsAndALateGlobalHeader) {
  TempTree dir;
  const std::u16string path = dir.Path(u"rules.tova");
  const Bytes header = Section(kDH, {Entry(kValue, U16(1)), Entry(0x0201, U16(4)), Header(6, 0x0203),
                                     Entry(kValue, U16(2)), Entry(0x0201, U16(5))});
  const Bytes late = Section(kGH, {Entry(0x0101, Text("late")), Entry(0x0111, U16(9)), Entry(kValue, U16(7)),
                                   Entry(kValue, U16(8))});
  const Bytes later = Section(kDH, {Entry(kValue, U16(1)), Entry(kValue, U16(3))});  // held as a section
  ASSERT_TRUE(WriteParts(path, Concat({GlobalHeaderSection(), header, ImageSection(0, kPixels), late, later,
                                       ImageSection(1, kPixels)}), {}));
  Handle h(OpenRead(path));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(h, 1, 0), TOVA_OK);
  EXPECT_EQ(NumDatasets(h), 2u);
  EXPECT_EQ(EntryData(h, kDH, kValue), U16(1));  // first-wins in a data header keeps its first value
  EXPECT_EQ(EntryData(h, kDH, 0x0201), U16(5));  // every other identifier its last
  uint32_t count = 0, later_count = 0;  // the 6-byte record is dropped
  EXPECT_TRUE(TOVADLL_GET_NUM_ENTRIES(h, kDH, &count) == TOVA_OK && count == 2u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 1), TOVA_OK);
  EXPECT_TRUE(TOVADLL_GET_NUM_ENTRIES(h, kDH, &later_count) == TOVA_OK && later_count == 1u);
  // A later global header joins the first, where first-wins does not hold.
  EXPECT_EQ(EntryData(h, kGH, 0x0101), Text("late"));
  EXPECT_EQ(EntryData(h, kGH, 0x0111), U16(9));
  EXPECT_EQ(EntryData(h, kGH, kValue), U16(8));
}

struct OneSectionSink final : format::SectionSink {
  Code Begin(const format::SectionMeeting&, bool& take) override { return take = parse, Code::kOk; }
  Code Parse(uint16_t, const uint8_t* data, uint32_t size) override { return section.ReadSection(data, size); }
  format::ScanControl End(uint16_t) override { return format::ScanControl::kGoOn; }
  bool parse = true;
  CTOVASection section{kDH, catalog::Rules()};
};

// Whether the scan parses a section or passes over it, a length the file cannot
// hold is short before anything is allocated; one it can hold is allocated.
TEST(Layout, TheScanChecksALengthBeforeItAllocates) {
  TempTree dir;
  const std::u16string path = dir.Path(u"claim.tova");
  const Bytes entry = Entry(0x0100, Text("v1"));
  for (const auto& [bytes, parse, code] : {std::tuple{Concat({Header(0x7FFFFFFF, kGH), entry}), true, Code::kShort},
                                           std::tuple{Concat({Header(0x7FFFFFFF, kGH), entry}), false, Code::kShort},
                                           std::tuple{Section(kGH, {entry}), true, Code::kNoMemory}}) {
    ASSERT_TRUE(WriteParts(path, bytes, {}));
    format::PartReader source(path);
    ASSERT_EQ(source.Open(0, 0), Code::kOk);
    source.BytesRemaining();  // the continuation files are looked for before the failing allocation
    OneSectionSink sink;
    sink.parse = parse;
    bool allocated = false;
    EXPECT_EQ(WithFailingAllocation(0, allocated, [&] { return format::ScanSections(source, sink); }), code);
    EXPECT_EQ(allocated, code == Code::kNoMemory);
  }
}

}  // namespace
}  // namespace tova::testing
