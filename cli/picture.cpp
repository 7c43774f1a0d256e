// The false-colour picture of a frame and its PNG file.
#include "picture.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "document.h"
#include "errors.h"

#ifdef TOVA_CLI_HAVE_PNG
#include <png.h>
#endif

namespace tova_cli {
namespace {

constexpr uint32_t kGap = 4;
constexpr uint32_t kBarWidth = 12;

// Iron-like palette: black, deep blue, purple, red, orange, yellow, white.
struct PaletteStop {
  double at;
  Rgb colour;
};
constexpr PaletteStop kIron[] = {
    {0.00, {0, 0, 0}},      {0.12, {20, 0, 90}},    {0.30, {120, 0, 150}}, {0.48, {200, 30, 90}},
    {0.62, {235, 90, 20}},  {0.78, {250, 170, 0}},  {0.90, {255, 230, 60}}, {1.00, {255, 255, 255}},
};

// 3 x 5 glyphs of the label characters, one row per entry, bit 2 leftmost.
struct Glyph {
  char c;
  uint8_t rows[5];
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'-', {0, 0, 7, 0, 0}}, {'.', {0, 0, 0, 0, 2}},
};

void DrawText(Picture& picture, uint32_t x0, uint32_t y0, const std::string& text, uint32_t scale) {
  uint32_t x = x0;
  for (char c : text) {
    for (const Glyph& glyph : kGlyphs) {
      if (glyph.c != c) continue;
      for (uint32_t row = 0; row < 5; ++row)
        for (uint32_t col = 0; col < 3; ++col) {
          if (!(glyph.rows[row] & (4 >> col))) continue;
          for (uint32_t dy = 0; dy < scale; ++dy)
            for (uint32_t dx = 0; dx < scale; ++dx) {
              const uint32_t px = x + col * scale + dx, py = y0 + row * scale + dy;
              if (px < picture.width && py < picture.height)
                picture.pixels[size_t{py} * picture.width + px] = Rgb{255, 255, 255};
            }
        }
    }
    x += 4 * scale;
  }
}

}  // namespace

Rgb PaletteColour(double position) {
  if (std::isnan(position)) return Rgb{};
  if (position <= 0) return kIron[0].colour;
  if (position >= 1) return kIron[std::size(kIron) - 1].colour;
  size_t i = 1;
  while (kIron[i].at < position) ++i;
  const PaletteStop& a = kIron[i - 1];
  const PaletteStop& b = kIron[i];
  const double t = (position - a.at) / (b.at - a.at);
  auto mix = [t](uint8_t x, uint8_t y) { return static_cast<uint8_t>(std::lround(x + (y - x) * t)); };
  return Rgb{mix(a.colour.r, b.colour.r), mix(a.colour.g, b.colour.g), mix(a.colour.b, b.colour.b)};
}

std::string RangeLabel(double value) {
  if (!std::isfinite(value)) return "";
  for (const char* format : {"%.1f", "%.0f"}) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    std::string label = text;
    if (label == "-0.0" || label == "-0") label.erase(0, 1);
    if (label.size() <= 5) return label;
  }
  return "";
}

Picture RenderFalseColour(const FrameImage& image, const TemperatureConversion& conversion,
                          const DisplayRange& range) {
  Picture picture;
  picture.width = image.width + kColourBarExtra;
  picture.height = image.height;
  picture.pixels.assign(size_t{picture.width} * picture.height, Rgb{});
  const double span = range.high - range.low;
  auto position = [&](double value) { return span > 0 ? (value - range.low) / span : 0.5; };

  const std::vector<double> values = range.celsius ? conversion.ToCelsius(image.values) : image.values;
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x) {
      const double v = values[size_t{y} * image.width + x];
      picture.pixels[size_t{y} * picture.width + x] = PaletteColour(position(v));
    }

  // The bar: the high end in the top row, the low end in the bottom row.
  const uint32_t bar_x = image.width + kGap;
  for (uint32_t y = 0; y < picture.height; ++y) {
    const double t = picture.height > 1 ? 1.0 - static_cast<double>(y) / (picture.height - 1) : 0.5;
    for (uint32_t x = bar_x; x < bar_x + kBarWidth; ++x) picture.pixels[size_t{y} * picture.width + x] = PaletteColour(t);
  }

  const uint32_t scale = picture.height >= 24 ? 2 : picture.height >= 12 ? 1 : 0;
  if (scale) {
    const uint32_t label_x = bar_x + kBarWidth + kGap;
    DrawText(picture, label_x, 0, RangeLabel(range.high), scale);
    DrawText(picture, label_x, picture.height - 5 * scale, RangeLabel(range.low), scale);
  }
  return picture;
}

#ifdef TOVA_CLI_HAVE_PNG
namespace {

// Everything libpng may jump out of lives in this function's C frame: the
// caller's objects are prepared before setjmp and not touched after it.
bool WritePngFile(std::FILE* file, const Picture& picture, png_bytep* rows, png_text* texts, int text_count) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (text_count > 0) png_set_text(png, info, texts, text_count);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void WritePng(const std::string& path, const Picture& picture,
              const std::vector<std::pair<std::string, std::string>>& texts) {
  if (picture.width == 0 || picture.height == 0) throw CliError("cannot write " + path + ": the picture is empty");
  static_assert(sizeof(Rgb) == 3, "rows are handed to libpng as packed RGB bytes");
  std::vector<png_bytep> rows(picture.height);
  for (uint32_t y = 0; y < picture.height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(const_cast<Rgb*>(picture.pixels.data() + size_t{y} * picture.width));
  std::vector<png_text> chunks(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    std::memset(&chunks[i], 0, sizeof chunks[i]);
    chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
    chunks[i].key = const_cast<char*>(texts[i].first.c_str());
    chunks[i].text = const_cast<char*>(texts[i].second.c_str());
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw CliError("cannot create " + Quote(path) + ": " + std::strerror(errno));
  const bool written = WritePngFile(file, picture, rows.data(), chunks.data(), static_cast<int>(chunks.size()));
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(path.c_str());
    throw CliError("cannot write " + Quote(path) + ": the PNG could not be written");
  }
}

#else

void WritePng(const std::string& path, const Picture&, const std::vector<std::pair<std::string, std::string>>&) {
  throw CliError("cannot write " + Quote(path) + ": this tova was built without libpng (install libpng-dev and rebuild)");
}

#endif

}  // namespace tova_cli
