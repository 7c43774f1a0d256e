// Writes the seed corpus of every fuzz target into DIR/<target>/, from
// documents the library itself writes: a recording of three frames, the
// dataset buffers of its frames, and entry records of every identifier that
// the dictionary names.
//
//   make_seeds DIR DICTIONARY
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "fuzz_support.h"
#include "targets.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

void Save(const fs::path& dir, const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir / target);
  std::ofstream(dir / target / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                 static_cast<std::streamsize>(bytes.size()));
}

Bytes Cat(Bytes prefix, const Bytes& rest) {
  prefix.insert(prefix.end(), rest.begin(), rest.end());
  return prefix;
}

// A recording of frames 1 to n, and the dataset buffer of each of its frames.
Bytes Recording(int n, std::vector<Bytes>& buffers) {
  tova::fuzz::FuzzScope scope;
  const uint64_t out = TOVADLL_OPEN_FILE_WRITE("seed.tova", 0);
  for (int i = 1; i <= n; ++i) {
    const uint64_t frame = tova::fuzz::MakeSeedFrame(static_cast<uint16_t>(i));
    TOVADLL_ADD_TOVA(out, frame, 0);
    TOVADLL_CLOSE_FILE(frame);
  }
  TOVADLL_CLOSE_FILE(out);
  const uint64_t in = TOVADLL_OPEN_FILE_READ("seed.tova");
  TOVADLL_READ_FROM_FILE(in, 1, 0);
  for (int i = 0; i < n; ++i) {
    uint32_t size = 0, written = 0;
    TOVADLL_SET_CURDATASET(in, static_cast<uint32_t>(i));
    TOVADLL_GET_BUFFERSIZE(in, &size);
    Bytes b(size);
    if (TOVADLL_WRITE_TO_BUFFER(in, b.data(), size, &written) == TOVA_OK) buffers.push_back(Bytes(b.begin(), b.begin() + written));
  }
  TOVADLL_CLOSE_FILE(in);
  return scope.Get("seed.tova");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds DIR DICTIONARY\n");
    return 2;
  }
  const fs::path dir = argv[1];
  std::vector<Bytes> buffers;
  const Bytes file = Recording(3, buffers);
  const Bytes single = Recording(1, buffers);

  for (size_t i = 0; i < buffers.size(); ++i) Save(dir, "buffer_reader", "frame" + std::to_string(i), buffers[i]);
  // Part limits of 24, 64 and 2048 bytes; read all, after the first, with a stray part.
  Save(dir, "file_reader", "limit24", Cat({2, 0}, file));
  Save(dir, "file_reader", "limit64_after_first", Cat({7, 2}, file));
  Save(dir, "file_reader", "limit2048_stray", Cat({255, 1}, file));
  Save(dir, "file_reader", "readwrite", Cat({7, 4}, single));
  Save(dir, "append", "real_limit", Cat({0}, file));
  Save(dir, "append", "limit128_twice", Cat({2 | 128}, file));
  Save(dir, "append", "readwrite", Cat({64 | 1}, single));
  Save(dir, "append", "stray_byte", Cat(Cat({0}, file), {0x42}));
  Save(dir, "tiny_records", "empty_data_headers", Cat(Cat({static_cast<uint8_t>(single.size()), static_cast<uint8_t>(single.size() >> 8)}, single), {6, 0, 0, 0, 0x02, 0xFF, 0xFF, 0xFF}));

  // Renderings: every identifier of the dictionary with 40 bytes of data, a
  // dozen identifiers per seed, for each data unit.
  std::ifstream dict(argv[2]);
  std::vector<Bytes> records;
  int in_seed = 0, last_section = -1;
  for (std::string line; std::getline(dict, line);) {
    const size_t q = line.find("=\"\\x");
    if (q == std::string::npos || line.rfind("sect_", 0) == 0 || line.rfind("empty", 0) == 0) continue;
    const uint8_t lo = static_cast<uint8_t>(std::stoi(line.substr(q + 4, 2), nullptr, 16));
    const uint8_t hi = static_cast<uint8_t>(std::stoi(line.substr(q + 8, 2), nullptr, 16));
    const int section = line.rfind("gh_", 0) == 0 ? 0 : line.rfind("im_", 0) == 0 ? 2 : 1;
    Bytes record = {static_cast<uint8_t>(section), lo, hi, 40};
    for (uint8_t b = 0; b < 40; ++b) record.push_back(static_cast<uint8_t>(b * 7 + 1));
    if (records.empty() || ++in_seed > 12 || section != last_section) {
      records.emplace_back();
      in_seed = 1;
    }
    last_section = section;
    records.back().insert(records.back().end(), record.begin(), record.end());
  }
  for (uint8_t unit = 0; unit < 4; ++unit)
    for (size_t s = 0; s < records.size(); ++s)
      Save(dir, "renderings", "unit" + std::to_string(unit) + "_" + std::to_string(s), Cat({unit, 0}, records[s]));
  return 0;
}
