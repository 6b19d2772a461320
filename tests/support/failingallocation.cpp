#include "support/failingallocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<AllocationGate> g_pfnCounts{nullptr};
std::atomic<uint64_t> g_qwCounted{0};
std::atomic<uint64_t> g_qwFailAt{0};

void* Allocate(size_t nSize, bool bThrow) {
    const AllocationGate pfnCounts = g_pfnCounts.load();
    if (pfnCounts != nullptr && pfnCounts() && ++g_qwCounted == g_qwFailAt.load()) {
        if (bThrow) {
            throw std::bad_alloc();
        }
        return nullptr;
    }
    for (;;) {
        if (void* p = std::malloc(nSize == 0 ? 1 : nSize)) {
            return p;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            if (bThrow) {
                throw std::bad_alloc();
            }
            return nullptr;
        }
        handler();
    }
}

}  // namespace

void SetFailingAllocationForTest(uint64_t qwFailAt, AllocationGate pfnCounts) {
    g_pfnCounts = pfnCounts;
    g_qwFailAt = qwFailAt;
    g_qwCounted = 0;
}

uint64_t CountedAllocationsForTest() {
    return g_qwCounted;
}

// Every block comes from malloc and goes back to free; the aligned forms stay the library's.
void* operator new(size_t nSize) {
    return Allocate(nSize, true);
}
void* operator new[](size_t nSize) {
    return Allocate(nSize, true);
}
void* operator new(size_t nSize, const std::nothrow_t&) noexcept {
    try {
        return Allocate(nSize, false);
    } catch (...) {  // a new handler may throw
        return nullptr;
    }
}
void* operator new[](size_t nSize, const std::nothrow_t&) noexcept {
    try {
        return Allocate(nSize, false);
    } catch (...) {
        return nullptr;
    }
}
// These replace the global operators, so free is the right partner of Allocate's malloc; GCC
// sees a new/free pair where the calls are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
