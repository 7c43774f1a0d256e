// The library beside raw system calls on the same bytes, in one run: for each
// workload the best time of several rounds of the library over the best of
// the raw side, and the memory of open recordings. Linux only (pread, writev,
// mallinfo2). Usage: tova_ratios [directory]   (default /dev/shm)
//
// Recordings: 640 x 480 frames of 16-bit pixels, four per-dataset entries in
// every data header. The big recordings are made sparse: the bytes the
// library would write for each dataset (taken from ADD_TOVA_BUFFERED_WRITE)
// go to their places in the parts, the pixels, all zero, stay holes. A check
// at the start compares such a file with one the library wrote itself.
//
// Memory: glibc's malloc accounting (mallinfo2: bytes in use in the heap and
// in mapped blocks) before the open and after the whole recording is read;
// the raw side is the recording's header bytes (all but the pixels) plus one
// frame.
#include <fcntl.h>
#include <malloc.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"

namespace {

constexpr uint64_t kPartLimit = 0x7FFFFFFF;
constexpr uint16_t kPerFrameIds[] = {TOVA_DH_DREC_ValidFrames, TOVA_DH_DREC_TimeStamp, TOVA_DH_INFO_DetectorTempC,
                                     TOVA_DH_INFO_CameraTempC};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "tova_ratios: %s\n", what);
  std::exit(1);
}
void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of `rounds` for each side, the sides taking turns.
struct Ratio {
  double library = 1e30, raw = 1e30;
  double Value() const { return library / raw; }
};
// `before`, when given, runs untimed ahead of each side.
Ratio Compare(int rounds, const std::function<void()>& library, const std::function<void()>& raw,
              const std::function<void()>& before = nullptr) {
  Ratio r;
  for (int i = 0; i < rounds; ++i) {
    if (before) before();
    r.library = std::min(r.library, Seconds(library));
    if (before) before();
    r.raw = std::min(r.raw, Seconds(raw));
  }
  return r;
}

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// ---- a frame as a memory document

struct FrameFormat {
  uint16_t width, height;
  uint32_t PixelBytes() const { return uint32_t(width) * height * 2; }
};

struct FrameValues {
  uint32_t valid;
  uint64_t time;
  float detector, camera;
};
FrameValues ValuesOf(uint32_t i) { return {i + 1, 1000000ull + i * 33333ull, 30.0f + i * 0.01f, 25.0f + i * 0.02f}; }

void SetFrame(uint64_t mem, uint32_t i) {
  const FrameValues v = ValuesOf(i);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, kPerFrameIds[0], 4, &v.valid);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, kPerFrameIds[1], 8, &v.time);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, kPerFrameIds[2], 4, &v.detector);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, kPerFrameIds[3], 4, &v.camera);
}

uint64_t MakeFrameDocument(FrameFormat f, uint16_t pixel_value) {
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(1, 0, 0x0100);
  const char device[] = "BENCH CAMERA-ID: 1";
  const uint16_t range = 1;
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, 0x0110, sizeof device, device);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, 0x0111, 2, &f.width);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_GlobalHeader, 0x0112, 2, &f.height);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &f.width);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, 0x0202, 2, &f.height);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_DataHeader, 0x0244, 2, &range);
  SetFrame(mem, 0);
  std::vector<uint16_t> pixels(size_t(f.width) * f.height, pixel_value);
  TOVADLL_SET_ENTRY(mem, TOVA_SECT_Image, TOVA_IM_Data, f.PixelBytes(), pixels.data());
  return mem;
}

std::string PartName(const std::string& path, uint32_t part) {
  if (part == 0) return path;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " %.3u", part);
  return path + suffix;
}

void RemoveRecording(const std::string& path) {
  for (uint32_t p = 0; ::unlink(PartName(path, p).c_str()) == 0; ++p) {
  }
}

// ---- the byte stream of a recording over its parts, read and written at positions

class Stream {
 public:
  Stream(const std::string& path, bool create) : path_(path), create_(create) {
    if (!create) {
      for (uint32_t p = 0;; ++p) {
        const int fd = ::open(PartName(path, p).c_str(), O_RDONLY);
        if (fd < 0) break;
        fds_.push_back(fd);
        sizes_.push_back(uint64_t(::lseek(fd, 0, SEEK_END)));
      }
      Check(!fds_.empty(), "cannot open the recording");
    }
  }
  ~Stream() {
    for (size_t p = 0; p < fds_.size(); ++p) {
      if (create_) Check(::ftruncate(fds_[p], off_t(sizes_[p])) == 0, "cannot size a part");
      ::close(fds_[p]);
    }
  }
  uint64_t Size() const {
    uint64_t total = 0;
    for (uint64_t s : sizes_) total += s;
    return total;
  }
  // Reads n bytes at stream position pos; false past the end.
  bool ReadAt(uint64_t pos, void* destination, size_t n) {
    auto* d = static_cast<uint8_t*>(destination);
    while (n > 0) {
      const size_t part = size_t(pos / kPartLimit);
      if (part >= fds_.size()) return false;
      const uint64_t offset = pos % kPartLimit;
      const size_t take = size_t(std::min<uint64_t>(n, kPartLimit - offset));
      if (::pread(fds_[part], d, take, off_t(offset)) != ssize_t(take)) return false;
      d += take, pos += take, n -= take;
    }
    return true;
  }
  // Writes n bytes at pos; with data null the range is left a hole.
  void WriteAt(uint64_t pos, const void* data, size_t n) {
    const auto* s = static_cast<const uint8_t*>(data);
    while (n > 0) {
      const size_t part = size_t(pos / kPartLimit);
      while (fds_.size() <= part) {
        const int fd = ::open(PartName(path_, uint32_t(fds_.size())).c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
        Check(fd >= 0, "cannot create a part");
        fds_.push_back(fd);
        sizes_.push_back(0);
      }
      const uint64_t offset = pos % kPartLimit;
      const size_t take = size_t(std::min<uint64_t>(n, kPartLimit - offset));
      if (s) {
        Check(::pwrite(fds_[part], s, take, off_t(offset)) == ssize_t(take), "cannot write a part");
        s += take;
      }
      sizes_[part] = std::max<uint64_t>(sizes_[part], offset + take);
      pos += take, n -= take;
    }
  }

 private:
  std::string path_;
  bool create_;
  std::vector<int> fds_;
  std::vector<uint64_t> sizes_;
};

// A recording of `frames` datasets with the bytes the library writes, the
// pixels (all zero) left as holes.
void MakeSparseRecording(const std::string& path, FrameFormat f, uint32_t frames) {
  RemoveRecording(path);
  const uint64_t mem = MakeFrameDocument(f, 0);
  const uint64_t target = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  std::vector<uint8_t> block(f.PixelBytes() + 4096);
  Stream out(path, true);
  uint64_t pos = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    SetFrame(mem, i);
    uint32_t written = 0;
    Check(TOVADLL_ADD_TOVA_BUFFERED_WRITE(target, mem, block.data(), uint32_t(block.size()), &written) == TOVA_OK,
          "buffered write failed");
    const uint32_t headers = written - f.PixelBytes();  // the pixels end the dataset
    out.WriteAt(pos, block.data(), headers);
    out.WriteAt(pos + headers, nullptr, f.PixelBytes());
    pos += written;
  }
  TOVADLL_CLOSE_FILE(target);
  TOVADLL_CLOSE_FILE(mem);
}

uint64_t RecordingSize(const std::string& path) { return Stream(path, false).Size(); }

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return bytes;
}

// ---- the raw side of appending: the records built by hand, one writev per dataset

void PutRecordHeader(std::vector<uint8_t>& out, uint32_t length, uint16_t id) {
  const uint8_t h[6] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24),
                        uint8_t(id), uint8_t(id >> 8)};
  out.insert(out.end(), h, h + 6);
}
void PutEntry(std::vector<uint8_t>& out, uint16_t id, const void* data, uint32_t size) {
  PutRecordHeader(out, size + 6, id);
  out.insert(out.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
}

// The headers of a later dataset: its data header (the per-frame entries) and
// the image section's header with that of its one entry.
std::vector<uint8_t> LaterDatasetHeaders(uint32_t i, uint32_t pixel_bytes) {
  const FrameValues v = ValuesOf(i);
  std::vector<uint8_t> entries;
  PutEntry(entries, kPerFrameIds[0], &v.valid, 4);
  PutEntry(entries, kPerFrameIds[1], &v.time, 8);
  PutEntry(entries, kPerFrameIds[2], &v.detector, 4);
  PutEntry(entries, kPerFrameIds[3], &v.camera, 4);
  std::vector<uint8_t> out;
  PutRecordHeader(out, uint32_t(entries.size()) + 6, TOVA_SECT_DataHeader);
  out.insert(out.end(), entries.begin(), entries.end());
  PutRecordHeader(out, pixel_bytes + 12, TOVA_SECT_Image);
  PutRecordHeader(out, pixel_bytes + 6, TOVA_IM_Data);
  return out;
}

void AppendLibrary(const std::string& path, uint64_t mem, uint32_t frames) {
  const uint64_t h = TOVADLL_OPEN_FILE_WRITE(path.c_str(), 0);
  Check(h != TOVADLL_INVALID_HANDLE, "cannot open for writing");
  for (uint32_t i = 0; i < frames; ++i) {
    SetFrame(mem, i);
    Check(TOVADLL_ADD_TOVA(h, mem, 0) == TOVA_OK, "append failed");
  }
  TOVADLL_CLOSE_FILE(h);
}

void AppendRaw(const std::string& path, const std::vector<uint8_t>& first_headers, const uint8_t* frame,
               uint32_t pixel_bytes, uint32_t frames) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  Check(fd >= 0, "cannot create");
  for (uint32_t i = 0; i < frames; ++i) {
    const std::vector<uint8_t> headers = i == 0 ? first_headers : LaterDatasetHeaders(i, pixel_bytes);
    iovec pieces[2] = {{const_cast<uint8_t*>(headers.data()), headers.size()},
                       {const_cast<uint8_t*>(frame), pixel_bytes}};
    Check(::writev(fd, pieces, 2) == ssize_t(headers.size() + pixel_bytes), "writev failed");
  }
  ::close(fd);
}

// ---- the raw side of reading: the section headers scanned with pread

struct RawIndex {
  std::vector<uint64_t> pixels;  // stream position of each frame's pixels
};
void ScanRaw(const std::string& path, RawIndex& index, std::vector<uint8_t>& first_frame, uint32_t pixel_bytes) {
  Stream in(path, false);
  const uint64_t end = in.Size();
  index.pixels.clear();
  for (uint64_t pos = 0; pos + 6 <= end;) {
    uint8_t h[6];
    Check(in.ReadAt(pos, h, 6), "short header");
    const uint32_t length = uint32_t(h[0]) | uint32_t(h[1]) << 8 | uint32_t(h[2]) << 16 | uint32_t(h[3]) << 24;
    const uint16_t id = uint16_t(h[4] | h[5] << 8);
    if (id == TOVA_SECT_Image) index.pixels.push_back(pos + 12);
    pos += length;
  }
  Check(in.ReadAt(index.pixels[0], first_frame.data(), pixel_bytes), "short frame");
}

void Line(const char* workload, const char* raw_side, const Ratio& r) {
  std::printf("%-46s %-44s %8.2f ms %8.2f ms %6.2fx\n", workload, raw_side, r.library * 1e3, r.raw * 1e3, r.Value());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/dev/shm";
  const FrameFormat vga{640, 480};
  const uint32_t pixel_bytes = vga.PixelBytes();

  // The sparse maker writes what the library writes.
  {
    const std::string a = dir + "/tova_ratios_check_lib.tova", b = dir + "/tova_ratios_check_sparse.tova";
    const uint64_t mem = MakeFrameDocument(vga, 0);
    AppendLibrary(a, mem, 20);
    TOVADLL_CLOSE_FILE(mem);
    MakeSparseRecording(b, vga, 20);
    Check(FileBytes(a) == FileBytes(b), "the sparse recording differs from the library's");
    RemoveRecording(a);
    RemoveRecording(b);
  }

  std::printf("%-46s %-44s %11s %11s %7s\n", "workload", "raw side", "library", "raw", "ratio");

  // 1. Appending 2,000 frames.
  {
    const uint32_t frames = 2000;
    const std::string lib_path = dir + "/tova_ratios_append_lib.tova", raw_path = dir + "/tova_ratios_append_raw.tova";
    const uint64_t mem = MakeFrameDocument(vga, 12345);
    std::vector<uint8_t> first(pixel_bytes + 4096);
    uint32_t written = 0;
    const uint64_t wb = TOVADLL_OPEN_FILE_WRITE_BUFFER();
    Check(TOVADLL_ADD_TOVA_BUFFERED_WRITE(wb, mem, first.data(), uint32_t(first.size()), &written) == TOVA_OK,
          "buffered write failed");
    TOVADLL_CLOSE_FILE(wb);
    const std::vector<uint8_t> first_headers(first.begin(), first.begin() + (written - pixel_bytes));
    const std::vector<uint8_t> frame(first.begin() + (written - pixel_bytes), first.begin() + written);
    // Each side starts with no file of either, so that none pays for
    // freeing the other's; afterwards a short run of both is compared.
    auto remove = [&] {
      RemoveRecording(lib_path);
      RemoveRecording(raw_path);
    };
    const Ratio r = Compare(
        3, [&] { AppendLibrary(lib_path, mem, frames); },
        [&] { AppendRaw(raw_path, first_headers, frame.data(), pixel_bytes, frames); }, remove);
    remove();
    AppendLibrary(lib_path, mem, 30);
    AppendRaw(raw_path, first_headers, frame.data(), pixel_bytes, 30);
    Check(FileBytes(lib_path) == FileBytes(raw_path), "appended bytes differ");
    remove();
    TOVADLL_CLOSE_FILE(mem);
    Line("append 2,000 frames", "one writev per dataset", r);
  }

  // 2.-3. and 5. A 10,000-frame recording.
  const uint32_t frames = 10000;
  const std::string path = dir + "/tova_ratios_10000.tova";
  MakeSparseRecording(path, vga, frames);
  RawIndex index;
  std::vector<uint8_t> frame(pixel_bytes);
  {
    auto open_library = [&] {
      const uint64_t h = TOVADLL_OPEN_FILE_READ(path.c_str());
      Check(TOVADLL_READ_FROM_FILE(h, 1, 0) == TOVA_OK, "read failed");
      TOVADLL_CLOSE_FILE(h);
    };
    open_library();  // warm
    const Ratio r = Compare(7, open_library, [&] { ScanRaw(path, index, frame, pixel_bytes); });
    Check(index.pixels.size() == frames, "raw scan miscounted");
    Line("open and index 10,000 frames, warm", "pread of the section headers + frame 0", r);
  }
  {
    const uint64_t h = TOVADLL_OPEN_FILE_READ(path.c_str());
    Check(TOVADLL_READ_FROM_FILE(h, 1, 0) == TOVA_OK, "read failed");
    std::mt19937 random(7);
    std::vector<uint32_t> order(2000);
    for (uint32_t& i : order) i = random() % frames;
    Stream in(path, false);
    const Ratio r = Compare(
        5, [&] { for (uint32_t i : order) Check(TOVADLL_SET_CURDATASET(h, i) == TOVA_OK, "load failed"); },
        [&] { for (uint32_t i : order) Check(in.ReadAt(index.pixels[i], frame.data(), pixel_bytes), "pread"); });
    TOVADLL_CLOSE_FILE(h);
    Line("random frame load (2,000 loads), warm", "pread of the pixels into one buffer", r);
  }

  // 4. Dataset buffers: two documents with different pixels take turns, so
  // that every read changes the whole image.
  {
    const uint64_t a = MakeFrameDocument(vga, 1000), b = MakeFrameDocument(vga, 2000);
    uint32_t size = 0;
    TOVADLL_GET_BUFFERSIZE(a, &size);
    std::vector<uint8_t> buffer(size), source(size, 1), destination(size);
    const uint64_t target = TOVADLL_OPEN_FILE_READ_BUFFER();
    const int n = 200;
    const Ratio r = Compare(
        5,
        [&] {
          for (int i = 0; i < n; ++i) {
            uint32_t written = 0;
            Check(TOVADLL_WRITE_TO_BUFFER(i % 2 ? a : b, buffer.data(), size, &written) == TOVA_OK, "write");
            Check(TOVADLL_READ_FROM_BUFFER(target, buffer.data(), written) == TOVA_OK, "read");
          }
        },
        [&] {
          for (int i = 0; i < n; ++i) {
            source[i % size] = uint8_t(i);
            std::memcpy(buffer.data(), source.data(), size);
            std::memcpy(destination.data(), buffer.data(), size);
          }
        });
    TOVADLL_CLOSE_FILE(target);
    TOVADLL_CLOSE_FILE(a);
    TOVADLL_CLOSE_FILE(b);
    Line("dataset buffer write + read", "two memcpy of the dataset's bytes", r);
  }

  // 5. Memory of the open recording.
  auto memory = [](const std::string& recording, uint32_t count, uint32_t pixels, double& per_frame,
                   double& headers_per_frame) {
    const size_t before = HeapInUse();
    const uint64_t h = TOVADLL_OPEN_FILE_READ(recording.c_str());
    Check(TOVADLL_READ_FROM_FILE(h, 1, 0) == TOVA_OK, "read failed");
    const size_t used = HeapInUse() - before;
    TOVADLL_CLOSE_FILE(h);
    const uint64_t headers = RecordingSize(recording) - uint64_t(count) * pixels;
    per_frame = double(used) / count;
    headers_per_frame = double(headers) / count;
    return double(used) / double(headers + pixels);
  };
  double per_frame = 0, headers_per_frame = 0;
  const double ratio = memory(path, frames, pixel_bytes, per_frame, headers_per_frame);
  std::printf("%-46s %-44s %11s %11s %6.2fx\n", "memory of an open 10,000-frame recording",
              "its header bytes + one frame", "", "", ratio);
  RemoveRecording(path);

  const FrameFormat small{32, 24};
  const std::string big = dir + "/tova_ratios_100000.tova";
  MakeSparseRecording(big, small, 100000);
  double big_ratio = memory(big, 100000, small.PixelBytes(), per_frame, headers_per_frame);
  std::printf("memory of an open 100,000-frame recording (32 x 24): %.1f bytes per frame for %.1f bytes of headers"
              " (%.2fx of headers + one frame)\n",
              per_frame, headers_per_frame, big_ratio);
  RemoveRecording(big);
  return 0;
}
