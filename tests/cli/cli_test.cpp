// Tests of the tova tool: each runs the built binary (its path comes in as
// TOVA_CLI_EXE) in a fresh temporary directory, on recordings made by the
// tool itself or through the public API, and checks stdout, stderr, the exit
// status and the files written (read back through the public API and, for
// PNG, through libpng).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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

#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)
#define EXPECT_LACKS(text, part) EXPECT_EQ((text).find(part), std::string::npos) << (text)

namespace {

using Bytes = std::vector<uint8_t>;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

// "Label:   value" lines of tova info.
std::map<std::string, std::string> InfoFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  for (const std::string& line : Lines(text))
    if (const size_t colon = line.find(':'); colon != std::string::npos)
      fields[line.substr(0, colon)] = line.substr(std::min(line.size(), line.find_first_not_of(' ', colon + 1)));
  return fields;
}

uint16_t U16At(const Bytes& d, size_t i) { return static_cast<uint16_t>(d[2 * i] | (d[2 * i + 1] << 8)); }

// A one-frame recording made through the public API. Its pixels are a ramp
// that starts where each data unit has something to show (a negative start
// for S16, a fraction for FLT, beyond 16 bits for U32).
struct Recording {
  uint16_t width = 8, height = 6, data_unit = TOVA_DATAUNIT_U16, range = 0;
  std::string device = "TEST CAMERA -ID: 7";
};

void SetU16(uint64_t h, uint16_t section, uint16_t id, uint16_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, section, id, 2, b), TOVA_OK);
}

void WriteRecording(const fs::path& path, const Recording& opt) {
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(1, opt.data_unit, 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC,
                              static_cast<uint32_t>(opt.device.size() + 1), opt.device.c_str()),
            TOVA_OK);
  SetU16(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, opt.width);
  SetU16(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, opt.height);
  SetU16(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, opt.width);
  SetU16(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, opt.height);
  SetU16(mem, TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, opt.range);
  const size_t count = size_t{opt.width} * opt.height, bpp = opt.data_unit % 2 == 0 ? 2 : 4;  // U16 and S16 (0, 2) take 2 bytes
  Bytes pixels(count * bpp);
  for (size_t i = 0; i < count; ++i) {
    const float f = 20.5f + static_cast<float>(i);
    uint32_t bits = static_cast<uint32_t>(
        (opt.data_unit == TOVA_DATAUNIT_U32 ? 70000 : opt.data_unit == TOVA_DATAUNIT_S16 ? -10 : 1000) + static_cast<int64_t>(i));
    if (opt.data_unit == TOVA_DATAUNIT_FLT) std::memcpy(&bits, &f, sizeof bits);
    for (size_t b = 0; b < bpp; ++b) pixels[i * bpp + b] = static_cast<uint8_t>(bits >> (8 * b));
  }
  ASSERT_EQ(TOVADLL_SET_ENTRY(mem, TOVA_SECT_Image, TOVA_IM_Data, static_cast<uint32_t>(pixels.size()), pixels.data()),
            TOVA_OK);
  const uint64_t out = TOVADLL_OPEN_FILE_WRITE(path.string().c_str(), 0);
  ASSERT_EQ(TOVADLL_ADD_TOVA(out, mem, 0), TOVA_OK);
  ASSERT_EQ(TOVADLL_CLOSE_FILE(out), TOVA_OK);
  ASSERT_EQ(TOVADLL_CLOSE_FILE(mem), TOVA_OK);
}

// A recording opened through the public API for checking what the tool wrote.
class Reader {
 public:
  explicit Reader(const fs::path& path) : h_(TOVADLL_OPEN_FILE_READ(path.string().c_str())) {
    TOVADLL_READ_FROM_FILE(h_, 1, 0);
  }
  ~Reader() { TOVADLL_CLOSE_FILE(h_); }
  // 0 when the file cannot be read.
  uint32_t frames() const {
    uint32_t n = 0;
    TOVADLL_GET_NUMDATASETS(h_, &n);
    return n;
  }
  // The entry of the given frame; empty when missing.
  Bytes Entry(uint16_t section, uint16_t id, uint32_t frame = 0) const {
    uint32_t size = 0, copied = 0;
    if (TOVADLL_SET_CURDATASET(h_, frame) != TOVA_OK || TOVADLL_GET_ENTRY_DATASIZE(h_, section, id, &size) != TOVA_OK)
      return {};
    Bytes data(size);
    return TOVADLL_COPY_ENTRY_DATA(h_, section, id, size, data.data(), &copied) == TOVA_OK ? data : Bytes{};
  }

 private:
  uint64_t h_;
};

class TovaCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tova_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                        "_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path Path(const std::string& name) const { return dir_ / name; }
  std::string P(const std::string& name) const { return Path(name).string(); }

  // Runs tova with the words given (each quoted) and expects the exit status
  // given. Returns stdout on success, when stderr must stay empty (no progress
  // bar or chatter: both go to files, so stderr is no terminal), and stderr
  // on failure, which stdout must not report.
  std::string Tova(const std::vector<std::string>& words, int expected_status = 0) const {
    std::string command = "\"" + std::string(TOVA_CLI_EXE) + "\"";
    for (const std::string& w : words) command += " \"" + w + "\"";
    const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    const int raw = std::system((command + " > \"" + out.string() + "\" 2> \"" + err.string() + "\"").c_str());
#ifdef _WIN32
    const int status = raw;
#else
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    const std::string out_text = ReadFile(out), err_text = ReadFile(err);
    EXPECT_EQ(status, expected_status) << err_text;
    if (expected_status == 0) EXPECT_EQ(err_text, "");
    else EXPECT_LACKS(out_text, "error");
    return expected_status == 0 ? out_text : err_text;
  }
  void Sample(const std::string& name, int frames, const std::string& size) {
    Tova({"sample", P(name), "--frames", std::to_string(frames), "--size", size});
  }

  fs::path dir_;
};

TEST_F(TovaCli, SampleWritesARealisticRecordingThatInfoDescribes) {
  Sample("s.tova", 12, "40x30");
  auto fields = InfoFields(Tova({"info", P("s.tova")}));
  const std::pair<const char*, const char*> expected[] = {
      {"Frames", "12"}, {"Sensor size", "40 x 30"}, {"Image size", "40 x 30"}, {"Data unit", "0: U16"},
      {"Calibration", "0: table 256 U16"}, {"Measurement range", "0"}, {"Display scale", "20.0 .. 80.0 \xC2\xB0""C"},
      {"Span", "0.440 s"} /* 11 steps of 40 ms */};
  for (const auto& [label, value] : expected) EXPECT_EQ(fields[label], value) << label;
  EXPECT_HAS(fields["Device"], "-ID: ");
  EXPECT_NE(fields["First frame"], fields["Last frame"]);
  EXPECT_HAS(fields["Size on disk"], "MB (main file and 0 continuation files)");

  // Centi-kelvin frames of a warm background and a hot spot that moves.
  Reader doc(Path("s.tova"));
  ASSERT_EQ(doc.frames(), 12u);
  EXPECT_EQ(doc.Entry(TOVA_SECT_DataHeader, TOVA_DH_TCAL_TABLE_U16).size(), 536u);
  EXPECT_EQ(doc.Entry(TOVA_SECT_DataHeader, TOVA_DH_DREC_TimeStamp, 11).size(), 16u);
  size_t previous_hottest = SIZE_MAX;
  for (uint32_t f = 0; f < 12; ++f) {
    const Bytes pixels = doc.Entry(TOVA_SECT_Image, TOVA_IM_Data, f);
    ASSERT_EQ(pixels.size(), 40u * 30u * 2u);
    std::vector<uint16_t> raw(pixels.size() / 2);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = U16At(pixels, i);
    const auto [low, high] = std::minmax_element(raw.begin(), raw.end());
    EXPECT_TRUE(*low > 29115 && *low < 30315 && *high > 33315 && *high < 35315) << f;  // 18..30 and 60..80 degrees
    EXPECT_NE(static_cast<size_t>(high - raw.begin()), previous_hottest) << f;
    previous_hottest = static_cast<size_t>(high - raw.begin());
  }
}

TEST_F(TovaCli, FailuresNameTheReasonOnStderrWithANonzeroStatus) {
  Sample("s.tova", 3, "8x6");
  const std::string good = ReadFile(Path("s.tova"));
  WriteBytes(Path("garbage.tova"), std::string("\x10\x00\x00\x00\x34\x12 not a recording at all", 30));
  WriteBytes(Path("empty.tova"), "");
  WriteBytes(Path("s.dat"), good);
  const struct {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> in_stderr;
  } cases[] = {
      {{"info", P("missing.tova")}, 1, {"missing.tova", "no such file"}},
      {{"info", P("empty.tova")}, 1, {"empty"}},
      {{"info", P("garbage.tova")}, 1, {"error 9", "TOVA_ERR_READ"}},
      {{"dump", P("s.dat")}, 1, {"error 43", "TOVA_ERR_EXTENSION"}},
      {{"dump", P("s.tova"), "--frame", "3"}, 1, {"frame 3 does not exist", "3 frames (0 to 2)"}},
      {{"du", P("missing.tova")}, 1, {"error 16", "TOVA_ERR_FILE_SIZE"}},
      {{"rm", P("missing.tova")}, 1, {"no such file"}},
      {{"rm", P("s.dat")}, 1, {"extension .tova"}},
      {{"sample", P("s.tova")}, 1, {"exists", "--force"}},
      {{"info"}, 2, {"missing FILE", "tova info --help"}},
      {{"export", P("s.tova")}, 2, {"missing -o"}},
      {{"export", P("s.tova"), "-o", P("x.png"), "--range", "80:20"}, 2, {"--range"}},
      {{"dump", P("s.tova"), "--section", "xx"}, 2, {"unknown section 'xx'"}},
      {{"clean", P(""), "--older-than", "7x"}, 2, {"AGE"}},
      {{"frobnicate"}, 2, {"unknown command 'frobnicate'"}},
      {{}, 2, {"Usage: tova COMMAND"}},
  };
  for (const auto& c : cases) {
    std::string label = "tova";
    for (const std::string& word : c.args) label += " " + word;
    SCOPED_TRACE(label);
    const std::string err = Tova(c.args, c.status);
    for (const std::string& text : c.in_stderr) EXPECT_HAS(err, text);
  }
  EXPECT_FALSE(fs::exists(Path("x.png")));
  EXPECT_EQ(ReadFile(Path("s.tova")), good) << "a refused sample leaves the existing file alone";
}

TEST_F(TovaCli, EverySubcommandHasHelp) {
  const std::string top = Tova({"--help"});
  for (const std::string name : {"info", "dump", "export", "cat", "rm", "mv", "du", "clean", "sample"}) {
    SCOPED_TRACE(name);
    EXPECT_HAS(top, "  " + name + " ");
    const std::string help = Tova({name, "--help"});
    EXPECT_EQ(help.rfind("Usage: tova " + name, 0), 0u) << help;
    EXPECT_HAS(help, "Example:");
  }
}

TEST_F(TovaCli, DumpListsSectionsEntriesAndRenderedDataAsLines) {
  Sample("s.tova", 4, "20x10");
  const std::string all = Tova({"dump", P("s.tova")});
  EXPECT_LACKS(all, '\r') << "rendered CR / CR LF become newlines";
  for (const char* text : {"TOVA_SECT_GlobalHeader <FF01>", "TOVA_SECT_DataHeader <FF02>", "TOVA_SECT_Image <FF10>",
                           "[1] TOVA_GH_Origin_MBC <101> (18 bytes)", "TOVA_DH_DREC_DataUnit <200> (8 bytes)",
                           "      0: U16\n", "      0: table 256 U16\n", "      TABLE[256]: ",
                           "TOVA_IM_Data <300> (406 bytes)", "      <bin: 400 bytes>\n", "      20.0\n"})
    EXPECT_HAS(all, text);

  // A later frame: only what is stored with it, each time stamp field on a line.
  const std::string dh = Tova({"dump", P("s.tova"), "--frame", "3", "--section", "dh"});
  for (const char* absent : {"TOVA_SECT_GlobalHeader", "TOVA_SECT_Image", "TOVA_DH_DREC_SizeX" /* frame 0's */})
    EXPECT_LACKS(dh, absent);
  EXPECT_TRUE(std::regex_search(dh, std::regex("TOVA_DH_DREC_TimeStamp <232> \\(22 bytes\\)\n      Year: .*\n      Month: "
                                               ".*\n      Day: .*\n      DayOfWeek: .*\n      Time: ")))
      << dh;
}

#ifdef TOVA_CLI_TEST_HAVE_PNG
struct DecodedPng {
  bool ok = false;
  uint32_t width = 0, height = 0;
  Bytes rgb;
  std::array<uint8_t, 3> At(uint32_t x, uint32_t y) const {
    const size_t i = (size_t{y} * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  int Brightness(uint32_t x, uint32_t y) const { return At(x, y)[0] + At(x, y)[1] + At(x, y)[2]; }
};

DecodedPng DecodePng(const fs::path& path) {
  DecodedPng png;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) return png;
  image.format = PNG_FORMAT_RGB;
  png.rgb.resize(PNG_IMAGE_SIZE(image));
  png.ok = png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr);
  png.width = image.width;
  png.height = image.height;
  return png;
}

constexpr std::array<uint8_t, 3> kBlack{0, 0, 0}, kWhite{255, 255, 255};

TEST_F(TovaCli, ExportPngIsTheFrameInFalseColourWithAColourBar) {
  Sample("s.tova", 3, "48x36");
  EXPECT_HAS(Tova({"export", P("s.tova"), "--frame", "2", "-o", P("f.png")}), "stored display scale");
  const DecodedPng png = DecodePng(Path("f.png"));
  ASSERT_TRUE(png.ok);
  // Layout: the image, then 64 columns for the colour bar and its labels.
  ASSERT_EQ(png.width, 48u + 64u);
  ASSERT_EQ(png.height, 36u);
  // The hottest image pixel shows brighter than the coolest.
  int hottest = 0, coolest = 3 * 255;
  for (uint32_t y = 0; y < 36; ++y)
    for (uint32_t x = 0; x < 48; ++x) {
      hottest = std::max(hottest, png.Brightness(x, y));
      coolest = std::min(coolest, png.Brightness(x, y));
    }
  EXPECT_GT(hottest, coolest + 300);
  // The bar (columns 52 to 63) runs from white at the top to black at the
  // bottom; the gap between image and bar is black.
  EXPECT_EQ(png.At(58, 0), kWhite);
  EXPECT_EQ(png.At(58, 35), kBlack);
  EXPECT_GT(png.Brightness(58, 10), png.Brightness(58, 25));
  EXPECT_EQ(png.At(49, 18), kBlack);

  // --all: one numbered file per frame.
  Tova({"export", P("s.tova"), "--all", "-o", P("frame.png")});
  for (int f = 0; f < 3; ++f) {
    const DecodedPng each = DecodePng(Path("frame-000" + std::to_string(f) + ".png"));
    EXPECT_TRUE(each.ok && each.width == 48u + 64u && each.height == 36u) << f;
  }
  EXPECT_FALSE(fs::exists(Path("frame-0003.png")) || fs::exists(Path("frame.png")));

  // Without a calibration table the frame's own raw range (1000 .. 1047) spans the palette.
  WriteRecording(Path("r.tova"), Recording{});
  EXPECT_HAS(Tova({"export", P("r.tova"), "-o", P("r.png")}), "1000.0 .. 1047.0 (raw values), frame range");
  const DecodedPng raw = DecodePng(Path("r.png"));
  ASSERT_TRUE(raw.ok);
  EXPECT_EQ(raw.At(0, 0), kBlack);
  EXPECT_EQ(raw.At(7, 5), kWhite);
}
#endif  // TOVA_CLI_TEST_HAVE_PNG

TEST_F(TovaCli, ExportCsvAndRawCarryTheStoredPixelsOfEveryDataUnit) {
  const std::pair<uint16_t, const char*> cases[] = {
      {TOVA_DATAUNIT_U16, "1000,1001,1002,1003,1004,1005,1006,1007"},
      {TOVA_DATAUNIT_U32, "70000,70001,70002,70003,70004,70005,70006,70007"},
      {TOVA_DATAUNIT_S16, "-10,-9,-8,-7,-6,-5,-4,-3"},
      {TOVA_DATAUNIT_FLT, "20.5,21.5,22.5,23.5,24.5,25.5,26.5,27.5"},
  };
  for (const auto& [unit, first_row] : cases) {
    SCOPED_TRACE(unit);
    WriteRecording(Path("u.tova"), Recording{.data_unit = unit});
    Tova({"export", P("u.tova"), "-o", P("u.csv")});
    const std::vector<std::string> rows = Lines(ReadFile(Path("u.csv")));
    EXPECT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows.at(0), first_row);
  }
  // FLT values (the last case) are degrees Celsius, so they colour in degrees Celsius.
#ifdef TOVA_CLI_TEST_HAVE_PNG
  EXPECT_HAS(Tova({"export", P("u.tova"), "-o", P("u.png"), "--format", "png"}), "20.5 .. 67.5 \xC2\xB0""C, frame range");
#endif
  Tova({"export", P("u.tova"), "-o", P("c.csv"), "--celsius"});
  EXPECT_EQ(Lines(ReadFile(Path("c.csv")))[0], "20.50,21.50,22.50,23.50,24.50,25.50,26.50,27.50");

  // A chosen frame, raw as stored, and in degrees Celsius through the recording's calibration table.
  Sample("s.tova", 2, "6x4");
  const Bytes pixels = Reader(Path("s.tova")).Entry(TOVA_SECT_Image, TOVA_IM_Data, 1);
  ASSERT_EQ(pixels.size(), 48u);
  Tova({"export", P("s.tova"), "--frame", "1", "-o", P("f.raw")});
  EXPECT_EQ(ReadFile(Path("f.raw")), std::string(pixels.begin(), pixels.end()));
  Tova({"export", P("s.tova"), "--frame", "1", "-o", P("c.csv"), "--celsius"});
  EXPECT_NEAR(std::stod(ReadFile(Path("c.csv"))), U16At(pixels, 0) / 100.0 - 273.15, 0.006);
}

TEST_F(TovaCli, ExportRefusesImageDataThatDoNotFillTheImage) {
  WriteRecording(Path("short.tova"), Recording{});
  // Claim a larger image than the data hold, through the public API.
  const uint64_t h = TOVADLL_OPEN_FILE_READWRITE(P("short.tova").c_str(), 1);
  SetU16(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 60);
  ASSERT_EQ(TOVADLL_SAVE_FILE(h, P("tall.tova").c_str()), TOVA_OK);
  ASSERT_EQ(TOVADLL_CLOSE_FILE(h), TOVA_OK);
  EXPECT_HAS(Tova({"export", P("tall.tova"), "-o", P("t.png")}, 1),
             "the image data hold 96 bytes, but 8 x 60 U16 pixels need 960");
  EXPECT_FALSE(fs::exists(Path("t.png")));
}

TEST_F(TovaCli, CatJoinsCompatibleRecordingsInOrder) {
  Sample("a.tova", 3, "16x12");
  Sample("b.tova", 4, "16x12");
  Tova({"cat", P("a.tova"), P("b.tova"), "-o", P("ab.tova")});
  {
    Reader joined(Path("ab.tova"));
    EXPECT_EQ(joined.frames(), 7u);
    // The image of the fourth frame is the first of b.tova.
    EXPECT_EQ(joined.Entry(TOVA_SECT_Image, TOVA_IM_Data, 3), Reader(Path("b.tova")).Entry(TOVA_SECT_Image, TOVA_IM_Data));
  }
  // Appending to the joined recording, and refusing to overwrite it silently.
  EXPECT_HAS(Tova({"cat", P("a.tova"), "-o", P("ab.tova")}, 1), "--append");
  Tova({"cat", P("a.tova"), "-o", P("ab.tova"), "--append"});
  EXPECT_EQ(Reader(Path("ab.tova")).frames(), 10u);
  Tova({"cat", P("b.tova"), "-o", P("ab.tova"), "--force"});
  EXPECT_EQ(Reader(Path("ab.tova")).frames(), 4u);
  EXPECT_HAS(Tova({"cat", P("a.tova"), "-o", P("a.tova"), "--append"}, 2), "also an input");
}

// Every input is checked before anything is written: no half-made output
// stays, and with --append the existing output stays as it was.
TEST_F(TovaCli, CatRefusesRecordingsThatDoNotFitBeforeWritingAnything) {
  WriteRecording(Path("base.tova"), Recording{});
  WriteRecording(Path("other.tova"), Recording{.width = 9});
  std::string err = Tova({"cat", P("base.tova"), P("other.tova"), "-o", P("out.tova")}, 1);
  EXPECT_HAS(err, "error 62 (TOVA_ERR_MISMATCH_SIZE");
  EXPECT_HAS(err, "other.tova");
  EXPECT_FALSE(fs::exists(Path("out.tova")));
  WriteRecording(Path("out.tova"), Recording{});
  const std::string before = ReadFile(Path("out.tova"));
  EXPECT_HAS(Tova({"cat", P("base.tova"), P("other.tova"), "-o", P("out.tova"), "--append"}, 1), "nothing was written");
  EXPECT_HAS(Tova({"cat", P("other.tova"), "-o", P("out.tova"), "--append"}, 1), "error 62");
  EXPECT_EQ(ReadFile(Path("out.tova")), before);
}

// The housekeeping commands report continuation files with the document;
// which files go is the library's concern.
TEST_F(TovaCli, RmMvDuAndCleanReportContinuationFiles) {
  Sample("x.tova", 2, "16x12");
  const double main_mb = static_cast<double>(fs::file_size(Path("x.tova"))) / 1048576.0;
  WriteBytes(Path("x.tova 001"), std::string(1048576, '\0'));
  WriteBytes(Path("x.tova 002"), std::string(524288, '\0'));
  char size[32];
  std::snprintf(size, sizeof size, "%.3f MB", main_mb + 1.5);
  EXPECT_EQ(InfoFields(Tova({"info", P("x.tova")}))["Size on disk"], std::string(size) + " (main file and 2 continuation files)");
  const std::string du = Tova({"du", P("x.tova")});
  EXPECT_HAS(du, std::string(size) + " ");
  EXPECT_HAS(du, "x.tova (+2 continuation files)");
  WriteBytes(Path("y.tova"), "occupied");
  EXPECT_HAS(Tova({"mv", P("x.tova"), P("y.tova")}, 1), "--force");
  EXPECT_EQ(ReadFile(Path("y.tova")), "occupied");
  fs::create_directory(Path("sub"));
  EXPECT_HAS(Tova({"mv", P("x.tova"), P("sub")}), "(+2 continuation files)");
  EXPECT_EQ(Reader(Path("sub/x.tova")).frames(), 2u);
  EXPECT_HAS(Tova({"rm", P("sub/x.tova")}), "(+2 continuation files)");
  EXPECT_TRUE(fs::is_empty(Path("sub")));
  Tova({"rm", P("sub/x.tova")}, 1);
  Tova({"rm", "-f", P("sub/x.tova")});

  fs::create_directory(Path("rec"));
  Sample("rec/old.tova", 1, "4x4");
  Sample("rec/young.tova", 1, "4x4");
  WriteBytes(Path("rec/old.tova 001"), "old part");
  for (const char* name : {"rec/old.tova", "rec/old.tova 001"})
    fs::last_write_time(Path(name), fs::file_time_type::clock::now() - std::chrono::hours(24 * 10));
  const std::string dry = Tova({"clean", P("rec"), "--older-than", "7d", "--dry-run"});
  EXPECT_HAS(dry, "old.tova (+1 continuation file)");
  EXPECT_LACKS(dry, "young.tova");
  EXPECT_TRUE(fs::exists(Path("rec/old.tova")));
  EXPECT_HAS(Tova({"clean", P("rec"), "--older-than", "7d"}), "deleted 1 document (2 files)");
  EXPECT_FALSE(fs::exists(Path("rec/old.tova")));
  EXPECT_TRUE(fs::exists(Path("rec/young.tova")));
  EXPECT_HAS(Tova({"clean", P("rec/young.tova"), "--older-than", "1h"}, 1), "not a directory");
}

}  // namespace
