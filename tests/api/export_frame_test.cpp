// The frame every export runs: unknown, zero, all-ones and stale handles are
// refused by every handle export before anything is looked at; null required pointers give 12;
// section identifiers other than the three are refused; memory exhaustion is
// reported as a code and never leaves an export as an exception.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/alloc_failure.h"
#include "api/api_test_support.h"
#include "api/registry.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using tova_test::DocumentCloser;
using tova_test::OpenMemoryDocument;

constexpr uint32_t kSentinel = 0xA5A5A5A5u;

// Out values of a call, filled with marks that no export writes.
struct Outs {
  uint32_t u32 = kSentinel;
  uint32_t u32b = kSentinel;
  uint32_t u32c = kSentinel;
  uint8_t mark = 0;
  void* ptr = &mark;
  uint8_t buffer[8];
  TOVA_WSTRING text = TOVA_WSTRING(4, TOVA_WCHAR('k'));  // the caller's string object
  uint64_t partner = TOVADLL_INVALID_HANDLE;  // the live document of the two-handle exports
  Outs() { std::memset(buffer, 0xEE, sizeof buffer); }
  bool Untouched() const {
    for (uint8_t b : buffer)
      if (b != 0xEE) return false;
    return u32 == kSentinel && u32b == kSentinel && u32c == kSentinel && ptr == &mark &&
           text == TOVA_WSTRING(4, TOVA_WCHAR('k'));
  }
};

struct HandleExport {
  const char* name;
  std::function<int32_t(uint64_t, Outs&)> call;
  int32_t live_result;  // the same call on a fresh memory document of two datasets
};

// The exports of opening and closing, entries, datasets, state and locking.
const std::vector<HandleExport>& HandleExports() {
  constexpr uint16_t GH = TOVA_SECT_GlobalHeader, DH = TOVA_SECT_DataHeader;
  static const std::vector<HandleExport> exports = {
      {"TOVADLL_CLOSE_FILE", [](uint64_t h, Outs&) { return TOVADLL_CLOSE_FILE(h); }, 0},
      {"TOVADLL_SET_ENTRY", [](uint64_t h, Outs&) { return TOVADLL_SET_ENTRY(h, GH, 0x0101, 2, "ab"); }, 0},
      {"TOVADLL_REMOVE_ENTRY", [](uint64_t h, Outs&) { return TOVADLL_REMOVE_ENTRY(h, GH, 0x0100); }, 0},
      {"TOVADLL_COPY_ENTRY_DATA",
       [](uint64_t h, Outs& o) { return TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, sizeof o.buffer, o.buffer, &o.u32); },
       0},
      {"TOVADLL_EXIST_ENTRY", [](uint64_t h, Outs&) { return TOVADLL_EXIST_ENTRY(h, DH, 0x0200); }, 0},
      {"TOVADLL_GET_ENTRY_DATASIZE",
       [](uint64_t h, Outs& o) { return TOVADLL_GET_ENTRY_DATASIZE(h, DH, 0x0200, &o.u32); }, 0},
      {"TOVADLL_GET_ENTRY", [](uint64_t h, Outs& o) { return TOVADLL_GET_ENTRY(h, DH, 0x0200, &o.ptr, &o.u32, 1); },
       0},
      {"TOVADLL_SET_ENTRY_ISOPTIONAL", [](uint64_t h, Outs&) { return TOVADLL_SET_ENTRY_ISOPTIONAL(h, DH, 0x0200, 1); },
       0},
      {"TOVADLL_GET_NUM_ENTRIES", [](uint64_t h, Outs& o) { return TOVADLL_GET_NUM_ENTRIES(h, DH, &o.u32); }, 0},
      {"TOVADLL_GET_NUMDATASETS", [](uint64_t h, Outs& o) { return TOVADLL_GET_NUMDATASETS(h, &o.u32); }, 0},
      {"TOVADLL_GET_CURDATASET", [](uint64_t h, Outs& o) { return TOVADLL_GET_CURDATASET(h, &o.u32); }, 0},
      {"TOVADLL_SET_CURDATASET", [](uint64_t h, Outs&) { return TOVADLL_SET_CURDATASET(h, 1); }, 0},
      {"TOVADLL_SET_CURDATASET_EX", [](uint64_t h, Outs&) { return TOVADLL_SET_CURDATASET_EX(h, 1, 0); }, 0},
      {"TOVADLL_REMOVE_DATASET", [](uint64_t h, Outs&) { return TOVADLL_REMOVE_DATASET(h, 0); }, 0},
      {"TOVADLL_GET_TOVA_TYPE", [](uint64_t h, Outs& o) { return TOVADLL_GET_TOVA_TYPE(h, &o.u32); }, 0},
      {"TOVADLL_GET_MODIFIED", [](uint64_t h, Outs& o) { return TOVADLL_GET_MODIFIED(h, &o.u32); }, 0},
      {"TOVADLL_SET_MODIFIED", [](uint64_t h, Outs&) { return TOVADLL_SET_MODIFIED(h, 0); }, 0},
      {"TOVADLL_LOCK",
       [](uint64_t h, Outs&) {
         const int32_t rc = TOVADLL_LOCK(h);
         if (rc == 0) TOVADLL_UNLOCK(h);
         return rc;
       },
       0},
      {"TOVADLL_UNLOCK", [](uint64_t h, Outs&) { return TOVADLL_UNLOCK(h); }, TOVA_ERR_NOT_LOCK_OWNER},
      {"TOVADLL_EXIST", [](uint64_t h, Outs&) { return TOVADLL_EXIST(h); }, 0},
  };
  return exports;
}

// The handle exports of the other families, for the unknown-handle rule:
// reading, appending and saving, buffers and texts. Each gets an unknown handle
// where it takes one (and a live document in the other place of the appends).
struct OtherExport {
  const char* name;
  std::function<int32_t(uint64_t, Outs&)> call;
  int32_t unknown_result;
};

const std::vector<OtherExport>& OtherHandleExports(const std::u16string& save_path) {
  constexpr uint16_t GH = TOVA_SECT_GlobalHeader, DH = TOVA_SECT_DataHeader;
  static std::u16string path;
  path = save_path;
  static const std::vector<OtherExport> exports = {
      {"TOVADLL_READ_FROM_FILE", [](uint64_t h, Outs&) { return TOVADLL_READ_FROM_FILE(h, 1, 0); }, 1},
      {"TOVADLL_READ_FROM_FILE_AFTER_FIRST",
       [](uint64_t h, Outs&) { return TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, nullptr); }, 1},
      {"TOVADLL_ADD_TOVA (target)", [](uint64_t h, Outs& o) { return TOVADLL_ADD_TOVA(h, o.partner, 1); }, 1},
      {"TOVADLL_ADD_TOVA (source)", [](uint64_t h, Outs& o) { return TOVADLL_ADD_TOVA(o.partner, h, 1); }, 1},
      {"TOVADLL_ADD_TOVA_BUFFERED_WRITE (target)",
       [](uint64_t h, Outs& o) {
         return TOVADLL_ADD_TOVA_BUFFERED_WRITE(h, o.partner, o.buffer, sizeof o.buffer, &o.u32);
       },
       1},
      {"TOVADLL_ADD_TOVA_BUFFERED_WRITE (source)",
       [](uint64_t h, Outs& o) {
         return TOVADLL_ADD_TOVA_BUFFERED_WRITE(o.partner, h, o.buffer, sizeof o.buffer, &o.u32);
       },
       1},
      {"TOVADLL_SAVE_FILE",
       [](uint64_t h, Outs&) { return TOVADLL_SAVE_FILE(h, tova::platform::Utf16ToUtf8(path).c_str()); }, 1},
      {"TOVADLL_SAVE_FILE_UC",
       [](uint64_t h, Outs&) { return TOVADLL_SAVE_FILE_UC(h, tova_test::WidePath(path).c_str()); }, 1},
      {"TOVADLL_GET_BUFFERSIZE", [](uint64_t h, Outs& o) { return TOVADLL_GET_BUFFERSIZE(h, &o.u32); }, 1},
      {"TOVADLL_WRITE_TO_BUFFER",
       [](uint64_t h, Outs& o) { return TOVADLL_WRITE_TO_BUFFER(h, o.buffer, sizeof o.buffer, &o.u32); }, 1},
      {"TOVADLL_READ_FROM_BUFFER",
       [](uint64_t h, Outs& o) { return TOVADLL_READ_FROM_BUFFER(h, o.buffer, sizeof o.buffer); }, 1},
      {"TOVADLL_WRITE_TO_BUFFER_EX",
       [](uint64_t h, Outs& o) {
         return TOVADLL_WRITE_TO_BUFFER_EX(h, o.buffer, sizeof o.buffer, &o.u32, &o.u32b, &o.u32c);
       },
       1},
      {"TOVADLL_READ_FROM_BUFFER_EX",
       [](uint64_t h, Outs& o) {
         return TOVADLL_READ_FROM_BUFFER_EX(h, o.buffer, sizeof o.buffer, &o.u32, &o.u32b);
       },
       1},
      {"TOVADLL_COPY_SECTION_STRING", [](uint64_t h, Outs& o) { return TOVADLL_COPY_SECTION_STRING(h, GH, o.text); },
       1},
      {"TOVADLL_COPY_ENTRY_STRING", [](uint64_t h, Outs& o) { return TOVADLL_COPY_ENTRY_STRING(h, DH, 0, o.text); },
       1},
      {"TOVADLL_COPY_DATA_STRING", [](uint64_t h, Outs& o) { return TOVADLL_COPY_DATA_STRING(h, DH, 0, o.text); },
       TOVA_ERR_TEXT_HANDLE},
  };
  return exports;
}

// A handle that named a document which is closed now.
uint64_t StaleHandle() {
  const uint64_t h = OpenMemoryDocument(1);
  TOVADLL_CLOSE_FILE(h);
  return h;
}

TEST(ExportFrame, EveryHandleExportWorksOnALiveDocument) {
  for (const auto& e : HandleExports()) {
    SCOPED_TRACE(e.name);
    const uint64_t h = OpenMemoryDocument(2);
    ASSERT_NE(h, TOVADLL_INVALID_HANDLE);
    DocumentCloser closer(h);
    Outs o;
    EXPECT_EQ(e.call(h, o), e.live_result);
  }
}

TEST(ExportFrame, UnknownHandlesAreRefusedAndOutValuesStayUntouched) {
  // A live document beside them must not be reached either.
  const uint64_t live = OpenMemoryDocument(2);
  DocumentCloser closer(live);
  TOVADLL_SET_MODIFIED(live, 0);
  const struct {
    const char* name;
    uint64_t h;
  } handles[] = {{"zero", 0},
                 {"all ones", TOVADLL_INVALID_HANDLE},
                 {"stale", StaleHandle()},
                 {"never issued", live + 1000000},
                 {"high bit flipped", live ^ 0x8000000000000000ull}};
  tova::testing::TempTree dir;
  const std::u16string save_path = dir.Path(u"never.tova");
  for (const auto& bad : handles) {
    for (const auto& e : HandleExports()) {
      SCOPED_TRACE(std::string(e.name) + " with a " + bad.name + " handle");
      Outs o;
      EXPECT_EQ(e.call(bad.h, o), TOVA_ERR_HANDLE);
      EXPECT_TRUE(o.Untouched());
    }
    for (const auto& e : OtherHandleExports(save_path)) {
      SCOPED_TRACE(std::string(e.name) + " with a " + bad.name + " handle");
      Outs o;
      o.partner = live;
      EXPECT_EQ(e.call(bad.h, o), e.unknown_result);
      EXPECT_TRUE(o.Untouched());
    }
  }
  EXPECT_FALSE(tova::testing::PathExists(save_path));
  uint32_t value = 0;
  ASSERT_EQ(TOVADLL_GET_MODIFIED(live, &value), 0);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(TOVADLL_GET_NUMDATASETS(live, &value), 0);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(live, TOVA_SECT_GlobalHeader, 0x0100), 0);
}

TEST(ExportFrame, UnknownHandleComesBeforeNullPointers) {
  EXPECT_EQ(TOVADLL_GET_NUMDATASETS(0, nullptr), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_GET_ENTRY(StaleHandle(), TOVA_SECT_DataHeader, 0x0200, nullptr, nullptr, 0), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(TOVADLL_INVALID_HANDLE, TOVA_SECT_DataHeader, 0x0200, 4, nullptr, nullptr),
            TOVA_ERR_HANDLE);
}

TEST(ExportFrame, NullRequiredPointersGiveTwelveAndNothingIsWritten) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  constexpr uint16_t GH = TOVA_SECT_GlobalHeader, DH = TOVA_SECT_DataHeader;
  const struct {
    const char* name;
    std::function<int32_t(Outs&)> call;
  } cases[] = {
      {"COPY_ENTRY_DATA copied", [&](Outs& o) { return TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, o.buffer, nullptr); }},
      {"COPY_ENTRY_DATA buffer", [&](Outs& o) { return TOVADLL_COPY_ENTRY_DATA(h, DH, 0x0200, 8, nullptr, &o.u32); }},
      {"GET_ENTRY_DATASIZE", [&](Outs&) { return TOVADLL_GET_ENTRY_DATASIZE(h, DH, 0x0200, nullptr); }},
      {"GET_ENTRY data", [&](Outs& o) { return TOVADLL_GET_ENTRY(h, DH, 0x0200, nullptr, &o.u32, 1); }},
      {"GET_ENTRY size", [&](Outs& o) { return TOVADLL_GET_ENTRY(h, DH, 0x0200, &o.ptr, nullptr, 1); }},
      {"GET_NUM_ENTRIES", [&](Outs&) { return TOVADLL_GET_NUM_ENTRIES(h, DH, nullptr); }},
      {"GET_NUMDATASETS", [&](Outs&) { return TOVADLL_GET_NUMDATASETS(h, nullptr); }},
      {"GET_CURDATASET", [&](Outs&) { return TOVADLL_GET_CURDATASET(h, nullptr); }},
      {"GET_TOVA_TYPE", [&](Outs&) { return TOVADLL_GET_TOVA_TYPE(h, nullptr); }},
      {"GET_MODIFIED", [&](Outs&) { return TOVADLL_GET_MODIFIED(h, nullptr); }},
      {"SET_ENTRY new entry", [&](Outs&) { return TOVADLL_SET_ENTRY(h, GH, 0x0101, 4, nullptr); }},
      {"SET_ENTRY held entry", [&](Outs&) { return TOVADLL_SET_ENTRY(h, GH, 0x0100, 2, nullptr); }},
  };
  TOVADLL_SET_MODIFIED(h, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outs o;
    EXPECT_EQ(c.call(o), TOVA_ERR_NULL_POINTER);
    EXPECT_TRUE(o.Untouched());
  }
  // The refused stores changed nothing.
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, GH, 0x0101), TOVA_ERR_NO_ENTRY - TOVA_EXIST_ENTRY_BIAS);
  uint8_t v[2] = {};
  uint32_t copied = 0;
  ASSERT_EQ(TOVADLL_COPY_ENTRY_DATA(h, GH, 0x0100, 2, v, &copied), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 2), "v1");
  uint32_t modified = 1;
  ASSERT_EQ(TOVADLL_GET_MODIFIED(h, &modified), 0);
  EXPECT_EQ(modified, 0u);
}

TEST(ExportFrame, NullPointerWithSizeZeroIsFine) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  // An empty store needs no bytes.
  ASSERT_EQ(TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 0, nullptr), 0);
  uint32_t size = kSentinel;
  ASSERT_EQ(TOVADLL_GET_ENTRY_DATASIZE(h, TOVA_SECT_GlobalHeader, 0x0101, &size), 0);
  EXPECT_EQ(size, 0u);
  // A null buffer of capacity 0 is fine; the entry's 2 bytes do not fit it.
  uint32_t copied = kSentinel;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_DataHeader, 0x0200, 0, nullptr, &copied), TOVA_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(copied, 0u);
  copied = kSentinel;
  EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_GlobalHeader, 0x0101, 0, nullptr, &copied), 0);
  EXPECT_EQ(copied, 0u);
}

TEST(ExportFrame, OpensWithANullPathFail) {
  const size_t before = tova::api::TheRegistry().Count();
  EXPECT_EQ(TOVADLL_OPEN_FILE_READ(nullptr), TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(TOVADLL_OPEN_FILE_READ_UC(nullptr), TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(tova::api::TheRegistry().Count(), before);
}

TEST(ExportFrame, SectionIdentifiersOtherThanTheThreeAreRefused) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  const struct {
    const char* name;
    std::function<int32_t(uint16_t, Outs&)> call;
    int32_t result;
    bool writes_zero_copied;  // COPY_ENTRY_DATA reports 0 bytes copied on every failure
  } cases[] = {
      {"SET_ENTRY", [&](uint16_t s, Outs&) { return TOVADLL_SET_ENTRY(h, s, 0x0200, 2, "ab"); }, 21, false},
      {"REMOVE_ENTRY", [&](uint16_t s, Outs&) { return TOVADLL_REMOVE_ENTRY(h, s, 0x0200); }, 21, false},
      {"COPY_ENTRY_DATA",
       [&](uint16_t s, Outs& o) { return TOVADLL_COPY_ENTRY_DATA(h, s, 0x0200, sizeof o.buffer, o.buffer, &o.u32); },
       21, true},
      {"EXIST_ENTRY", [&](uint16_t s, Outs&) { return TOVADLL_EXIST_ENTRY(h, s, 0x0200); }, 21 - 2000, false},
      {"GET_ENTRY_DATASIZE", [&](uint16_t s, Outs& o) { return TOVADLL_GET_ENTRY_DATASIZE(h, s, 0x0200, &o.u32); },
       21, false},
      {"GET_ENTRY", [&](uint16_t s, Outs& o) { return TOVADLL_GET_ENTRY(h, s, 0x0200, &o.ptr, &o.u32, 1); }, 21,
       false},
      {"SET_ENTRY_ISOPTIONAL", [&](uint16_t s, Outs&) { return TOVADLL_SET_ENTRY_ISOPTIONAL(h, s, 0x0200, 1); }, 1,
       false},
      {"GET_NUM_ENTRIES", [&](uint16_t s, Outs& o) { return TOVADLL_GET_NUM_ENTRIES(h, s, &o.u32); }, 21, false},
  };
  for (uint16_t section : {0x0000, 0x0001, 0xFF00, 0xFF03, 0xFF0F, 0xFF11, 0xFFFF, 0x0300}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.name << " section " << std::hex << section);
      Outs o;
      EXPECT_EQ(c.call(section, o), c.result);
      if (c.writes_zero_copied) {
        EXPECT_EQ(o.u32, 0u);
        o.u32 = kSentinel;
      }
      EXPECT_TRUE(o.Untouched());
    }
  }
}

// ---- memory exhaustion -----------------------------------------------------

TEST(ExportFrameOutOfMemory, OpensReturnTheInvalidHandleOrACompleteDocument) {
  const struct {
    const char* name;
    std::function<uint64_t()> open;
  } opens[] = {
      {"OPEN_FILE_MEM", [] { return TOVADLL_OPEN_FILE_MEM(0, 3, 0x0200); }},
      {"OPEN_FILE_READ_BUFFER", [] { return TOVADLL_OPEN_FILE_READ_BUFFER(); }},
      {"OPEN_FILE_WRITE_BUFFER", [] { return TOVADLL_OPEN_FILE_WRITE_BUFFER(); }},
  };
  for (const auto& o : opens) {
    SCOPED_TRACE(o.name);
    for (long skip = 0;; ++skip) {
      const size_t before = tova::api::TheRegistry().Count();
      bool hit = false;
      uint64_t h = TOVADLL_INVALID_HANDLE;
      try {
        h = tova_test::WithFailingAllocation(skip, hit, o.open);
      } catch (...) {
        tova_test::DisarmAllocationFailure();
        ADD_FAILURE() << "an exception left the open at allocation " << skip + 1;
        break;
      }
      if (h == TOVADLL_INVALID_HANDLE) {
        EXPECT_TRUE(hit);
        EXPECT_EQ(tova::api::TheRegistry().Count(), before);
        continue;
      }
      DocumentCloser closer(h);
      EXPECT_EQ(tova::api::TheRegistry().Count(), before + 1);
      uint32_t type = 0;
      EXPECT_EQ(TOVADLL_GET_TOVA_TYPE(h, &type), 0);
      EXPECT_NE(type, 0u);
      if (std::string(o.name) == "OPEN_FILE_MEM") {
        uint8_t unit[2] = {};
        uint32_t copied = 0;
        EXPECT_EQ(TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_DataHeader, 0x0200, 2, unit, &copied), 0);
        EXPECT_EQ(unit[0], 3);
        EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, TOVA_SECT_DataHeader, 0x0210), 0);
      }
      if (!hit) break;
    }
  }
}

TEST(ExportFrameOutOfMemory, FailedStoreIsReportedAndKeepsTheDocumentAsItWas) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  const char longer[] = "a longer value";
  for (long skip = 0;; ++skip) {
    bool hit = false;
    // A new entry and a new size for a held one.
    const int32_t rc_new = tova_test::WithFailingAllocation(
        skip, hit, [&] { return TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 3, "new"); });
    if (hit) {
      EXPECT_TRUE(rc_new == TOVA_ERR_STORE || rc_new == TOVA_ERR_NO_MEMORY) << rc_new;
      EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101), TOVA_ERR_NO_ENTRY - TOVA_EXIST_ENTRY_BIAS);
      continue;
    }
    EXPECT_EQ(rc_new, 0);
    break;
  }
  bool hit = false;
  const int32_t rc = tova_test::WithFailingAllocation(
      0, hit, [&] { return TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0100, sizeof longer, longer); });
  ASSERT_TRUE(hit);
  EXPECT_EQ(rc, TOVA_ERR_STORE);
  char held[4] = {};
  uint32_t copied = 0;
  ASSERT_EQ(TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_GlobalHeader, 0x0100, sizeof held, held, &copied), 0);
  EXPECT_EQ(std::string(held, copied), "v1");
}

TEST(ExportFrameOutOfMemory, FailedRemovalOfTheFirstDatasetIsCodeThreeAndChangesNothing) {
  for (long skip = 0;; ++skip) {
    const uint64_t h = OpenMemoryDocument(3);
    DocumentCloser closer(h);
    ASSERT_EQ(TOVADLL_SET_CURDATASET(h, 2), 0);
    TOVADLL_SET_MODIFIED(h, 0);
    bool hit = false;
    const int32_t rc = tova_test::WithFailingAllocation(skip, hit, [&] { return TOVADLL_REMOVE_DATASET(h, 0); });
    uint32_t count = 0, current = 0, modified = 0;
    TOVADLL_GET_NUMDATASETS(h, &count);
    TOVADLL_GET_CURDATASET(h, &current);
    TOVADLL_GET_MODIFIED(h, &modified);
    if (!hit) {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(count, 2u);
      EXPECT_EQ(current, 1u);
      break;
    }
    EXPECT_EQ(rc, TOVA_ERR_NO_MEMORY);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(current, 2u);
    EXPECT_EQ(modified, 0u);
  }
}

TEST(ExportFrameOutOfMemory, NoExceptionLeavesAnyHandleExport) {
  for (const auto& e : HandleExports()) {
    SCOPED_TRACE(e.name);
    for (long skip = 0; skip < 16; ++skip) {
      const uint64_t h = OpenMemoryDocument(2);
      DocumentCloser closer(h);
      Outs o;
      bool hit = false;
      int32_t rc = -1;
      try {
        rc = tova_test::WithFailingAllocation(skip, hit, [&] { return e.call(h, o); });
      } catch (...) {
        tova_test::DisarmAllocationFailure();
        ADD_FAILURE() << "an exception left the export at allocation " << skip + 1;
        break;
      }
      if (!hit) {
        EXPECT_EQ(rc, e.live_result);
        break;
      }
      EXPECT_TRUE(rc == TOVA_ERR_NO_MEMORY || rc == TOVA_ERR_STORE) << rc;
    }
  }
}

}  // namespace
