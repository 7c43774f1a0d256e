// Salvage of damaged recordings: a recorder killed at random moments while
// appending, then salvaged through the companion library; and tova repair on
// each kind of damage it is meant for.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "HOLMDAQTova.h"
#include "tova_salvage.h"

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kWidth = 320, kHeight = 240;

class Repair : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tova_repair_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }

  // Runs tova with the words given; returns the exit status, stdout in out.
  int Tova(const std::vector<std::string>& words, std::string& out) const {
    std::string command = "\"" + std::string(TOVA_CLI_EXE) + "\"";
    for (const std::string& w : words) command += " \"" + w + "\"";
    const int raw = std::system((command + " > \"" + P("out.txt") + "\" 2>&1").c_str());
    std::ifstream in(P("out.txt"), std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(in), {});
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  fs::path dir_;
};

// A memory document of one 320 x 240 frame whose pixels all hold value.
uint64_t Frame(uint16_t value) {
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(1, TOVA_DATAUNIT_U16, 0);
  const char device[] = "KILL TEST";
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC, sizeof device, device);
  const uint16_t w = kWidth, h = kHeight, range = 0;
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, TOVA_DH_PARAM_MeasurementRange, 2, &range);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 2, &w);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, 2, &h);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &w);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 2, &h);
  const std::vector<uint16_t> pixels(size_t{kWidth} * kHeight, value);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_Image, TOVA_IM_Data, static_cast<uint32_t>(pixels.size() * 2), pixels.data());
  return mem;
}

// The frames of a recording, each as its first and last pixel (0 for a frame
// whose image is missing or short); empty when it does not read.
std::vector<std::pair<uint16_t, uint16_t>> Frames(const std::string& path) {
  std::vector<std::pair<uint16_t, uint16_t>> frames;
  const uint64_t h = TOVADLL_OPEN_FILE_READ(path.c_str());
  uint32_t n = 0;
  if (h != TOVADLL_INVALID_HANDLE && TOVADLL_READ_FROM_FILE(h, 1, 0) == TOVA_OK && TOVADLL_GET_NUMDATASETS(h, &n) == TOVA_OK) {
    std::vector<uint16_t> pixels(size_t{kWidth} * kHeight);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t copied = 0;
      if (TOVADLL_SET_CURDATASET(h, i) != TOVA_OK ||
          TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_Image, TOVA_IM_Data, static_cast<uint32_t>(pixels.size() * 2),
                                  pixels.data(), &copied) != TOVA_OK ||
          copied != pixels.size() * 2)
        frames.emplace_back(0, 0);
      else
        frames.emplace_back(pixels.front(), pixels.back());
    }
  }
  TOVADLL_CLOSE_FILE(h);
  return frames;
}

// The bytes of a main file and its first continuation file.
std::string Snapshot(const std::string& path) {
  std::string all;
  for (const std::string& p : {path, path + " 001"}) {
    std::ifstream in(p, std::ios::binary);
    all += std::string(std::istreambuf_iterator<char>(in), {}) + "|";
  }
  return all;
}

#ifndef _WIN32
// A child process records frames 1, 2, 3, ... (each frame's pixels hold its
// number) and reports through a pipe every append that returned; it is killed
// at a random moment. The salvaged recording holds every reported frame, at
// most one more, and nothing else, in order and whole.
TEST_F(Repair, RecorderKilledAtRandomMomentsKeepsEveryReturnedFrame) {
  std::mt19937 rng(20240517);
  int torn = 0;
  for (int round = 0; round < 100; ++round) {
    const std::string path = P("rec" + std::to_string(round) + ".tova");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      const uint64_t out = TOVADLL_OPEN_FILE_WRITE(path.c_str(), 0);
      for (uint32_t i = 1;; ++i) {
        const uint64_t frame = Frame(static_cast<uint16_t>(i));
        if (TOVADLL_ADD_TOVA(out, frame, 0) != TOVA_OK) _exit(3);
        TOVADLL_CLOSE_FILE(frame);
        if (write(fds[1], &i, sizeof i) != sizeof i) _exit(4);
      }
    }
    close(fds[1]);
    // Wait for a few returned appends, then kill after a random pause.
    const uint32_t wait_for = rng() % 4;
    uint32_t returned = 0, value = 0;
    while (returned < wait_for && read(fds[0], &value, sizeof value) == sizeof value) returned = value;
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the recorder stopped by itself: " << status;
    while (read(fds[0], &value, sizeof value) == sizeof value) returned = value;
    close(fds[0]);

    tovaext_salvage_report report{};
    const std::string out = round % 2 ? P("out.tova") : path;
    const int32_t rc = tovaext_salvage(path.c_str(), round % 2 ? out.c_str() : nullptr, &report);
    torn += report.bytes_cut > 0;
    // Killed before the first frame was whole, or before the file was made.
    if (returned == 0 && (rc == TOVAEXT_ERR_SALVAGE_NOTHING || rc == TOVA_ERR_OPEN)) continue;
    ASSERT_EQ(rc, TOVA_OK) << "round " << round << ", " << returned << " frames returned";
    const auto frames = Frames(out);
    ASSERT_GE(frames.size(), returned) << "round " << round;
    ASSERT_LE(frames.size(), returned + 1) << "round " << round;
    EXPECT_EQ(report.datasets_kept, frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
      ASSERT_EQ(frames[i], std::make_pair(static_cast<uint16_t>(i + 1), static_cast<uint16_t>(i + 1)))
          << "round " << round << ", frame " << i;
  }
  // Kills that tore nothing would test nothing.
  EXPECT_GT(torn, 10);
}
#endif

// Each kind of damage, repaired with -o or --in-place (or only looked at), on
// a recording of 3 frames: the exit status, the frames of the result, what
// stays of the damaged file and what the report names.
TEST_F(Repair, ToolKeepsWholeFramesDropsTheRestAndLeavesCleanFilesAlone) {
  struct Case {
    const char* name;
    void (*damage)(const std::string& path);
    std::vector<std::string> options;
    int status;
    size_t frames;          // of the result (the output, or the file itself)
    bool file_unchanged;    // byte for byte, parts included
    const char* report;     // a piece of what tova prints
  };
  const Case cases[] = {
      {"clean", [](const std::string&) {}, {"--in-place"}, 0, 3, true, "nothing to repair"},
      {"stray byte", [](const std::string& p) { std::ofstream(p, std::ios::app | std::ios::binary) << 'x'; },
       {"--in-place"}, 0, 3, false, "1 byte after the last whole frame"},
      {"torn last frame", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) - 1000); },
       {"-o", "OUT"}, 0, 2, true, "1 incomplete frame"},
      {"torn, only looked at", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) - 1000); },
       {}, 1, 0, true, "--in-place"},
      {"stray continuation file", [](const std::string& p) { std::ofstream(p + " 001") << "left over"; },
       {"--in-place"}, 0, 3, false, "1 stray continuation file"},
      {"torn first frame", [](const std::string& p) { fs::resize_file(p, 100); }, {"--in-place"}, 1, 0, true,
       "not one whole frame"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = P("rec.tova"), out_path = P("fixed.tova");
    std::string text;
    ASSERT_EQ(Tova({"sample", path, "--frames", "3", "--size", "320x240"}, text), 0) << text;
    c.damage(path);
    const std::string before = Snapshot(path);
    std::vector<std::string> words = {"repair", path};
    for (const std::string& o : c.options) words.push_back(o == "OUT" ? out_path : o);
    EXPECT_EQ(Tova(words, text), c.status) << text;
    EXPECT_NE(text.find(c.report), std::string::npos) << text;
    const bool wrote_out = c.options.size() == 2;
    if (c.status == 0) EXPECT_EQ(Frames(wrote_out ? out_path : path).size(), c.frames);
    if (c.file_unchanged) {
      EXPECT_EQ(Snapshot(path), before);
    } else {
      EXPECT_FALSE(fs::exists(path + " 001"));
    }
    if (c.status != 0 && std::string(c.name).rfind("torn", 0) == 0) {  // a damaged file's read names the way out
      EXPECT_EQ(Tova({"info", path}, text), 1);
      EXPECT_NE(text.find("tova repair"), std::string::npos) << text;
    }
    fs::remove(path);
    fs::remove(path + " 001");
    fs::remove(out_path);
  }
}

}  // namespace
