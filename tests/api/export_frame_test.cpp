// The frame every export runs: unknown, zero, all-ones and stale handles are refused by every handle export before
// anything is touched; null required pointers and foreign section identifiers are refused; memory exhaustion is
// reported as a code and never leaves an export as an exception.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/registry.h"
#include "support/alloc_failure.h"
#include "support/documents.h"

namespace {

using ScopedHandle = tova::testing::Handle;
using tova::testing::OpenMemoryDocument;

constexpr uint16_t GH = TOVA_SECT_GlobalHeader, DH = TOVA_SECT_DataHeader;
constexpr uint32_t kMark = 0xA5A5A5A5u;
constexpr int32_t kUnchecked = INT32_MIN;  // the result on a live document is another unit's concern

// What a call uses: out values filled with marks that no export writes, the section it names and the live partner
// document of the two-handle exports.
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
  int32_t expect;             // the result the test is about
  int32_t live = kUnchecked;  // the same call on a fresh memory document of two datasets
};
#define ROW(expr, ...) \
  Row { #expr, [=](uint64_t h, Ctx& o) -> int32_t { (void)h, (void)o; return expr; }, __VA_ARGS__ }

int32_t LockThenUnlock(uint64_t h) {
  const int32_t rc = TOVADLL_LOCK(h);
  return rc == TOVA_OK ? TOVADLL_UNLOCK(h) : rc;
}

// Every export that takes a handle, with its unknown-handle result.
std::vector<Row> HandleExports(const std::u16string& save_path) {
  const std::string narrow = tova::testing::NarrowPath(save_path);
  const auto wide = tova::testing::W(save_path);
  return {
      ROW(TOVADLL_CLOSE_FILE(h), 1, 0),
      ROW(TOVADLL_SET_ENTRY(h, GH, 0x0100, 3, "new"), 1, 0),  // a new size for a held entry
      ROW(TOVADLL_REMOVE_ENTRY(h, GH, 0x0100), 1, 0),
      ROW(TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, o.buffer, &o.a), 1, 0),
      ROW(TOVADLL_EXIST_ENTRY(h, DH, 0x0200), 1, 0),
      ROW(TOVADLL_GET_ENTRY_DATASIZE(h, DH, 0x0200, &o.a), 1, 0),
      ROW(TOVADLL_GET_ENTRY(h, DH, 0x0200, &o.ptr, &o.a, 1), 1, 0),
      ROW(TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0200, 1), 1, 0),
      ROW(TOVADLL_GET_NUM_ENTRIES(h, DH, &o.a), 1, 0),
      ROW(TOVADLL_GET_NUMDATASETS(h, &o.a), 1, 0),
      ROW(TOVADLL_GET_CURDATASET(h, &o.a), 1, 0),
      ROW(TOVADLL_SET_CURDATASET(h, 1), 1, 0),
      ROW(TOVADLL_SET_CURDATASET_EX(h, 1, 0), 1, 0),
      ROW(TOVADLL_REMOVE_DATASET(h, 0), 1, 0),
      ROW(TOVADLL_GET_TOVA_TYPE(h, &o.a), 1, 0),
      ROW(TOVADLL_GET_MODIFIED(h, &o.a), 1, 0),
      ROW(TOVADLL_SET_MODIFIED(h, 0), 1, 0),
      ROW(LockThenUnlock(h), 1, 0),
      ROW(TOVADLL_UNLOCK(h), 1, TOVA_ERR_NOT_LOCK_OWNER),
      ROW(TOVADLL_EXIST(h), 1, 0),
      ROW(TOVADLL_READ_FROM_FILE(h, 1, 0), 1),
      ROW(TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr), 1),
      ROW(TOVADLL_ADD_TOVA(h, o.partner, 1), 1),
      ROW(TOVADLL_ADD_TOVA(o.partner, h, 1), 1),
      ROW(TOVADLL_ADD_TOVA_BUFFERED_WRITE(h, o.partner, o.buffer, 8, &o.a), 1),
      ROW(TOVADLL_ADD_TOVA_BUFFERED_WRITE(o.partner, h, o.buffer, 8, &o.a), 1),
      ROW(TOVADLL_SAVE_FILE(h, narrow.c_str()), 1),
      ROW(TOVADLL_SAVE_FILE_UC(h, wide.c_str()), 1),
      ROW(TOVADLL_GET_BUFFERSIZE(h, &o.a), 1),
      ROW(TOVADLL_WRITE_TO_BUFFER(h, o.buffer, 8, &o.a), 1),
      ROW(TOVADLL_READ_FROM_BUFFER(h, o.buffer, 8), 1),
      ROW(TOVADLL_WRITE_TO_BUFFER_EX(h, o.buffer, 8, &o.a, &o.b, &o.c), 1),
      ROW(TOVADLL_READ_FROM_BUFFER_EX(h, o.buffer, 8, &o.a, &o.b), 1),
      ROW(TOVADLL_COPY_SECTION_STRING(h, GH, o.text), 1),
      ROW(TOVADLL_COPY_ENTRY_STRING(h, DH, 0, o.text), 1),
      ROW(TOVADLL_COPY_DATA_STRING(h, DH, 0, o.text), TOVA_ERR_TEXT_HANDLE),
  };
}

TEST(ExportFrame, UnknownHandlesAreRefusedAndNothingIsTouched) {
  const ScopedHandle live(OpenMemoryDocument(2));  // beside them, and never reached
  TOVADLL_SET_MODIFIED(live, 0);
  const uint64_t stale = OpenMemoryDocument(1);
  TOVADLL_CLOSE_FILE(stale);
  tova::testing::TempTree dir;
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
  EXPECT_FALSE(tova::testing::PathExists(save_path));
  EXPECT_EQ(tova::testing::NumDatasets(live), 2u);
  EXPECT_EQ(tova::testing::Modified(live), 0u);
}

// Null required pointers and section identifiers other than the three are refused before anything is stored.
TEST(ExportFrame, InvalidArgumentsAreRefusedAndChangeNothing) {
  const ScopedHandle h(OpenMemoryDocument(1));
  TOVADLL_SET_MODIFIED(h, 0);
  const Row rows[] = {
      ROW(TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, o.buffer, nullptr), 12),
      ROW(TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, nullptr, &o.a), 12),
      ROW(TOVADLL_GET_ENTRY(h, DH, 0x0200, nullptr, &o.a, 1), 12),
      ROW(TOVADLL_GET_NUM_ENTRIES(h, DH, nullptr), 12),
      ROW(TOVADLL_GET_MODIFIED(h, nullptr), 12),
      ROW(TOVADLL_SET_ENTRY(h, GH, 0x0101, 4, nullptr), 12),  // a new entry
      ROW(TOVADLL_SET_ENTRY(h, GH, 0x0100, 2, nullptr), 12),  // the held one, same size
      ROW(TOVADLL_SET_ENTRY(h, o.sect, 0x0101, 2, "ab"), 21),
      ROW(TOVADLL_REMOVE_ENTRY(h, o.sect, 0x0100), 21),
      ROW(TOVADLL_COPY_ENTRY_DATA(h, o.sect, 0x0100, 8, o.buffer, &o.copied), 21),
      ROW(TOVADLL_EXIST_ENTRY(h, o.sect, 0x0100), 21 - 2000),
      ROW(TOVADLL_GET_ENTRY_DATASIZE(h, o.sect, 0x0100, &o.a), 21),
      ROW(TOVADLL_GET_ENTRY(h, o.sect, 0x0100, &o.ptr, &o.a, 1), 21),
      ROW(TOVADLL_SET_ENTRY_ISOPTIONAL(h, o.sect, 0x0100, 1), 1),
      ROW(TOVADLL_GET_NUM_ENTRIES(h, o.sect, &o.a), 21),
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
  EXPECT_EQ(tova::testing::Modified(h), 0u);  // the held entry was not written either
}

// ---- memory exhaustion: fail the 1st, 2nd, ... allocation of a call --------

TEST(ExportFrameOutOfMemory, OpensGiveTheInvalidHandleOrACompleteDocument) {
  const std::function<uint64_t()> opens[] = {[] { return TOVADLL_OPEN_FILE_MEM(0, 3, 0x0200); },
                                             [] { return TOVADLL_OPEN_FILE_READ_BUFFER(); },
                                             [] { return TOVADLL_OPEN_FILE_WRITE_BUFFER(); }};
  for (int i = 0; i < 3; ++i) {
    bool hit = true;
    for (long skip = 0; hit; ++skip) {
      const size_t before = tova::api::TheRegistry().Count();
      const uint64_t h = tova_test::WithFailingAllocation(skip, hit, opens[i]);
      EXPECT_EQ(tova::api::TheRegistry().Count(), before + (h != TOVADLL_INVALID_HANDLE));
      EXPECT_TRUE(hit || h != TOVADLL_INVALID_HANDLE);
      if (i == 0 && h != TOVADLL_INVALID_HANDLE)  // a memory document is never half made
        EXPECT_TRUE(TOVADLL_EXIST_ENTRY(h, DH, 0x0200) == 0 && TOVADLL_EXIST_ENTRY(h, DH, 0x0210) == 0) << skip;
      TOVADLL_CLOSE_FILE(h);
    }
  }
}

TEST(ExportFrameOutOfMemory, HandleExportsReportACodeAndChangeNothing) {
  for (const Row& e : HandleExports(u"unused")) {
    if (e.live == kUnchecked) continue;
    SCOPED_TRACE(e.name);
    for (long skip = 0;; ++skip) {
      const ScopedHandle h(OpenMemoryDocument(2));
      Ctx o;
      bool hit = false;
      const auto rc = tova_test::WithFailingAllocation(skip, hit, [&] { return e.call(h, o); });
      if (!hit) {
        EXPECT_EQ(rc, e.live);  // the call itself works on the live document
        break;
      }
      EXPECT_TRUE(rc == TOVA_ERR_NO_MEMORY || rc == TOVA_ERR_STORE) << rc;
      uint32_t size = 0;  // and nothing changed
      TOVADLL_GET_ENTRY_DATASIZE(h, GH, 0x0100, &size);
      EXPECT_TRUE(tova::testing::NumDatasets(h) == 2u && size == 2u);
    }
  }
}

}  // namespace
