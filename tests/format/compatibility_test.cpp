// The compatibility check of a second append against a memory, a write and a
// write-buffer target, one table for all three.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/documents.h"

namespace tova::testing {
namespace {

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
