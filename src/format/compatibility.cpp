// The compatibility check, step by step in the order its codes are due.
#include "format/compatibility.h"

#include <cstring>

#include "platform/file_services.h"
#include "platform/text.h"

namespace tova::format {

namespace {

// The calibration kind of an uncalibrated recording.
constexpr uint16_t kNoCalibration = 0xFFFF;

Code ReadU16(CTOVAFile& doc, uint16_t section, uint16_t id, uint16_t& value) {
  uint8_t bytes[2] = {0, 0};
  uint32_t copied = 0;
  const Code rc = doc.CopyEntryData(section, id, sizeof bytes, bytes, copied);
  value = platform::GetU16(bytes);
  return rc;
}

// A value whose absence counts as 0: the first comparisons of data unit and
// calibration kind take two documents that both lack it as alike.
uint16_t ValueOrZero(CTOVAFile& doc, uint16_t section, uint16_t id) {
  uint16_t value = 0;
  (void)ReadU16(doc, section, id, value);
  return value;
}

Code DeviceString(CTOVAFile& doc, std::u16string& text) {
  uint8_t wide[256] = {};
  uint32_t copied = 0;
  if (!Failed(doc.CopyEntryData(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_UC, 254, wide, copied))) {
    text.clear();
    for (uint32_t i = 0; i + 1 < sizeof wide; i += 2) {
      const char16_t c = static_cast<char16_t>(platform::GetU16(wide + i));
      if (c == 0) break;
      text.push_back(c);
    }
    return Code::kOk;
  }
  char narrow[128] = {};
  TRY(doc.CopyEntryData(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC, 127, narrow, copied));
  text = platform::NarrowToWide(std::string_view(narrow, std::strlen(narrow)));
  auto replace_all = [&text](std::u16string_view from, std::u16string_view to) {
    for (size_t pos = 0; (pos = text.find(from, pos)) != std::u16string::npos; pos += to.size())
      text.replace(pos, from.size(), to);
  };
  replace_all(u"HZ", u"Hz");
  replace_all(u"\u00B0X", u"\u00B0x");
  return Code::kOk;
}

// The identifying part of a device string: from "-ID: " on, when it stands
// after the first character.
std::u16string DeviceIdentity(const std::u16string& upper) {
  const size_t pos = upper.find(u"-ID: ");
  return pos != std::u16string::npos && pos > 0 ? upper.substr(pos) : upper;
}

// Both devices must name the same identity; `portable` tells whether both are
// portable devices (which may lack a measurement range).
Code CheckDevice(CTOVAFile& target, CTOVAFile& source, bool& portable) {
  std::u16string target_device, source_device;
  TRY(DeviceString(target, target_device));
  TRY(DeviceString(source, source_device));
  RETURN_IF(target_device.empty() || source_device.empty(), Code::kMismatchDevice);
  target_device = platform::ToUpper(target_device);
  source_device = platform::ToUpper(source_device);
  portable = target_device.find(u"PORTABLE") != std::u16string::npos &&
             source_device.find(u"PORTABLE") != std::u16string::npos;
  RETURN_IF(DeviceIdentity(target_device) != DeviceIdentity(source_device), Code::kMismatchDevice);
  return Code::kOk;
}

// One value of both documents, read (a failed read returns its code).
struct Pair {
  uint16_t target = 0, source = 0;
  bool SameNonzero() const { return target != 0 && target == source; }
};
Code ReadPair(CTOVAFile& target, CTOVAFile& source, uint16_t section, uint16_t id, Pair& pair) {
  TRY(ReadU16(target, section, id, pair.target));
  return ReadU16(source, section, id, pair.source);
}

// A size (x and y) must be nonzero and equal in both documents. All four
// values are read before any is compared, so that a missing value is
// reported as such rather than hidden behind a mismatch.
Code CheckSize(CTOVAFile& target, CTOVAFile& source, uint16_t section, uint16_t x_id, uint16_t y_id,
               Pair& y) {
  Pair x;
  TRY(ReadPair(target, source, section, x_id, x));
  TRY(ReadPair(target, source, section, y_id, y));
  RETURN_IF(!x.SameNonzero() || !y.SameNonzero(), Code::kMismatchSize);
  return Code::kOk;
}

// Calibrated recordings must share the measurement range. Portable devices
// may lack it: it then counts as 0.
Code CheckMeasurementRange(CTOVAFile& target, CTOVAFile& source, bool portable) {
  Pair version;
  TRY(ReadPair(target, source, TOVA_SECT_DataHeader, TOVA_DH_TCAL_Version, version));
  Pair range;
  const Code rc_t = ReadU16(target, TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, range.target);
  const Code rc_s = ReadU16(source, TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, range.source);
  auto tolerated = [portable](Code rc) { return !Failed(rc) || (portable && rc == Code::kNoEntry); };
  RETURN_IF(!tolerated(rc_t), rc_t);
  RETURN_IF(!tolerated(rc_s), rc_s);
  RETURN_IF(range.target != range.source, Code::kMismatchRange);
  return Code::kOk;
}

}  // namespace

Code CheckCompatibility(CTOVAFile& target, CTOVAFile& source) {
  constexpr uint16_t kGH = TOVA_SECT_GlobalHeader;
  constexpr uint16_t kDH = TOVA_SECT_DataHeader;
  RETURN_IF(ValueOrZero(target, kDH, TOVA_DH_DREC_DataUnit) != ValueOrZero(source, kDH, TOVA_DH_DREC_DataUnit),
            Code::kMismatchDevice);
  const uint16_t calibration = ValueOrZero(target, kDH, TOVA_DH_TCAL_Version);
  RETURN_IF(calibration != ValueOrZero(source, kDH, TOVA_DH_TCAL_Version), Code::kMismatchDevice);
  const bool calibrated = calibration != kNoCalibration;
  bool portable = false;
  if (calibrated) TRY(CheckDevice(target, source, portable));

  Pair sensor_y, image_y, unit;
  TRY(CheckSize(target, source, kGH, TOVA_GH_INFO_SensorX, TOVA_GH_INFO_SensorY, sensor_y));
  // Here a missing data unit is a failed read.
  TRY(ReadPair(target, source, kDH, TOVA_DH_DREC_DataUnit, unit));
  TRY(CheckSize(target, source, kDH, TOVA_DH_DREC_SizeX, TOVA_DH_DREC_SizeY, image_y));
  // Line cameras (one image row) record frames of a fixed count.
  if (image_y.target == 1) {
    Pair frames;
    TRY(ReadPair(target, source, kDH, TOVA_DH_DREC_MaxFrames, frames));
    RETURN_IF(!frames.SameNonzero(), Code::kMismatchSize);
  }
  if (calibrated) TRY(CheckMeasurementRange(target, source, portable));
  return Code::kOk;
}

}  // namespace tova::format
