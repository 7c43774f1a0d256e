// Benchmarks: opening and indexing recordings, loading frames, buffers and
// appending, on synthetic recordings written by the library itself.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"

namespace {

constexpr uint16_t kWidth = 640, kHeight = 480;

uint64_t MakeFrameDocument() {
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(0, 0, 0x0100);
  const char device[] = "BENCH CAMERA-ID: 1";
  const uint16_t w = kWidth, h = kHeight, range = 1;
  TOVADLL_SET_ENTRY(mem, 0xFF01, 0x0110, sizeof device, device);
  TOVADLL_SET_ENTRY(mem, 0xFF01, 0x0111, 2, &w);
  TOVADLL_SET_ENTRY(mem, 0xFF01, 0x0112, 2, &h);
  TOVADLL_SET_ENTRY(mem, 0xFF02, 0x0201, 2, &w);
  TOVADLL_SET_ENTRY(mem, 0xFF02, 0x0202, 2, &h);
  TOVADLL_SET_ENTRY(mem, 0xFF02, 0x0244, 2, &range);
  std::vector<uint16_t> pixels(size_t(kWidth) * kHeight, 30000);
  TOVADLL_SET_ENTRY(mem, 0xFF10, 0x0300, uint32_t(pixels.size() * 2), pixels.data());
  return mem;
}

std::string Recording(int frames) {
  const std::string path = "/tmp/tova_bench_" + std::to_string(frames) + ".tova";
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
    return path;
  }
  const uint64_t mem = MakeFrameDocument();
  const uint64_t out = TOVADLL_OPEN_FILE_WRITE(path.c_str(), 0);
  for (int i = 0; i < frames; ++i) {
    const float t = 30.0f + i * 0.01f;
    TOVADLL_SET_ENTRY(mem, 0xFF02, 0x0281, 4, &t);
    TOVADLL_ADD_TOVA(out, mem, 0);
  }
  TOVADLL_CLOSE_FILE(out);
  TOVADLL_CLOSE_FILE(mem);
  return path;
}

// Opening a recording reads its headers and locates its images: the time
// grows with the number of frames, not with the pixel data.
void BM_OpenRecording(benchmark::State& state) {
  const std::string path = Recording(int(state.range(0)));
  for (auto _ : state) {
    const uint64_t h = TOVADLL_OPEN_FILE_READ(path.c_str());
    benchmark::DoNotOptimize(TOVADLL_READ_FROM_FILE(h, 1, 0));
    TOVADLL_CLOSE_FILE(h);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenRecording)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_LoadFrame(benchmark::State& state) {
  const std::string path = Recording(100);
  const uint64_t h = TOVADLL_OPEN_FILE_READ(path.c_str());
  TOVADLL_READ_FROM_FILE(h, 1, 0);
  uint32_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(TOVADLL_SET_CURDATASET(h, i++ % 100));
  state.SetBytesProcessed(state.iterations() * int64_t(kWidth) * kHeight * 2);
  TOVADLL_CLOSE_FILE(h);
}
BENCHMARK(BM_LoadFrame)->Unit(benchmark::kMicrosecond);

void BM_BufferRoundTrip(benchmark::State& state) {
  const uint64_t mem = MakeFrameDocument();
  uint32_t size = 0;
  TOVADLL_GET_BUFFERSIZE(mem, &size);
  std::vector<uint8_t> buffer(size);
  const uint64_t target = TOVADLL_OPEN_FILE_READ_BUFFER();
  for (auto _ : state) {
    uint32_t written = 0;
    TOVADLL_WRITE_TO_BUFFER(mem, buffer.data(), size, &written);
    benchmark::DoNotOptimize(TOVADLL_READ_FROM_BUFFER(target, buffer.data(), written));
  }
  state.SetBytesProcessed(state.iterations() * int64_t(size) * 2);
  TOVADLL_CLOSE_FILE(target);
  TOVADLL_CLOSE_FILE(mem);
}
BENCHMARK(BM_BufferRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_AppendFrame(benchmark::State& state) {
  const uint64_t mem = MakeFrameDocument();
  const std::string path = "/tmp/tova_bench_append.tova";
  const uint64_t out = TOVADLL_OPEN_FILE_WRITE(path.c_str(), 0);
  for (auto _ : state) benchmark::DoNotOptimize(TOVADLL_ADD_TOVA(out, mem, 0));
  state.SetBytesProcessed(state.iterations() * int64_t(kWidth) * kHeight * 2);
  TOVADLL_CLOSE_FILE(out);
  TOVADLL_CLOSE_FILE(mem);
  TOVADLL_FILE_DELETE(path.c_str());
}
BENCHMARK(BM_AppendFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
