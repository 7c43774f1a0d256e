// The registry of open documents under several threads: opens, closes and
// lookups overlap freely, handles are never reused, and a document closed
// while another thread is inside a call on it lives until that call ends.
// Meant to run clean under ThreadSanitizer and AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "HOLMDAQTova.h"
#include "api/api_test_support.h"

namespace {

using tova_test::OpenMemoryDocument;

TEST(ApiRegistry, ConcurrentOpensClosesAndLookups) {
  constexpr int kWorkers = 4;
  constexpr int kRounds = 150;
  std::vector<std::vector<uint64_t>> opened(kWorkers);
  std::atomic<uint64_t> latest{0};  // a handle some worker opened lately
  std::atomic<int> workers_left{kWorkers};
  std::atomic<int> failures{0};

  std::vector<std::thread> threads;
  for (int w = 0; w < kWorkers; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, static_cast<uint16_t>(w), 0);
        if (h == TOVADLL_INVALID_HANDLE || h == 0) {
          ++failures;
          continue;
        }
        opened[w].push_back(h);
        latest = h;
        uint8_t unit[2] = {};
        uint32_t copied = 0;
        if (TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0100, 1, "v") != 0 ||
            TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_DataHeader, 0x0200, 2, unit, &copied) != 0 || unit[0] != w)
          ++failures;
        if (TOVADLL_CLOSE_FILE(h) != 0) ++failures;
      }
      --workers_left;
    });
  }
  // Lookups of documents that other threads open and close meanwhile: each
  // call either finds the document (open, or closed but not yet gone) or
  // reports the unknown handle.
  threads.emplace_back([&] {
    while (workers_left > 0) {
      const uint64_t h = latest.load();
      uint32_t type = 99;
      const int32_t rc = TOVADLL_GET_TOVA_TYPE(h, &type);
      if (!(rc == TOVA_ERR_HANDLE || (rc == 0 && (type == TOVA_TYPE_MEMORY || type == TOVA_TYPE_CLOSED))))
        ++failures;
      const int32_t exist = TOVADLL_EXIST(h);
      if (exist != 0 && exist != TOVA_ERR_HANDLE) ++failures;
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);

  std::vector<uint64_t> all;
  for (const auto& v : opened) all.insert(all.end(), v.begin(), v.end());
  EXPECT_EQ(all.size(), size_t{kWorkers} * kRounds);
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a handle value was issued twice";
  for (uint64_t h : all) ASSERT_EQ(TOVADLL_EXIST(h), TOVA_ERR_HANDLE);
}

TEST(ApiRegistry, CloseRacingACallOnTheSameDocument) {
  // The caller holds the lock, a second thread waits inside a locked call and
  // a third closes the document; whichever runs first, the waiting call ends
  // on a live object and the handle is gone afterwards.
  for (int round = 0; round < 20; ++round) {
    const uint64_t h = OpenMemoryDocument(2);
    ASSERT_EQ(TOVADLL_LOCK(h), 0);
    std::atomic<int> started{0};
    int32_t store = -1, close = -1;
    std::thread caller([&] {
      ++started;
      store = TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 4, "data");
    });
    std::thread closer([&] {
      ++started;
      close = TOVADLL_CLOSE_FILE(h);
    });
    while (started < 2) std::this_thread::yield();
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    EXPECT_EQ(TOVADLL_UNLOCK(h), 0);
    caller.join();
    closer.join();
    EXPECT_EQ(close, 0);
    // Before the close: stored. After it: the handle names nothing any more.
    EXPECT_TRUE(store == 0 || store == TOVA_ERR_HANDLE) << store;
    EXPECT_EQ(TOVADLL_EXIST(h), TOVA_ERR_HANDLE);
  }
}

TEST(ApiRegistry, ConcurrentClosesOfOneHandleSucceedOnce) {
  for (int round = 0; round < 20; ++round) {
    const uint64_t h = OpenMemoryDocument(1);
    std::atomic<int> ok{0}, unknown{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
      threads.emplace_back([&] {
        const int32_t rc = TOVADLL_CLOSE_FILE(h);
        if (rc == 0) ++ok;
        if (rc == TOVA_ERR_HANDLE) ++unknown;
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), 1);
    EXPECT_EQ(unknown.load(), 2);
  }
}

}  // namespace
