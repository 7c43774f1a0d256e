// Tests of the tova tool: each runs the built binary (its path comes in as
// TOVA_CLI_EXE) in a fresh temporary directory, on recordings made by the
// tool itself or through the public API, and checks stdout, stderr, the exit
// status and the files written (read back through the public API and, for
// PNG, through libpng).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"

#ifdef TOVA_CLI_TEST_HAVE_PNG
#include <png.h>
#endif
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

// "Label:   value" lines of tova info.
std::map<std::string, std::string> InfoFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  for (const std::string& line : Lines(text)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t value = line.find_first_not_of(' ', colon + 1);
    fields[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
  }
  return fields;
}

// A recording made through the public API: frames of one shape and device.
struct RecordingSpec {
  uint16_t width = 8;
  uint16_t height = 6;
  uint16_t data_unit = TOVA_DATAUNIT_U16;
  std::string device = "TEST CAMERA -ID: 7";
  uint16_t range = 0;
  uint32_t frames = 1;
};

// Pixel i of a test recording holds RampValue(unit, i): a ramp that starts
// where each data unit has something to show (a negative start for S16, a
// fraction for FLT, beyond 16 bits for U32).
double RampValue(uint16_t unit, size_t i) {
  switch (unit) {
    case TOVA_DATAUNIT_U32: return 70000.0 + i;
    case TOVA_DATAUNIT_S16: return -10.0 + i;
    case TOVA_DATAUNIT_FLT: return 20.5 + i;
    default: return 1000.0 + i;
  }
}

std::vector<uint8_t> RampPixels(const RecordingSpec& opt) {
  const size_t count = size_t{opt.width} * opt.height;
  const size_t bpp = opt.data_unit == TOVA_DATAUNIT_U16 || opt.data_unit == TOVA_DATAUNIT_S16 ? 2 : 4;
  std::vector<uint8_t> pixels(count * bpp);
  for (size_t i = 0; i < count; ++i) {
    const double v = RampValue(opt.data_unit, i);
    uint32_t bits = 0;
    if (opt.data_unit == TOVA_DATAUNIT_FLT) {
      const float f = static_cast<float>(v);
      std::memcpy(&bits, &f, sizeof bits);
    } else {
      bits = static_cast<uint32_t>(static_cast<int64_t>(v));
    }
    for (size_t b = 0; b < bpp; ++b) pixels[i * bpp + b] = static_cast<uint8_t>(bits >> (8 * b));
  }
  return pixels;
}

void SetU16(uint64_t h, uint16_t section, uint16_t id, uint16_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, section, id, 2, b), TOVA_OK);
}

void WriteRecording(const fs::path& path, const RecordingSpec& opt) {
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(1, opt.data_unit, 0);
  ASSERT_NE(mem, TOVADLL_INVALID_HANDLE);
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC,
                              static_cast<uint32_t>(opt.device.size() + 1), opt.device.c_str()),
            TOVA_OK);
  SetU16(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, opt.width);
  SetU16(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, opt.height);
  SetU16(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, opt.width);
  SetU16(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, opt.height);
  SetU16(mem, TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, opt.range);
  const std::vector<uint8_t> pixels = RampPixels(opt);
  const uint64_t out = TOVADLL_OPEN_FILE_WRITE(path.string().c_str(), 0);
  ASSERT_NE(out, TOVADLL_INVALID_HANDLE);
  for (uint32_t f = 0; f < opt.frames; ++f) {
    ASSERT_EQ(TOVADLL_SET_ENTRY(mem, TOVA_SECT_Image, TOVA_IM_Data, static_cast<uint32_t>(pixels.size()), pixels.data()),
              TOVA_OK);
    ASSERT_EQ(TOVADLL_ADD_TOVA(out, mem, 0), TOVA_OK);
  }
  ASSERT_EQ(TOVADLL_CLOSE_FILE(out), TOVA_OK);
  ASSERT_EQ(TOVADLL_CLOSE_FILE(mem), TOVA_OK);
}

// A recording opened through the public API for checking what the tool wrote.
class Reader {
 public:
  explicit Reader(const fs::path& path) : h_(TOVADLL_OPEN_FILE_READ(path.string().c_str())) {
    if (h_ != TOVADLL_INVALID_HANDLE) rc_ = TOVADLL_READ_FROM_FILE(h_, 1, 0);
  }
  ~Reader() {
    if (h_ != TOVADLL_INVALID_HANDLE) TOVADLL_CLOSE_FILE(h_);
  }
  bool ok() const { return h_ != TOVADLL_INVALID_HANDLE && rc_ == TOVA_OK; }
  uint64_t handle() const { return h_; }
  uint32_t frames() const {
    uint32_t n = 0;
    TOVADLL_GET_NUMDATASETS(h_, &n);
    return n;
  }
  std::vector<uint8_t> Entry(uint16_t section, uint16_t id) const {
    uint32_t size = 0;
    if (TOVADLL_GET_ENTRY_DATASIZE(h_, section, id, &size) != TOVA_OK) return {};
    std::vector<uint8_t> data(size);
    uint32_t copied = 0;
    if (TOVADLL_COPY_ENTRY_DATA(h_, section, id, size, data.data(), &copied) != TOVA_OK) return {};
    return data;
  }
  uint16_t U16(uint16_t section, uint16_t id) const {
    const auto d = Entry(section, id);
    return d.size() >= 2 ? static_cast<uint16_t>(d[0] | (d[1] << 8)) : 0;
  }

 private:
  uint64_t h_;
  int32_t rc_ = -1;
};

// Milliseconds of a time stamp entry within its day plus days, for differences.
int64_t StampMilliseconds(const std::vector<uint8_t>& d) {
  if (d.size() < 16) return -1;
  auto f = [&](int i) { return static_cast<int64_t>(d[2 * i] | (d[2 * i + 1] << 8)); };
  return ((f(3) * 24 + f(4)) * 60 + f(5)) * 60000 + f(6) * 1000 + f(7);
}

class TovaCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() /
           ("tova_cli_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" + std::to_string(tick));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path Path(const std::string& name) const { return dir_ / name; }
  std::string P(const std::string& name) const { return Path(name).string(); }

  // Runs tova with the words given (each quoted); stdout and stderr go to
  // files, so that stderr is no terminal.
  RunResult Run(const std::vector<std::string>& words) const {
    std::string command = "\"" + std::string(TOVA_CLI_EXE) + "\"";
    for (const std::string& w : words) command += " \"" + w + "\"";
    const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    command += " > \"" + out.string() + "\" 2> \"" + err.string() + "\"";
    RunResult result;
    const int raw = std::system(command.c_str());
#ifdef _WIN32
    result.status = raw;
#else
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
  }

  // Writes a sample recording with the tool and checks it succeeded.
  void Sample(const std::string& name, int frames, const std::string& size) {
    const RunResult r = Run({"sample", P(name), "--frames", std::to_string(frames), "--size", size});
    ASSERT_EQ(r.status, 0) << r.err;
  }

  fs::path dir_;
};

// ---- sample and info --------------------------------------------------------

TEST_F(TovaCli, SampleWritesARealisticRecordingThatInfoDescribes) {
  const RunResult made = Run({"sample", P("s.tova"), "--frames", "12", "--size", "40x30"});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err, "") << "no progress bar or chatter when stderr is not a terminal";

  const RunResult info = Run({"info", P("s.tova")});
  ASSERT_EQ(info.status, 0) << info.err;
  auto fields = InfoFields(info.out);
  EXPECT_EQ(fields["Frames"], "12");
  EXPECT_EQ(fields["Sensor size"], "40 x 30");
  EXPECT_EQ(fields["Image size"], "40 x 30");
  EXPECT_EQ(fields["Data unit"], "0: U16");
  EXPECT_EQ(fields["Calibration"], "0: table 256 U16");
  EXPECT_NE(fields["Device"].find("-ID: "), std::string::npos);
  EXPECT_EQ(fields["Measurement range"], "0");
  EXPECT_EQ(fields["Display scale"], "20.0 .. 80.0 \xC2\xB0""C");
  EXPECT_EQ(fields["Span"], "0.440 s");  // 11 steps of 40 ms
  EXPECT_NE(fields["First frame"], fields["Last frame"]);
  EXPECT_NE(fields["Size on disk"].find("MB (main file and 0 continuation files)"), std::string::npos);

  // What the file holds, read back through the public API.
  Reader doc(Path("s.tova"));
  ASSERT_TRUE(doc.ok());
  ASSERT_EQ(doc.frames(), 12u);
  EXPECT_EQ(doc.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_DataUnit), TOVA_DATAUNIT_U16);
  EXPECT_EQ(doc.Entry(TOVA_SECT_DataHeader, TOVA_DH_TCAL_TABLE_U16).size(), 536u);
  int64_t previous_stamp = -1;
  size_t previous_hottest = SIZE_MAX;
  for (uint32_t f = 0; f < 12; ++f) {
    ASSERT_EQ(TOVADLL_SET_CURDATASET(doc.handle(), f), TOVA_OK);
    const int64_t stamp = StampMilliseconds(doc.Entry(TOVA_SECT_DataHeader, TOVA_DH_DREC_TimeStamp));
    if (previous_stamp >= 0) EXPECT_EQ((stamp - previous_stamp + 86400000) % 86400000, 40) << "frame " << f;
    previous_stamp = stamp;
    EXPECT_EQ(doc.Entry(TOVA_SECT_DataHeader, TOVA_DH_INFO_DetectorTempC).size(), 4u);
    EXPECT_EQ(doc.Entry(TOVA_SECT_DataHeader, TOVA_DH_INFO_CameraTempC).size(), 4u);
    const auto pixels = doc.Entry(TOVA_SECT_Image, TOVA_IM_Data);
    ASSERT_EQ(pixels.size(), 40u * 30u * 2u);
    // Centi-kelvin: a warm background and one hot spot that moves.
    size_t hottest = 0;
    uint16_t low = UINT16_MAX, high = 0;
    for (size_t i = 0; i < pixels.size() / 2; ++i) {
      const uint16_t raw = static_cast<uint16_t>(pixels[2 * i] | (pixels[2 * i + 1] << 8));
      if (raw > high) hottest = i;
      low = std::min(low, raw);
      high = std::max(high, raw);
    }
    EXPECT_GT(low / 100.0 - 273.15, 18.0);
    EXPECT_LT(low / 100.0 - 273.15, 30.0);
    EXPECT_GT(high / 100.0 - 273.15, 60.0);
    EXPECT_LT(high / 100.0 - 273.15, 80.0);
    EXPECT_NE(hottest, previous_hottest) << "the hot spot moves from frame to frame";
    previous_hottest = hottest;
  }
}

TEST_F(TovaCli, InfoAndDuCountContinuationFilesInTheSize) {
  Sample("c.tova", 2, "16x12");
  const double main_mb = static_cast<double>(fs::file_size(Path("c.tova"))) / 1048576.0;
  WriteBytes(Path("c.tova 001"), std::string(1048576, '\0'));
  WriteBytes(Path("c.tova 002"), std::string(524288, '\0'));

  const RunResult info = Run({"info", P("c.tova")});
  ASSERT_EQ(info.status, 0) << info.err;
  char expected[64];
  std::snprintf(expected, sizeof expected, "%.3f MB (main file and 2 continuation files)", main_mb + 1.5);
  EXPECT_EQ(InfoFields(info.out)["Size on disk"], expected);

  const RunResult du = Run({"du", P("c.tova")});
  ASSERT_EQ(du.status, 0) << du.err;
  std::snprintf(expected, sizeof expected, "%.3f MB", main_mb + 1.5);
  EXPECT_NE(du.out.find(expected), std::string::npos) << du.out;
  EXPECT_NE(du.out.find("(+2 continuation files)"), std::string::npos) << du.out;
}

// ---- failures: message with the result code, nonzero exit ------------------

TEST_F(TovaCli, FailuresNameTheReasonOnStderrWithANonzeroStatus) {
  Sample("s.tova", 3, "8x6");
  const std::string good = ReadFile(Path("s.tova"));
  WriteBytes(Path("garbage.tova"), std::string("\x10\x00\x00\x00\x34\x12 not a recording at all", 30));
  WriteBytes(Path("cut.tova"), good.substr(0, good.size() / 2));
  WriteBytes(Path("empty.tova"), "");
  WriteBytes(Path("s.dat"), good);

  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> in_stderr;
  };
  const Case cases[] = {
      {{"info", P("missing.tova")}, 1, {"missing.tova", "no such file"}},
      {{"info", P("empty.tova")}, 1, {"empty"}},
      {{"info", P("garbage.tova")}, 1, {"error 9", "TOVA_ERR_READ"}},
      {{"info", P("cut.tova")}, 1, {"error 9", "TOVA_ERR_READ"}},
      {{"dump", P("s.dat")}, 1, {"error 43", "TOVA_ERR_EXTENSION"}},
      {{"export", P("garbage.tova"), "-o", P("x.png")}, 1, {"TOVA_ERR_READ"}},
      {{"dump", P("s.tova"), "--frame", "3"}, 1, {"frame 3 does not exist", "3 frames (0 to 2)"}},
      {{"export", P("s.tova"), "--frame", "7", "-o", P("x.png")}, 1, {"frame 7 does not exist"}},
      {{"du", P("missing.tova")}, 1, {"error 16", "TOVA_ERR_FILE_SIZE"}},
      {{"rm", P("missing.tova")}, 1, {"no such file"}},
      {{"rm", P("s.dat")}, 1, {"extension .tova"}},
      {{"sample", P("s.tova")}, 1, {"exists", "--force"}},
      {{"info"}, 2, {"missing FILE", "tova info --help"}},
      {{"export", P("s.tova")}, 2, {"missing -o"}},
      {{"export", P("s.tova"), "-o", P("x.png"), "--range", "80:20"}, 2, {"--range"}},
      {{"export", P("s.tova"), "-o", P("x.png"), "--frame", "two"}, 2, {"--frame"}},
      {{"dump", P("s.tova"), "--section", "xx"}, 2, {"unknown section 'xx'"}},
      {{"dump", P("s.tova"), "--bogus"}, 2, {"unknown option '--bogus'"}},
      {{"sample", P("n.tova"), "--size", "0x5"}, 2, {"--size"}},
      {{"clean", P(""), "--older-than", "7x"}, 2, {"AGE"}},
      {{"frobnicate"}, 2, {"unknown command 'frobnicate'"}},
      {{}, 2, {"Usage: tova COMMAND"}},
  };
  for (const Case& c : cases) {
    std::string label = "tova";
    for (const std::string& a : c.args) label += " " + a;
    SCOPED_TRACE(label);
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const std::string& text : c.in_stderr) EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    if (c.status != 0) EXPECT_EQ(r.out.find("error"), std::string::npos) << "failures go to stderr: " << r.out;
  }
  EXPECT_FALSE(fs::exists(Path("n.tova")));
  EXPECT_EQ(ReadFile(Path("s.tova")), good) << "a refused sample leaves the existing file alone";
}

TEST_F(TovaCli, EverySubcommandHasHelp) {
  const RunResult top = Run({"--help"});
  ASSERT_EQ(top.status, 0);
  for (const char* name : {"info", "dump", "export", "cat", "rm", "mv", "du", "clean", "sample"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(top.out.find(std::string("  ") + name + " "), std::string::npos) << top.out;
    const RunResult help = Run({name, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(std::string("Usage: tova ") + name, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Example:"), std::string::npos);
  }
}

// ---- dump -------------------------------------------------------------------

TEST_F(TovaCli, DumpListsSectionsEntriesAndRenderedDataAsLines) {
  Sample("s.tova", 4, "20x10");
  const RunResult all = Run({"dump", P("s.tova")});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out.find('\r'), std::string::npos) << "rendered CR / CR LF become newlines";
  for (const char* text : {"TOVA_SECT_GlobalHeader <FF01>", "TOVA_SECT_DataHeader <FF02>", "TOVA_SECT_Image <FF10>",
                           "[1] TOVA_GH_Origin_MBC <101> (18 bytes)", "TOVA_DH_DREC_DataUnit <200> (8 bytes)",
                           "      0: U16\n", "      0: table 256 U16\n", "      TABLE[256]: ",
                           "TOVA_IM_Data <300> (406 bytes)", "      <bin: 400 bytes>\n", "      20.0\n"})
    EXPECT_NE(all.out.find(text), std::string::npos) << text;

  // A later frame: only what is stored with it, each time stamp field on a line.
  const RunResult dh = Run({"dump", P("s.tova"), "--frame", "3", "--section", "dh"});
  ASSERT_EQ(dh.status, 0) << dh.err;
  EXPECT_EQ(dh.out.find("TOVA_SECT_GlobalHeader"), std::string::npos);
  EXPECT_EQ(dh.out.find("TOVA_SECT_Image"), std::string::npos);
  EXPECT_NE(dh.out.find("TOVA_DH_DREC_TimeStamp <232> (22 bytes)"), std::string::npos);
  EXPECT_EQ(dh.out.find("TOVA_DH_DREC_SizeX"), std::string::npos) << "shared entries belong to frame 0";
  const std::vector<std::string> lines = Lines(dh.out);
  size_t at = 0;
  while (at < lines.size() && lines[at].find("TOVA_DH_DREC_TimeStamp") == std::string::npos) ++at;
  ASSERT_LT(at + 5, lines.size());
  EXPECT_EQ(lines[at + 1].rfind("      Year: ", 0), 0u);
  EXPECT_EQ(lines[at + 2].rfind("      Month: ", 0), 0u);
  EXPECT_EQ(lines[at + 3].rfind("      Day: ", 0), 0u);
  EXPECT_EQ(lines[at + 4].rfind("      DayOfWeek: ", 0), 0u);
  EXPECT_EQ(lines[at + 5].rfind("      Time: ", 0), 0u);
}

// ---- export -----------------------------------------------------------------

#ifdef TOVA_CLI_TEST_HAVE_PNG
struct DecodedPng {
  bool ok = false;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  std::array<uint8_t, 3> At(uint32_t x, uint32_t y) const {
    const size_t i = (size_t{y} * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

DecodedPng DecodePng(const fs::path& path) {
  DecodedPng png;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) return png;
  image.format = PNG_FORMAT_RGB;
  png.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr)) return png;
  png.ok = true;
  png.width = image.width;
  png.height = image.height;
  return png;
}

int Brightness(const std::array<uint8_t, 3>& c) { return c[0] + c[1] + c[2]; }

TEST_F(TovaCli, ExportPngIsTheFrameInFalseColourWithAColourBar) {
  Sample("s.tova", 3, "48x36");
  const RunResult r = Run({"export", P("s.tova"), "--frame", "2", "-o", P("f.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("stored display scale"), std::string::npos) << r.out;
  const DecodedPng png = DecodePng(Path("f.png"));
  ASSERT_TRUE(png.ok);
  // Layout: the image, then 64 columns for the colour bar and its labels.
  EXPECT_EQ(png.width, 48u + 64u);
  EXPECT_EQ(png.height, 36u);

  // The hottest image pixel shows brighter than the coolest corner.
  int hottest = 0, coolest = 3 * 255;
  for (uint32_t y = 0; y < 36; ++y)
    for (uint32_t x = 0; x < 48; ++x) {
      hottest = std::max(hottest, Brightness(png.At(x, y)));
      coolest = std::min(coolest, Brightness(png.At(x, y)));
    }
  EXPECT_GT(hottest, coolest + 300);
  // The bar (columns 52 to 63) runs from white at the top to black at the bottom.
  EXPECT_EQ(png.At(52 + 6, 0), (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(png.At(52 + 6, 35), (std::array<uint8_t, 3>{0, 0, 0}));
  EXPECT_GT(Brightness(png.At(58, 10)), Brightness(png.At(58, 25)));
  // The gap between image and bar is black.
  EXPECT_EQ(png.At(49, 18), (std::array<uint8_t, 3>{0, 0, 0}));
}

TEST_F(TovaCli, ExportAllWritesOneNumberedFilePerFrame) {
  Sample("s.tova", 5, "10x8");
  const RunResult r = Run({"export", P("s.tova"), "--all", "-o", P("frame.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (int f = 0; f < 5; ++f) {
    const fs::path file = Path("frame-000" + std::to_string(f) + ".png");
    const DecodedPng png = DecodePng(file);
    ASSERT_TRUE(png.ok) << file;
    EXPECT_EQ(png.width, 10u + 64u);
    EXPECT_EQ(png.height, 8u);
  }
  EXPECT_FALSE(fs::exists(Path("frame-0005.png")));
  EXPECT_FALSE(fs::exists(Path("frame.png")));
}

TEST_F(TovaCli, ExportWithoutCalibrationUsesTheFramesOwnRawRange) {
  RecordingSpec opt;  // a ramp 1000 .. 1047 of raw values, no calibration table
  WriteRecording(Path("r.tova"), opt);
  const RunResult r = Run({"export", P("r.tova"), "-o", P("r.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1000.0 .. 1047.0 (raw values), frame range"), std::string::npos) << r.out;
  const DecodedPng png = DecodePng(Path("r.png"));
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.At(0, 0), (std::array<uint8_t, 3>{0, 0, 0}));          // lowest value: palette start
  EXPECT_EQ(png.At(7, 5), (std::array<uint8_t, 3>{255, 255, 255}));    // highest value: palette end
}
#endif  // TOVA_CLI_TEST_HAVE_PNG

TEST_F(TovaCli, ExportCsvAndRawCarryTheStoredPixels) {
  Sample("s.tova", 2, "6x4");
  Reader doc(Path("s.tova"));
  ASSERT_TRUE(doc.ok());
  ASSERT_EQ(TOVADLL_SET_CURDATASET(doc.handle(), 1), TOVA_OK);
  const std::vector<uint8_t> pixels = doc.Entry(TOVA_SECT_Image, TOVA_IM_Data);
  ASSERT_EQ(pixels.size(), 48u);

  ASSERT_EQ(Run({"export", P("s.tova"), "--frame", "1", "-o", P("f.raw")}).status, 0);
  const std::string raw = ReadFile(Path("f.raw"));
  EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.end()), pixels);

  ASSERT_EQ(Run({"export", P("s.tova"), "--frame", "1", "-o", P("f.csv")}).status, 0);
  const std::vector<std::string> rows = Lines(ReadFile(Path("f.csv")));
  ASSERT_EQ(rows.size(), 4u);
  std::stringstream first_row(rows[0]);
  std::vector<long> values;
  for (std::string cell; std::getline(first_row, cell, ',');) values.push_back(std::stol(cell));
  ASSERT_EQ(values.size(), 6u);
  for (size_t x = 0; x < 6; ++x) EXPECT_EQ(values[x], pixels[2 * x] | (pixels[2 * x + 1] << 8)) << x;

  // In degrees Celsius through the recording's calibration table.
  ASSERT_EQ(Run({"export", P("s.tova"), "--frame", "1", "-o", P("c.csv"), "--celsius"}).status, 0);
  std::stringstream first_celsius(Lines(ReadFile(Path("c.csv")))[0]);
  std::string cell;
  std::getline(first_celsius, cell, ',');
  EXPECT_NEAR(std::stod(cell), values[0] / 100.0 - 273.15, 0.006);
}

TEST_F(TovaCli, ExportDecodesEveryDataUnit) {
  struct Case {
    uint16_t unit;
    const char* first_row;  // CSV of the first image row (8 pixels)
  };
  const Case cases[] = {
      {TOVA_DATAUNIT_U16, "1000,1001,1002,1003,1004,1005,1006,1007"},
      {TOVA_DATAUNIT_U32, "70000,70001,70002,70003,70004,70005,70006,70007"},
      {TOVA_DATAUNIT_S16, "-10,-9,-8,-7,-6,-5,-4,-3"},
      {TOVA_DATAUNIT_FLT, "20.5,21.5,22.5,23.5,24.5,25.5,26.5,27.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    RecordingSpec opt;
    opt.data_unit = c.unit;
    WriteRecording(Path("u.tova"), opt);
    const RunResult csv = Run({"export", P("u.tova"), "-o", P("u.csv")});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(Lines(ReadFile(Path("u.csv")))[0], c.first_row);
    const RunResult raw = Run({"export", P("u.tova"), "-o", P("u.raw")});
    ASSERT_EQ(raw.status, 0) << raw.err;
    const std::string bytes = ReadFile(Path("u.raw"));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), RampPixels(opt));
  }

  // FLT values are degrees Celsius, so they colour in degrees Celsius.
#ifdef TOVA_CLI_TEST_HAVE_PNG
  const RunResult png = Run({"export", P("u.tova"), "-o", P("u.png"), "--format", "png"});
  ASSERT_EQ(png.status, 0) << png.err;
  EXPECT_NE(png.out.find("20.5 .. 67.5 \xC2\xB0""C, frame range"), std::string::npos) << png.out;
#endif
  const RunResult celsius = Run({"export", P("u.tova"), "-o", P("c.csv"), "--celsius"});
  ASSERT_EQ(celsius.status, 0) << celsius.err;
  EXPECT_EQ(Lines(ReadFile(Path("c.csv")))[0], "20.50,21.50,22.50,23.50,24.50,25.50,26.50,27.50");
}

TEST_F(TovaCli, ExportRefusesImageDataThatDoNotFillTheImage) {
  RecordingSpec opt;
  WriteRecording(Path("short.tova"), opt);
  // Claim a larger image than the data hold, through the public API.
  const uint64_t h = TOVADLL_OPEN_FILE_READWRITE(P("short.tova").c_str(), 1);
  ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
  SetU16(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 60);
  ASSERT_EQ(TOVADLL_SAVE_FILE(h, P("tall.tova").c_str()), TOVA_OK);
  ASSERT_EQ(TOVADLL_CLOSE_FILE(h), TOVA_OK);
  const RunResult r = Run({"export", P("tall.tova"), "-o", P("t.png")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the image data hold 96 bytes, but 8 x 60 U16 pixels need 960"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("t.png")));
}

// ---- cat --------------------------------------------------------------------

TEST_F(TovaCli, CatJoinsCompatibleRecordingsInOrder) {
  Sample("a.tova", 3, "16x12");
  Sample("b.tova", 4, "16x12");
  const RunResult r = Run({"cat", P("a.tova"), P("b.tova"), "-o", P("ab.tova")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  Reader joined(Path("ab.tova"));
  ASSERT_TRUE(joined.ok());
  EXPECT_EQ(joined.frames(), 7u);

  // The image of the fourth frame is the first of b.tova.
  Reader b(Path("b.tova"));
  ASSERT_TRUE(b.ok());
  ASSERT_EQ(TOVADLL_SET_CURDATASET(joined.handle(), 3), TOVA_OK);
  EXPECT_EQ(joined.Entry(TOVA_SECT_Image, TOVA_IM_Data), b.Entry(TOVA_SECT_Image, TOVA_IM_Data));

  // Appending to the joined recording, and refusing to overwrite it silently.
  const RunResult again = Run({"cat", P("a.tova"), "-o", P("ab.tova")});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("--append"), std::string::npos);
  ASSERT_EQ(Run({"cat", P("a.tova"), "-o", P("ab.tova"), "--append"}).status, 0);
  EXPECT_EQ(Reader(Path("ab.tova")).frames(), 10u);
  ASSERT_EQ(Run({"cat", P("b.tova"), "-o", P("ab.tova"), "--force"}).status, 0);
  EXPECT_EQ(Reader(Path("ab.tova")).frames(), 4u);

  const RunResult self = Run({"cat", P("a.tova"), "-o", P("a.tova"), "--append"});
  EXPECT_EQ(self.status, 2);
  EXPECT_NE(self.err.find("also an input"), std::string::npos);
}

TEST_F(TovaCli, CatRefusesRecordingsThatDoNotFitAndNamesTheCode) {
  const RecordingSpec base;
  struct Case {
    const char* what;
    RecordingSpec other;
    const char* code;
  };
  RecordingSpec wider = base, other_device = base, float_unit = base, other_range = base;
  wider.width = 9;
  other_device.device = "OTHER CAMERA -ID: 8";
  float_unit.data_unit = TOVA_DATAUNIT_FLT;
  other_range.range = 2;
  const Case cases[] = {
      {"image and sensor size", wider, "error 62 (TOVA_ERR_MISMATCH_SIZE"},
      {"device", other_device, "error 60 (TOVA_ERR_MISMATCH_DEVICE"},
      {"data unit", float_unit, "error 60 (TOVA_ERR_MISMATCH_DEVICE"},
      {"measurement range", other_range, "error 61 (TOVA_ERR_MISMATCH_RANGE"},
  };
  WriteRecording(Path("base.tova"), base);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRecording(Path("other.tova"), c.other);
    fs::remove(Path("out.tova"));
    const RunResult r = Run({"cat", P("base.tova"), P("other.tova"), "-o", P("out.tova")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.code), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("other.tova"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.tova"))) << "no half-made output stays";
  }

  // Every input is checked before anything is written: with --append the
  // existing output stays as it was, and it takes part in the check.
  WriteRecording(Path("other.tova"), wider);
  WriteRecording(Path("out.tova"), base);
  const std::string before = ReadFile(Path("out.tova"));
  RunResult r = Run({"cat", P("base.tova"), P("other.tova"), "-o", P("out.tova"), "--append"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 62"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(Path("out.tova")), before);
  r = Run({"cat", P("other.tova"), "-o", P("out.tova"), "--append"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 62"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(Path("out.tova")), before);
}

// ---- rm, mv, du, clean -------------------------------------------------------

TEST_F(TovaCli, RmAndMvTreatContinuationFilesAsPartOfTheDocument) {
  Sample("x.tova", 2, "8x6");
  WriteBytes(Path("x.tova 001"), "part one");
  WriteBytes(Path("x.tova 002"), "part two");
  WriteBytes(Path("y.tova"), "occupied");

  const RunResult refused = Run({"mv", P("x.tova"), P("y.tova")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("--force"), std::string::npos);
  EXPECT_EQ(ReadFile(Path("y.tova")), "occupied");

  fs::create_directory(Path("sub"));
  const RunResult moved = Run({"mv", P("x.tova"), P("sub")});
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_NE(moved.out.find("(+2 continuation files)"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("x.tova")));
  EXPECT_FALSE(fs::exists(Path("x.tova 001")));
  EXPECT_EQ(ReadFile(Path("sub/x.tova 002")), "part two");
  EXPECT_TRUE(Reader(Path("sub/x.tova")).ok());

  WriteBytes(Path("y.tova 003"), "stale part of y");
  ASSERT_EQ(Run({"mv", P("sub/x.tova"), P("y.tova"), "--force"}).status, 0);
  EXPECT_TRUE(Reader(Path("y.tova")).ok());
  EXPECT_EQ(ReadFile(Path("y.tova 001")), "part one");
  EXPECT_FALSE(fs::exists(Path("y.tova 003"))) << "a part of the replaced document must not join the new one";

  const RunResult removed = Run({"rm", P("y.tova")});
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_NE(removed.out.find("(+2 continuation files)"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(Path("sub")));
  for (const char* name : {"y.tova", "y.tova 001", "y.tova 002"}) EXPECT_FALSE(fs::exists(Path(name))) << name;
  EXPECT_EQ(Run({"rm", P("y.tova")}).status, 1);
  EXPECT_EQ(Run({"rm", "-f", P("y.tova")}).status, 0);
}

TEST_F(TovaCli, CleanDeletesOnlyOldDocumentsWithTheirParts) {
  fs::create_directories(Path("rec/day1"));
  Sample("rec/old.tova", 1, "4x4");
  WriteBytes(Path("rec/old.tova 001"), "old part");
  Sample("rec/day1/old2.tova", 1, "4x4");
  Sample("rec/young.tova", 1, "4x4");
  Sample("rec/mixed.tova", 1, "4x4");
  WriteBytes(Path("rec/mixed.tova 001"), "young part");
  WriteBytes(Path("rec/notes.txt"), "not a document");
  const auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(24 * 10);
  for (const char* name : {"rec/old.tova", "rec/old.tova 001", "rec/day1/old2.tova", "rec/mixed.tova", "rec/notes.txt"})
    fs::last_write_time(Path(name), old_time);

  const RunResult dry = Run({"clean", P("rec"), "--older-than", "7d", "--dry-run"});
  ASSERT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find("old.tova (+1 continuation file)"), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("old2.tova"), std::string::npos) << dry.out;
  EXPECT_EQ(dry.out.find("mixed.tova"), std::string::npos) << dry.out;
  EXPECT_EQ(dry.out.find("young.tova"), std::string::npos) << dry.out;
  EXPECT_TRUE(fs::exists(Path("rec/old.tova")));

  const RunResult r = Run({"clean", P("rec"), "--older-than", "7d"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("deleted 2 documents (3 files)"), std::string::npos) << r.out;
  for (const char* gone : {"rec/old.tova", "rec/old.tova 001", "rec/day1/old2.tova"})
    EXPECT_FALSE(fs::exists(Path(gone))) << gone;
  for (const char* kept : {"rec/young.tova", "rec/mixed.tova", "rec/mixed.tova 001", "rec/notes.txt"})
    EXPECT_TRUE(fs::exists(Path(kept))) << kept;

  const RunResult not_dir = Run({"clean", P("rec/young.tova"), "--older-than", "1h"});
  EXPECT_EQ(not_dir.status, 1);
  EXPECT_NE(not_dir.err.find("not a directory"), std::string::npos);
}

}  // namespace
