// The stack exports of tova export: every frame of a recording in one file.
#include "export_stack.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "HOLMDAQTova.h"
#include "errors.h"
#include "picture.h"
#include "progress_bar.h"
#include "recording.h"
#include "records.h"

#ifdef TOVA_CLI_HAVE_TIFF
#include <tiffio.h>
#endif

extern char** environ;

namespace fs = std::filesystem;

namespace tova_cli {

static_assert(std::endian::native == std::endian::little, "stored pixel bytes are written as they are");

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}

class File {
 public:
  explicit File(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) throw CliError("cannot create " + Quote(path) + ": " + std::strerror(errno));
  }
  ~File() {
    if (file_) {
      std::fclose(file_);
      std::remove(path_.c_str());  // left unfinished
    }
  }
  void Write(const void* data, size_t size) {
    if (size && std::fwrite(data, 1, size, file_) != size) Fail();
  }
  void Close() {
    std::FILE* f = std::exchange(file_, nullptr);
    if (std::fclose(f) != 0) {
      file_ = nullptr;
      const std::string reason = std::strerror(errno);
      std::remove(path_.c_str());
      throw CliError("cannot write " + Quote(path_) + ": " + reason);
    }
  }

 private:
  [[noreturn]] void Fail() { throw CliError("cannot write " + Quote(path_) + ": " + std::strerror(errno)); }
  std::string path_;
  std::FILE* file_;
};

std::string Plural(uint32_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// ---- .npy ------------------------------------------------------------------
// Version 1.0: magic, header length, a Python dict literal padded with blanks
// so that the data start at a multiple of 64 bytes, then the array in C order.

std::string NpyType(uint16_t unit, bool celsius) {
  if (celsius) return "<f4";
  switch (unit) {
    case TOVA_DATAUNIT_U16: return "<u2";
    case TOVA_DATAUNIT_U32: return "<u4";
    case TOVA_DATAUNIT_S16: return "<i2";
    case TOVA_DATAUNIT_FLT: return "<f4";
  }
  throw CliError("no array type for data unit " + std::to_string(unit));
}

std::string WriteNpy(Recording& rec, const std::string& out, bool celsius) {
  std::string header = "{'descr': '" + NpyType(rec.data_unit(), celsius) + "', 'fortran_order': False, 'shape': (" +
                       std::to_string(rec.frames()) + ", " + std::to_string(rec.height()) + ", " +
                       std::to_string(rec.width()) + "), }";
  const size_t total = (10 + header.size() + 1 + 63) / 64 * 64;
  header.append(total - 10 - header.size() - 1, ' ');
  header += '\n';
  File file(out);
  const uint8_t start[10] = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0, static_cast<uint8_t>(header.size() & 0xFF),
                             static_cast<uint8_t>(header.size() >> 8)};
  file.Write(start, sizeof start);
  file.Write(header.data(), header.size());
  ProgressBar progress("Exporting", rec.frames());
  for (uint32_t i = 0; i < rec.frames(); ++i) {
    if (celsius) {
      const std::vector<float> values = rec.Values(i);
      file.Write(values.data(), values.size() * sizeof(float));
    } else {
      const FrameImage image = rec.Stored(i);
      file.Write(image.bytes.data(), image.bytes.size());
    }
    progress.Update(i + 1);
  }
  file.Close();
  return "array " + std::to_string(rec.frames()) + " x " + std::to_string(rec.height()) + " x " +
         std::to_string(rec.width()) + " of " + NpyType(rec.data_unit(), celsius) +
         (celsius ? " (degrees Celsius)" : " (stored values)");
}

// ---- TIFF ------------------------------------------------------------------

#ifdef TOVA_CLI_HAVE_TIFF
thread_local std::string tiff_error;

void KeepTiffError(const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  tiff_error = (module ? std::string(module) + ": " : std::string()) + text;
}

std::string WriteTiff(Recording& rec, const std::string& out, const StackSettings& settings) {
  const bool celsius = settings.celsius;
  const unsigned bytes = celsius ? 4 : BytesPerPixel(rec.data_unit());
  uint16_t sample_format = SAMPLEFORMAT_UINT;
  if (celsius || rec.data_unit() == TOVA_DATAUNIT_FLT) sample_format = SAMPLEFORMAT_IEEEFP;
  if (!celsius && rec.data_unit() == TOVA_DATAUNIT_S16) sample_format = SAMPLEFORMAT_INT;
  const uint64_t row_bytes = uint64_t{rec.width()} * bytes;
  // Classic TIFF addresses 4 GiB; pixels plus the directories must stay well below.
  const uint64_t estimate = uint64_t{rec.frames()} * (row_bytes * rec.height() + 1024) + 4096;
  const bool big = settings.bigtiff || estimate >= (uint64_t{1} << 32) - (uint64_t{64} << 20);

  TIFFSetErrorHandler(KeepTiffError);
  TIFFSetWarningHandler(nullptr);
  tiff_error.clear();
  TIFF* tif = TIFFOpen(out.c_str(), big ? "w8" : "w");
  if (!tif) throw CliError("cannot create " + Quote(out) + ": " + tiff_error);
  auto fail = [&](const std::string& what) {
    TIFFClose(tif);
    std::remove(out.c_str());
    return CliError("cannot write " + Quote(out) + ": " + what + (tiff_error.empty() ? "" : " (" + tiff_error + ")"));
  };
  const uint32_t rows_per_strip = static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{1} << 16) / row_bytes));
  const std::string description = "tova export of " + fs::path(rec.path()).filename().string() + ": " +
                                  Plural(rec.frames(), "frame") +
                                  (celsius ? ", degrees Celsius" : ", stored values " + DataUnitName(rec.data_unit()));
  ProgressBar progress("Exporting", rec.frames());
  for (uint32_t i = 0; i < rec.frames(); ++i) {
    std::vector<uint8_t> pixels;
    if (celsius) {
      const std::vector<float> values = rec.Values(i);
      pixels.resize(values.size() * 4);
      std::memcpy(pixels.data(), values.data(), pixels.size());
    } else {
      pixels = rec.Stored(i).bytes;
    }
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, rec.width());
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rec.height());
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bytes * 8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, sample_format);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(std::min<uint32_t>(i, 65535)),
                 static_cast<uint16_t>(std::min<uint32_t>(rec.frames(), 65535)));
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "tova");
    if (i == 0) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    for (uint32_t y = 0; y < rec.height(); ++y)
      if (TIFFWriteScanline(tif, pixels.data() + y * row_bytes, y, 0) < 0)
        throw fail("page " + std::to_string(i) + " was not written");
    if (!TIFFWriteDirectory(tif)) throw fail("page " + std::to_string(i) + " was not written");
    progress.Update(i + 1);
  }
  TIFFClose(tif);
  return std::string(big ? "BigTIFF" : "TIFF") + ", " + Plural(rec.frames(), "page") + " of " +
         std::to_string(rec.width()) + " x " + std::to_string(rec.height()) + " " +
         (celsius ? "float32 degrees Celsius" : DataUnitName(rec.data_unit()) + " stored values");
}
#else
std::string WriteTiff(Recording&, const std::string& out, const StackSettings&) {
  throw CliError("cannot write " + Quote(out) + ": this tova was built without libtiff (install libtiff-dev and rebuild)");
}
#endif

// ---- false-colour frames for GIF and MP4 -----------------------------------

// Pictures of every frame as the PNG export draws them.
class Pictures {
 public:
  Pictures(Recording& rec, const StackSettings& settings) : rec_(rec), settings_(settings) {
    if (settings.range) {
      range_ = Range(settings.range->first, settings.range->second, "--range");
    } else if (!settings.auto_range && rec.display_scale()) {
      range_ = Range(rec.display_scale()->first, rec.display_scale()->second, "stored display scale");
    } else if (!settings.auto_range) {
      // One colour range for the whole film: the lowest and highest value of all frames.
      double lo = INFINITY, hi = -INFINITY;
      ProgressBar progress("Measuring", rec.frames());
      for (uint32_t i = 0; i < rec.frames(); ++i) {
        for (float v : rec.Values(i))
          if (std::isfinite(v)) lo = std::min<double>(lo, v), hi = std::max<double>(hi, v);
        progress.Update(i + 1);
      }
      if (lo > hi) lo = hi = 0;
      range_ = Range(lo, hi, "recording range");
    }
  }

  Picture Frame(uint32_t i, DisplayRange* used) {
    FrameImage image;
    image.width = rec_.width();
    image.height = rec_.height();
    const std::vector<float> values = rec_.Values(i);
    image.values.assign(values.begin(), values.end());
    DisplayRange range = range_;
    if (settings_.auto_range) {
      double lo = INFINITY, hi = -INFINITY;
      for (double v : image.values)
        if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
      if (lo > hi) lo = hi = 0;
      range = Range(lo, hi, "frame range");
    }
    *used = range;
    // The values are converted already: the picture places them as they are.
    DisplayRange placed = range;
    placed.celsius = false;
    return RenderFalseColour(image, TemperatureConversion{}, placed);
  }

  std::string RangeText(const DisplayRange& range) const {
    char text[160];
    std::snprintf(text, sizeof text, "%.1f .. %.1f%s, %s", range.low, range.high,
                  rec_.celsius() ? " \xC2\xB0""C" : " (raw values)", range.source.c_str());
    return text;
  }

 private:
  DisplayRange Range(double low, double high, const char* source) const {
    DisplayRange range;
    range.low = low;
    range.high = high;
    range.celsius = rec_.celsius();
    range.source = source;
    return range;
  }
  Recording& rec_;
  const StackSettings& settings_;
  DisplayRange range_;
};

double RateOrDefault(const Recording& rec) { return rec.frame_rate() > 0 ? rec.frame_rate() : 10.0; }

// ---- GIF -------------------------------------------------------------------
// GIF89a with the palette's 256 colours as the global table, a looping
// extension, and one LZW-coded image per frame.

class GifWriter {
 public:
  GifWriter() {
    for (int i = 0; i < 256; ++i) palette_[i] = PaletteColour(i / 255.0);
  }

  void Header(std::string& out, uint32_t width, uint32_t height) const {
    out += "GIF89a";
    Le16(out, width);
    Le16(out, height);
    out += static_cast<char>(0xF7);  // global table of 256 colours, 8 bits per primary
    out += '\0';
    out += '\0';
    for (const Rgb& c : palette_) out += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
    out += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);  // loop for ever
  }

  void Frame(std::string& out, const Picture& picture, uint16_t delay_cs) {
    out += std::string("\x21\xF9\x04\x04", 4);  // graphic control: leave the frame in place
    Le16(out, delay_cs);
    out += std::string("\x00\x00", 2);
    out += std::string("\x2C\x00\x00\x00\x00", 5);
    Le16(out, picture.width);
    Le16(out, picture.height);
    out += '\0';
    std::vector<uint8_t> indices(picture.pixels.size());
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = Index(picture.pixels[i]);
    out += static_cast<char>(8);
    Lzw(out, indices);
  }

 private:
  static void Le16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
  }

  // The palette entry of a colour: exact for the palette's own colours, the
  // nearest for the colours between them.
  uint8_t Index(const Rgb& c) {
    const uint32_t key = (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
    const auto found = index_.find(key);
    if (found != index_.end()) return found->second;
    int best = 0;
    long best_distance = LONG_MAX;
    for (int i = 0; i < 256; ++i) {
      const long dr = c.r - palette_[i].r, dg = c.g - palette_[i].g, db = c.b - palette_[i].b;
      const long d = dr * dr + dg * dg + db * db;
      if (d < best_distance) best = i, best_distance = d;
    }
    return index_[key] = static_cast<uint8_t>(best);
  }

  // LZW with 8-bit roots: codes of 9 to 12 bits, least significant bit first,
  // in sub-blocks of up to 255 bytes; the table starts over when full.
  static void Lzw(std::string& out, const std::vector<uint8_t>& indices) {
    constexpr int kClear = 256, kEnd = 257;
    std::string block;
    uint32_t bits = 0;
    int bit_count = 0;
    int code_size = 9, last_code = kEnd;
    auto emit = [&](int code) {
      bits |= static_cast<uint32_t>(code) << bit_count;
      bit_count += code_size;
      while (bit_count >= 8) {
        block += static_cast<char>(bits & 0xFF);
        bits >>= 8;
        bit_count -= 8;
        if (block.size() == 255) {
          out += static_cast<char>(255);
          out += block;
          block.clear();
        }
      }
    };
    std::unordered_map<uint32_t, int> table;
    emit(kClear);
    int current = -1;
    for (uint8_t index : indices) {
      if (current < 0) {
        current = index;
        continue;
      }
      const uint32_t key = (static_cast<uint32_t>(current) << 8) | index;
      const auto found = table.find(key);
      if (found != table.end()) {
        current = found->second;
        continue;
      }
      emit(current);
      table[key] = ++last_code;
      if (last_code >= (1 << code_size)) ++code_size;
      if (last_code == 4095) {
        emit(kClear);
        table.clear();
        code_size = 9;
        last_code = kEnd;
      }
      current = index;
    }
    if (current >= 0) emit(current);
    emit(kEnd);
    if (bit_count > 0) block += static_cast<char>(bits & 0xFF);
    for (size_t at = 0; at < block.size(); at += 255) {
      const size_t n = std::min<size_t>(255, block.size() - at);
      out += static_cast<char>(n);
      out.append(block, at, n);
    }
    out += '\0';
  }

  Rgb palette_[256];
  std::unordered_map<uint32_t, uint8_t> index_;
};

std::string WriteGif(Recording& rec, const std::string& out, const StackSettings& settings) {
  if (rec.width() + kColourBarExtra > 65535 || rec.height() > 65535)
    throw CliError("the image is too large for a GIF");
  Pictures pictures(rec, settings);
  const double rate = RateOrDefault(rec);
  const auto delay = static_cast<uint16_t>(std::clamp<long>(std::lround(100.0 / rate), 2, 65535));
  GifWriter gif;
  File file(out);
  std::string bytes;
  gif.Header(bytes, rec.width() + kColourBarExtra, rec.height());
  ProgressBar progress("Exporting", rec.frames());
  DisplayRange used;
  for (uint32_t i = 0; i < rec.frames(); ++i) {
    gif.Frame(bytes, pictures.Frame(i, &used), delay);
    file.Write(bytes.data(), bytes.size());
    bytes.clear();
    progress.Update(i + 1);
  }
  file.Write(";", 1);
  file.Close();
  char text[96];
  std::snprintf(text, sizeof text, "%u ms per frame", delay * 10u);
  return "animated GIF, " + Plural(rec.frames(), "frame") + ", " + text + ", " + pictures.RangeText(used);
}

// ---- MP4 -------------------------------------------------------------------

// The program on PATH, or empty.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

std::string WriteMp4(Recording& rec, const std::string& out, const StackSettings& settings) {
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty())
    throw CliError("MP4 export needs the ffmpeg program, which is not installed (not found on PATH); install "
                   "ffmpeg, or export a GIF, TIFF or .npy instead");
  Pictures pictures(rec, settings);
  const uint32_t width = rec.width() + kColourBarExtra, height = rec.height();
  char rate[32], size[32];
  std::snprintf(rate, sizeof rate, "%.6g", RateOrDefault(rec));
  std::snprintf(size, sizeof size, "%ux%u", width, height);
  // "file:" keeps names with a colon or a leading dash from being read as anything else.
  const std::string target = "file:" + fs::absolute(out).string();
  std::vector<std::string> words = {ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                    "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-framerate", rate,
                                    "-i", "pipe:0", "-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-pix_fmt", "yuv420p",
                                    "-movflags", "+faststart", target};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe(fds) != 0) throw CliError(std::string("cannot start ffmpeg: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[0]);
  if (rc != 0) {
    ::close(fds[1]);
    throw CliError("cannot start " + ffmpeg + ": " + std::strerror(rc));
  }
  std::signal(SIGPIPE, SIG_IGN);  // a failing ffmpeg shows in its exit status
  auto finish = [&]() {
    if (fds[1] >= 0) ::close(std::exchange(fds[1], -1));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  };
  std::string failure;
  try {
    ProgressBar progress("Exporting", rec.frames());
    DisplayRange used;
    for (uint32_t i = 0; i < rec.frames() && failure.empty(); ++i) {
      const Picture picture = pictures.Frame(i, &used);
      const auto* data = reinterpret_cast<const uint8_t*>(picture.pixels.data());
      size_t left = picture.pixels.size() * sizeof(Rgb);
      while (left > 0) {
        const ssize_t n = ::write(fds[1], data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          failure = "ffmpeg stopped reading the frames";
          break;
        }
        data += n;
        left -= static_cast<size_t>(n);
      }
      progress.Update(i + 1);
    }
    const int status = finish();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      throw CliError("ffmpeg could not write " + Quote(out) + " (exit status " +
                     std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")" +
                     (failure.empty() ? "" : ": " + failure));
    return "MP4 video made by ffmpeg, " + Plural(rec.frames(), "frame") + " at " + rate + " frames per second, " +
           pictures.RangeText(used);
  } catch (...) {
    if (fds[1] >= 0) finish();
    throw;
  }
}

}  // namespace

std::optional<StackFormat> StackFormatFor(const std::optional<std::string>& format, const std::string& out) {
  std::string name;
  if (format) {
    name = *format;
  } else {
    name = Lower(fs::path(out).extension().string());
    if (!name.empty()) name.erase(0, 1);
  }
  if (name == "tiff" || name == "tif") return StackFormat::kTiff;
  if (name == "gif") return StackFormat::kGif;
  if (name == "mp4") return StackFormat::kMp4;
  if (name == "npy") return StackFormat::kNpy;
  return std::nullopt;
}

std::string ExportStack(const std::string& in, const std::string& out, StackFormat format,
                        const StackSettings& settings) {
  const bool colours = format == StackFormat::kGif || format == StackFormat::kMp4;
  if (settings.celsius && colours) throw UsageError("--celsius applies to CSV, TIFF and NPY");
  if ((settings.range || settings.auto_range) && !colours)
    throw UsageError("--range and --auto-range apply to PNG, GIF and MP4");
  if (settings.bigtiff && format != StackFormat::kTiff) throw UsageError("--bigtiff applies to TIFF only");
  Recording rec(in);
  if (settings.celsius && !rec.celsius())
    throw CliError(Quote(in) + " holds no calibration table to convert its pixels to degrees Celsius");
  switch (format) {
    case StackFormat::kTiff: return WriteTiff(rec, out, settings);
    case StackFormat::kGif: return WriteGif(rec, out, settings);
    case StackFormat::kMp4: return WriteMp4(rec, out, settings);
    case StackFormat::kNpy: return WriteNpy(rec, out, settings.celsius);
  }
  return "";
}

}  // namespace tova_cli
