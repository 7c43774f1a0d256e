// tova info: what a recording holds, in one screen.
#include <cmath>
#include <cstdio>

#include "HOLMDAQTova.h"
#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"
#include "records.h"
#include "text.h"
#include "tova_ext.h"

namespace tova_cli {

const char* const kInfoHelp =
    "Usage: tova info FILE...\n"
    "\n"
    "Shows what each recording holds: document type, number of frames, sensor\n"
    "and image size, data unit, calibration kind, device string, measurement\n"
    "range, display scale, the time stamps of the first and last frame and the\n"
    "span between them, and the size on disk of the file with its continuation\n"
    "files (\"FILE 001\", \"FILE 002\", ...).\n"
    "\n"
    "Example:\n"
    "  tova info sample.tova\n";

namespace {

const char* TypeName(uint32_t type) {
  switch (type) {
    case TOVA_TYPE_CLOSED: return "closed";
    case TOVA_TYPE_MEMORY: return "memory";
    case TOVA_TYPE_READ: return "read";
    case TOVA_TYPE_WRITE: return "write";
    case TOVA_TYPE_READWRITE: return "read-write";
    case TOVA_TYPE_WRITE_BUFFER: return "write buffer";
    default: return "??";
  }
}

void Line(const char* label, const std::string& value) {
  std::printf("%s %s\n", PadRight(std::string(label) + ":", 18).c_str(), value.c_str());
}

std::string Size(std::optional<uint16_t> x, std::optional<uint16_t> y) {
  if (!x || !y) return "not recorded";
  return std::to_string(*x) + " x " + std::to_string(*y);
}

std::string Enumerated(std::optional<uint16_t> value, std::string (*name)(uint16_t)) {
  if (!value) return "not recorded";
  return std::to_string(*value) + ": " + name(*value);
}

// Milliseconds since 1970-01-01 of every frame's stamp; INT64_MIN for none.
std::vector<int64_t> FrameTimes(const Document& doc, uint32_t frames) {
  std::vector<int64_t> ms(frames, INT64_MIN);
  uint32_t written = 0;
  Check(tovaext_frame_times(doc.handle(), ms.data(), frames, &written), "cannot read the time stamps");
  return ms;
}

std::string StampText(int64_t ms) {
  return ms == INT64_MIN ? "no time stamp" : TimeStamp::FromMillisecondsSinceEpoch(ms).ToString();
}

void ShowInfo(const std::string& path) {
  Document doc = Document::OpenRead(path);
  const uint32_t frames = doc.NumFrames();
  Line("File", path);
  Line("Document type", std::to_string(doc.Type()) + ": " + TypeName(doc.Type()));
  Line("Frames", std::to_string(frames));
  Line("Sensor size", Size(doc.U16(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX),
                           doc.U16(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY)));
  Line("Image size", Size(doc.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX),
                          doc.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY)));
  Line("Data unit", Enumerated(doc.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_DataUnit), DataUnitName));
  Line("Calibration", Enumerated(doc.U16(TOVA_SECT_DataHeader, TOVA_DH_TCAL_Version), CalibrationKindName));
  const auto device = doc.DeviceString();
  Line("Device", device ? "\"" + *device + "\"" : "not recorded");
  if (const auto range = doc.U16(TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange))
    Line("Measurement range", std::to_string(*range));
  const auto low = doc.F32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_Low);
  const auto high = doc.F32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_High);
  if (low && high) {
    char text[96];
    std::snprintf(text, sizeof text, "%.1f .. %.1f \xC2\xB0""C", static_cast<double>(*low), static_cast<double>(*high));
    Line("Display scale", text);
  }

  const std::vector<int64_t> times = FrameTimes(doc, frames);
  const int64_t first = times.empty() ? INT64_MIN : times.front();
  const int64_t last = times.empty() ? INT64_MIN : times.back();
  Line("First frame", StampText(first));
  Line("Last frame", StampText(last));
  Line("Span", first != INT64_MIN && last != INT64_MIN ? FormatSpan(last - first) : "unknown");

  double size_mb = 0;
  const int32_t rc = SizePath(path, &size_mb);
  const size_t parts = ContinuationFiles(path).size();
  char text[128];
  if (rc == TOVA_OK)
    std::snprintf(text, sizeof text, "%.3f MB (main file and %zu continuation file%s)", size_mb, parts,
                  parts == 1 ? "" : "s");
  else
    std::snprintf(text, sizeof text, "unknown: %s", DescribeResult(rc).c_str());
  Line("Size on disk", text);
}

}  // namespace

int RunInfo(const Words& words) {
  const Args args(words, {});
  if (args.help()) return PrintHelp(kInfoHelp);
  if (args.positional().empty()) throw UsageError("missing FILE");
  bool first = true;
  for (const std::string& path : args.positional()) {
    if (!first) std::printf("\n");
    first = false;
    ShowInfo(path);
  }
  return kExitOk;
}

}  // namespace tova_cli
