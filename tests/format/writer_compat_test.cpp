// The compatibility check that decides whether a dataset may join a target
// holding datasets already, table-driven and run against each kind of target
// that checks: a memory document, a write document and a write-buffer
// document.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "format/writer_test_support.h"

namespace tova::writer_test {
namespace {

void Narrow(uint64_t h, const std::string& device) {
  TOVADLL_SET_ENTRY(h, kGH, kDeviceMbc, static_cast<uint32_t>(device.size() + 1), device.c_str());
}

void Wide(uint64_t h, const std::u16string& device) {
  std::vector<uint8_t> bytes;
  for (char16_t c : device) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  TOVADLL_SET_ENTRY(h, kGH, kDeviceUc, static_cast<uint32_t>(bytes.size()), bytes.data());
}

void NoRange(uint64_t h) { TOVADLL_REMOVE_ENTRY(h, kDH, kRange); }
void NoCalibration(uint64_t h) { SetU16(h, kDH, kCalVersion, 0xFFFF); }

using Edit = std::function<void(uint64_t)>;

struct CompatCase {
  const char* name;
  Edit target;  // applied to the dataset that enters the empty target first
  Edit source;  // applied to the dataset that is checked against it
  int32_t expected;
};

const std::vector<CompatCase>& Cases() {
  static const std::vector<CompatCase> cases = {
      {"identical", [](uint64_t) {}, [](uint64_t) {}, 0},
      {"data unit differs", [](uint64_t) {}, [](uint64_t h) { SetU16(h, kDH, kDataUnit, 3); }, 60},
      {"calibration version differs", [](uint64_t) {}, [](uint64_t h) { SetU16(h, kDH, kCalVersion, 0x0101); }, 60},
      {"sensor width 0 in both", [](uint64_t h) { SetU16(h, kGH, kSensorX, 0); },
       [](uint64_t h) { SetU16(h, kGH, kSensorX, 0); }, 62},
      {"sensor height differs", [](uint64_t) {}, [](uint64_t h) { SetU16(h, kGH, kSensorY, 8); }, 62},
      {"sensor width missing", [](uint64_t) {}, [](uint64_t h) { TOVADLL_REMOVE_ENTRY(h, kGH, kSensorX); }, 33},
      {"image width differs", [](uint64_t) {}, [](uint64_t h) { SetU16(h, kDH, kSizeX, 8); }, 62},
      // A size step reads all four values before it compares: a missing one is
      // reported even where the other pair already differs.
      {"image widths differ, heights missing in both",
       [](uint64_t h) { SetU16(h, kDH, kSizeX, 4), TOVADLL_REMOVE_ENTRY(h, kDH, kSizeY); },
       [](uint64_t h) { SetU16(h, kDH, kSizeX, 5), TOVADLL_REMOVE_ENTRY(h, kDH, kSizeY); }, TOVA_ERR_NO_ENTRY},
      {"sensor widths differ, heights missing in both",
       [](uint64_t h) { SetU16(h, kGH, kSensorX, 4), TOVADLL_REMOVE_ENTRY(h, kGH, kSensorY); },
       [](uint64_t h) { SetU16(h, kGH, kSensorX, 5), TOVADLL_REMOVE_ENTRY(h, kGH, kSensorY); }, TOVA_ERR_NO_ENTRY},
      {"image height 0 in both", [](uint64_t h) { SetU16(h, kDH, kSizeY, 0); },
       [](uint64_t h) { SetU16(h, kDH, kSizeY, 0); }, 62},
      {"devices differ before -ID: only, in case too", [](uint64_t h) { Narrow(h, "CamA-ID: ab12"); },
       [](uint64_t h) { Narrow(h, "other cam-id: AB12"); }, 0},
      {"devices differ after -ID: ", [](uint64_t) {}, [](uint64_t h) { Narrow(h, "CAM-ID: 8"); }, 60},
      {"devices without -ID: differ", [](uint64_t h) { Narrow(h, "CAM A"); },
       [](uint64_t h) { Narrow(h, "CAM B"); }, 60},
      {"empty device string", [](uint64_t) {}, [](uint64_t h) { Narrow(h, ""); }, 60},
      {"no device string", [](uint64_t) {}, [](uint64_t h) { TOVADLL_REMOVE_ENTRY(h, kGH, kDeviceMbc); }, 33},
      {"device string longer than its area", [](uint64_t) {},
       [](uint64_t h) { Narrow(h, std::string(200, 'x') + "-ID: 7"); }, 13},
      // A missing range counts as 0 for portable devices, and is compared as such.
      {"both portable, range missing in the source", [](uint64_t h) { Narrow(h, "Portable A-ID: 1"); },
       [](uint64_t h) {
         Narrow(h, "PORTABLE B-ID: 1");
         NoRange(h);
       },
       61},
      {"both portable, range missing in the source, 0 in the target",
       [](uint64_t h) {
         Narrow(h, "Portable A-ID: 1");
         SetU16(h, kDH, kRange, 0);
       },
       [](uint64_t h) {
         Narrow(h, "PORTABLE B-ID: 1");
         NoRange(h);
       },
       0},
      {"both portable, range missing in both",
       [](uint64_t h) {
         Narrow(h, "portable-ID: 1");
         NoRange(h);
       },
       [](uint64_t h) {
         Narrow(h, "PORTABLE-ID: 1");
         NoRange(h);
       },
       0},
      {"both portable, ranges differ", [](uint64_t h) { Narrow(h, "PORTABLE-ID: 1"); },
       [](uint64_t h) {
         Narrow(h, "PORTABLE-ID: 1");
         SetU16(h, kDH, kRange, 4);
       },
       61},
      {"one portable, range missing", [](uint64_t h) { Narrow(h, "X-ID: 1"); },
       [](uint64_t h) {
         Narrow(h, "PORTABLE-ID: 1");
         NoRange(h);
       },
       33},
      {"range missing, not portable", [](uint64_t) {}, NoRange, 33},
      {"measurement ranges differ", [](uint64_t) {}, [](uint64_t h) { SetU16(h, kDH, kRange, 4); }, 61},
      {"no calibration: devices and ranges are not compared", NoCalibration,
       [](uint64_t h) {
         NoCalibration(h);
         Narrow(h, "OTHER-ID: 99");
         SetU16(h, kDH, kRange, 4);
       },
       0},
      {"no calibration: no device string needed", NoCalibration,
       [](uint64_t h) {
         NoCalibration(h);
         TOVADLL_REMOVE_ENTRY(h, kGH, kDeviceMbc);
         NoRange(h);
       },
       0},
      {"height 1, maximum frames differ",
       [](uint64_t h) {
         SetU16(h, kDH, kSizeY, 1);
         SetU16(h, kDH, kMaxFrames, 10);
       },
       [](uint64_t h) {
         SetU16(h, kDH, kSizeY, 1);
         SetU16(h, kDH, kMaxFrames, 11);
       },
       62},
      {"height 1, maximum frames 0 in both",
       [](uint64_t h) {
         SetU16(h, kDH, kSizeY, 1);
         SetU16(h, kDH, kMaxFrames, 0);
       },
       [](uint64_t h) {
         SetU16(h, kDH, kSizeY, 1);
         SetU16(h, kDH, kMaxFrames, 0);
       },
       62},
      {"height 1, maximum frames equal",
       [](uint64_t h) {
         SetU16(h, kDH, kSizeY, 1);
         SetU16(h, kDH, kMaxFrames, 10);
       },
       [](uint64_t h) {
         SetU16(h, kDH, kSizeY, 1);
         SetU16(h, kDH, kMaxFrames, 10);
       },
       0},
      {"height 4, maximum frames differ", [](uint64_t h) { SetU16(h, kDH, kMaxFrames, 10); },
       [](uint64_t h) { SetU16(h, kDH, kMaxFrames, 11); }, 0},
      {"UTF-16 device strings agree, narrow ones differ",
       [](uint64_t h) {
         Wide(h, u"CAM-ID: 9");
         Narrow(h, "CAM-ID: 1");
       },
       [](uint64_t h) {
         Wide(h, u"cam-id: 9");
         Narrow(h, "CAM-ID: 2");
       },
       0},
      {"UTF-16 device strings differ, narrow ones agree", [](uint64_t h) { Wide(h, u"CAM-ID: 9"); },
       [](uint64_t h) { Wide(h, u"CAM-ID: 8"); }, 60},
      {"UTF-16 device string against a narrow one", [](uint64_t h) { Wide(h, u"CAM-ID: 7"); },
       [](uint64_t h) { Narrow(h, "CAM-ID: 7"); }, 0},
  };
  return cases;
}

enum class TargetKind { Memory, File, Buffer };

// Appends the first dataset to an empty target of the kind, then the checked
// one; the second append's result.
int32_t SecondAppend(TargetKind kind, const CompatCase& c, const std::u16string& path) {
  const uint64_t first = MakeSource(1);
  const uint64_t second = MakeSource(2);
  c.target(first);
  c.source(second);
  uint64_t target = TOVADLL_INVALID_HANDLE;
  switch (kind) {
    case TargetKind::Memory: target = TOVADLL_OPEN_FILE_MEM(0, 2, 0x0100); break;
    case TargetKind::File: target = OpenWrite(path, 0); break;
    case TargetKind::Buffer: target = TOVADLL_OPEN_FILE_WRITE_BUFFER(); break;
  }
  int32_t rc = -1;
  std::vector<uint8_t> buffer(4096);
  uint32_t written = 0;
  auto append = [&](uint64_t source) {
    if (kind == TargetKind::Buffer)
      return TOVADLL_ADD_TOVA_BUFFERED_WRITE(target, source, buffer.data(), 4096, &written);
    return TOVADLL_ADD_TOVA(target, source, 0);
  };
  if (append(first) == 0) rc = append(second);
  TOVADLL_CLOSE_FILE(target);
  TOVADLL_CLOSE_FILE(first);
  TOVADLL_CLOSE_FILE(second);
  return rc;
}

TEST(WriterCompatibility, TableAgainstEveryCheckingTarget) {
  testing::TempTree dir;
  for (const CompatCase& c : Cases()) {
    for (TargetKind kind : {TargetKind::Memory, TargetKind::File, TargetKind::Buffer}) {
      EXPECT_EQ(SecondAppend(kind, c, dir.Path(u"a.tova")), c.expected)
          << c.name << " (target kind " << static_cast<int>(kind) << ")";
    }
  }
}

// A refused dataset leaves a file target as it was.
TEST(WriterCompatibility, ARefusedDatasetWritesNothing) {
  testing::TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  const uint64_t w = OpenWrite(path, 0);
  Closer cw(w);
  ASSERT_EQ(AppendValues(w, {1}), 0);
  const uint64_t s = MakeSource(2);
  Closer cs(s);
  SetU16(s, kDH, kRange, 9);
  const std::vector<uint64_t> before = PartSizes(path);
  EXPECT_EQ(TOVADLL_ADD_TOVA(w, s, 0), TOVA_ERR_MISMATCH_RANGE);
  EXPECT_EQ(PartSizes(path), before);
  TOVADLL_CLOSE_FILE(w);
  EXPECT_EQ(ReadValues(path), (std::vector<uint16_t>{1}));
}

}  // namespace
}  // namespace tova::writer_test
