// The tova tool (TOVA_CLI_EXE) on recordings it makes or made through the public API: its output, exit status and
// files (read back through the API, libpng, libtiff), tova view, and a killed recorder's file salvaged.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "HOLMDAQTova.h"
#include "tova_salvage.h"

#ifdef TOVA_CLI_TEST_HAVE_PNG
#include <png.h>
#endif
#ifdef TOVA_CLI_TEST_HAVE_VIEWER
#include <httplib.h>
#include <tiffio.h>
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

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

std::vector<std::vector<double>> Rows(const std::string& text) {
  std::vector<std::vector<double>> rows;
  for (std::string line : Lines(text)) {
    std::stringstream cells(line);
    for (rows.emplace_back(); std::getline(cells, line, ',');) rows.back().push_back(std::stod(line));
  }
  return rows;
}

constexpr uint16_t kZero = 0;

struct Recording {
  uint16_t width = 8, height = 6, data_unit = TOVA_DATAUNIT_U16;
};

// A ramp that starts where each data unit has something to show: negative for S16, a fraction for FLT, over 65535.
Bytes Ramp(const Recording& r) {
  const size_t count = size_t{r.width} * r.height, bpp = r.data_unit % 2 == 0 ? 2 : 4;  // U16 and S16 (0, 2) take 2
  const int64_t start = r.data_unit == TOVA_DATAUNIT_U32 ? 70000 : r.data_unit == TOVA_DATAUNIT_S16 ? -10 : 1000;
  Bytes pixels(count * bpp);
  for (size_t i = 0; i < count; ++i) {
    const float f = 20.5f + static_cast<float>(i);
    uint32_t bits = static_cast<uint32_t>(start + static_cast<int64_t>(i));
    if (r.data_unit == TOVA_DATAUNIT_FLT) std::memcpy(&bits, &f, sizeof bits);
    for (size_t b = 0; b < bpp; ++b) pixels[i * bpp + b] = static_cast<uint8_t>(bits >> (8 * b));
  }
  return pixels;
}

uint64_t MemoryFrame(const Recording& r, const Bytes& pixels) {
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(1, r.data_unit, 0);
  const char device[] = "TEST CAMERA -ID: 7";  // appends to a file compare the device
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC, sizeof device, device);
  const std::tuple<uint16_t, uint16_t, const uint16_t*> fields[] = {
      {TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, &r.width}, {TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, &r.width},
      {TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, &r.height}, {TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, &r.height},
      {TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, &kZero}};
  for (const auto& [section, id, value] : fields) TOVADLL_SET_ENTRY(mem, section, id, 2, value);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_Image, TOVA_IM_Data, static_cast<uint32_t>(pixels.size()), pixels.data());
  return mem;
}

// A one-frame recording; its pixels are the ramp unless given.
void WriteRecording(const fs::path& path, const Recording& r = {}, const Bytes& pixels = {}) {
  const uint64_t mem = MemoryFrame(r, pixels.empty() ? Ramp(r) : pixels);
  const uint64_t out = TOVADLL_OPEN_FILE_WRITE(path.string().c_str(), 0);
  EXPECT_EQ(TOVADLL_ADD_TOVA(out, mem, 0), TOVA_OK);
  EXPECT_EQ(TOVADLL_CLOSE_FILE(out), TOVA_OK);
  TOVADLL_CLOSE_FILE(mem);
}

// The image data of every frame (empty for a frame whose image does not read); none when the file does not read.
std::vector<Bytes> Images(const fs::path& path) {
  std::vector<Bytes> images;
  const uint64_t h = TOVADLL_OPEN_FILE_READ(path.string().c_str());
  uint32_t n = 0, copied = 0;
  if (TOVADLL_READ_FROM_FILE(h, 1, 0) == TOVA_OK && TOVADLL_GET_NUMDATASETS(h, &n) == TOVA_OK)
    for (uint32_t i = 0; i < n; ++i) {
      Bytes image(1 << 20);
      const bool read = TOVADLL_SET_CURDATASET(h, i) == TOVA_OK &&
                        TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_Image, TOVA_IM_Data, 1 << 20, image.data(), &copied) == 0;
      images.emplace_back(image.begin(), image.begin() + (read ? copied : 0));
    }
  TOVADLL_CLOSE_FILE(h);
  return images;
}

class TovaCli : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string P(const std::string& name) const { return (dir_ / name).string(); }

  // Runs tova with the words given and expects the exit status given. Returns stdout on success, when stderr must
  // stay empty (no progress bar or chatter: stderr is no terminal); else stderr, then stdout, which has no error.
  std::string Tova(const std::vector<std::string>& words, int expected_status = 0, const std::string& env = "") const {
    std::string command = env + "\"" + std::string(TOVA_CLI_EXE) + "\"";
    for (const std::string& w : words) command += w.empty() ? "" : " \"" + w + "\"";  // an empty word is left out
    const int raw = std::system((command + " > \"" + P("stdout.txt") + "\" 2> \"" + P("stderr.txt") + "\"").c_str());
    const std::string out = ReadFile(P("stdout.txt")), err = ReadFile(P("stderr.txt"));
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, expected_status) << err;
    if (expected_status == 0) EXPECT_EQ(err, "");
    else if (!words.empty()) EXPECT_LACKS(out, "tova " + words[0] + ":");
    return expected_status == 0 ? out : err + out;
  }
  void Sample(const std::string& name, int frames, const std::string& size) {
    Tova({"sample", P(name), "--frames", std::to_string(frames), "--size", size});
  }
  std::vector<std::vector<double>> CelsiusCsv(const std::string& name, uint32_t frame) const {
    Tova({"export", P(name), "--frame", std::to_string(frame), "--celsius", "-o", P("f.csv")});
    return Rows(ReadFile(P("f.csv")));
  }

  const fs::path dir_ = fs::temp_directory_path() /
                        ("tova_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                         "_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
};

TEST_F(TovaCli, SampleWritesARealisticRecordingThatInfoDescribes) {
  Sample("s.tova", 12, "40x30");
  const std::string info = Tova({"info", P("s.tova")});
  const auto field = [&](const std::string& label) {  // of a "Label:   value" line
    std::smatch m;
    return std::regex_search(info, m, std::regex("(^|\n)" + label + ": *([^\n]*)")) ? m.str(2) : "";
  };
  const std::pair<const char*, const char*> expected[] = {
      {"Frames", "12"}, {"Sensor size", "40 x 30"}, {"Image size", "40 x 30"}, {"Data unit", "0: U16"},
      {"Calibration", "0: table 256 U16"}, {"Measurement range", "0"}, {"Display scale", "20.0 .. 80.0 \xC2\xB0""C"},
      {"Span", "0.440 s"} /* 11 steps of 40 ms */};
  for (const auto& [label, value] : expected) EXPECT_EQ(field(label), value) << label;
  EXPECT_HAS(field("Device"), "-ID: ");
  EXPECT_NE(field("First frame"), field("Last frame"));
}

TEST_F(TovaCli, FailuresNameTheReasonOnStderrWithANonzeroStatusAndEveryCommandHasHelp) {
  Sample("s.tova", 3, "8x6");
  const std::string good = ReadFile(P("s.tova"));
  WriteFile(P("garbage.tova"), std::string("\x10\x00\x00\x00\x34\x12 not a recording at all", 30));
  WriteFile(P("empty.tova"), "");
  WriteFile(P("s.dat"), good);
  const std::tuple<std::vector<std::string>, int, std::vector<std::string>> cases[] = {
      {{"info", P("missing.tova")}, 1, {"missing.tova", "no such file"}},
      {{"info", P("empty.tova")}, 1, {"empty"}},
      {{"info", P("garbage.tova")}, 1, {"error 9", "TOVA_ERR_READ"}},
      {{"dump", P("s.tova"), "--frame", "3"}, 1, {"frame 3 does not exist", "3 frames (0 to 2)"}},
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
  for (const auto& [args, status, in_stderr] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const std::string err = Tova(args, status);
    for (const std::string& text : in_stderr) EXPECT_HAS(err, text);
  }
  EXPECT_FALSE(fs::exists(P("x.png")));
  EXPECT_EQ(ReadFile(P("s.tova")), good) << "a refused sample leaves the existing file alone";
  const std::string top = Tova({"--help"});
  for (const std::string name : {"info", "dump", "export", "cat", "rm", "mv", "du", "clean", "sample", "repair"}) {
    EXPECT_HAS(top, "  " + name + " ");
    EXPECT_TRUE(std::regex_search(Tova({name, "--help"}), std::regex("^Usage: tova " + name + "[^]*Example:"))) << name;
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
  for (const char* other : {"TOVA_SECT_GlobalHeader", "TOVA_SECT_Image", "TOVA_DH_DREC_SizeX"}) EXPECT_LACKS(dh, other);
  EXPECT_TRUE(std::regex_search(dh, std::regex("<232> \\(22 bytes\\)\n      Year: .*\n      Month: .*\n      Day: .*\n"
                                               "      DayOfWeek: .*\n      Time: "))) << dh;
}

#ifdef TOVA_CLI_TEST_HAVE_PNG
// The brightness (R + G + B) of the pixels of a PNG file, row by row; none when it does not decode.
std::vector<int> PngLight(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<int> light;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return light;
  image.format = PNG_FORMAT_RGB;
  Bytes rgb(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
    for (size_t i = 0; i < rgb.size(); i += 3) light.push_back(rgb[i] + rgb[i + 1] + rgb[i + 2]);
  return light;
}

TEST_F(TovaCli, ExportPngIsTheFrameInFalseColourWithAColourBar) {
  constexpr int kBlack = 0, kWhite = 3 * 255;
  Sample("s.tova", 3, "48x36");
  EXPECT_HAS(Tova({"export", P("s.tova"), "--frame", "2", "-o", P("f.png")}), "stored display scale");
  const std::vector<int> png = PngLight(P("f.png"));
  ASSERT_EQ(png.size(), (48u + 64u) * 36u) << "the image, then 64 columns for the colour bar and its labels";
  const auto at = [&](int x, int y) { return png[y * 112 + x]; };
  std::vector<int> image;
  for (int y = 0; y < 36; ++y) image.insert(image.end(), &png[y * 112], &png[y * 112 + 48]);
  const auto [lo, hi] = std::minmax_element(image.begin(), image.end());
  EXPECT_GT(*hi, *lo + 300);
  // The bar (columns 52 to 63) runs from white at the top to black at the bottom; the gap before it is black.
  EXPECT_TRUE(at(58, 0) == kWhite && at(58, 10) > at(58, 25) && at(58, 35) == kBlack && at(49, 18) == kBlack);

  Tova({"export", P("s.tova"), "--all", "-o", P("frame.png")});
  EXPECT_TRUE(PngLight(P("frame-0002.png")) == png && !fs::exists(P("frame-0003.png")) && !fs::exists(P("frame.png")));

  // Without a calibration table the frame's own raw range (1000 .. 1047) spans the palette.
  WriteRecording(P("r.tova"));
  EXPECT_HAS(Tova({"export", P("r.tova"), "-o", P("r.png")}), "1000.0 .. 1047.0 (raw values), frame range");
  const std::vector<int> raw = PngLight(P("r.png"));
  EXPECT_TRUE(raw.size() == 72u * 6u && raw[0] == kBlack && raw[5 * 72 + 7] == kWhite);
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
    WriteRecording(P("u.tova"), Recording{.data_unit = unit});
    Tova({"export", P("u.tova"), "-o", P("u.csv")});
    const std::vector<std::string> rows = Lines(ReadFile(P("u.csv")));
    EXPECT_TRUE(rows.size() == 6 && rows[0] == first_row) << rows.at(0);
  }
  Tova({"export", P("u.tova"), "-o", P("c.csv"), "--celsius"});  // FLT values (the last case) are degrees Celsius
  EXPECT_EQ(Lines(ReadFile(P("c.csv")))[0], "20.50,21.50,22.50,23.50,24.50,25.50,26.50,27.50");

  // Image data that do not fill the image they claim.
  WriteRecording(P("tall.tova"), Recording{.height = 60}, Ramp(Recording{}));
  EXPECT_HAS(Tova({"export", P("tall.tova"), "-o", P("t.png")}, 1),
             "the image data hold 96 bytes, but 8 x 60 U16 pixels need 960");
  EXPECT_FALSE(fs::exists(P("t.png")));
}

// Every input is checked before anything is written: no half-made output, nor a changed one with --append.
TEST_F(TovaCli, CatJoinsRecordingsThatFitAndRefusesBeforeWritingAnything) {
  Sample("a.tova", 3, "16x12");
  Sample("b.tova", 4, "16x12");
  Tova({"cat", P("a.tova"), P("b.tova"), "-o", P("ab.tova")});
  const std::vector<Bytes> joined = Images(P("ab.tova"));
  EXPECT_TRUE(joined.size() == 7 && joined[3] == Images(P("b.tova")).at(0)) << joined.size() << " frames";
  EXPECT_HAS(Tova({"cat", P("a.tova"), "-o", P("ab.tova")}, 1), "--append");
  Tova({"cat", P("a.tova"), "-o", P("ab.tova"), "--append"});
  EXPECT_EQ(Images(P("ab.tova")).size(), 10u);
  Tova({"cat", P("b.tova"), "-o", P("ab.tova"), "--force"});
  EXPECT_EQ(Images(P("ab.tova")).size(), 4u);
  EXPECT_HAS(Tova({"cat", P("a.tova"), "-o", P("a.tova"), "--append"}, 2), "also an input");
  Sample("other.tova", 1, "9x6");
  const std::string before = ReadFile(P("ab.tova"));
  const std::string err = Tova({"cat", P("b.tova"), P("other.tova"), "-o", P("ab.tova"), "--append"}, 1);
  EXPECT_HAS(err, "other.tova");
  EXPECT_HAS(err, "nothing was written");
  EXPECT_EQ(ReadFile(P("ab.tova")), before);
}

// The housekeeping commands report continuation files with the document; which files go is the library's concern.
TEST_F(TovaCli, RmMvDuAndCleanReportContinuationFiles) {
  Sample("x.tova", 2, "16x12");
  char size[32];
  std::snprintf(size, sizeof size, "%.3f MB", static_cast<double>(fs::file_size(P("x.tova"))) / 1048576.0 + 1.5);
  WriteFile(P("x.tova 001"), std::string(1048576, '\0'));
  WriteFile(P("x.tova 002"), std::string(524288, '\0'));
  EXPECT_HAS(Tova({"info", P("x.tova")}), std::string(size) + " (main file and 2 continuation files)");
  const std::string du = Tova({"du", P("x.tova")});
  EXPECT_HAS(du, std::string(size) + " ");
  EXPECT_HAS(du, "x.tova (+2 continuation files)");
  WriteFile(P("y.tova"), "occupied");
  EXPECT_HAS(Tova({"mv", P("x.tova"), P("y.tova")}, 1), "--force");
  EXPECT_EQ(ReadFile(P("y.tova")), "occupied");
  fs::create_directory(P("sub"));
  EXPECT_HAS(Tova({"mv", P("x.tova"), P("sub")}), "(+2 continuation files)");
  EXPECT_EQ(Images(P("sub/x.tova")).size(), 2u);
  EXPECT_HAS(Tova({"rm", P("sub/x.tova")}), "(+2 continuation files)");
  EXPECT_TRUE(fs::is_empty(P("sub")));
  Tova({"rm", "-f", P("sub/x.tova")});

  fs::create_directory(P("rec"));
  Sample("rec/old.tova", 1, "4x4");
  Sample("rec/young.tova", 1, "4x4");
  WriteFile(P("rec/old.tova 001"), "old part");
  for (const char* name : {"rec/old.tova", "rec/old.tova 001"})
    fs::last_write_time(P(name), fs::file_time_type::clock::now() - std::chrono::hours(24 * 10));
  const std::string dry = Tova({"clean", P("rec"), "--older-than", "7d", "--dry-run"});
  EXPECT_HAS(dry, "old.tova (+1 continuation file)");
  EXPECT_LACKS(dry, "young.tova");
  EXPECT_TRUE(fs::exists(P("rec/old.tova")));
  EXPECT_HAS(Tova({"clean", P("rec"), "--older-than", "7d"}), "deleted 1 document (2 files)");
  EXPECT_FALSE(fs::exists(P("rec/old.tova")));
  EXPECT_TRUE(fs::exists(P("rec/young.tova")));
  EXPECT_HAS(Tova({"clean", P("rec/young.tova"), "--older-than", "1h"}, 1), "not a directory");
}

// Each kind of damage to 3 frames, repaired with -o or --in-place or only looked at: status, frames, files, report.
TEST_F(TovaCli, RepairKeepsWholeFramesDropsTheRestAndLeavesCleanFilesAlone) {
  const auto cut = [](const std::string& p) { fs::resize_file(p, fs::file_size(p) - 1000); };
  const struct {
    const char* name;  // the damage
    void (*damage)(const std::string& path);
    const char* option;
    int status;
    size_t frames;        // of the result (the output, or the file itself)
    bool fileunchanged;  // byte for byte, parts included; else no continuation file stays
    const char* report;
  } cases[] = {
      {"clean", [](const std::string&) {}, "--in-place", 0, 3, true, "nothing to repair"},
      {"stray byte", [](const std::string& p) { std::ofstream(p, std::ios::app | std::ios::binary) << 'x'; },
       "--in-place", 0, 3, false, "1 byte after the last whole frame"},
      {"torn last frame", cut, "-o", 0, 2, true, "1 incomplete frame"},
      {"torn, only looked at", cut, "", 1, 0, true, "--in-place"},
      {"stray continuation file", [](const std::string& p) { std::ofstream(p + " 001") << "left over"; },
       "--in-place", 0, 3, false, "1 stray continuation file"},
      {"torn first frame", [](const std::string& p) { fs::resize_file(p, 100); }, "--in-place", 1, 0, true,
       "not one whole frame"},
  };
  const std::string path = P("rec.tova");
  const auto snapshot = [&] { return ReadFile(path) + "|" + ReadFile(path + " 001"); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sample("rec.tova", 3, "320x240");
    c.damage(path);
    const std::string before = snapshot();
    const std::string out = std::string(c.option) == "-o" ? P("fixed.tova") : "";
    EXPECT_HAS(Tova({"repair", path, c.option, out}, c.status), c.report);
    if (c.status == 0) EXPECT_EQ(Images(out.empty() ? path : out).size(), c.frames);
    if (c.fileunchanged) EXPECT_EQ(snapshot(), before);
    else EXPECT_FALSE(fs::exists(path + " 001"));
    if (c.status != 0) EXPECT_HAS(Tova({"info", path}, 1), "tova repair");  // a damaged file's read names the way out
    for (const std::string& p : {path, path + " 001", P("fixed.tova")}) fs::remove(p);
  }
}

// A child records frames 1, 2, 3, ... (pixels hold the number), reports each append that returned through a pipe,
// and is killed at a random moment: the salvaged file holds the reported frames and at most one more, whole.
TEST_F(TovaCli, RecorderKilledAtRandomMomentsKeepsEveryReturnedFrame) {
  const auto image = [](size_t number) { return Bytes(320 * 240 * 2, static_cast<uint8_t>(number)); };
  std::mt19937 rng(20240517);
  int torn = 0;
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string path = P("rec" + std::to_string(round) + ".tova"), out = round % 2 ? P("out.tova") : path;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const uint64_t out = TOVADLL_OPEN_FILE_WRITE(path.c_str(), 0);
      for (uint32_t i = 1;; ++i) {
        const uint64_t frame = MemoryFrame({.width = 320, .height = 240}, image(i));
        if (TOVADLL_ADD_TOVA(out, frame, 0) != TOVA_OK || write(fds[1], &i, sizeof i) != sizeof i) _exit(3);
        TOVADLL_CLOSE_FILE(frame);
      }
    }
    close(fds[1]);
    uint32_t returned = 0, value = 0;
    for (const uint32_t wait_for = rng() % 4; returned < wait_for && read(fds[0], &value, 4) == 4;) returned = value;
    usleep(rng() % 3000);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_TRUE(waitpid(child, &status, 0) == child && WIFSIGNALED(status)) << "the recorder stopped by itself";
    while (read(fds[0], &value, 4) == 4) returned = value;
    close(fds[0]);

    tovaext_salvage_report report{};
    const int32_t rc = tovaext_salvage(path.c_str(), round % 2 ? out.c_str() : nullptr, &report);
    torn += report.bytes_cut > 0;
    // Killed before the first frame was whole, or before the file was made.
    if (returned == 0 && (rc == TOVAEXT_ERR_SALVAGE_NOTHING || rc == TOVA_ERR_OPEN)) continue;
    ASSERT_EQ(rc, TOVA_OK) << returned << " frames returned";
    const std::vector<Bytes> frames = Images(out);
    ASSERT_TRUE(frames.size() == returned || frames.size() == returned + 1) << frames.size() << " of " << returned;
    EXPECT_EQ(report.datasets_kept, frames.size());
    for (size_t i = 0; i < frames.size(); ++i) ASSERT_TRUE(frames[i] == image(i + 1)) << "frame " << i;
  }
  EXPECT_GT(torn, 10) << "kills that tore nothing would test nothing";
}

#ifdef TOVA_CLI_TEST_HAVE_VIEWER

// The numbers of a JSON member: a number or an array of numbers.
std::vector<double> Json(const std::string& json, const std::string& key) {
  std::smatch m;
  std::regex_search(json, m, std::regex("\"" + key + "\":\\[?([-0-9.e+,]*)"));
  return Rows(m.str(1) + "\n").at(0);
}

// tova view on a free port, stopped at the end of the scope, when it must end cleanly.
struct Server {
  explicit Server(const std::string& file)
      : pipe(popen(("echo $$; exec \"" TOVA_CLI_EXE "\" view \"" + file + "\" --port 0").c_str(), "r")) {
    char line[256] = {};
    pid = std::fgets(line, sizeof line, pipe) ? std::atoi(line) : 0;
    std::cmatch m;
    if (std::fgets(line, sizeof line, pipe) && std::regex_search(line, m, std::regex(R"(http://127\.0\.0\.1:(\d+)/)")))
      port = std::stoi(m[1]);
  }
  ~Server() {
    if (pid > 0) ::kill(pid, SIGTERM);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the server ended badly: " << status;
  }
  std::FILE* pipe;
  int pid = 0, port = 0;
};

// The number of pages of a TIFF file; the sample bits, format and pixels of page 13 of 40 x 30.
int TiffPages(const std::string& path, uint16_t* bits, uint16_t* format, std::string* page13) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return 0;
  TIFFSetDirectory(tif, 13);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, format);
  page13->assign(40 * 30 * (*bits / 8), '\0');
  for (uint32_t y = 0; y < 30; ++y) TIFFReadScanline(tif, page13->data() + y * 40 * (*bits / 8), y, 0);
  const int pages = TIFFNumberOfDirectories(tif);
  TIFFClose(tif);
  return pages;
}

TEST_F(TovaCli, ViewAnswersOnLoopbackAndStackExportsDecodeBackToTheFrames) {
  const std::string file = P("s.tova");
  Sample("s.tova", 30, "40x30");
  const Server server(file);
  ASSERT_GT(server.port, 0);
  httplib::Client client("127.0.0.1", server.port);
  auto info = client.Get("/api/info");
  ASSERT_TRUE(info);
  EXPECT_EQ(Json(info->body, "frames"), std::vector<double>{30});
  EXPECT_EQ(Json(info->body, "frameRate"), std::vector<double>{25});
  EXPECT_HAS(info->body, "Display scale:") << "the side panel carries tova info";
  EXPECT_HAS(client.Get("/")->body, "/uplot.js");
  EXPECT_EQ(client.Get("/api/frames/13/values")->body.size(), 40u * 30 * sizeof(float));

  // A spot and a rectangle over the whole recording, against the CSV of three frames.
  auto spot = client.Post("/api/series?x=7&y=5", "", "text/plain");
  auto rect = client.Post("/api/series?x0=30&y0=2&x1=33&y1=6", "", "text/plain");
  ASSERT_TRUE(spot && rect && spot->status == 202);
  const auto done = [&](const std::string& body) {
    return client.Get("/api/series/" + std::to_string(int(Json(body, "id").at(0))) + "?wait=1")->body;
  };
  const std::string spot_done = done(spot->body), rect_done = done(rect->body);
  const auto series = Json(spot_done, "value"), mean = Json(rect_done, "mean");
  const auto low = Json(rect_done, "min"), high = Json(rect_done, "max");
  ASSERT_TRUE(series.size() == 30 && mean.size() == 30 && low.size() == 30 && high.size() == 30) << rect_done;
  for (uint32_t frame : {0u, 13u, 29u}) {
    SCOPED_TRACE(frame);
    const auto csv = CelsiusCsv("s.tova", frame);
    ASSERT_EQ(csv.size(), 30u) << "rows";
    EXPECT_NEAR(series[frame], csv[5][7], 0.005);
    const auto pixel = Json(client.Get("/api/frames/" + std::to_string(frame) + "/pixel?x=7&y=5")->body, "value");
    EXPECT_NEAR(pixel.at(0), csv[5][7], 0.005);
    double sum = 0, lo = INFINITY, hi = -INFINITY;
    for (int y = 2; y <= 6; ++y)
      for (int x = 30; x <= 33; ++x) sum += csv[y][x], lo = std::min(lo, csv[y][x]), hi = std::max(hi, csv[y][x]);
    EXPECT_NEAR(mean[frame], sum / 20, 0.005);
    EXPECT_NEAR(low[frame], lo, 0.005);
    EXPECT_NEAR(high[frame], hi, 0.005);
  }

  const std::tuple<const char*, const char*, int, const char*> bad_requests[] = {
      {"GET", "/api/frames/30", 404, "frames 0 to 29"},
      {"GET", "/api/frames/99999999999999/values", 404, "does not exist"},
      {"GET", "/api/frames/3/pixel?x=40&y=0", 400, "outside the 40 x 30 image"},
      {"GET", "/api/frames/3/pixel?x=0&y=30", 400, "outside the 40 x 30 image"},
      {"POST", "/api/series?x=3&y=30", 400, "outside"},
      {"POST", "/api/series?x=-1&y=3", 400, "whole number"},
      {"GET", "/api/series/777", 404, "no series"},
      {"GET", "/../../etc/passwd", 404, ""}};
  for (const auto& [method, path, status, says] : bad_requests) {
    auto res = std::string(method) == "GET" ? client.Get(path) : client.Post(path, "", "text/plain");
    ASSERT_TRUE(res && res->status == status) << path;
    EXPECT_HAS(res->body, says) << path;
  }
  EXPECT_EQ(client.Get("/api/info", {{"Host", "attacker.example:80"}})->status, 403);

  // A second server on the port taken says so; a damaged file is refused.
  EXPECT_HAS(Tova({"view", file, "--port", std::to_string(server.port)}, 1), "in use");
  WriteFile(P("bad.tova"), std::string(300, '\x5a'));
  EXPECT_HAS(Tova({"view", P("bad.tova"), "--port", "0"}, 1), "bad.tova");


  // Stack exports of frame 13, against the raw export and the CSV in degrees Celsius.
  Tova({"export", file, "--frame", "13", "--format", "raw", "-o", P("13.raw")});
  const std::string raw13 = ReadFile(P("13.raw"));
  const double celsius13 = CelsiusCsv("s.tova", 13)[5][7];
  const auto is_frame13 = [&](const std::string& frame, bool celsius) {  // float32 values in degrees when celsius
    float v = 0;
    if (celsius) std::memcpy(&v, frame.data() + (5 * 40 + 7) * 4, 4);
    return celsius ? std::abs(v - celsius13) < 0.005 : frame == raw13;
  };
  // TIFF: one page per frame, the stored U16 or float32 Celsius.
  for (const auto& [name, option] : {std::pair{"s.tiff", ""}, {"c.tif", "--celsius"}}) {
    SCOPED_TRACE(name);
    const bool celsius = std::string(option) == "--celsius";
    Tova({"export", file, "-o", P(name), option});
    uint16_t bits = 0, format = 0;
    std::string page13;
    ASSERT_EQ(TiffPages(P(name), &bits, &format, &page13), 30);
    EXPECT_EQ(bits, celsius ? 32 : 16);
    EXPECT_EQ(format, celsius ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    EXPECT_TRUE(is_frame13(page13, celsius));
  }

  // .npy: the header numpy reads, the data at a multiple of 64 bytes.
  for (bool celsius : {false, true}) {
    Tova({"export", file, "-o", P("a.npy"), celsius ? "--celsius" : ""});
    const std::string npy = ReadFile(P("a.npy"));
    ASSERT_EQ(npy.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
    const size_t start = 10 + (uint8_t(npy[8]) | uint8_t(npy[9]) << 8), frame_bytes = 40 * 30 * (celsius ? 4 : 2);
    EXPECT_EQ(start % 64, 0u);
    EXPECT_HAS(npy, celsius ? "'descr': '<f4'" : "'descr': '<u2'");
    EXPECT_HAS(npy, "'shape': (30, 30, 40)");
    ASSERT_EQ(npy.size(), start + 30 * frame_bytes);
    EXPECT_TRUE(is_frame13(npy.substr(start + 13 * frame_bytes, frame_bytes), celsius));
  }

  // A GIF; without ffmpeg on PATH the MP4 export says what is missing.
  Tova({"export", file, "-o", P("s.gif")});
  EXPECT_EQ(ReadFile(P("s.gif")).substr(0, 6), "GIF89a");
  EXPECT_HAS(Tova({"export", file, "-o", P("t.mp4")}, 1, "PATH=/nonexistent "), "needs the ffmpeg program");
  EXPECT_FALSE(fs::exists(P("t.mp4")));
}
#endif  // TOVA_CLI_TEST_HAVE_VIEWER

}  // namespace
