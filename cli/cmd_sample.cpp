// tova sample: writes a synthetic recording that looks like a real one: a
// hot spot circling over a warm background, with the headers a camera
// writes (device, sizes, calibration, time stamps, temperatures, scale).
//
// Pixel values are U16 raw counts in centi-kelvin: raw = (T[°C] + 273.15) *
// 100, so 25 °C is 29815. The recording carries this mapping as its
// calibration table (TOVA_DH_TCAL_TABLE_U16: value i is the raw count at
// -50 °C + i K), which is what "tova export" reads to colour in °C.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "HOLMDAQTova.h"
#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"
#include "progress_bar.h"
#include "records.h"

namespace fs = std::filesystem;

namespace tova_cli {

const char* const kSampleHelp =
    "Usage: tova sample OUT.tova [--frames N] [--size WxH] [--force]\n"
    "\n"
    "Writes a synthetic recording at 25 frames per second: a hot spot (about\n"
    "75 \xC2\xB0""C) circling over a warm background (22 to 28 \xC2\xB0""C). It carries a\n"
    "device string, sensor and image size, data unit U16, a calibration table\n"
    "(kind 0, \"table 256 U16\"), measurement range 0, display scale 20 to\n"
    "80 \xC2\xB0""C, and per frame a time stamp (UTC, starting now), detector and\n"
    "camera temperatures and an image number.\n"
    "\n"
    "Pixels are raw counts in centi-kelvin: raw = (T + 273.15) x 100 for T in\n"
    "degrees Celsius (25 \xC2\xB0""C is 29815).\n"
    "\n"
    "Options:\n"
    "  --frames N   number of frames, 1 to 100000 (default 50)\n"
    "  --size WxH   image size in pixels, each 1 to 4096 (default 160x120)\n"
    "  --force      replace an existing OUT.tova\n"
    "\n"
    "Example:\n"
    "  tova sample sample.tova --frames 100 --size 320x240\n";

namespace {

constexpr double kFramesPerSecond = 25.0;
constexpr int64_t kFrameMilliseconds = 40;
constexpr double kTableStartC = -50.0;
constexpr double kTableStepK = 1.0;
constexpr const char* kDevice = "TOVA sample camera SC-160 -ID: 00042";

uint16_t CentiKelvin(double celsius) {
  const double raw = std::round((celsius + 273.15) * 100.0);
  return static_cast<uint16_t>(std::clamp(raw, 0.0, 65535.0));
}

std::pair<uint32_t, uint32_t> ParseSize(const std::optional<std::string>& text) {
  if (!text) return {160, 120};
  const size_t x = text->find_first_of("xX");
  if (x != std::string::npos) {
    const auto w = ParseUnsigned(text->substr(0, x), 4096);
    const auto h = ParseUnsigned(text->substr(x + 1), 4096);
    if (w && h && *w > 0 && *h > 0) return {static_cast<uint32_t>(*w), static_cast<uint32_t>(*h)};
  }
  throw UsageError("--size expects WxH with each side from 1 to 4096, e.g. 320x240, not '" + *text + "'");
}

// A small deterministic generator for the sensor noise, so that two runs
// differ only in their time stamps.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  double Next() {  // -0.5 .. 0.5
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return (state_ & 0xFFFF) / 65535.0 - 0.5;
  }

 private:
  uint32_t state_;
};

std::vector<uint8_t> RenderFrame(uint32_t width, uint32_t height, uint32_t frame) {
  std::vector<uint8_t> pixels(size_t{width} * height * 2);
  const double pi = 3.14159265358979323846;
  const double angle = 2 * pi * frame / 50.0;  // one turn every 2 s
  const double cx = width / 2.0 + 0.3 * width * std::cos(angle);
  const double cy = height / 2.0 + 0.25 * height * std::sin(angle);
  const double sigma = std::max(1.5, std::min(width, height) / 12.0);
  Noise noise(frame);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      // 22 °C at the top to 27 °C at the bottom, with a gentle ripple across.
      const double background = 22.0 + 5.0 * (height > 1 ? static_cast<double>(y) / (height - 1) : 0.5) +
                                0.5 + 0.5 * std::sin(2 * pi * x / std::max<uint32_t>(width, 2));
      const double dx = x - cx, dy = y - cy;
      const double spot = 50.0 * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
      const uint16_t raw = CentiKelvin(background + spot + 0.3 * noise.Next());
      const size_t at = (size_t{y} * width + x) * 2;
      pixels[at] = static_cast<uint8_t>(raw);
      pixels[at + 1] = static_cast<uint8_t>(raw >> 8);
    }
  return pixels;
}

// The entries every frame shares: stored once in the memory document.
void SetRecordingEntries(Document& doc, uint32_t width, uint32_t height, uint32_t frames) {
  doc.SetNarrowText(TOVA_SECT_GlobalHeader, TOVA_GH_Origin_MBC, "tova sample");
  doc.SetNarrowText(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC, kDevice);
  doc.SetU16(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, static_cast<uint16_t>(width));
  doc.SetU16(TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, static_cast<uint16_t>(height));

  doc.SetU16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, static_cast<uint16_t>(width));
  doc.SetU16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, static_cast<uint16_t>(height));
  if (height == 1)  // a line camera: appends compare the frame count too
    doc.SetU16(TOVA_SECT_DataHeader, TOVA_DH_DREC_MaxFrames, static_cast<uint16_t>(std::min<uint32_t>(frames, 65535)));
  CalibrationTable table;
  table.range = 0;
  table.cal_min_c = -20.0f;
  table.cal_max_c = 150.0f;
  table.table_start_c = static_cast<float>(kTableStartC);
  table.table_step = static_cast<float>(kTableStepK);
  for (size_t i = 0; i < table.values.size(); ++i) table.values[i] = CentiKelvin(kTableStartC + i * kTableStepK);
  const std::vector<uint8_t> table_bytes = table.BytesU16();
  doc.Set(TOVA_SECT_DataHeader, TOVA_DH_TCAL_TABLE_U16, table_bytes.data(), static_cast<uint32_t>(table_bytes.size()));
  doc.SetU16(TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, 0);
  doc.SetF32(TOVA_SECT_DataHeader, TOVA_DH_PARAM_FPS, static_cast<float>(kFramesPerSecond));
  doc.SetU16(TOVA_SECT_DataHeader, TOVA_DH_SCALE_Unit, 1);  // "Calculation °C from image"
  doc.SetF32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_Low, 20.0f);
  doc.SetF32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_High, 80.0f);
}

void SetFrameEntries(Document& doc, uint32_t width, uint32_t height, uint32_t frame, int64_t start_ms) {
  const auto stamp = TimeStamp::FromMillisecondsSinceEpoch(start_ms + frame * kFrameMilliseconds).Bytes();
  doc.Set(TOVA_SECT_DataHeader, TOVA_DH_DREC_TimeStamp, stamp.data(), static_cast<uint32_t>(stamp.size()));
  const double drift = frame / kFramesPerSecond;
  doc.SetF32(TOVA_SECT_DataHeader, TOVA_DH_INFO_DetectorTempC, static_cast<float>(31.2 + 0.02 * drift));
  doc.SetF32(TOVA_SECT_DataHeader, TOVA_DH_INFO_CameraTempC, static_cast<float>(36.5 + 0.01 * drift));
  doc.SetF32(TOVA_SECT_DataHeader, TOVA_DH_PARAM_FixEmissivity, 0.95f);
  doc.SetF32(TOVA_SECT_DataHeader, TOVA_DH_PARAM_FixAmbientTempC, 22.0f);
  doc.SetU16(TOVA_SECT_DataHeader, TOVA_DH_INFO_InternImageNo, static_cast<uint16_t>(frame));
  doc.SetU32(TOVA_SECT_DataHeader, TOVA_DH_INFO_AcquImageNo, frame);
  const std::vector<uint8_t> pixels = RenderFrame(width, height, frame);
  doc.Set(TOVA_SECT_Image, TOVA_IM_Data, pixels.data(), static_cast<uint32_t>(pixels.size()));
}

}  // namespace

int RunSample(const Words& words) {
  const Args args(words, {{"--frames", "", true}, {"--size", "", true}, {"--force", "", false}});
  if (args.help()) return PrintHelp(kSampleHelp);
  if (args.positional().size() != 1) throw UsageError(args.positional().empty() ? "missing OUT.tova" : "expects one OUT.tova");
  const std::string out = args.positional()[0];
  if (!HasTovaExtension(out)) throw UsageError("the output " + Quote(out) + " must carry the extension .tova");
  const uint32_t frames = static_cast<uint32_t>(args.number("--frames", 100000).value_or(50));
  if (frames == 0) throw UsageError("--frames must be at least 1");
  const auto [width, height] = ParseSize(args.value("--size"));
  std::error_code ec;
  if (fs::exists(out, ec) && !args.has("--force")) throw CliError(Quote(out) + " exists; use --force to replace it");

  const int64_t start_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  Document frame_doc = Document::OpenMemory(TOVA_DATAUNIT_U16, 0 /* table 256 U16 */, true);
  SetRecordingEntries(frame_doc, width, height, frames);
  Document target = Document::OpenWrite(out, false);
  ProgressBar progress("Writing", frames);
  try {
    for (uint32_t i = 0; i < frames; ++i) {
      SetFrameEntries(frame_doc, width, height, i, start_ms);
      Check(TOVADLL_ADD_TOVA(target.handle(), frame_doc.handle(), 0), "cannot append frame " + std::to_string(i));
      progress.Update(i + 1);
    }
    target.Close();
  } catch (const CliError&) {
    progress.Finish();
    try {
      target.Close();
    } catch (const CliError&) {
    }
    DeletePath(out);
    throw;
  }
  progress.Finish();
  std::printf("%s: %u frame%s of %u x %u U16 (centi-kelvin), %.0f fps, %s\n", out.c_str(), frames,
              frames == 1 ? "" : "s", width, height, kFramesPerSecond,
              FormatSpan(int64_t{frames - 1} * kFrameMilliseconds).c_str());
  return kExitOk;
}

}  // namespace tova_cli
