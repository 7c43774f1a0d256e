// The document lock as callers see it through TOVADLL_LOCK / TOVADLL_UNLOCK: re-entrant per thread, refusing an unlock
// from a thread that does not hold it, blocking the locked exports of other threads but not the unlocked ones, and
// released by the holder's own TOVADLL_CLOSE_FILE; and a document closed while another thread waits inside a call on
// it lives until that call ends. Orderings are asserted through atomic flags; the only timed wait turns a deadlock into
// a failure. Meant to run clean under ThreadSanitizer and AddressSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "HOLMDAQTova.h"
#include "support/documents.h"

namespace {

using tova::testing::OpenMemoryDocument;

// Gives the other thread a chance to run (and, were the lock broken, to get through it).
void LetOthersRun() {
  for (int i = 0; i < 2000; ++i) std::this_thread::yield();
}
// Waits until stage reaches at least `value`; false after 30 s.
bool Reaches(const std::atomic<int>& stage, int value) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (stage.load() < value && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return stage.load() >= value;
}
int32_t Store(uint64_t h) { return TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 1, "b"); }

TEST(ApiLock, OtherThreadsLockedCallWaitsForTheLastOfNestedUnlocks) {
  const tova::testing::Handle h(OpenMemoryDocument(2));
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

TEST(ApiLock, ClosingADocumentWhileHoldingItsLockReleasesTheWaiters) {
  const uint64_t h = OpenMemoryDocument(1);
  ASSERT_TRUE(TOVADLL_LOCK(h) == TOVA_OK && TOVADLL_LOCK(h) == TOVA_OK);
  std::atomic<int> stage{0};  // 1: about to store, 2: stored
  std::atomic<int32_t> rc{-1};
  std::thread b([&] {
    stage = 1;
    rc = Store(h);
    stage = 2;
  });
  ASSERT_TRUE(Reaches(stage, 1));
  LetOthersRun();
  EXPECT_EQ(TOVADLL_CLOSE_FILE(h), TOVA_OK);
  if (!Reaches(stage, 2)) {
    b.detach();
    FAIL() << "a call waiting for the document never ended after the holder closed it";
  }
  b.join();
  EXPECT_TRUE(rc == TOVA_OK || rc == TOVA_ERR_HANDLE) << rc;  // on the closed document, or after it was gone
  EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_ERR_HANDLE);
}

// The test holds the lock, one thread waits inside a locked call and two close the document; whichever runs first, the
// waiting call ends on a live object, exactly one close succeeds and the handle is gone afterwards.
TEST(ApiRegistry, ClosesRacingACallOnTheSameDocument) {
  for (int round = 0; round < 20; ++round) {
    const uint64_t h = OpenMemoryDocument(2);
    ASSERT_EQ(TOVADLL_LOCK(h), TOVA_OK);
    std::atomic<int> started{0}, closed{0}, unknown{0};
    std::atomic<int32_t> store{-1};
    std::vector<std::thread> threads;
    threads.emplace_back([&] { ++started, store = Store(h); });
    for (int i = 0; i < 2; ++i)
      threads.emplace_back([&] {
        ++started;
        const int32_t rc = TOVADLL_CLOSE_FILE(h);
        closed += rc == TOVA_OK, unknown += rc == TOVA_ERR_HANDLE;
      });
    while (started < 3) std::this_thread::yield();
    LetOthersRun();
    EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_OK);
    for (auto& t : threads) t.join();
    EXPECT_TRUE(closed == 1 && unknown == 1) << closed << " " << unknown;
    EXPECT_TRUE(store == TOVA_OK || store == TOVA_ERR_HANDLE) << store;
    EXPECT_EQ(TOVADLL_EXIST(h), TOVA_ERR_HANDLE);
  }
}

}  // namespace
