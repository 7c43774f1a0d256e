// The exports as callers see them: the frame every export runs (bad handles, null pointers and foreign sections refused
// untouched), entries and datasets, and the document lock under threads (also for TSan).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "HOLMDAQTova.h"
#include "support/documents.h"

namespace {

using namespace tova::testing;

constexpr uint16_t GH = TOVA_SECT_GlobalHeader, DH = TOVA_SECT_DataHeader, IM = TOVA_SECT_Image;
constexpr uint32_t kMark = 0xA5A5A5A5u;

// A call's out values (marks no export writes), the section it names and the partner of the two-handle exports.
struct Ctx {
  uint32_t a = kMark, b = kMark, c = kMark, copied = kMark;
  uint8_t mark = 0;
  void* ptr = &mark;
  uint8_t buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  TOVA_WSTRING text = TOVA_WSTRING(4, TOVA_WCHAR('k'));
  uint16_t sect = GH;
  uint64_t partner = TOVADLL_INVALID_HANDLE;
  bool Untouched() const {
    return a == kMark && b == kMark && c == kMark && ptr == &mark && text == Ctx().text &&
           std::all_of(buffer, buffer + 8, [](uint8_t x) { return x == 0xEE; });
  }
};

struct Row {
  const char* name;
  std::function<int32_t(uint64_t, Ctx&)> call;
  int32_t expect = TOVA_ERR_HANDLE;  // the result the test is about
};
#define ROW(expr, ...) \
  Row { #expr, [=](uint64_t h, Ctx& o) -> int32_t { (void)h, (void)o; return expr; }, __VA_ARGS__ }

// Every export that takes a handle, with its unknown-handle result.
std::vector<Row> HandleExports(const std::u16string& save_path) {
  const std::string narrow = NarrowPath(save_path);
  const auto wide = W(save_path);
  return {
      ROW(TOVADLL_CLOSE_FILE(h)),
      ROW(TOVADLL_SET_ENTRY(h, GH, 0x0100, 3, "new")),  // a new size for a held entry
      ROW(TOVADLL_REMOVE_ENTRY(h, GH, 0x0100)),
      ROW(TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, o.buffer, &o.a)),
      ROW(TOVADLL_EXIST_ENTRY(h, DH, 0x0200)),
      ROW(TOVADLL_GET_ENTRY_DATASIZE(h, DH, 0x0200, &o.a)),
      ROW(TOVADLL_GET_ENTRY(h, DH, 0x0200, &o.ptr, &o.a, 1)),
      ROW(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0200, 1)),
      ROW(TOVADLL_GET_NUM_ENTRIES(h, DH, &o.a)),
      ROW(TOVADLL_GET_NUMDATASETS(h, &o.a)),
      ROW(TOVADLL_GET_CURDATASET(h, &o.a)),
      ROW(TOVADLL_SET_CURDATASET(h, 1)),
      ROW(TOVADLL_SET_CURDATASET_EX(h, 1, 0)),
      ROW(TOVADLL_REMOVE_DATASET(h, 0)),
      ROW(TOVADLL_GET_TOVA_TYPE(h, &o.a)),
      ROW(TOVADLL_GET_MODIFIED(h, &o.a)),
      ROW(TOVADLL_SET_MODIFIED(h, 0)),
      ROW([h] { const int32_t rc = TOVADLL_LOCK(h); return rc == TOVA_OK ? TOVADLL_UNLOCK(h) : rc; }()),
      ROW(TOVADLL_UNLOCK(h)),
      ROW(TOVADLL_EXIST(h)),
      ROW(TOVADLL_READ_FROM_FILE(h, 1, 0)),
      ROW(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr)),
      ROW(TOVADLL_ADD_TOVA(h, o.partner, 1)),
      ROW(TOVADLL_ADD_TOVA(o.partner, h, 1)),
      ROW(TOVADLL_ADD_TOVA_BUFFERED_WRITE(h, o.partner, o.buffer, 8, &o.a)),
      ROW(TOVADLL_ADD_TOVA_BUFFERED_WRITE(o.partner, h, o.buffer, 8, &o.a)),
      ROW(TOVADLL_SAVE_FILE(h, narrow.c_str())),
      ROW(TOVADLL_SAVE_FILE_UC(h, wide.c_str())),
      ROW(TOVADLL_GET_BUFFERSIZE(h, &o.a)),
      ROW(TOVADLL_WRITE_TO_BUFFER(h, o.buffer, 8, &o.a)),
      ROW(TOVADLL_READ_FROM_BUFFER(h, o.buffer, 8)),
      ROW(TOVADLL_WRITE_TO_BUFFER_EX(h, o.buffer, 8, &o.a, &o.b, &o.c)),
      ROW(TOVADLL_READ_FROM_BUFFER_EX(h, o.buffer, 8, &o.a, &o.b)),
      ROW(TOVADLL_COPY_SECTION_STRING(h, GH, o.text)),
      ROW(TOVADLL_COPY_ENTRY_STRING(h, DH, 0, o.text)),
      ROW(TOVADLL_COPY_DATA_STRING(h, DH, 0, o.text), TOVA_ERR_TEXT_HANDLE),
  };
}

TEST(ExportFrame, UnknownHandlesAreRefusedAndNothingIsTouched) {
  const Handle live(OpenMemoryDocument(2));  // beside them, and never reached
  TOVADLL_SET_MODIFIED(live, 0);
  const uint64_t stale = OpenMemoryDocument(1);
  TOVADLL_CLOSE_FILE(stale);
  TempTree dir;
  const std::u16string save_path = dir.Path(u"never.tova");
  const uint64_t bad_handles[] = {0, TOVADLL_INVALID_HANDLE, stale, live + 1000000, live ^ (uint64_t{1} << 63)};
  for (uint64_t bad : bad_handles) {
    EXPECT_EQ(TOVADLL_GET_NUMDATASETS(bad, nullptr), TOVA_ERR_HANDLE);  // before the null pointer
    for (const Row& e : HandleExports(save_path)) {
      Ctx o;
      o.partner = live;
      EXPECT_EQ(e.call(bad, o), e.expect) << e.name << " with handle " << std::hex << bad;
      EXPECT_TRUE(o.Untouched()) << e.name;
    }
  }
  EXPECT_FALSE(PathExists(save_path));
  EXPECT_EQ(NumDatasets(live), 2u);
  EXPECT_EQ(Modified(live), 0u);
}

// Null required pointers and section identifiers other than the three are refused before anything is stored.
TEST(ExportFrame, InvalidArgumentsAreRefusedAndChangeNothing) {
  const Handle h(OpenMemoryDocument(1));
  TOVADLL_SET_MODIFIED(h, 0);
  const Row rows[] = {
      ROW(TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, o.buffer, nullptr), TOVA_ERR_NULL_POINTER),
      ROW(TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, nullptr, &o.a), TOVA_ERR_NULL_POINTER),
      ROW(TOVADLL_GET_ENTRY(h, DH, 0x0200, nullptr, &o.a, 1), TOVA_ERR_NULL_POINTER),
      ROW(TOVADLL_GET_NUM_ENTRIES(h, DH, nullptr), TOVA_ERR_NULL_POINTER),
      ROW(TOVADLL_GET_MODIFIED(h, nullptr), TOVA_ERR_NULL_POINTER),
      ROW(TOVADLL_SET_ENTRY(h, GH, 0x0101, 4, nullptr), TOVA_ERR_NULL_POINTER),  // a new entry
      ROW(TOVADLL_SET_ENTRY(h, GH, 0x0100, 2, nullptr), TOVA_ERR_NULL_POINTER),  // the held one, same size
      ROW(TOVADLL_SET_ENTRY(h, o.sect, 0x0101, 2, "ab"), TOVA_ERR_SECTION_ID),
      ROW(TOVADLL_REMOVE_ENTRY(h, o.sect, 0x0100), TOVA_ERR_SECTION_ID),
      ROW(TOVADLL_COPY_ENTRY_DATA(h, o.sect, 0x0100, 8, o.buffer, &o.copied), TOVA_ERR_SECTION_ID),
      ROW(TOVADLL_EXIST_ENTRY(h, o.sect, 0x0100), TOVA_ERR_SECTION_ID - TOVA_EXIST_ENTRY_BIAS),
      ROW(TOVADLL_GET_ENTRY_DATASIZE(h, o.sect, 0x0100, &o.a), TOVA_ERR_SECTION_ID),
      ROW(TOVADLL_GET_ENTRY(h, o.sect, 0x0100, &o.ptr, &o.a, 1), TOVA_ERR_SECTION_ID),
      ROW(TOVADLL_SET_ENTRY_ISOPTIONAL(h, o.sect, 0x0100, 1), TOVA_ERR_HANDLE),
      ROW(TOVADLL_GET_NUM_ENTRIES(h, o.sect, &o.a), TOVA_ERR_SECTION_ID),
  };
  for (uint16_t section : {0x0000, 0xFF00, 0xFF03, 0xFF11, 0xFFFF}) {
    for (const Row& r : rows) {
      Ctx o;
      o.sect = section;
      EXPECT_EQ(r.call(h, o), r.expect) << r.name << " section " << std::hex << section;
      EXPECT_TRUE(o.Untouched()) << r.name;
    }
  }
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0101), TOVA_ERR_NO_ENTRY - TOVA_EXIST_ENTRY_BIAS);
  EXPECT_EQ(Modified(h), 0u);  // the held entry was not written either
  // Each null out pointer or path of the buffer and file exports on its own; no buffer is needed for no bytes.
  uint32_t a = 0, b = 0, c = 0;
  double mb = 0;
  uint8_t byte = 0;
  const auto never = W(u"never.tova");
  for (const int32_t rc : {TOVADLL_WRITE_TO_BUFFER_EX(h, &byte, 1, nullptr, &b, &c),
                           TOVADLL_WRITE_TO_BUFFER_EX(h, &byte, 1, &a, nullptr, &c),
                           TOVADLL_WRITE_TO_BUFFER_EX(h, &byte, 1, &a, &b, nullptr),
                           TOVADLL_READ_FROM_BUFFER_EX(h, nullptr, 1, &a, &b), TOVADLL_READ_FROM_BUFFER(h, nullptr, 1),
                           TOVADLL_WRITE_TO_BUFFER(h, nullptr, 1, &a), TOVADLL_SAVE_FILE(h, nullptr),
                           TOVADLL_SAVE_FILE_UC(h, nullptr), TOVADLL_FILE_DELETE_UC(nullptr),
                           TOVADLL_FILE_DELETE_ALL_OLD_EX(nullptr, 0, nullptr),
                           TOVADLL_FILE_RENAME("never.tova", nullptr), TOVADLL_FILE_RENAME(nullptr, "never.tova"),
                           TOVADLL_FILE_RENAME_UC(never.c_str(), nullptr),
                           TOVADLL_FILE_RENAME_UC(nullptr, never.c_str()),
                           TOVADLL_GET_FILE_SIZE("never.tova", nullptr), TOVADLL_GET_FILE_SIZE(nullptr, &mb),
                           TOVADLL_GET_FILE_SIZE_UC(never.c_str(), nullptr), TOVADLL_GET_FILE_SIZE_UC(nullptr, &mb)})
    EXPECT_EQ(rc, TOVA_ERR_NULL_POINTER);
  const Handle reader(TOVADLL_OPEN_FILE_READ_BUFFER());
  EXPECT_EQ(TOVADLL_READ_FROM_BUFFER(reader, nullptr, 0), TOVA_OK);  // no bytes, nothing read
}

// Memory exhaustion: the 1st, 2nd, ... allocation of each call fails in turn.

constexpr int32_t kAbsent = TOVA_ERR_NO_ENTRY - TOVA_EXIST_ENTRY_BIAS;  // -1967

uint32_t Entries(uint64_t h, uint16_t s) { uint32_t n = ~0u; TOVADLL_GET_NUM_ENTRIES(h, s, &n); return n; }
// The entry's bytes, or "<code>" when they cannot be copied.
std::string Copy(uint64_t h, uint16_t section, uint16_t id, uint32_t capacity = 64) {
  char out[64];
  uint32_t copied = 0;
  const int32_t rc = TOVADLL_COPY_ENTRY_DATA(h, section, id, capacity, out, &copied);
  return rc == TOVA_OK ? std::string(out, copied) : "<" + std::to_string(rc) + ">";
}
int32_t Set(uint64_t h, uint16_t section, uint16_t id, const std::string& v) {
  return TOVADLL_SET_ENTRY(h, section, id, static_cast<uint32_t>(v.size()), v.data());
}

TEST(ApiDocument, EntryDataThroughCopyAndGetEntry) {
  const Handle h(OpenMemoryDocument(1));
  ASSERT_EQ(Set(h, GH, 0x0110, "device"), TOVA_OK);
  TOVADLL_SET_MODIFIED(h, 0);
  std::string out(8, '#');
  uint32_t copied = 99;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 5, out.data(), &copied), TOVA_ERR_BUFFER_TOO_SMALL);
  EXPECT_TRUE(copied == 0u && out == "########");
  EXPECT_TRUE(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 6, out.data(), &copied) == TOVA_OK && out == "device##");
  EXPECT_TRUE(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0199, 8, out.data(), &copied) == TOVA_ERR_NO_ENTRY && copied == 0u);
  EXPECT_EQ(TOVADLL_REMOVE_ENTRY(h, GH, 0x0199), TOVA_ERR_NO_ENTRY);
  void* data = nullptr;  // TOVADLL_GET_ENTRY hands out the entry's own storage
  uint32_t size = 0;
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 0), TOVA_OK);
  EXPECT_EQ(std::string(static_cast<char*>(data), size), "device");
  EXPECT_EQ(Modified(h), 0u);  // reading is no change
  ASSERT_EQ(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 1), TOVA_OK);
  EXPECT_EQ(Modified(h), 1u);
  static_cast<char*>(data)[0] = 'D';
  EXPECT_EQ(Copy(h, GH, 0x0110), "Device");
  // Emptied, the entry stays listed without data, and that is no change.
  TOVADLL_SET_MODIFIED(h, 0);
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, GH, 0x0110, 0, nullptr), TOVA_OK);  // an empty store needs no bytes
  EXPECT_EQ(Entries(h, GH), 2u);
  EXPECT_TRUE(TOVADLL_GET_ENTRY_DATASIZE(h, GH, 0x0110, &size) == TOVA_OK && size == 0u);
  data = nullptr;
  EXPECT_TRUE(TOVADLL_GET_ENTRY(h, GH, 0x0110, &data, &size, 1) == TOVA_ERR_RECORD && data == nullptr);
  EXPECT_TRUE(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0110, 0, nullptr, &copied) == TOVA_OK && copied == 0u);
  EXPECT_EQ(Modified(h), 0u);
}

// Shared entries live in the first dataset and per-dataset ones in the current, where only TOVADLL_COPY_ENTRY_DATA
// falls back to the first; a later dataset counts entries stored since the change; SET_ENTRY_ISOPTIONAL sets a flag.
TEST(ApiDocument, OnlyCopyEntryDataFallsBackToTheFirstDataset) {
  const Handle h(OpenMemoryDocument(3));
  TOVADLL_SET_MODIFIED(h, 0);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0200, 5), TOVA_OK);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, IM, 0x0300, 1), TOVA_ERR_HANDLE);  // absent
  EXPECT_TRUE(Doc(h)->data_headers[0]->FindEntry(0x0200)->per_dataset && Modified(h) == 0u);
  EXPECT_EQ(Copy(h, DH, 0x0200), std::string("\x02\x00", 2));
  ASSERT_EQ(Set(h, DH, 0x0231, "first"), TOVA_OK);  // per dataset, stored while dataset 0 is current
  ASSERT_EQ(Set(h, DH, 0x0232, "first"), TOVA_OK);
  ASSERT_EQ(Set(h, GH, 0x0101, "o"), TOVA_OK);
  EXPECT_EQ(Entries(h, GH), 2u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 2), TOVA_OK);
  EXPECT_EQ(Entries(h, GH), 0u);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0101), TOVA_OK);  // still there, just not counted
  ASSERT_TRUE(Set(h, GH, 0x0101, "o") == TOVA_OK && Set(h, DH, 0x0232, "own") == TOVA_OK);
  ASSERT_EQ(Set(h, DH, 0x0201, "xy"), TOVA_OK);
  EXPECT_TRUE(Doc(h)->data_headers[0]->FindEntry(0x0201) && !Doc(h)->data_headers[2]->FindEntry(0x0201));
  EXPECT_EQ(Entries(h, GH), 1u);
  EXPECT_EQ(Copy(h, DH, 0x0231), "first");
  EXPECT_EQ(Copy(h, DH, 0x0232), "own");  // the current dataset's own entry comes first
  EXPECT_TRUE(TOVADLL_REMOVE_ENTRY(h, DH, 0x0232) == TOVA_OK && Copy(h, DH, 0x0232) == "first");
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, DH, 0x0231), kAbsent);
  void* data = nullptr;
  uint32_t size = 77;
  EXPECT_EQ(TOVADLL_GET_ENTRY(h, DH, 0x0231, &data, &size, 0), TOVA_ERR_NO_ENTRY);
  EXPECT_TRUE(TOVADLL_GET_ENTRY_DATASIZE(h, DH, 0x0231, &size) == TOVA_ERR_NO_ENTRY && size == 77u);
  EXPECT_EQ(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0231, 0), TOVA_ERR_HANDLE);
  for (uint32_t index : {3u, 0xFFFFFFFFu})  // an index at or past the end is refused and changes nothing
    EXPECT_TRUE(TOVADLL_SET_CURDATASET(h, index) == TOVA_ERR_DATASET &&
                TOVADLL_SET_CURDATASET_EX(h, index, 0) == TOVA_ERR_DATASET);
  EXPECT_TRUE(CurDataset(h) == 2u && Entries(h, GH) == 1u);
  ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 0), TOVA_OK);
  EXPECT_EQ(Entries(h, GH), 2u);
}

// Gives the other thread a chance to run (and, were the lock broken, to get through it).
void LetOthersRun() {
  for (int i = 0; i < 2000; ++i) std::this_thread::yield();
}
// Waits until stage reaches at least `value`; false after 30 s, so that a deadlock fails.
bool Reaches(const std::atomic<int>& stage, int value) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (stage.load() < value && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return stage.load() >= value;
}
int32_t Store(uint64_t h) { return TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 1, "b"); }

TEST(ApiLock, OtherThreadsLockedCallWaitsForTheLastOfNestedUnlocks) {
  const Handle h(OpenMemoryDocument(2));
  ASSERT_TRUE(TOVADLL_LOCK(h) == TOVA_OK && TOVADLL_LOCK(h) == TOVA_OK);  // the same thread enters again
  std::atomic<int> stage{0};  // 1: counted, 2: stored
  std::atomic<bool> released{false};
  bool released_when_stored = false;
  int32_t count_rc = -1, store_rc = -1;
  std::thread b([&] {
    uint32_t n = 0;
    count_rc = TOVADLL_GET_NUM_ENTRIES(h, TOVA_SECT_GlobalHeader, &n);  // takes no lock
    stage = 1;
    store_rc = Store(h);
    released_when_stored = released.load();
    stage = 2;
  });
  EXPECT_TRUE(Reaches(stage, 1)) << "TOVADLL_GET_NUM_ENTRIES waited for the document lock";
  EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_OK);
  LetOthersRun();
  EXPECT_LT(stage.load(), 2) << "the store got through while the lock was still held once";
  released = true;
  EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_OK);
  b.join();
  EXPECT_TRUE(released_when_stored && count_rc == TOVA_OK && store_rc == TOVA_OK);
  // The holder calls any export; a foreign unlock takes none of its holds.
  ASSERT_TRUE(TOVADLL_LOCK(h) == TOVA_OK && TOVADLL_LOCK(h) == TOVA_OK);
  int32_t foreign = -1;
  std::thread([&] { foreign = TOVADLL_UNLOCK(h); }).join();
  EXPECT_EQ(foreign, TOVA_ERR_NOT_LOCK_OWNER);
  EXPECT_TRUE(Store(h) == TOVA_OK && TOVADLL_REMOVE_DATASET(h, 0) == TOVA_OK);
  EXPECT_TRUE(TOVADLL_UNLOCK(h) == TOVA_OK && TOVADLL_UNLOCK(h) == TOVA_OK);
  EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_ERR_NOT_LOCK_OWNER);
}

// One thread waits inside a locked call and two close the document while the test holds the lock twice, then unlocks
// or (odd rounds) closes it itself: the waiting call ends on a live object, exactly one close succeeds.
TEST(ApiLock, ClosesRacingACallOnTheSameDocument) {
  for (int round = 0; round < 20; ++round) {
    const uint64_t h = OpenMemoryDocument(2);
    ASSERT_TRUE(TOVADLL_LOCK(h) == TOVA_OK && TOVADLL_LOCK(h) == TOVA_OK);
    std::atomic<int> started{0}, closed{0}, unknown{0};
    std::atomic<int32_t> store{-1};
    const auto close = [&] {
      const int32_t rc = TOVADLL_CLOSE_FILE(h);
      closed += rc == TOVA_OK, unknown += rc == TOVA_ERR_HANDLE;
    };
    std::vector<std::thread> threads;
    threads.emplace_back([&] { ++started, store = Store(h); });
    for (int i = 0; i < 2; ++i) threads.emplace_back([&] { ++started, close(); });
    while (started < 3) std::this_thread::yield();
    LetOthersRun();
    if (round % 2)
      close();
    else
      EXPECT_TRUE(TOVADLL_UNLOCK(h) == TOVA_OK && TOVADLL_UNLOCK(h) == TOVA_OK);
    for (auto& t : threads) t.join();
    EXPECT_TRUE(closed == 1 && unknown == 1 + round % 2) << closed << " " << unknown;
    EXPECT_TRUE(store == TOVA_OK || store == TOVA_ERR_HANDLE) << store;
    EXPECT_EQ(TOVADLL_EXIST(h), TOVA_ERR_HANDLE);
  }
}

}  // namespace
