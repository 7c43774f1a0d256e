// tova export: a frame's pixels as a false-colour PNG with a colour bar, as
// CSV numbers, or as the raw stored bytes.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "HOLMDAQTova.h"
#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"
#include "export_stack.h"
#include "image.h"
#include "picture.h"
#include "progress_bar.h"

namespace fs = std::filesystem;

namespace tova_cli {

const char* const kExportHelp =
    "Usage: tova export FILE [--frame N | --all] -o OUT [--format png|csv|raw]\n"
    "                   [--range LOW:HIGH | --auto-range] [--celsius]\n"
    "       tova export FILE -o OUT --format tiff|gif|mp4|npy [--celsius] [--bigtiff]\n"
    "                   [--range LOW:HIGH | --auto-range]\n"
    "\n"
    "Writes the pixels of a frame (the image data of its image section; the\n"
    "data unit U16, U32, S16 or FLT decides the pixel type).\n"
    "\n"
    "Formats (default: from the extension of OUT, else png):\n"
    "  png  false colour in an iron palette, one picture pixel per image pixel,\n"
    "       with a colour bar to the right: the picture is 64 pixels wider than\n"
    "       the image (4 gap, 12 bar with the high end on top, 4 gap, 44 for the\n"
    "       labels of the high and low end) and as tall as it.\n"
    "  csv  one line per image row, values separated by commas: the stored\n"
    "       values, or degrees Celsius with --celsius\n"
    "  raw  the stored pixel bytes, little-endian, row by row, no header\n"
    "\n"
    "Formats with every frame in one file (extensions .tif/.tiff, .gif, .mp4, .npy):\n"
    "  tiff a page per frame: the stored values (16 or 32 bits), or float32\n"
    "       degrees Celsius with --celsius; BigTIFF when the file would reach\n"
    "       4 GiB, or with --bigtiff\n"
    "  gif  animated false colour as the PNG, at the recording's frame rate\n"
    "  mp4  the same frames as a video made by the ffmpeg program (installed\n"
    "       separately); the width is padded to an even number\n"
    "  npy  a numpy array of shape (frames, height, width): the stored values,\n"
    "       or float32 degrees Celsius with --celsius; the data start at a\n"
    "       multiple of 64 bytes, so numpy.load(..., mmap_mode='r') maps it\n"
    "  A GIF or MP4 uses one colour range for all frames: --range, else the\n"
    "  stored display scale, else the lowest and highest value of the whole\n"
    "  recording; --auto-range gives each frame its own.\n"
    "\n"
    "Colour range of a PNG: the recording's display scale (TOVA_DH_SCALE_Low and\n"
    "TOVA_DH_SCALE_High, degrees Celsius) when it has one and its pixels can be\n"
    "converted to degrees Celsius; otherwise the frame's own lowest and highest\n"
    "value. Pixels are converted through the calibration table\n"
    "(TOVA_DH_TCAL_TABLE_U16 / _U32: value i is the raw value at\n"
    "TABLE_START_C + i * TABLE_STEP) or, for FLT, taken as degrees Celsius.\n"
    "\n"
    "Options:\n"
    "  --frame N          the frame, counted from 0 (default 0)\n"
    "  --all              every frame, one file each: OUT with the frame number\n"
    "                     inserted before the extension (out.png -> out-0007.png)\n"
    "  -o, --output OUT   the file to write\n"
    "  --format F         png, csv or raw\n"
    "  --range LOW:HIGH   colour range of a PNG (degrees Celsius when the pixels\n"
    "                     can be converted, else raw values)\n"
    "  --auto-range       colour range from each frame's own values\n"
    "  --celsius          CSV in degrees Celsius (two decimals); TIFF and NPY\n"
    "                     as float32 degrees Celsius\n"
    "  --bigtiff          TIFF: always write BigTIFF\n"
    "\n"
    "Example:\n"
    "  tova export sample.tova --frame 10 -o frame10.png\n";

namespace {

enum class Format { kPng, kCsv, kRaw };

Format ChooseFormat(const std::optional<std::string>& option, const std::string& out) {
  std::string name;
  if (option) {
    name = *option;
  } else {
    name = fs::path(out).extension().string();
    if (!name.empty()) name.erase(0, 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    if (name != "csv" && name != "raw") name = "png";
  }
  if (name == "png") return Format::kPng;
  if (name == "csv") return Format::kCsv;
  if (name == "raw") return Format::kRaw;
  throw UsageError("unknown format '" + name + "' (use png, csv, raw, tiff, gif, mp4 or npy)");
}

std::optional<std::pair<double, double>> ParseRange(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const size_t colon = text->find(':', 1);
  if (colon != std::string::npos) {
    char* end = nullptr;
    const std::string low_text = text->substr(0, colon), high_text = text->substr(colon + 1);
    const double low = std::strtod(low_text.c_str(), &end);
    const bool low_ok = !low_text.empty() && *end == '\0';
    const double high = std::strtod(high_text.c_str(), &end);
    const bool high_ok = !high_text.empty() && *end == '\0';
    if (low_ok && high_ok && std::isfinite(low) && std::isfinite(high) && low < high)
      return std::make_pair(low, high);
  }
  throw UsageError("--range expects LOW:HIGH with LOW below HIGH, e.g. 20:80, not '" + *text + "'");
}

// OUT with the frame number before its extension: dir/out.png -> dir/out-0007.png.
std::string NumberedPath(const std::string& out, uint32_t frame, size_t digits) {
  const fs::path p(out);
  std::string number = std::to_string(frame);
  if (number.size() < digits) number.insert(0, digits - number.size(), '0');
  const fs::path name = p.stem().string() + "-" + number + p.extension().string();
  return (p.parent_path() / name).string();
}

class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) throw CliError("cannot create " + Quote(path) + ": " + std::strerror(errno));
  }
  ~OutputFile() {
    if (file_) std::fclose(file_);
  }
  void Write(const void* data, size_t size) {
    if (size && std::fwrite(data, 1, size, file_) != size) Fail();
  }
  void Print(const std::string& text) { Write(text.data(), text.size()); }
  void Close() {
    std::FILE* f = std::exchange(file_, nullptr);
    if (std::fclose(f) != 0) Fail();
  }

 private:
  [[noreturn]] void Fail() {
    const std::string reason = std::strerror(errno);
    if (file_) std::fclose(std::exchange(file_, nullptr));
    std::remove(path_.c_str());
    throw CliError("cannot write " + Quote(path_) + ": " + reason);
  }
  std::string path_;
  std::FILE* file_;
};

std::string NumberText(double value, bool celsius, uint16_t unit) {
  char text[64];
  if (celsius)
    std::snprintf(text, sizeof text, "%.2f", value);
  else if (unit == TOVA_DATAUNIT_FLT)
    std::snprintf(text, sizeof text, "%.9g", value);
  else
    std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

void WriteCsv(const std::string& path, const FrameImage& image, const TemperatureConversion* conversion) {
  OutputFile out(path);
  const std::vector<double> values = conversion ? conversion->ToCelsius(image.values) : image.values;
  std::string line;
  for (uint32_t y = 0; y < image.height; ++y) {
    line.clear();
    for (uint32_t x = 0; x < image.width; ++x) {
      const double v = values[size_t{y} * image.width + x];
      if (x) line += ',';
      line += NumberText(v, conversion != nullptr, image.data_unit);
    }
    line += '\n';
    out.Print(line);
  }
  out.Close();
}

void WriteRaw(const std::string& path, const FrameImage& image) {
  OutputFile out(path);
  out.Write(image.bytes.data(), image.bytes.size());
  out.Close();
}

struct ExportSettings {
  Format format = Format::kPng;
  std::optional<std::pair<double, double>> range;
  bool auto_range = false;
  bool celsius = false;
};

// The colour range of one frame (see the help text for the order of choice).
DisplayRange ChooseRange(const Document& doc, const FrameImage& image, const TemperatureConversion& conversion,
                         const ExportSettings& settings) {
  DisplayRange range;
  range.celsius = conversion.available();
  if (settings.range) {
    range.low = settings.range->first;
    range.high = settings.range->second;
    range.source = "--range";
    return range;
  }
  if (!settings.auto_range && conversion.available()) {
    const auto low = doc.F32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_Low);
    const auto high = doc.F32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_High);
    if (low && high && std::isfinite(*low) && std::isfinite(*high) && *low < *high) {
      range.low = *low;
      range.high = *high;
      range.source = "stored display scale";
      return range;
    }
  }
  double lo = INFINITY, hi = -INFINITY;
  for (double v : range.celsius ? conversion.ToCelsius(image.values) : image.values) {
    if (!std::isfinite(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (lo > hi) lo = hi = 0;
  range.low = lo;
  range.high = hi;
  range.source = "frame range";
  return range;
}

std::string RangeText(const DisplayRange& range) {
  char text[160];
  std::snprintf(text, sizeof text, "%.1f .. %.1f%s, %s", range.low, range.high,
                range.celsius ? " \xC2\xB0""C" : " (raw values)", range.source.c_str());
  return text;
}

// Exports the current frame of doc; returns a description for the summary.
std::string ExportFrame(const Document& doc, uint32_t frame, const std::string& out, const ExportSettings& settings,
                        const TemperatureConversion& conversion) {
  const FrameImage image = FrameImage::Read(doc, frame);
  const std::string size = std::to_string(image.width) + " x " + std::to_string(image.height);
  switch (settings.format) {
    case Format::kPng: {
      const DisplayRange range = ChooseRange(doc, image, conversion, settings);
      const Picture picture = RenderFalseColour(image, conversion, range);
      char scale[160];
      std::snprintf(scale, sizeof scale, "%.3f .. %.3f %s (%s)", range.low, range.high,
                    range.celsius ? "degC" : "raw", range.source.c_str());
      WritePng(out, picture,
               {{"Software", "tova"},
                {"Source", fs::path(doc.path()).filename().string() + " frame " + std::to_string(frame)},
                {"Comment", std::string("colour range ") + scale}});
      return size + " image + colour bar, " + RangeText(range);
    }
    case Format::kCsv:
      WriteCsv(out, image, settings.celsius ? &conversion : nullptr);
      return size + (settings.celsius ? " values in \xC2\xB0""C" : " " + DataUnitName(image.data_unit) + " values");
    case Format::kRaw:
      WriteRaw(out, image);
      return size + " " + DataUnitName(image.data_unit) + " pixels, little-endian, " +
             std::to_string(image.bytes.size()) + " bytes";
  }
  return size;
}

}  // namespace

int RunExport(const Words& words) {
  const Args args(words, {{"--frame", "", true},
                          {"--all", "", false},
                          {"--output", "-o", true},
                          {"--format", "", true},
                          {"--range", "", true},
                          {"--auto-range", "", false},
                          {"--celsius", "", false},
                          {"--bigtiff", "", false}});
  if (args.help()) return PrintHelp(kExportHelp);
  if (args.positional().size() != 1) throw UsageError(args.positional().empty() ? "missing FILE" : "too many files");
  const auto out = args.value("--output");
  if (!out || out->empty()) throw UsageError("missing -o OUT");
  if (args.has("--all") && args.has("--frame")) throw UsageError("give either --frame N or --all");
  if (args.has("--range") && args.has("--auto-range")) throw UsageError("give either --range or --auto-range");
  if (const auto stack = StackFormatFor(args.value("--format"), *out)) {
    if (args.has("--all") || args.has("--frame")) throw UsageError("this format holds every frame: drop --frame/--all");
    const StackSettings stack_settings{args.has("--celsius"), args.has("--bigtiff"), ParseRange(args.value("--range")),
                                       args.has("--auto-range")};
    std::printf("%s -> %s (%s)\n", args.positional()[0].c_str(), out->c_str(),
                ExportStack(args.positional()[0], *out, *stack, stack_settings).c_str());
    return kExitOk;
  }
  if (args.has("--bigtiff")) throw UsageError("--bigtiff applies to TIFF only");
  ExportSettings settings;
  settings.format = ChooseFormat(args.value("--format"), *out);
  settings.range = ParseRange(args.value("--range"));
  settings.auto_range = args.has("--auto-range");
  settings.celsius = args.has("--celsius");
  if (settings.celsius && settings.format != Format::kCsv) throw UsageError("--celsius applies to CSV only");
  const uint32_t frame = static_cast<uint32_t>(args.number("--frame", UINT32_MAX).value_or(0));

  Document doc = Document::OpenRead(args.positional()[0]);
  const uint32_t frames = doc.NumFrames();
  const TemperatureConversion conversion = TemperatureConversion::ForDocument(doc);
  if (settings.celsius && !conversion.available())
    throw CliError(Quote(doc.path()) + " holds no calibration table to convert its pixels to degrees Celsius");

  if (!args.has("--all")) {
    if (frame >= frames)
      throw CliError("frame " + std::to_string(frame) + " does not exist: " + Quote(doc.path()) + " holds " +
                     std::to_string(frames) + " frame" + (frames == 1 ? "" : "s") + " (0 to " +
                     std::to_string(frames - 1) + ")");
    doc.SelectFrame(frame, true);
    const std::string what = ExportFrame(doc, frame, *out, settings, conversion);
    std::printf("frame %u -> %s (%s)\n", frame, out->c_str(), what.c_str());
    return kExitOk;
  }

  const size_t digits = std::max<size_t>(4, std::to_string(frames - 1).size());
  ProgressBar progress("Exporting", frames);
  std::string what;
  for (uint32_t i = 0; i < frames; ++i) {
    doc.SelectFrame(i, true);
    what = ExportFrame(doc, i, NumberedPath(*out, i, digits), settings, conversion);
    progress.Update(i + 1);
  }
  progress.Finish();
  std::printf("%u frame%s -> %s .. %s (last: %s)\n", frames, frames == 1 ? "" : "s",
              NumberedPath(*out, 0, digits).c_str(), NumberedPath(*out, frames - 1, digits).c_str(), what.c_str());
  return kExitOk;
}

}  // namespace tova_cli
