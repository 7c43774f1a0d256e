// Appending datasets: the rules per target type, restoring the source's current
// dataset, the layered copy of one dataset, the buffered append whose successive
// buffers make the file that appending writes, and the compatibility check
// against a memory, a write and a write-buffer target.
#include <gtest/gtest.h>

#include <functional>

#include "support/documents.h"

namespace tova::testing {
namespace {

TEST(Appender, TargetTypes) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(path, {1}), TOVA_OK);
  Handle s(MakeSource(2)), b(TOVADLL_OPEN_FILE_WRITE_BUFFER()), one(TOVADLL_OPEN_FILE_MEM(1, 2, 0x0100));
  {
    Handle r(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), TOVA_OK);
    for (uint32_t all : {0u, 1u}) EXPECT_EQ(TOVADLL_ADD_TOVA(r, s, all), TOVA_ERR_DOCUMENT_TYPE);
  }
  EXPECT_EQ(TOVADLL_ADD_TOVA(b, s, 0), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(AppendValues(one, {1}), TOVA_OK);
  EXPECT_EQ(AppendValues(one, {2}), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(DocumentValues(one), (Values{1}));
  // A memory document keeps every dataset; later ones hold only their own
  // entries, and those that hold for every dataset answer from the first.
  Handle m(MakeMemoryDocument({10, 11, 12}));
  EXPECT_EQ(EntryData(m, kDH, TOVA_DH_DREC_SizeX), U16(4));
  EXPECT_EQ(Doc(m)->data_headers[2]->Count(), 1u);
  // A new read-write document holds its first dataset's image without reading it back.
  Handle fresh(OpenReadWrite(dir.Path(u"f.tova"), 0));
  ASSERT_EQ(AppendValues(fresh, {5}), TOVA_OK);
  EXPECT_EQ(EntryData(fresh, kIM, kImageData), Pixels(5, 32));
  {
    Handle rw(OpenReadWrite(path, 1));
    EXPECT_EQ(TOVADLL_ADD_TOVA(rw, rw, 1), TOVA_OK);
    EXPECT_EQ(DocumentValues(rw), (Values{1, 1}));
  }
  EXPECT_EQ(ReadValues(path), (Values{1, 1}));
}

// Appending all datasets of a source leaves its current dataset (and image)
// as it was; one dataset taken from the middle of a document merges dataset
// 0's entries that hold for every dataset with the current one's own.
TEST(Appender, AllDatasetsOrTheLayeredCopyOfTheCurrentOne) {
  TempTree dir;
  const std::u16string src = dir.Path(u"src.tova"), path = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(src, {1, 2, 3}), TOVA_OK);
  Handle r(OpenRead(src)), m(MakeMemoryDocument({1, 2, 3}));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(r, 1, 0), TOVA_OK);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(r, 1), TOVA_OK);
  ASSERT_EQ(TOVADLL_ADD_TOVA(Handle(OpenWrite(path, 0)), r, 1), TOVA_OK);
  EXPECT_EQ(CurDataset(r), 1u);
  EXPECT_EQ(EntryData(r, kIM, kImageData), Pixels(2, 32));  // dataset 1's image is loaded again
  EXPECT_EQ(ReadValues(path), (Values{1, 2, 3}));
  for (uint64_t source : {uint64_t{r}, uint64_t{m}}) {
    ASSERT_EQ(TOVADLL_SET_CURDATASET(source, 2), TOVA_OK);
    Handle mem(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
    EXPECT_EQ(TOVADLL_ADD_TOVA(Handle(OpenWrite(path, 0)), source, 0), TOVA_OK);
    EXPECT_EQ(TOVADLL_ADD_TOVA(mem, source, 0), TOVA_OK);
    EXPECT_EQ(CurDataset(source), 2u);
    Handle back(OpenRead(path));
    ASSERT_EQ(TOVADLL_READ_FROM_FILE(back, 1, 0), TOVA_OK);
    for (uint64_t doc : {uint64_t{back}, uint64_t{mem}}) {
      EXPECT_EQ(DocumentValues(doc), (Values{3}));
      EXPECT_EQ(EntryData(doc, kDH, TOVA_DH_DREC_SizeX), U16(4));
      EXPECT_EQ(EntryData(doc, kDH, TOVA_DH_DREC_SizeY), U16(4));
      EXPECT_EQ(EntryData(doc, kDH, TOVA_DH_PARAM_MeasurementRange), U16(3));
    }
  }
}

TEST(Appender, SuccessiveBuffersMakeTheFileThatAppendingWrites) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  const Values values = {1, 2, 3, 4};
  ASSERT_EQ(WriteDocument(path, values, 40), TOVA_OK);
  Handle b(TOVADLL_OPEN_FILE_WRITE_BUFFER());
  Bytes file;
  for (uint16_t v : values) {
    Handle s(MakeSource(v, 40));
    uint32_t needed = 0, written = 0;
    ASSERT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, nullptr, 0, &needed), TOVA_ERR_WRITE_INCOMPLETE);
    // One byte too small: refused, the buffer untouched, the size needed told.
    Bytes buffer(needed - 1, 0xEE);
    EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), needed - 1, &written), TOVA_ERR_WRITE_INCOMPLETE);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(buffer, Bytes(needed - 1, 0xEE));
    buffer.assign(needed + 16, 0xEE);
    ASSERT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, buffer.data(), needed + 16, &written), TOVA_OK);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(buffer[written], 0xEE);  // nothing beyond the dataset
    file.insert(file.end(), buffer.begin(), buffer.begin() + written);
  }
  EXPECT_EQ(file, ReadFileBytes(path));
  EXPECT_TRUE(EntryData(b, kIM, kImageData).empty());  // the target keeps no image
}

TEST(Appender, BufferedAppendRefusals) {
  Handle b(TOVADLL_OPEN_FILE_WRITE_BUFFER()), s(MakeSource(1)), two(MakeMemoryDocument({1, 2}));
  Handle m(TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100));
  Bytes buffer(4096);
  uint32_t written = 12345;
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, two, buffer.data(), 4096, &written), TOVA_ERR_MISMATCH_RANGE);
  EXPECT_EQ(written, 12345u);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(m, s, buffer.data(), 4096, &written), TOVA_ERR_DOCUMENT_TYPE);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, s, nullptr, 4096, &written), TOVA_ERR_NULL_POINTER);
  // A document without sections (its read failed) has an empty buffer, and no dataset to append or take one.
  TempTree dir;
  ASSERT_TRUE(WriteFileBytes(dir.Path(u"x.dat"), "abc"));
  Handle empty(OpenRead(dir.Path(u"x.dat")));
  ASSERT_EQ(TOVADLL_READ_FROM_FILE(empty, 1, 0), TOVA_ERR_EXTENSION);
  EXPECT_EQ(TOVADLL_ADD_TOVA_BUFFERED_WRITE(b, empty, buffer.data(), 4096, &written), TOVA_ERR_WRITE_INCOMPLETE);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(TOVADLL_ADD_TOVA(m, empty, 0), TOVA_ERR_NO_SECTION);
  uint32_t size = 7, offset = 0;
  EXPECT_EQ(TOVADLL_GET_BUFFERSIZE(empty, &size), TOVA_OK);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(TOVADLL_WRITE_TO_BUFFER(empty, buffer.data(), 1, &written), TOVA_OK);
  EXPECT_EQ(written, 0u);
  const Bytes sections = Concat({Section(kGH, {Entry(0x0100, Text("v1"))}), Section(kDH, {})});
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER_EX(empty, sections.data(), 20, &offset, &size), TOVA_ERR_NO_SECTION);
}

constexpr uint16_t kDeviceMbc = TOVA_GH_INFO_DeviceString_MBC, kDeviceUc = 0x1110, kSensorX = TOVA_GH_INFO_SensorX,
                   kSensorY = TOVA_GH_INFO_SensorY, kDataUnit = TOVA_DH_DREC_DataUnit, kSizeX = TOVA_DH_DREC_SizeX,
                   kSizeY = TOVA_DH_DREC_SizeY, kCal = TOVA_DH_TCAL_Version, kMaxFrames = TOVA_DH_DREC_MaxFrames,
                   kRange = TOVA_DH_PARAM_MeasurementRange;

void Narrow(uint64_t h, const std::string& device) {
  TOVADLL_SET_ENTRY(h, kGH, kDeviceMbc, static_cast<uint32_t>(device.size() + 1), device.c_str());
}
void Wide(uint64_t h, const std::u16string& device) {
  const std::u16string z = device + u'\0';
  TOVADLL_SET_ENTRY(h, kGH, kDeviceUc, static_cast<uint32_t>(2 * z.size()), z.data());
}
void Remove(uint64_t h, uint16_t section, uint16_t id) { TOVADLL_REMOVE_ENTRY(h, section, id); }

using Edit = std::function<void(uint64_t)>;
#define EDIT(...) [](uint64_t h) { (void)h; __VA_ARGS__; }

struct CompatCase {
  const char* name;
  Edit target;  // applied to the dataset that enters the empty target first
  Edit source;  // applied to the dataset that is checked against it
  int32_t expected;
};

const std::vector<CompatCase>& Cases() {
  static const std::vector<CompatCase> cases = {
      {"identical", EDIT(), EDIT(), TOVA_OK},
      {"data unit differs", EDIT(), EDIT(SetU16(h, kDH, kDataUnit, 3)), TOVA_ERR_MISMATCH_DEVICE},
      {"calibration version differs", EDIT(), EDIT(SetU16(h, kDH, kCal, 0x0101)), TOVA_ERR_MISMATCH_DEVICE},
      {"sensor width 0 in both", EDIT(SetU16(h, kGH, kSensorX, 0)), EDIT(SetU16(h, kGH, kSensorX, 0)),
       TOVA_ERR_MISMATCH_SIZE},
      {"sensor height differs", EDIT(), EDIT(SetU16(h, kGH, kSensorY, 8)), TOVA_ERR_MISMATCH_SIZE},
      {"sensor width missing", EDIT(), EDIT(Remove(h, kGH, kSensorX)), TOVA_ERR_NO_ENTRY},
      {"image width differs", EDIT(), EDIT(SetU16(h, kDH, kSizeX, 8)), TOVA_ERR_MISMATCH_SIZE},
      // A size step reads all four values before it compares: a missing one is
      // reported even where the other pair already differs.
      {"image widths differ, heights missing in both", EDIT(SetU16(h, kDH, kSizeX, 4), Remove(h, kDH, kSizeY)),
       EDIT(SetU16(h, kDH, kSizeX, 5), Remove(h, kDH, kSizeY)), TOVA_ERR_NO_ENTRY},
      {"devices differ before -ID: only, in case too", EDIT(Narrow(h, "CamA-ID: ab12")),
       EDIT(Narrow(h, "other cam-id: AB12")), TOVA_OK},
      {"devices differ after -ID: ", EDIT(), EDIT(Narrow(h, "CAM-ID: 8")), TOVA_ERR_MISMATCH_DEVICE},
      {"devices without -ID: differ", EDIT(Narrow(h, "CAM A")), EDIT(Narrow(h, "CAM B")), TOVA_ERR_MISMATCH_DEVICE},
      {"empty device string", EDIT(), EDIT(Narrow(h, "")), TOVA_ERR_MISMATCH_DEVICE},
      {"no device string", EDIT(), EDIT(Remove(h, kGH, kDeviceMbc)), TOVA_ERR_NO_ENTRY},
      {"device string longer than its area", EDIT(), EDIT(Narrow(h, std::string(200, 'x') + "-ID: 7")),
       TOVA_ERR_BUFFER_TOO_SMALL},
      // A missing range counts as 0 for portable devices.
      {"both portable, range missing in the source", EDIT(Narrow(h, "Portable A-ID: 1")),
       EDIT(Narrow(h, "PORTABLE B-ID: 1"), Remove(h, kDH, kRange)), TOVA_ERR_MISMATCH_RANGE},
      {"both portable, range missing in both", EDIT(Narrow(h, "portable-ID: 1"), Remove(h, kDH, kRange)),
       EDIT(Narrow(h, "PORTABLE-ID: 1"), Remove(h, kDH, kRange)), TOVA_OK},
      {"one portable, range missing", EDIT(Narrow(h, "X-ID: 1")),
       EDIT(Narrow(h, "PORTABLE-ID: 1"), Remove(h, kDH, kRange)), TOVA_ERR_NO_ENTRY},
      {"range missing, not portable", EDIT(), EDIT(Remove(h, kDH, kRange)), TOVA_ERR_NO_ENTRY},
      {"measurement ranges differ", EDIT(), EDIT(SetU16(h, kDH, kRange, 4)), TOVA_ERR_MISMATCH_RANGE},
      {"no calibration: devices and ranges are not compared", EDIT(SetU16(h, kDH, kCal, 0xFFFF)),
       EDIT(SetU16(h, kDH, kCal, 0xFFFF), Remove(h, kGH, kDeviceMbc), SetU16(h, kDH, kRange, 4)), TOVA_OK},
      {"height 1, maximum frames differ", EDIT(SetU16(h, kDH, kSizeY, 1), SetU16(h, kDH, kMaxFrames, 10)),
       EDIT(SetU16(h, kDH, kSizeY, 1), SetU16(h, kDH, kMaxFrames, 11)), TOVA_ERR_MISMATCH_SIZE},
      {"height 1, maximum frames equal", EDIT(SetU16(h, kDH, kSizeY, 1), SetU16(h, kDH, kMaxFrames, 10)),
       EDIT(SetU16(h, kDH, kSizeY, 1), SetU16(h, kDH, kMaxFrames, 10)), TOVA_OK},
      {"height 4, maximum frames differ", EDIT(SetU16(h, kDH, kMaxFrames, 10)), EDIT(SetU16(h, kDH, kMaxFrames, 11)),
       TOVA_OK},
      {"UTF-16 device strings agree, narrow ones differ", EDIT(Wide(h, u"CAM-ID: 9"), Narrow(h, "CAM-ID: 1")),
       EDIT(Wide(h, u"cam-id: 9"), Narrow(h, "CAM-ID: 2")), TOVA_OK},
      {"UTF-16 device strings differ, narrow ones agree", EDIT(Wide(h, u"CAM-ID: 9")), EDIT(Wide(h, u"CAM-ID: 8")),
       TOVA_ERR_MISMATCH_DEVICE},
      {"UTF-16 device string against a narrow one", EDIT(Wide(h, u"CAM-ID: 7")), EDIT(Narrow(h, "CAM-ID: 7")),
       TOVA_OK},
  };
  return cases;
}

enum class Target { kMemory, kFile, kBuffer };

// Appends the first dataset to an empty target of the kind, then the checked
// one: the second append's result. A refused dataset leaves a file as it was.
int32_t SecondAppend(Target kind, const CompatCase& c, const std::u16string& path) {
  Handle first(MakeSource(1)), second(MakeSource(2));
  c.target(first);
  c.source(second);
  Handle target(kind == Target::kMemory ? TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100)
                : kind == Target::kFile ? OpenWrite(path, 0)
                                        : TOVADLL_OPEN_FILE_WRITE_BUFFER());
  Bytes buffer(4096);
  uint32_t written = 0;
  auto append = [&](uint64_t source) {
    return kind == Target::kBuffer ? TOVADLL_ADD_TOVA_BUFFERED_WRITE(target, source, buffer.data(), 4096, &written)
                                   : TOVADLL_ADD_TOVA(target, source, 0);
  };
  if (append(first) != TOVA_OK) return -1;
  const std::vector<uint64_t> before = PartSizes(path);
  const int32_t rc = append(second);
  if (kind == Target::kFile && rc != TOVA_OK) EXPECT_EQ(PartSizes(path), before);
  return rc;
}

TEST(Compatibility, TableAgainstEveryCheckingTarget) {
  TempTree dir;
  for (const CompatCase& c : Cases()) {
    for (Target kind : {Target::kMemory, Target::kFile, Target::kBuffer})
      EXPECT_EQ(SecondAppend(kind, c, dir.Path(u"a.tova")), c.expected) << c.name << " (target " << int(kind) << ")";
  }
}

}  // namespace
}  // namespace tova::testing
