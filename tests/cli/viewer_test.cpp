// Tests of tova view over loopback and of the stack exports: the tool (path
// in TOVA_CLI_EXE) runs on a recording it makes itself; the server's answers
// are checked against what "tova export --celsius" writes as CSV, and every
// stack file is decoded back (libtiff, the .npy layout, ffprobe when present).
#include <gtest/gtest.h>
#include <httplib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status;
  std::string out;
};

Outcome Tova(const std::string& args, const std::string& env = "") {
  Outcome run{-1, ""};
  std::FILE* pipe = popen((env + std::string(TOVA_CLI_EXE) + " " + args + " 2>&1").c_str(), "r");
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) run.out.append(buf, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The CSV of "tova export --celsius" of one frame, row by row.
std::vector<std::vector<double>> CelsiusCsv(const fs::path& file, uint32_t frame) {
  const fs::path csv = file.parent_path() / ("f" + std::to_string(frame) + ".csv");
  EXPECT_EQ(Tova("export " + file.string() + " --frame " + std::to_string(frame) + " --celsius -o " + csv.string()).status, 0);
  std::vector<std::vector<double>> rows;
  std::stringstream text(ReadFile(csv));
  for (std::string line; std::getline(text, line);) {
    rows.emplace_back();
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) rows.back().push_back(std::stod(cell));
  }
  return rows;
}

class Viewer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tova-viewer-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    file_ = dir_ / "s.tova";
    ASSERT_EQ(Tova("sample " + file_.string() + " --frames 30 --size 40x30").status, 0);
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the server ended badly: " << status;
    }
    fs::remove_all(dir_);
  }

  // Starts tova view on a free port; returns the port it prints.
  int Serve() {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string exe = TOVA_CLI_EXE, view = "view", path = file_.string(), port = "--port", zero = "0";
    char* argv[] = {exe.data(), view.data(), path.data(), port.data(), zero.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string line;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(fds[0]);
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, std::regex(R"(http://127\.0\.0\.1:(\d+)/)"))) << line;
    return m.empty() ? 0 : std::stoi(m[1]);
  }

  fs::path dir_, file_;
  pid_t pid_ = -1;
};

double Number(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\":(-?[0-9.e+-]+)"))) return NAN;
  return std::stod(m[1]);
}

std::vector<double> Array(const std::string& json, const std::string& key) {
  std::smatch m;
  std::vector<double> values;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\":\\[([^\\]]*)\\]"))) return values;
  std::stringstream cells(m[1].str());
  for (std::string cell; std::getline(cells, cell, ',');) values.push_back(std::stod(cell));
  return values;
}

TEST_F(Viewer, EndpointsAnswerOnLoopbackWithSeriesEqualToTheCsvExport) {
  const int port = Serve();
  httplib::Client client("127.0.0.1", port);
  auto info = client.Get("/api/info");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->status, 200);
  EXPECT_EQ(Number(info->body, "frames"), 30);
  EXPECT_EQ(Number(info->body, "width"), 40);
  EXPECT_EQ(Number(info->body, "frameRate"), 25);
  EXPECT_NE(info->body.find("Display scale:"), std::string::npos) << "the side panel carries tova info";
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("/uplot.js"), std::string::npos);
  auto values = client.Get("/api/frames/13/values");
  ASSERT_TRUE(values);
  EXPECT_EQ(values->body.size(), 40u * 30 * sizeof(float));

  // A spot and a rectangle over the whole recording, against the CSV of three frames.
  auto spot = client.Post("/api/series?x=7&y=5", "", "text/plain");
  auto rect = client.Post("/api/series?x0=30&y0=2&x1=33&y1=6", "", "text/plain");
  ASSERT_TRUE(spot && rect);
  ASSERT_EQ(spot->status, 202);
  auto spot_done = client.Get("/api/series/" + std::to_string(int(Number(spot->body, "id"))) + "?wait=1");
  auto rect_done = client.Get("/api/series/" + std::to_string(int(Number(rect->body, "id"))) + "?wait=1");
  ASSERT_TRUE(spot_done && rect_done);
  const auto series = Array(spot_done->body, "value");
  const auto mean = Array(rect_done->body, "mean"), low = Array(rect_done->body, "min"), high = Array(rect_done->body, "max");
  ASSERT_EQ(series.size(), 30u) << spot_done->body;
  ASSERT_EQ(mean.size(), 30u) << rect_done->body;
  for (uint32_t frame : {0u, 13u, 29u}) {
    const auto csv = CelsiusCsv(file_, frame);
    ASSERT_EQ(csv.size(), 30u);
    EXPECT_NEAR(series[frame], csv[5][7], 0.005) << "frame " << frame;
    double sum = 0, lo = INFINITY, hi = -INFINITY;
    for (int y = 2; y <= 6; ++y)
      for (int x = 30; x <= 33; ++x) sum += csv[y][x], lo = std::min(lo, csv[y][x]), hi = std::max(hi, csv[y][x]);
    EXPECT_NEAR(mean[frame], sum / 20, 0.005);
    EXPECT_NEAR(low[frame], lo, 0.005);
    EXPECT_NEAR(high[frame], hi, 0.005);
  }

  // Bad requests get clear errors and the server keeps answering.
  struct Bad {
    const char* method;
    const char* path;
    int status;
    const char* says;
  };
  for (const Bad& bad : {Bad{"GET", "/api/frames/30", 404, "frames 0 to 29"},
                         Bad{"GET", "/api/frames/99999999999999/values", 404, "does not exist"},
                         Bad{"GET", "/api/frames/3/pixel?x=40&y=0", 400, "outside the 40 x 30 image"},
                         Bad{"GET", "/api/frames/3/pixel?x=1", 400, "missing parameter 'y'"},
                         Bad{"POST", "/api/series?x=3&y=30", 400, "outside"},
                         Bad{"POST", "/api/series?x=-1&y=3", 400, "whole number"},
                         Bad{"GET", "/api/series/777", 404, "no series"},
                         Bad{"GET", "/s.tova", 404, "nothing here"},
                         Bad{"GET", "/../../etc/passwd", 404, ""}}) {
    auto res = std::string(bad.method) == "GET" ? client.Get(bad.path) : client.Post(bad.path, "", "text/plain");
    ASSERT_TRUE(res) << bad.path;
    EXPECT_EQ(res->status, bad.status) << bad.path;
    EXPECT_NE(res->body.find(bad.says), std::string::npos) << bad.path << ": " << res->body;
  }
  auto foreign = client.Get("/api/info", {{"Host", "attacker.example:80"}});
  ASSERT_TRUE(foreign);
  EXPECT_EQ(foreign->status, 403);
  EXPECT_EQ(client.Get("/api/frames/29")->status, 200);

  // The port is taken: a second server says so.
  const Outcome second = Tova("view " + file_.string() + " --port " + std::to_string(port));
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.out.find("in use"), std::string::npos) << second.out;
}

TEST_F(Viewer, ViewRefusesADamagedFile) {
  std::ofstream(dir_ / "bad.tova", std::ios::binary) << std::string(300, '\x5a');
  const Outcome run = Tova("view " + (dir_ / "bad.tova").string() + " --port 0");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("bad.tova"), std::string::npos) << run.out;
}

// ---- stack exports ---------------------------------------------------------

std::vector<std::vector<uint8_t>> TiffPages(const fs::path& path, uint16_t* bits, uint16_t* format) {
  std::vector<std::vector<uint8_t>> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, format);
    std::vector<uint8_t> page(size_t{w} * h * (*bits / 8));
    for (uint32_t y = 0; y < h; ++y) TIFFReadScanline(tif, page.data() + y * (page.size() / h), y, 0);
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

int FrameCount(const fs::path& video) {
  const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                              "stream=nb_read_frames -of csv=p=0 '" + video.string() + "' 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  char line[64] = {0};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  return read ? std::atoi(line) : -1;
}

TEST_F(Viewer, StackExportsDecodeBackToTheFrames) {
  const std::string in = "export " + file_.string() + " ";
  auto path = [&](const char* name) { return (dir_ / name).string(); };
  ASSERT_EQ(Tova(in + "--frame 13 --format raw -o " + path("13.raw")).status, 0);
  const std::string raw13 = ReadFile(dir_ / "13.raw");
  const auto csv13 = CelsiusCsv(file_, 13);

  // TIFF: one page per frame, the stored U16, float32 Celsius, BigTIFF.
  for (const char* options : {"-o s.tiff", "-o c.tif --celsius", "-o b.tiff --bigtiff"}) {
    SCOPED_TRACE(options);
    const Outcome run = Tova(in + std::regex_replace(options, std::regex("-o "), "-o " + dir_.string() + "/"));
    ASSERT_EQ(run.status, 0) << run.out;
    const bool celsius = std::strstr(options, "celsius");
    uint16_t bits = 0, format = 0;
    const auto pages = TiffPages(dir_ / std::string(options + 3, std::strcspn(options + 3, " ")), &bits, &format);
    ASSERT_EQ(pages.size(), 30u);
    EXPECT_EQ(bits, celsius ? 32 : 16);
    EXPECT_EQ(format, celsius ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    if (celsius) {
      float v = 0;
      std::memcpy(&v, pages[13].data() + (5 * 40 + 7) * 4, 4);
      EXPECT_NEAR(v, csv13[5][7], 0.005);
    } else {
      EXPECT_EQ(std::string(pages[13].begin(), pages[13].end()), raw13);
    }
  }
  EXPECT_EQ(ReadFile(dir_ / "b.tiff").substr(0, 4), std::string("II\x2B\x00", 4));

  // .npy: the header numpy reads, the data at a multiple of 64 bytes.
  for (bool celsius : {false, true}) {
    ASSERT_EQ(Tova(in + "-o " + path("a.npy") + (celsius ? " --celsius" : "")).status, 0);
    const std::string npy = ReadFile(dir_ / "a.npy");
    ASSERT_EQ(npy.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
    const size_t start = 10 + (uint8_t(npy[8]) | uint8_t(npy[9]) << 8);
    EXPECT_EQ(start % 64, 0u);
    EXPECT_NE(npy.find(celsius ? "'descr': '<f4'" : "'descr': '<u2'"), std::string::npos);
    EXPECT_NE(npy.find("'shape': (30, 30, 40)"), std::string::npos);
    const size_t frame_bytes = 40 * 30 * (celsius ? 4 : 2);
    ASSERT_EQ(npy.size(), start + 30 * frame_bytes);
    if (celsius) {
      float v = 0;
      std::memcpy(&v, npy.data() + start + 13 * frame_bytes + (5 * 40 + 7) * 4, 4);
      EXPECT_NEAR(v, csv13[5][7], 0.005);
    } else {
      EXPECT_EQ(npy.substr(start + 13 * frame_bytes, frame_bytes), raw13);
    }
  }

  // GIF and MP4: every frame, as ffprobe counts them.
  // Without ffmpeg on PATH the MP4 export says what is missing.
  const Outcome missing = Tova(in + "-o " + path("t.mp4"), "PATH=/nonexistent ");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("needs the ffmpeg program"), std::string::npos) << missing.out;
  EXPECT_FALSE(fs::exists(dir_ / "t.mp4"));
  const bool have_ffmpeg = std::system("ffprobe -version >/dev/null 2>&1") == 0;
  ASSERT_EQ(Tova(in + "-o " + path("s.gif")).status, 0);
  EXPECT_EQ(ReadFile(dir_ / "s.gif").substr(0, 6), "GIF89a");
  if (!have_ffmpeg) GTEST_SKIP() << "ffmpeg is not installed: GIF and MP4 frame counts not checked";
  EXPECT_EQ(FrameCount(dir_ / "s.gif"), 30);
  const Outcome mp4 = Tova(in + "-o " + path("s.mp4"));
  ASSERT_EQ(mp4.status, 0) << mp4.out;
  EXPECT_EQ(FrameCount(dir_ / "s.mp4"), 30);
}

}  // namespace
