// Replaces the global allocator of a test program. Include it in exactly one
// file of the program, which defines qv_test::BeforeAllocation: it is called
// before every allocation, and an allocation fails with std::bad_alloc when
// it returns false (a nothrow allocation then gives the null pointer).
#ifndef QV_VCARD_TESTS_REPLACED_ALLOCATOR_HPP
#define QV_VCARD_TESTS_REPLACED_ALLOCATOR_HPP

#include <cstdlib>
#include <new>

namespace qv_test {

bool BeforeAllocation();

inline void* Allocate(std::size_t n) {
  if (!BeforeAllocation()) throw std::bad_alloc();
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}

inline void* AllocateOrNull(std::size_t n) noexcept {
  return BeforeAllocation() ? std::malloc(n == 0 ? 1 : n) : nullptr;
}

}  // namespace qv_test

void* operator new(std::size_t n) { return qv_test::Allocate(n); }
void* operator new[](std::size_t n) { return qv_test::Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return qv_test::AllocateOrNull(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return qv_test::AllocateOrNull(n);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#endif
