// The document lock as callers see it through TOVADLL_LOCK / TOVADLL_UNLOCK:
// re-entrant per thread, refusing an unlock from a thread that does not hold
// it, blocking the locked exports of other threads but not the unlocked ones.
// Orderings are asserted through atomic flags; the only timed wait is a guard
// that turns a deadlock into a failure instead of a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "HOLMDAQTova.h"
#include "api/api_test_support.h"

namespace {

using tova_test::DocumentCloser;
using tova_test::OpenMemoryDocument;

constexpr auto kDeadlockGuard = std::chrono::seconds(30);

// Gives the other thread a chance to run (and, if the lock were broken, to
// get through it) without asserting anything about time.
void LetOthersRun() {
  for (int i = 0; i < 2000; ++i) std::this_thread::yield();
}

TEST(ApiLock, SecondThreadWaitsForTheLastOfNestedUnlocks) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  ASSERT_EQ(TOVADLL_LOCK(h), 0);
  ASSERT_EQ(TOVADLL_LOCK(h), 0);  // the same thread enters again

  std::promise<int32_t> counted;
  std::atomic<bool> about_to_store{false};
  std::atomic<bool> released{false};  // set just before the second unlock
  std::atomic<bool> stored{false};
  bool released_when_stored = false;
  int32_t store_result = -1;
  std::thread b([&] {
    uint32_t count = 0;
    counted.set_value(TOVADLL_GET_NUM_ENTRIES(h, TOVA_SECT_GlobalHeader, &count));  // takes no lock
    about_to_store = true;
    store_result = TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 1, "b");
    released_when_stored = released.load();
    stored = true;
  });

  auto count_result = counted.get_future();
  const bool did_not_wait = count_result.wait_for(kDeadlockGuard) == std::future_status::ready;
  EXPECT_TRUE(did_not_wait) << "TOVADLL_GET_NUM_ENTRIES waited for the document lock";
  if (did_not_wait) {
    EXPECT_EQ(count_result.get(), 0);
    while (!about_to_store) std::this_thread::yield();
    LetOthersRun();
    EXPECT_FALSE(stored);
    EXPECT_EQ(TOVADLL_UNLOCK(h), 0);
    LetOthersRun();
    EXPECT_FALSE(stored) << "the store got through while the lock was still held once";
  } else {
    EXPECT_EQ(TOVADLL_UNLOCK(h), 0);
  }
  released = true;
  EXPECT_EQ(TOVADLL_UNLOCK(h), 0);
  b.join();
  EXPECT_TRUE(released_when_stored);
  EXPECT_EQ(store_result, 0);
  EXPECT_EQ(TOVADLL_EXIST_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101), 0);
}

TEST(ApiLock, HolderMayCallEveryExportOnItsDocument) {
  const uint64_t h = OpenMemoryDocument(2);
  DocumentCloser closer(h);
  ASSERT_EQ(TOVADLL_LOCK(h), 0);
  EXPECT_EQ(TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 1, "a"), 0);
  EXPECT_EQ(TOVADLL_SET_CURDATASET(h, 1), 0);
  EXPECT_EQ(TOVADLL_REMOVE_DATASET(h, 0), 0);
  uint32_t n = 0;
  EXPECT_EQ(TOVADLL_GET_NUMDATASETS(h, &n), 0);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(TOVADLL_UNLOCK(h), 0);
  EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_ERR_NOT_LOCK_OWNER);  // no hold left
}

TEST(ApiLock, UnlockFromAForeignThreadIsRefusedAndLeavesTheLockAlone) {
  const uint64_t h = OpenMemoryDocument(1);
  DocumentCloser closer(h);
  int32_t unheld = -1;
  std::thread([&] { unheld = TOVADLL_UNLOCK(h); }).join();
  EXPECT_EQ(unheld, TOVA_ERR_NOT_LOCK_OWNER);

  ASSERT_EQ(TOVADLL_LOCK(h), 0);
  int32_t foreign = -1;
  std::thread([&] { foreign = TOVADLL_UNLOCK(h); }).join();
  EXPECT_EQ(foreign, TOVA_ERR_NOT_LOCK_OWNER);

  // The lock is still held by this thread, exactly once: another thread's
  // locked call waits for the one unlock.
  std::atomic<bool> stored{false};
  std::atomic<bool> released{false};
  bool released_when_stored = false;
  std::thread b([&] {
    TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 1, "b");
    released_when_stored = released.load();
    stored = true;
  });
  LetOthersRun();
  EXPECT_FALSE(stored);
  released = true;
  EXPECT_EQ(TOVADLL_UNLOCK(h), 0);
  b.join();
  EXPECT_TRUE(released_when_stored);
  EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_ERR_NOT_LOCK_OWNER);
}

TEST(ApiLock, ClosingADocumentWhileHoldingItsLockReleasesTheWaiters) {
  const uint64_t h = OpenMemoryDocument(1);
  ASSERT_EQ(TOVADLL_LOCK(h), 0);
  ASSERT_EQ(TOVADLL_LOCK(h), 0);
  std::atomic<bool> about_to_store{false};
  std::promise<int32_t> done;
  std::thread b([&] {
    about_to_store = true;
    done.set_value(TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 0x0101, 1, "b"));
  });
  while (!about_to_store) std::this_thread::yield();
  LetOthersRun();
  EXPECT_EQ(TOVADLL_CLOSE_FILE(h), 0);
  // The holds went with the handle; the waiting call gets through.
  auto result = done.get_future();
  if (result.wait_for(kDeadlockGuard) != std::future_status::ready) {
    ADD_FAILURE() << "a call waiting for the document never ended after the holder closed it";
    b.detach();
    return;
  }
  b.join();
  const int32_t rc = result.get();
  EXPECT_TRUE(rc == 0 || rc == TOVA_ERR_HANDLE) << rc;  // on the closed document, or after it was gone
  EXPECT_EQ(TOVADLL_UNLOCK(h), TOVA_ERR_HANDLE);
  EXPECT_EQ(TOVADLL_LOCK(h), TOVA_ERR_HANDLE);
}

TEST(ApiLock, LocksOfDifferentDocumentsAreIndependent) {
  const uint64_t a = OpenMemoryDocument(1);
  const uint64_t b = OpenMemoryDocument(1);
  DocumentCloser close_a(a), close_b(b);
  ASSERT_EQ(TOVADLL_LOCK(a), 0);
  std::promise<int32_t> done;
  std::thread t([&] { done.set_value(TOVADLL_SET_ENTRY(b, TOVA_SECT_GlobalHeader, 0x0101, 1, "b")); });
  auto result = done.get_future();
  const bool finished = result.wait_for(kDeadlockGuard) == std::future_status::ready;
  EXPECT_TRUE(finished) << "a call on another document waited for this document's lock";
  EXPECT_EQ(TOVADLL_UNLOCK(a), 0);
  t.join();
  EXPECT_EQ(result.get(), 0);
}

}  // namespace
