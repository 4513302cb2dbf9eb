// Counts calls of the global operator new while an AllocationCount is alive, to check that
// steady-state paths allocate nothing. It replaces the global allocation functions, so it
// is included by exactly one source file of a test executable.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace count_allocations {

inline bool counting = false;
inline std::size_t count = 0;

class AllocationCount {
  public:
    AllocationCount() {
        count = 0;
        counting = true;
    }
    ~AllocationCount() { counting = false; }
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;
    std::size_t value() const { return count; }
};

}  // namespace count_allocations

[[gnu::noinline]] void* operator new(std::size_t size) {
    if (count_allocations::counting) ++count_allocations::count;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
    return ::operator new(size);
}
// Not inlined, so the compiler never sees free() paired with operator new at a call site.
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
// The nothrow forms too, so that every plain new is paired with the deletes above.
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (count_allocations::counting) ++count_allocations::count;
    return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
