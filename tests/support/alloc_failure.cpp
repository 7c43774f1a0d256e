// The test program's global operator new/delete: plain malloc/free, with one
// allocation per thread that can be made to fail on request (alloc_failure.h).
// Every non-aligned form is replaced, so that memory from these versions is
// never released by the sanitizers' own versions, or the reverse.
#include "support/alloc_failure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local long t_countdown = -1;  // allocations left before the failure; -1 disarmed
thread_local bool t_hit = false;     // the armed failure happened

void* Allocate(std::size_t n) {
  if (t_countdown >= 0 && t_countdown-- == 0) {
    t_hit = true;
    return nullptr;
  }
  return std::malloc(n == 0 ? 1 : n);
}

}  // namespace

void tova_test::FailAllocationAfter(long skip) {
  t_hit = false;
  t_countdown = skip < 0 ? 0 : skip;
}

bool tova_test::DisarmAllocationFailure() {
  t_countdown = -1;
  const bool hit = t_hit;
  t_hit = false;
  return hit;
}

void* operator new(std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
