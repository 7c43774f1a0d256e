// The registry of open documents under several threads: opens, closes and calls overlap freely, handles are unique and
// never reused, and a document closed while another thread is inside a call on it lives until that call ends. Meant to
// run clean under ThreadSanitizer and AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "HOLMDAQTova.h"
#include "support/documents.h"

namespace {

TEST(ApiRegistry, ConcurrentOpensAndClosesIssueUniqueHandles) {
  std::vector<std::vector<uint64_t>> opened(4);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < 4; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < 100; ++i) {
        const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, static_cast<uint16_t>(w), 0);
        opened[w].push_back(h);
        uint8_t unit[2] = {};
        uint32_t copied = 0;
        failures += TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_DataHeader, 0x0200, 2, unit, &copied) != TOVA_OK ||
                    unit[0] != w || TOVADLL_CLOSE_FILE(h) != TOVA_OK;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  std::vector<uint64_t> all;
  for (const auto& v : opened) all.insert(all.end(), v.begin(), v.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a handle value was issued twice";
  for (uint64_t h : all) ASSERT_TRUE(h != 0 && h != TOVADLL_INVALID_HANDLE && TOVADLL_EXIST(h) == 1) << h;
}

// The test holds the lock, one thread waits inside a locked call and two close the document; whichever runs first, the
// waiting call ends on a live object, exactly one close succeeds and the handle is gone afterwards.
TEST(ApiRegistry, ClosesRacingACallOnTheSameDocument) {
  for (int round = 0; round < 20; ++round) {
    const uint64_t h = tova::testing::OpenMemoryDocument(2);
    ASSERT_EQ(TOVADLL_LOCK(h), TOVA_OK);
    std::atomic<int> started{0}, closed{0}, unknown{0};
    std::atomic<int32_t> store{-1};
    std::vector<std::thread> threads;
    threads.emplace_back([&] { ++started, store = TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 4, "data"); });
    for (int i = 0; i < 2; ++i)
      threads.emplace_back([&] {
        ++started;
        const int32_t rc = TOVADLL_CLOSE_FILE(h);
        closed += rc == TOVA_OK, unknown += rc == TOVA_ERR_HANDLE;
      });
    while (started < 3) std::this_thread::yield();
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_OK);
    for (auto& t : threads) t.join();
    EXPECT_TRUE(closed == 1 && unknown == 1) << closed << " " << unknown;
    EXPECT_TRUE(store == TOVA_OK || store == TOVA_ERR_HANDLE) << store;
    EXPECT_EQ(TOVADLL_EXIST(h), TOVA_ERR_HANDLE);
  }
}

}  // namespace
