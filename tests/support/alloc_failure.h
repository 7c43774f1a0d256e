// Allocation-failure injection for the test program: the global operator
// new/delete of alloc_failure.cpp can fail one chosen allocation of the calling
// thread, so that the out-of-memory paths run without giant allocations. Fail
// the 1st, 2nd, ... allocation of an operation until it completes unharmed.
#pragma once

namespace tova_test {

// Arms the calling thread: after `skip` successful allocations the next one
// fails (std::bad_alloc, or null from the nothrow forms); later ones succeed.
void FailAllocationAfter(long skip);
// Disarms the calling thread; true when the armed failure happened.
bool DisarmAllocationFailure();

// Runs op with allocation number skip+1 failing; returns op's result and sets
// hit to whether the failure happened (false: op made fewer allocations).
template <typename Op>
auto WithFailingAllocation(long skip, bool& hit, Op&& op) {
  FailAllocationAfter(skip);
  auto result = op();
  hit = DisarmAllocationFailure();
  return result;
}

}  // namespace tova_test
